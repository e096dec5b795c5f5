// Stat and the directory commands against the emulator: listings, folder
// markers, names that must not reach the service, and what the service holds
// afterwards, checked with requests of the test's own.
#include "tests/connector/itest_support.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

namespace
{

using connector_itest::strings;
const int MKD = OSTREL_GFS_CMD_MKD, RMD = OSTREL_GFS_CMD_RMD, DELE = OSTREL_GFS_CMD_DELE;

class namespace_itest : public connector_itest::plugin_test
{
  protected:
    void TearDown() override { unsetenv("OSTREL_AZURE_DELETE_CONTAINERS"); }

    void put(const std::string &c, const std::string &key, const std::string &text = "x")
    {
        az_itest::put_text(seed.get(), c, key, text);
    }
    void put_marker(const std::string &c, const std::string &key)
    {
        az_itest::put_text(seed.get(), c, key, "", {{"hdi_isfolder", "true"}});
    }
    static void expect_error(const ostrel_host::error_info &error, int reply_code,
                             const std::string &code, const std::string &path)
    {
        EXPECT_EQ(error.reply_code, reply_code) << path << ": " << error.text;
        EXPECT_EQ(error.response_error_code, code) << path << ": " << error.text;
        EXPECT_NE(error.text.find(path), std::string::npos) << error.text;
    }
};

// First: it empties this program's emulator, so that it knows every container.
TEST_F(namespace_itest, container_listings_arrive_in_batches_of_32)
{
    az_itest::recorder all;
    AZ_list_containers(seed.get(), az_itest::record_properties, az_itest::record_complete, &all);
    for (const az_itest::entry &e : all.entries)
        AZ_delete_container(seed.get(), e.name.c_str(), az_itest::record_complete, &all);
    auto session = open();
    strings made;
    for (int i = 0; i < 31; i++)
        made.push_back(new_container("root"));

    // "." and 31 containers fill exactly one batch: the final answer is empty.
    ostrel_host::stat_result one = stat_ok(*session, "/", false);
    EXPECT_EQ(one.batches, std::vector<int>({32}));
    EXPECT_EQ(one.entries.size(), 32u);

    // 71 entries: two partial answers of 32, a final answer of 7.
    for (int i = 0; i < 39; i++)
        made.push_back(new_container("root"));
    ostrel_host::stat_result full = stat_ok(*session, "/", false);
    EXPECT_EQ(full.batches, std::vector<int>({32, 32}));
    strings listed = names(full);
    ASSERT_EQ(listed.size(), 71u);
    EXPECT_EQ(listed[0], ".");
    EXPECT_EQ(full.entries[0].ino, hash("/"));
    listed.erase(listed.begin());
    std::sort(listed.begin(), listed.end());
    std::sort(made.begin(), made.end());
    EXPECT_EQ(listed, made);
    const ostrel_gfs_stat_t *c = entry_named(full, made[5]);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->mode, 040700);
    EXPECT_EQ(c->ino, hash(made[5]));
    EXPECT_EQ(c->dev, hash("/"));
    EXPECT_EQ(names(stat_ok(*session, "/" + made[5] + "/", true)), strings({made[5]}));
}

TEST_F(namespace_itest, listings_show_blobs_and_directories_once)
{
    ostrel_test::fault_proxy proxy(emu);
    std::string c = new_container("list");
    put(c, "a.txt", "hello");
    put(c, "dir/b.txt", "inner");
    put_marker(c, "both");
    put(c, "both/x");
    put_marker(c, "empty");

    for (bool adls : {false, true}) {
        auto session = open(emu, adls);
        EXPECT_EQ(ls(*session, "/" + c), strings({".", "a.txt", "both", "dir", "empty"})) << adls;
        ostrel_host::stat_result listing = stat_ok(*session, "/" + c, false);
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
        EXPECT_EQ(dir->ino, hash("dir/"));

        ostrel_host::stat_result inner = stat_ok(*session, "/" + c + "/dir", false);
        EXPECT_EQ(names(inner), strings({".", "b.txt"}));
        EXPECT_EQ(inner.entries[0].ino, hash("dir"));
        EXPECT_EQ(ls(*session, "/" + c + "/both"), strings({".", "x"})) << adls;
        EXPECT_EQ(ls(*session, "/" + c + "/empty"), strings({"."})) << adls;
        EXPECT_EQ(names(stat_ok(*session, "/" + c + "/dir", true)), strings({"."}));
        EXPECT_EQ(names(stat_ok(*session, "/" + c + "/empty", true)), strings({"empty"}));
        ostrel_host::stat_result blob = stat_ok(*session, "/" + c + "/dir/b.txt", true);
        ASSERT_EQ(names(blob), strings({"dir/b.txt"}));
        EXPECT_EQ(blob.entries[0].size, 5);
        EXPECT_EQ(blob.entries[0].ino, hash("/" + c + "/dir/b.txt"));
    }

    // one entry a page: the marker and the prefix of "both" on different pages
    proxy.add_rule(R"({"method": "GET", "rewrite_target": ["maxresults=10000", "maxresults=1"]})");
    auto paged = open(proxy.endpoint());
    EXPECT_EQ(ls(*paged, "/" + c), strings({".", "a.txt", "both", "dir", "empty"}));
    EXPECT_GE(az_itest::requests_matching(proxy, "GET", "comp=list").size(), 5u);
}

// A trailing separator names the same directory everywhere, whichever
// spelling its marker was made with; empty components are refused.
TEST_F(namespace_itest, trailing_separator_names_the_directory)
{
    for (bool adls : {false, true}) {
        auto session = open(emu, adls);
        std::string c = new_container("slash");
        std::string p = "/" + c;
        put(c, "dir/b.txt");
        put(c, "file");
        for (std::string spelling : {"mk", "mk/"}) {
            ASSERT_TRUE(command(*session, MKD, p + "/" + spelling).error.ok) << spelling;
            for (const std::string &path : {p + "/mk", p + "/mk/"}) {
                EXPECT_EQ(ls(*session, path), strings({"."})) << spelling << " " << path;
                EXPECT_TRUE(session->stat(path, true).error.ok) << spelling << " " << path;
            }
            EXPECT_EQ(ls(*session, p), strings({".", "dir", "file", "mk"})) << spelling;
            ostrel_host::command_result removed =
                command(*session, RMD, p + (spelling == "mk" ? "/mk/" : "/mk"));
            EXPECT_TRUE(removed.error.ok) << spelling << ": " << removed.error.text;
            EXPECT_FALSE(exists(c, "mk"));
            EXPECT_FALSE(exists(c, "mk/"));
        }
        EXPECT_EQ(ls(*session, p + "/dir/"), strings({".", "b.txt"}));
        EXPECT_EQ(ls(*session, p + "/"), strings({".", "dir", "file"}));
        // a file is not a directory
        for (bool file_only : {true, false})
            expect_error(session->stat(p + "/file/", file_only).error, 550, "PATH_NOT_FOUND",
                         p + "/file/");
    }
}

TEST_F(namespace_itest, names_that_would_reach_other_blobs_are_refused_before_any_request)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("dots");
    std::string other = new_container("other");
    put(c, "b");
    put(c, "dir/b");
    put(other, "x");

    proxy.clear_log();
    for (const std::string &path :
         {"/" + c + "/a/../b", "/" + c + "/dir/../b", "/" + c + "/../" + other + "/x",
          "/" + c + "/./b", "/" + c + "/dir/.", "/" + c + "/..", "/./" + c + "/b",
          std::string("/../x"), "/" + c + "//", "/" + c + "/dir//b", "//" + c,
          "/" + c + "/dir//"}) {
        for (bool file_only : {true, false})
            expect_error(session->stat(path, file_only).error, 553, "INVALID_PATH", path);
        for (int number : {MKD, RMD, DELE, (int)OSTREL_GFS_CMD_CKSM})
            expect_error(command(*session, number, path).error, 553, "INVALID_PATH", path);
    }
    EXPECT_TRUE(proxy.requests().empty());
    EXPECT_TRUE(exists(c, "b"));
    EXPECT_TRUE(exists(c, "dir/b"));
    EXPECT_TRUE(exists(other, "x"));
}

// Blob names that no path could address are left out of listings.
TEST_F(namespace_itest, listings_drop_entries_no_path_can_name)
{
    auto session = open();
    std::string c = new_container("phantom");
    put(c, "dd//x");
    put(c, "dd/y");
    ASSERT_EQ(raw("PUT", "/" + c + "/../x", {"x-ms-blob-type: BlockBlob"}, "x"), 201);
    ASSERT_EQ(raw("PUT", "/" + c + "/./y", {"x-ms-blob-type: BlockBlob"}, "y"), 201);
    EXPECT_EQ(ls(*session, "/" + c), strings({".", "dd"}));
    EXPECT_EQ(ls(*session, "/" + c + "/dd"), strings({".", "y"}));
}

TEST_F(namespace_itest, modification_time_comes_from_valid_metadata_only)
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

    // (a single stat reads it the same way)
    ostrel_host::stat_result listing = stat_ok(*session, "/" + c, false);
    for (size_t i = 0; i < std::size(rows); i++) {
        const ostrel_gfs_stat_t *listed = entry_named(listing, "m" + std::to_string(i));
        ASSERT_NE(listed, nullptr) << i;
        EXPECT_EQ(listed->mtime, rows[i].mtime) << rows[i].value;
    }
}

TEST_F(namespace_itest, mkdir_makes_containers_and_markers_but_replaces_nothing)
{
    auto session = open();
    std::string made = "/" + ostrel_test::unique_name("made");
    ASSERT_TRUE(command(*session, MKD, made).error.ok);
    expect_error(command(*session, MKD, made).error, 553, "PATH_EXISTS", made);
    // "/c/" is the container too, not a blob without a name
    std::string slashed = "/" + ostrel_test::unique_name("slashed");
    ASSERT_TRUE(command(*session, MKD, slashed + "/").error.ok);
    EXPECT_TRUE(session->stat(slashed, true).error.ok);

    std::string c = new_container("mk");
    std::string p = "/" + c;
    ASSERT_TRUE(command(*session, MKD, p + "/a/b").error.ok);
    az_itest::entry marker = az_itest::head_entry(seed.get(), c, "a/b");
    EXPECT_EQ(marker.size, 0u);
    EXPECT_FALSE(exists(c, "a")) << "a parent marker was made";
    EXPECT_EQ(ls(*session, p + "/a"), strings({".", "b"}));

    put(c, "data.bin", "123456");
    put_marker(c, "d");
    put_marker(c, "e/");
    for (const std::string &path :
         {p + "/data.bin", p + "/data.bin/", p + "/a/b", p + "/d", p + "/d/", p + "/e", p + "/e/"})
        expect_error(command(*session, MKD, path).error, 553, "PATH_EXISTS", path);
    EXPECT_EQ(az_itest::get_blob(seed.get(), c, "data.bin").data, "123456");
    EXPECT_FALSE(exists(c, "d/"));
    EXPECT_FALSE(exists(c, "e"));

    std::string nowhere = "/" + ostrel_test::unique_name("nocontainer") + "/d";
    expect_error(command(*session, MKD, nowhere).error, 550, "PATH_NOT_FOUND", nowhere);
}

TEST_F(namespace_itest, rmdir_removes_only_folder_markers)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("rm");
    std::string p = "/" + c;
    put_marker(c, "d");
    put(c, "d/x", "kept");
    ASSERT_TRUE(command(*session, RMD, p + "/d").error.ok);
    EXPECT_FALSE(exists(c, "d"));
    EXPECT_TRUE(exists(c, "d/x"));
    EXPECT_EQ(ls(*session, p + "/d"), strings({".", "x"}));
    // now only a prefix: nothing to remove, and nothing is removed
    expect_error(command(*session, RMD, p + "/d").error, 550, "PATH_NOT_FOUND", p + "/d");
    EXPECT_TRUE(exists(c, "d/x"));

    put(c, "file.txt", "data");
    put(c, "plain/", "not a marker");
    for (const std::string &path : {p + "/file.txt", p + "/file.txt/", p + "/plain"}) {
        ostrel_host::command_result refused = command(*session, RMD, path);
        EXPECT_EQ(refused.error.reply_code, 550) << path;
        EXPECT_NE(refused.error.text.find("not a directory"), std::string::npos)
            << refused.error.text;
    }
    EXPECT_TRUE(exists(c, "file.txt"));
    EXPECT_TRUE(exists(c, "plain/"));

    // a marker replaced by a file between the check and the delete stays
    put_marker(c, "swap");
    proxy.add_rule(R"({"method": "DELETE", "delay_ms": 1500, "times": 1})");
    std::thread replace([&] {
        while (az_itest::requests_matching(proxy, "DELETE", "/swap").empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        put(c, "swap", "important");
    });
    ostrel_host::command_result raced = command(*session, RMD, p + "/swap");
    replace.join();
    EXPECT_EQ(az_itest::get_blob(seed.get(), c, "swap").data, "important") << raced.error.text;
    EXPECT_FALSE(raced.error.ok);

    std::string whole = new_container("whole");
    put(whole, "x");
    proxy.clear_log();
    ostrel_host::command_result refused = command(*session, RMD, "/" + whole);
    EXPECT_NE(refused.error.text.find("NotSupported"), std::string::npos) << refused.error.text;
    EXPECT_TRUE(proxy.requests().empty());
    EXPECT_TRUE(exists(whole, "x"));
    setenv("OSTREL_AZURE_DELETE_CONTAINERS", "", 1);
    ASSERT_TRUE(command(*session, RMD, "/" + whole).error.ok);
    EXPECT_EQ(session->stat("/" + whole, true).error.response_error_code, "PATH_NOT_FOUND");
}

// Meant for the thread-sanitizer build: operations of one session overlap on
// many threads, and every one of them renews the short-lived token, as a
// multi-threaded server would drive them.
TEST_F(namespace_itest, concurrent_operations_of_one_session)
{
    std::string c = new_container("busy");
    put(c, "a", "1");
    clear_content_md5(c, "a"); // checksums then go through the shared cache
    put(c, "d/b", "22");

    std::string text = config(emu);
    std::atomic<int> renewals{0};
    ostrel_host::session_options options;
    // 60 seconds left is inside the renewal margin: every operation renews.
    options.documents = [&](const std::string &key) -> std::optional<std::string> {
        if (key == "config")
            return text;
        if (key == "renew-creds")
            renewals++;
        return ostrel_test::mint_creds(60);
    };
    ostrel_host::session session(dsi, options);
    ASSERT_TRUE(session.start().ok);

    const int threads_count = 8;
    std::vector<int> failures(threads_count, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < threads_count; t++) {
        threads.emplace_back([&, t] {
            std::string dir = "/" + c + "/t" + std::to_string(t);
            for (int i = 0; i < 4; i++) {
                ostrel_host::stat_result listing = session.stat("/" + c, false);
                failures[t] += !listing.error.ok || listing.entries.size() < 3;
                ostrel_host::stat_result blob = session.stat("/" + c + "/d/b", true);
                failures[t] += blob.entries.size() != 1 || blob.entries[0].size != 2;
                failures[t] += !command(session, MKD, dir).error.ok;
                failures[t] += command(session, OSTREL_GFS_CMD_CKSM, "/" + c + "/a").response !=
                               connector_itest::md5_hex("1");
                failures[t] += !command(session, RMD, dir).error.ok;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    session.end();
    for (int t = 0; t < threads_count; t++)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_GT(renewals.load(), 0);
}

} // namespace
