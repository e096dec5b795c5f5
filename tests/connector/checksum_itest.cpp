// Checksum: from Content-MD5, from the cache, or by reading the blob, checked
// against MD5s computed here from the seeded bytes.
#include "tests/connector/itest_support.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace
{

using connector_itest::md5_hex;
using connector_itest::pattern;

class checksum_itest : public connector_itest::plugin_test
{
  protected:
    static size_t count(ostrel_test::fault_proxy &proxy, const std::string &method)
    {
        return az_itest::requests_matching(proxy, method, "").size();
    }

    // The checksum a command that is expected to succeed answers.
    static std::string cksum(ostrel_host::session &session, const std::string &path,
                             int64_t offset = 0, int64_t length = -1)
    {
        ostrel_host::command_result sum =
            command(session, OSTREL_GFS_CMD_CKSM, path, "md5", offset, length);
        EXPECT_TRUE(sum.error.ok) << path << ": " << sum.error.text;
        return sum.response;
    }

    // Last-modified times have whole seconds; wait into the next one so that
    // a checksum taken now is known to be younger than the blob.
    static void next_second() { std::this_thread::sleep_for(std::chrono::milliseconds(1100)); }
};

TEST_F(checksum_itest, whole_blob_is_answered_from_content_md5)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("props");
    std::string bytes = pattern(3000);
    az_itest::put_text(seed.get(), c, "k", bytes);

    proxy.clear_log();
    ostrel_host::command_result sum = command(*session, OSTREL_GFS_CMD_CKSM, "/" + c + "/k", "MD5");
    ASSERT_TRUE(sum.error.ok) << sum.error.text;
    EXPECT_EQ(sum.response, md5_hex(bytes));
    EXPECT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(count(proxy, "HEAD"), 1u);
}

TEST_F(checksum_itest, range_is_read_and_digested)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("range");
    std::string bytes = pattern(100);
    az_itest::put_text(seed.get(), c, "k", bytes);

    proxy.clear_log();
    EXPECT_EQ(cksum(*session, "/" + c + "/k", 5, 10), md5_hex(bytes.substr(5, 10)));
    auto gets = az_itest::requests_matching(proxy, "GET", "/" + c + "/k");
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].header("x-ms-range"), "bytes=5-14");

    // a range past the end covers what is there; an empty one reads nothing
    EXPECT_EQ(cksum(*session, "/" + c + "/k", 90, 50), md5_hex(bytes.substr(90)));
    EXPECT_EQ(cksum(*session, "/" + c + "/k", 7, 0), "d41d8cd98f00b204e9800998ecf8427e");
    ostrel_host::command_result past =
        command(*session, OSTREL_GFS_CMD_CKSM, "/" + c + "/k", "md5", 101, -1);
    EXPECT_FALSE(past.error.ok);
    EXPECT_TRUE(past.response.empty());
}

TEST_F(checksum_itest, cache_answers_until_the_blob_changes)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("cache");
    std::string path = "/" + c + "/k";
    std::string first = pattern(5000, 1);
    az_itest::put_text(seed.get(), c, "k", first);
    clear_content_md5(c, "k");
    next_second();

    EXPECT_EQ(cksum(*session, path), md5_hex(first));
    proxy.clear_log();
    EXPECT_EQ(cksum(*session, path), md5_hex(first));
    EXPECT_EQ(count(proxy, "GET"), 0u) << "not answered from the cache";

    // new content: the cached digest is stale and must be replaced
    std::string second = pattern(5000, 2);
    az_itest::put_text(seed.get(), c, "k", second);
    clear_content_md5(c, "k");
    proxy.clear_log();
    EXPECT_EQ(cksum(*session, path), md5_hex(second));
    EXPECT_EQ(count(proxy, "GET"), 1u);

    next_second();
    cksum(*session, path);
    proxy.clear_log();
    EXPECT_EQ(cksum(*session, path), md5_hex(second));
    EXPECT_EQ(count(proxy, "GET"), 0u) << "the replaced entry is not used";
}

TEST_F(checksum_itest, progress_is_reported_during_a_slow_read)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint(), 1);
    std::string c = new_container("slow");
    std::string bytes = pattern(60000);
    az_itest::put_text(seed.get(), c, "k", bytes);
    proxy.add_rule(R"({"method": "GET", "slow": {"bytes_per_second": 20000}})");

    std::vector<std::string> progress;
    ostrel_host::command_result sum =
        command(*session, OSTREL_GFS_CMD_CKSM, "/" + c + "/k", "md5", 1, -1, &progress);
    ASSERT_TRUE(sum.error.ok) << sum.error.text;
    EXPECT_EQ(sum.response, md5_hex(bytes.substr(1)));
    ASSERT_FALSE(progress.empty());
    for (const std::string &text : progress) {
        char *end = nullptr;
        unsigned long long done = std::strtoull(text.c_str(), &end, 10);
        EXPECT_TRUE(!text.empty() && *end == '\0') << text;
        EXPECT_GT(done, 0u) << text;
        EXPECT_LE(done, bytes.size() - 1) << text;
    }
}

TEST_F(checksum_itest, cut_connection_never_gives_a_wrong_digest)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("cut");
    std::string bytes = pattern(200000);
    az_itest::put_text(seed.get(), c, "k", bytes);
    clear_content_md5(c, "k");
    const std::string whole = md5_hex(bytes);

    for (const char *rule : {R"({"method": "GET", "cut_after": 70000, "times": 1})",
                             R"({"method": "GET", "cut_after": 1000})",
                             R"({"method": "GET", "truncate_body": 5000})"}) {
        proxy.clear_rules();
        proxy.add_rule(rule);
        for (int64_t offset : {0, 3}) {
            ostrel_host::command_result sum =
                command(*session, OSTREL_GFS_CMD_CKSM, "/" + c + "/k", "md5", offset, -1);
            if (sum.error.ok)
                EXPECT_EQ(sum.response, md5_hex(bytes.substr(offset))) << rule;
            else
                EXPECT_TRUE(sum.response.empty()) << rule;
        }
    }
    // once the line is good again the digest is there, and no cut read was cached
    proxy.clear_rules();
    EXPECT_EQ(cksum(*session, "/" + c + "/k"), whole);
}

TEST_F(checksum_itest, directories_and_missing_blobs_have_no_checksum)
{
    auto session = open();
    std::string c = new_container("dirs");
    ASSERT_TRUE(command(*session, OSTREL_GFS_CMD_MKD, "/" + c + "/d").error.ok);
    ostrel_host::command_result dir = command(*session, OSTREL_GFS_CMD_CKSM, "/" + c + "/d");
    EXPECT_EQ(dir.error.reply_code, 550);
    EXPECT_NE(dir.error.text.find("checksum needs a blob path"), std::string::npos)
        << dir.error.text;
    EXPECT_TRUE(dir.response.empty());

    ostrel_host::command_result missing =
        command(*session, OSTREL_GFS_CMD_CKSM, "/" + c + "/nothing");
    EXPECT_EQ(missing.error.response_error_code, "PATH_NOT_FOUND") << missing.error.text;
    EXPECT_NE(missing.error.text.find(c + "/nothing"), std::string::npos) << missing.error.text;
}

} // namespace
