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
const int CKSM = OSTREL_GFS_CMD_CKSM;

class checksum_itest : public connector_itest::plugin_test
{
  protected:
    // The checksum a command that is expected to succeed answers.
    static std::string cksum(ostrel_host::session &session, const std::string &path,
                             int64_t offset = 0, int64_t length = -1)
    {
        ostrel_host::command_result sum = command(session, CKSM, path, "md5", offset, length);
        EXPECT_TRUE(sum.error.ok) << path << ": " << sum.error.text;
        return sum.response;
    }

    // A blob whose MD5 only its bytes can tell.
    void put_bare(const std::string &c, const std::string &key, const std::string &bytes)
    {
        az_itest::put_text(seed.get(), c, key, bytes);
        clear_content_md5(c, key);
    }
};

TEST_F(checksum_itest, whole_blob_from_content_md5_and_ranges_from_the_bytes)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("props");
    std::string bytes = pattern(3000);
    az_itest::put_text(seed.get(), c, "k", bytes);
    std::string path = "/" + c + "/k";

    proxy.clear_log();
    ostrel_host::command_result sum = command(*session, CKSM, path, "MD5");
    ASSERT_TRUE(sum.error.ok) << sum.error.text;
    EXPECT_EQ(sum.response, md5_hex(bytes));
    EXPECT_EQ(count(proxy, "GET"), 0u) << "read although Content-MD5 answers";

    EXPECT_EQ(cksum(*session, path, 5, 10), md5_hex(bytes.substr(5, 10)));
    // a range past the end covers what is there; an empty one reads nothing
    EXPECT_EQ(cksum(*session, path, 2990, 50), md5_hex(bytes.substr(2990)));
    EXPECT_EQ(cksum(*session, path, 7, 0), "d41d8cd98f00b204e9800998ecf8427e");
    ostrel_host::command_result past = command(*session, CKSM, path, "md5", 3001, -1);
    EXPECT_FALSE(past.error.ok);
    EXPECT_TRUE(past.response.empty());

    ASSERT_TRUE(command(*session, OSTREL_GFS_CMD_MKD, "/" + c + "/d").error.ok);
    ostrel_host::command_result dir = command(*session, CKSM, "/" + c + "/d");
    EXPECT_EQ(dir.error.reply_code, 550);
    EXPECT_NE(dir.error.text.find("checksum needs a blob path"), std::string::npos);
    ostrel_host::command_result missing = command(*session, CKSM, "/" + c + "/nothing");
    EXPECT_EQ(missing.error.response_error_code, "PATH_NOT_FOUND") << missing.error.text;
    EXPECT_NE(missing.error.text.find(c + "/nothing"), std::string::npos) << missing.error.text;
}

TEST_F(checksum_itest, cache_answers_until_the_blob_changes)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("cache");
    std::string path = "/" + c + "/k";
    std::string first = pattern(5000, 1);
    put_bare(c, "k", first);
    next_second();

    // a read cut every time gives no digest and leaves none behind
    proxy.add_rule(R"({"method": "GET", "cut_after": 1000})");
    ostrel_host::command_result cut = command(*session, CKSM, path);
    EXPECT_FALSE(cut.error.ok);
    EXPECT_TRUE(cut.response.empty());
    proxy.clear_rules();
    EXPECT_EQ(cksum(*session, path), md5_hex(first));
    proxy.clear_log();
    EXPECT_EQ(cksum(*session, path), md5_hex(first));
    EXPECT_EQ(count(proxy, "GET"), 0u) << "not answered from the cache";

    // new content: the cached digest is stale and must be replaced
    std::string second = pattern(5000, 2);
    put_bare(c, "k", second);
    proxy.clear_log();
    EXPECT_EQ(cksum(*session, path), md5_hex(second));
    EXPECT_EQ(count(proxy, "GET"), 1u);
}

TEST_F(checksum_itest, progress_is_reported_during_a_slow_read)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint(), false, [](auto &o) { o.update_interval = 1; });
    std::string c = new_container("slow");
    std::string bytes = pattern(60000);
    az_itest::put_text(seed.get(), c, "k", bytes);
    proxy.add_rule(R"({"method": "GET", "slow": {"bytes_per_second": 20000}})");

    ostrel_host::command_result sum = command(*session, CKSM, "/" + c + "/k", "md5", 1, -1);
    ASSERT_TRUE(sum.error.ok) << sum.error.text;
    EXPECT_EQ(sum.response, md5_hex(bytes.substr(1)));
    ASSERT_FALSE(sum.intermediate.empty());
    for (const std::string &text : sum.intermediate) {
        char *end = nullptr;
        unsigned long long done = std::strtoull(text.c_str(), &end, 10);
        EXPECT_TRUE(!text.empty() && *end == '\0') << text;
        EXPECT_GT(done, 0u) << text;
        EXPECT_LE(done, bytes.size() - 1) << text;
    }
}

// The read is pinned to the version the head sized: a blob rewritten in
// between is digested again from its head, never half of one and half of
// the other.
TEST_F(checksum_itest, blob_rewritten_during_the_command_is_digested_whole)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("rewrite");
    std::string path = "/" + c + "/k";
    std::string second = pattern(400000, 2);
    put_bare(c, "k", pattern(200000, 1));

    proxy.add_rule(R"({"method": "GET", "delay_ms": 1500, "times": 1})");
    std::thread rewrite([&] {
        while (az_itest::requests_matching(proxy, "GET", path).empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        put_bare(c, "k", second);
    });
    ostrel_host::command_result sum = command(*session, CKSM, path);
    rewrite.join();
    ASSERT_TRUE(sum.error.ok) << sum.error.text;
    EXPECT_EQ(sum.response, md5_hex(second));
    auto gets = az_itest::requests_matching(proxy, "GET", path);
    ASSERT_FALSE(gets.empty());
    EXPECT_NE(gets[0].header("If-Match"), "");

    // a blob that keeps changing fails the command after a few rounds
    proxy.clear_log();
    proxy.add_rule(R"({"method": "GET", "respond": {"status": 412,
        "headers": {"x-ms-error-code": "ConditionNotMet", "Content-Type": "application/xml"},
        "body": "<?xml version=\"1.0\"?><Error><Code>ConditionNotMet</Code><Message>changed</Message></Error>"}})");
    ostrel_host::command_result changing = command(*session, CKSM, path, "md5", 1, -1);
    EXPECT_FALSE(changing.error.ok);
    EXPECT_TRUE(changing.response.empty());
    EXPECT_NE(changing.error.text.find("changed while"), std::string::npos) << changing.error.text;
    EXPECT_EQ(count(proxy, "GET"), 3u);
}

} // namespace
