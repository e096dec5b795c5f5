// Uploads against the emulator through the fault proxy, so that the requests on the wire can
// be counted and measured.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <openssl/evp.h>

#include "az/md5_text.h"
#include "itest_support.h"

using namespace az_itest;

namespace
{

constexpr uint64_t one_request_limit = 134217728;
constexpr uint64_t block_size = 104857600;

// Byte i of a deterministic test blob; no period near the block size, so a block sent twice
// or out of order shows up.
unsigned char pattern_byte(uint64_t i)
{
    uint64_t z = (i >> 3) + 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return static_cast<unsigned char>(z >> ((i & 7) * 8));
}

// The pattern as an upload source; then, as a download sink, counts bytes that differ from it.
// `fail_on_call` makes that call of the source return `failure` instead.
struct pattern : recorder {
    uint64_t size = 0, offset = 0, mismatches = 0;
    int32_t largest_ask = 0;
    int calls = 0, fail_on_call = 0;
    int32_t failure = 0;
};

int32_t pattern_supply(int32_t max, unsigned char *buffer, void *arg)
{
    auto *p = static_cast<pattern *>(static_cast<recorder *>(arg));
    p->largest_ask = std::max(p->largest_ask, max);
    if (++p->calls == p->fail_on_call) {
        return p->failure;
    }
    auto n =
        static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(max), p->size - p->offset));
    for (int32_t k = 0; k < n; k++) {
        buffer[k] = pattern_byte(p->offset + static_cast<uint64_t>(k));
    }
    p->offset += static_cast<uint64_t>(n);
    return n;
}

int32_t pattern_compare(int32_t count, const unsigned char *data, void *arg)
{
    auto *p = static_cast<pattern *>(static_cast<recorder *>(arg));
    for (int32_t k = 0; k < count; k++) {
        p->mismatches += data[k] != pattern_byte(p->offset + static_cast<uint64_t>(k));
    }
    p->offset += static_cast<uint64_t>(count);
    return count;
}

// MD5 of the first `size` bytes of the pattern, as base64 and as hex (the hex by the tested
// conversion).
std::pair<std::string, std::string> pattern_md5(uint64_t size)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(md.get(), EVP_md5(), nullptr);
    std::vector<unsigned char> chunk(65536);
    for (uint64_t at = 0; at < size; at += chunk.size()) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - at));
        for (size_t k = 0; k < n; k++) {
            chunk[k] = pattern_byte(at + k);
        }
        EVP_DigestUpdate(md.get(), chunk.data(), n);
    }
    unsigned char digest[16];
    EVP_DigestFinal_ex(md.get(), digest, nullptr);
    char base64[32] = {};
    EVP_EncodeBlock(reinterpret_cast<unsigned char *>(base64), digest, 16);
    return {base64, AZ_md5_hex(base64)};
}

// Counts refreshes and, as the connector does, installs a new token each time.
struct refresher {
    AZ_client *client = nullptr;
    std::vector<std::string> tokens;
};

int refresh_token(void *arg)
{
    auto *r = static_cast<refresher *>(arg);
    r->tokens.push_back(ostrel_test::mint_token(3600 + static_cast<long>(r->tokens.size())));
    AZ_update_token(r->client, r->tokens.back().c_str());
    return 0;
}

class put_blob_itest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        client = make_client(proxy.endpoint(), false, refresh_token, &refresh);
        refresh.client = client.get();
        container = ostrel_test::unique_name("put");
        create_container(client.get(), container);
        proxy.clear_log();
    }

    client_ptr tuned_client(int32_t block_mib, int32_t parallel, bool store_md5,
                            bool refreshing = false)
    {
        AZ_client_options options = {};
        options.upload_block_mib = block_mib;
        options.upload_parallel = parallel;
        options.store_md5 = store_md5;
        return make_client(proxy.endpoint(), false, refreshing ? refresh_token : nullptr, &refresh,
                           ostrel_test::mint_token(), options);
    }

    void put(const std::string &key, pattern &source, const AZ_put_options *options = nullptr)
    {
        AZ_put_blob(client.get(), container.c_str(), key.c_str(), source.size, options,
                    pattern_supply, record_complete, static_cast<recorder *>(&source));
    }

    ostrel_test::emulator emu = ostrel_test::emulator_from_env();
    ostrel_test::fault_proxy proxy{emu};
    refresher refresh;
    client_ptr client;
    std::string container;
};

// Memory per upload is measured by bench/run.
TEST_F(put_blob_itest, exactly_the_limit_goes_in_one_request)
{
    if (!ostrel_test::large_tests_enabled())
        GTEST_SKIP() << "large transfer";
    pattern source;
    source.size = one_request_limit;
    put("limit", source);
    ASSERT_EQ(source.status, AZ_OK) << source.message.value_or("");
    EXPECT_LE(source.largest_ask, 1048576);
    auto sent = requests_matching(proxy, "PUT", "/limit");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].target.find("comp="), std::string::npos);
    EXPECT_EQ(sent[0].body_size, one_request_limit);
    EXPECT_EQ(sent[0].header("x-ms-blob-type"), "BlockBlob");
    // The length is announced: neither chunked framing nor a wait for "100 Continue".
    EXPECT_EQ(sent[0].header("Transfer-Encoding") + sent[0].header("Expect"), "");
    delete_blob(client.get(), container, "limit");
}

// A source that fails, ends early or overruns, or a block the service refuses, never leaves a
// blob nor damages the old one; blocks already sent are not committed.
TEST_F(put_blob_itest, failed_uploads_store_nothing)
{
    const struct {
        uint64_t size;
        int fail_on_call;
        int32_t failure;
        AZ_status status;
        bool staged = false;
    } rows[] = {
        {3 * 1048576, 2, -1, AZ_AbortedByCallback},
        {3 * 1048576, 2, 0, AZ_AbortedByCallback},
        {3 * 1048576, 2, 2 * 1048576, AZ_AbortedByCallback},
        {one_request_limit + 1, 3, 0, AZ_AbortedByCallback},
        {one_request_limit + 1, 0, 0, 134}, // ErrorInternalError from the refused block
        {5 * 1048576 + 7, 1, -1, AZ_AbortedByCallback, true},
        {5 * 1048576 + 7, 0, 0, 134, true}, // blocks in flight when the first is refused
    };
    auto staged = tuned_client(1, 3, true);
    proxy.add_rule(R"({"method":"PUT","path":"&comp=block$","respond":{"status":500,"body":)"
                   R"("<Error><Code>InternalError</Code><Message>failed</Message></Error>"}})");
    put_text(client.get(), container, "keep", "old content");
    for (const auto &row : rows) {
        pattern source;
        source.size = row.size;
        source.fail_on_call = row.fail_on_call;
        source.failure = row.failure;
        AZ_put_blob(row.staged ? staged.get() : client.get(), container.c_str(), "keep",
                    source.size, nullptr, pattern_supply, record_complete,
                    static_cast<recorder *>(&source));
        EXPECT_EQ(source.status, row.status) << row.failure;
        EXPECT_TRUE(source.message) << row.failure;
        EXPECT_TRUE(get_blob(client.get(), container, "keep").data == "old content") << row.failure;
    }
    EXPECT_TRUE(requests_matching(proxy, "PUT", "comp=blocklist").empty());

    // A blob that needs more blocks than the service commits is refused before any byte.
    proxy.clear_log();
    for (AZ_client *c : {client.get(), staged.get()}) {
        pattern huge;
        huge.size = 50000 * block_size + 1;
        AZ_put_blob(c, container.c_str(), "huge", huge.size, nullptr, pattern_supply,
                    record_complete, static_cast<recorder *>(&huge));
        EXPECT_EQ(huge.status, AZ_ErrorBlockCountExceedsLimit);
        EXPECT_EQ(huge.calls, 0);
    }
    EXPECT_TRUE(proxy.requests().empty());
}

// A request cut on its way and a busy burst are sent again from the staged bytes. The digest
// is of the bytes stored, and the service keeps it.
TEST_F(put_blob_itest, staged_uploads_survive_a_cut_request_and_a_busy_burst)
{
    const uint64_t size = 3 * 1048576 + 12345;
    const auto md5 = pattern_md5(size);
    const struct {
        int32_t block_mib, parallel;
        bool store_md5;
        const char *path; // as a rule's regular expression, and as seen in the log
        const char *sent;
        size_t requests;
    } rows[] = {
        {4, 0, true, "/kept$", "/kept", 4},             // staged whole: cut, busy, busy, stored
        {1, 1, true, "&comp=block$", "&comp=block", 7}, // four blocks and three repeats
        {1, 3, false, "&comp=block$", "&comp=block", 7},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.block_mib) + "/" + std::to_string(row.parallel));
        auto tuned = tuned_client(row.block_mib, row.parallel, row.store_md5);
        put_text(tuned.get(), container, "kept", "earlier");
        proxy.clear_log();
        proxy.add_rule(std::string(R"({"method":"PUT","path":")") + row.path +
                       R"(","times":1,"cut_request_after":500000})");
        proxy.add_rule(std::string(R"({"method":"PUT","path":")") + row.path +
                       R"(","times":2,"respond":{"status":503,"headers":{"Retry-After":"1"}}})");
        pattern source;
        source.size = size;
        AZ_blob_options report = {nullptr, false, record_version};
        AZ_put_blob_ex(tuned.get(), container.c_str(), "kept", size, nullptr, &report,
                       pattern_supply, record_complete, static_cast<recorder *>(&source));
        proxy.clear_rules();
        EXPECT_EQ(requests_matching(proxy, "PUT", row.sent).size(), row.requests);
        ASSERT_EQ(source.status, AZ_OK) << source.message.value_or("");
        EXPECT_LE(source.largest_ask, 4194304);
        pattern check;
        AZ_get_blob(client.get(), container.c_str(), "kept", 0, 0, pattern_compare, record_complete,
                    static_cast<recorder *>(&check));
        EXPECT_EQ(check.offset, size);
        EXPECT_EQ(check.mismatches, 0u);
        auto last =
            requests_matching(proxy, "PUT", row.block_mib == 1 ? "comp=blocklist" : "/kept");
        ASSERT_FALSE(last.empty());
        EXPECT_EQ(last.back().header("x-ms-blob-content-md5"), row.store_md5 ? md5.first : "");
        entry stored = head_entry(client.get(), container, "kept");
        EXPECT_EQ(stored.md5, row.store_md5 ? md5.second : "");
        // the digest made on the way out is the one the caller is told of
        ASSERT_EQ(source.versions.size(), 1u);
        EXPECT_EQ(source.versions[0].md5, stored.md5);
    }
}

// Blocks are staged unconditionally, each after a token refresh whose token it uses at once;
// the commit carries the condition, the metadata and the digest of what was sent, and its
// answer names the version stored. The proxy stands in for the service, so no 128 MiB is kept.
TEST_F(put_blob_itest, block_upload_puts_the_condition_on_the_commit)
{
    client = tuned_client(0, 0, true, true);
    refresh.client = client.get();
    proxy.add_rule(R"({"method":"PUT","path":"comp=block$","respond":{"status":201,)"
                   R"("headers":{"x-ms-request-id":"r"}}})");
    proxy.add_rule(R"({"method":"PUT","path":"comp=blocklist","times":1,"respond":{"status":201,)"
                   R"("headers":{"ETag":"\"0x8DC0\"","x-ms-request-id":"r",)"
                   R"("Last-Modified":"Sun, 06 Nov 1994 08:49:37 GMT"}}})");
    AZ_name_value meta[] = {{"ostrel_modtime", "1700000000"}};
    AZ_put_options options = {"application/octet-stream", 1, meta};
    pattern source;
    source.size = one_request_limit + 1;
    AZ_blob_options absent = {nullptr, true, record_version};
    AZ_put_blob_ex(client.get(), container.c_str(), "new", source.size, &options, &absent,
                   pattern_supply, record_complete, static_cast<recorder *>(&source));
    ASSERT_EQ(source.status, AZ_OK) << source.message.value_or("");
    EXPECT_LE(source.largest_ask, 4194304);
    ASSERT_EQ(source.versions.size(), 1u);
    EXPECT_EQ(source.versions[0].name, "new");
    EXPECT_EQ(source.versions[0].etag, "\"0x8DC0\"");
    EXPECT_EQ(source.versions[0].size, one_request_limit + 1);
    EXPECT_EQ(source.versions[0].last_modified, 784111777);
    EXPECT_EQ(source.versions[0].md5, pattern_md5(source.size).second);
    auto sent = requests_matching(proxy, "PUT", "/new?");
    ASSERT_EQ(sent.size(), 3u);
    ASSERT_EQ(refresh.tokens.size(), 3u);
    for (size_t i = 0; i < sent.size(); i++) {
        bool commit = i == 2;
        EXPECT_EQ(sent[i].target.find("comp=blocklist") != std::string::npos, commit);
        EXPECT_EQ(sent[i].header("If-None-Match"), commit ? "*" : "") << i;
        EXPECT_EQ(sent[i].header("x-ms-meta-ostrel_modtime"), commit ? "1700000000" : "") << i;
        EXPECT_EQ(sent[i].header("Authorization"), "Bearer " + refresh.tokens[i]) << i;
    }
    EXPECT_EQ(sent[0].body_size, block_size);
    EXPECT_EQ(sent[1].body_size, source.size - block_size);
    EXPECT_EQ(sent[0].header("x-ms-blob-content-md5"), "");
    EXPECT_EQ(sent[2].header("x-ms-blob-content-md5"), pattern_md5(source.size).first);
}

} // namespace
