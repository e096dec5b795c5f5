// Stat inside containers: listings with "." entries, directories made of
// prefixes and folder markers, missing names, and the "ostrel_modtime" time.
#include "tests/connector/itest_support.h"

#include <atomic>
#include <thread>

namespace
{

using strings = std::vector<std::string>;

class stat_itest : public connector_itest::plugin_test
{
};

TEST_F(stat_itest, container_listing_shows_blobs_and_prefix_directories)
{
    auto session = open();
    std::string c = new_container("list");
    az_itest::put_text(seed.get(), c, "a.txt", "hello");
    az_itest::put_text(seed.get(), c, "dir/b.txt", "inner");

    ostrel_host::stat_result listing = stat_ok(*session, "/" + c, false);
    EXPECT_EQ(names(listing), strings({".", "a.txt", "dir"}));
    const ostrel_gfs_stat_t *a = entry_named(listing, "a.txt");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->mode, 0100700);
    EXPECT_EQ(a->size, 5);
    EXPECT_GT(a->mtime, 1600000000);
    EXPECT_EQ(a->ino, hash("a.txt"));
    EXPECT_EQ(a->dev, hash(c));
    const ostrel_gfs_stat_t *dir = entry_named(listing, "dir");
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(dir->mode, 040700);
    EXPECT_EQ(dir->size, 0);
    EXPECT_EQ(dir->ino, hash("dir/"));

    ostrel_host::stat_result inner = stat_ok(*session, "/" + c + "/dir", false);
    ASSERT_EQ(names(inner), strings({".", "b.txt"}));
    EXPECT_EQ(inner.entries[0].ino, hash("dir"));
    // a trailing separator names the same directory
    EXPECT_EQ(names(stat_ok(*session, "/" + c + "/dir/", false)), strings({".", "b.txt"}));
    EXPECT_EQ(names(stat_ok(*session, "/" + c + "/", false)), strings({".", "a.txt", "dir"}));

    // a file-only stat of a prefix is one directory entry
    ostrel_host::stat_result prefix = stat_ok(*session, "/" + c + "/dir", true);
    ASSERT_EQ(names(prefix), strings({"."}));
    EXPECT_EQ(prefix.entries[0].mode, 040700);
    ostrel_host::stat_result blob = stat_ok(*session, "/" + c + "/dir/b.txt", true);
    ASSERT_EQ(names(blob), strings({"dir/b.txt"}));
    EXPECT_EQ(blob.entries[0].size, 5);
    EXPECT_EQ(blob.entries[0].ino, hash("/" + c + "/dir/b.txt"));
}

TEST_F(stat_itest, empty_container_and_marker_only_directories_list_dot_alone)
{
    auto session = open();
    std::string c = new_container("empty");
    ostrel_host::stat_result empty = stat_ok(*session, "/" + c, false);
    ASSERT_EQ(names(empty), strings({"."}));
    EXPECT_EQ(empty.entries[0].mtime, -1);
    EXPECT_EQ(empty.entries[0].ino, hash("/"));

    ASSERT_TRUE(command(*session, OSTREL_GFS_CMD_MKD, "/" + c + "/marked").error.ok);
    EXPECT_EQ(names(stat_ok(*session, "/" + c + "/marked", false)), strings({"."}));
    ostrel_host::stat_result file_only = stat_ok(*session, "/" + c + "/marked", true);
    ASSERT_EQ(names(file_only), strings({"marked"}));
    EXPECT_EQ(file_only.entries[0].mode, 040700);

    // a marker written with its separator is not an entry of its own directory
    ASSERT_TRUE(command(*session, OSTREL_GFS_CMD_MKD, "/" + c + "/slashed/").error.ok);
    EXPECT_EQ(names(stat_ok(*session, "/" + c + "/slashed", false)), strings({"."}));
    EXPECT_EQ(names(session->stat("/" + c, false)), strings({".", "marked", "slashed"}));
}

TEST_F(stat_itest, missing_names_are_path_not_found)
{
    auto session = open();
    std::string c = new_container("missing");
    az_itest::put_text(seed.get(), c, "plain", "x");
    for (const std::string &path : {"/" + c + "/nothing", "/" + c + "/no/such/dir",
                                    "/" + ostrel_test::unique_name("nocontainer") + "/x"}) {
        for (bool file_only : {true, false}) {
            ostrel_host::stat_result absent = session->stat(path, file_only);
            EXPECT_EQ(absent.error.reply_code, 550) << path << " " << file_only;
            EXPECT_EQ(absent.error.response_error_code, "PATH_NOT_FOUND") << path;
            EXPECT_NE(absent.error.text.find(path), std::string::npos) << absent.error.text;
        }
    }
    // listing a plain blob as a directory finds nothing below it
    EXPECT_EQ(session->stat("/" + c + "/plain", false).error.response_error_code, "PATH_NOT_FOUND");
}

TEST_F(stat_itest, modification_time_comes_from_valid_metadata_only)
{
    auto session = open();
    std::string c = new_container("mtime");
    const struct {
        const char *value;
        int64_t mtime;
    } rows[] = {{"1700000000", 1700000000}, {"abc", -1}, {"0", 0}, {"-5", -1}, {"12x", -1}};
    for (size_t i = 0; i < std::size(rows); i++)
        az_itest::put_text(seed.get(), c, "m" + std::to_string(i), "data",
                           {{"ostrel_modtime", rows[i].value}});

    ostrel_host::stat_result listing = stat_ok(*session, "/" + c, false);
    for (size_t i = 0; i < std::size(rows); i++) {
        std::string key = "m" + std::to_string(i);
        ostrel_host::stat_result one = stat_ok(*session, "/" + c + "/" + key, true);
        ASSERT_EQ(one.entries.size(), 1u);
        EXPECT_EQ(one.entries[0].mtime, rows[i].mtime) << rows[i].value;
        const ostrel_gfs_stat_t *listed = entry_named(listing, key);
        ASSERT_NE(listed, nullptr) << key;
        EXPECT_EQ(listed->mtime, rows[i].mtime) << rows[i].value;
    }
}

// Meant for the thread-sanitizer build: operations of one session overlap on
// many threads, and every one of them renews the short-lived token, as a
// multi-threaded server would drive them.
TEST_F(stat_itest, concurrent_operations_of_one_session)
{
    std::string c = new_container("busy");
    az_itest::put_text(seed.get(), c, "a", "1");
    az_itest::put_text(seed.get(), c, "d/b", "22");

    std::string config = "{\"account\": \"" + emu.account_text + "\", \"ca_file\": \"" +
                         emu.ca_file + "\", \"adls\": false}";
    std::atomic<int> renewals{0};
    ostrel_host::session_options options;
    // 60 seconds left is inside the renewal margin: every operation renews.
    options.documents = [&](const std::string &key) -> std::optional<std::string> {
        if (key == "config")
            return config;
        if (key == "renew-creds")
            renewals++;
        return ostrel_test::mint_creds(60);
    };
    ostrel_host::session session(dsi, options);
    ASSERT_TRUE(session.start().ok);

    const int kThreads = 8;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            std::string dir = "/" + c + "/t" + std::to_string(t);
            for (int i = 0; i < 4; i++) {
                ostrel_host::stat_result listing = session.stat("/" + c, false);
                if (!listing.error.ok || listing.entries.size() < 3)
                    failures[t]++;
                ostrel_host::stat_result blob = session.stat("/" + c + "/d/b", true);
                if (!blob.error.ok || blob.entries.size() != 1 || blob.entries[0].size != 2)
                    failures[t]++;
                if (!command(session, OSTREL_GFS_CMD_MKD, dir).error.ok)
                    failures[t]++;
                if (command(session, OSTREL_GFS_CMD_CKSM, "/" + c + "/a").response !=
                    connector_itest::md5_hex("1"))
                    failures[t]++;
                if (!command(session, OSTREL_GFS_CMD_RMD, dir).error.ok)
                    failures[t]++;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    session.end();
    for (int t = 0; t < kThreads; t++)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_GT(renewals.load(), 0);
}

} // namespace
