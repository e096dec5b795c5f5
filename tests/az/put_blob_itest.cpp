// Uploads against the emulator, the large ones through the fault proxy so that the requests
// on the wire can be counted and measured.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "blob_service/encoding.h"
#include "itest_support.h"

using namespace az_itest;

namespace
{

// Sanitizers keep freed memory in quarantine, so peak memory says nothing about buffering.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool peak_memory_is_meaningful = false;
#else
constexpr bool peak_memory_is_meaningful = true;
#endif

constexpr uint64_t one_request_limit = 134217728;
constexpr uint64_t block_size = 104857600;

// Byte i of a deterministic test blob; no period near the block size, so a block sent
// twice or out of order shows up.
unsigned char pattern_byte(uint64_t i)
{
    uint64_t z = (i >> 3) + 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return static_cast<unsigned char>(z >> ((i & 7) * 8));
}

// One user argument, the recorder, serves the data and the completion callback.
struct pattern_source : recorder {
    uint64_t size = 0;
    uint64_t offset = 0;
    int32_t largest_ask = 0;
};

int32_t pattern_supply(int32_t max, unsigned char *buffer, void *arg)
{
    auto *s = static_cast<pattern_source *>(static_cast<recorder *>(arg));
    s->largest_ask = std::max(s->largest_ask, max);
    int32_t n =
        static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(max), s->size - s->offset));
    for (int32_t k = 0; k < n; k++) {
        buffer[k] = pattern_byte(s->offset + static_cast<uint64_t>(k));
    }
    s->offset += static_cast<uint64_t>(n);
    return n;
}

struct pattern_check : recorder {
    uint64_t offset = 0;
    uint64_t mismatches = 0;
};

int32_t pattern_compare(int32_t count, const unsigned char *data, void *arg)
{
    auto *c = static_cast<pattern_check *>(static_cast<recorder *>(arg));
    for (int32_t k = 0; k < count; k++) {
        if (data[k] != pattern_byte(c->offset + static_cast<uint64_t>(k))) {
            c->mismatches++;
        }
    }
    c->offset += static_cast<uint64_t>(count);
    return count;
}

// Counts refreshes and, as the connector does, installs a new token each time.
struct refresher {
    AZ_client *client = nullptr;
    int calls = 0;
    std::vector<std::string> tokens;
};

int refresh_token(void *arg)
{
    auto *r = static_cast<refresher *>(arg);
    r->calls++;
    r->tokens.push_back(ostrel_test::mint_token(3600 + r->calls));
    AZ_update_token(r->client, r->tokens.back().c_str());
    return 0;
}

long peak_rss_kib()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string query_value(const std::string &target, const std::string &key)
{
    size_t at = target.find(key + "=");
    if (at == std::string::npos) {
        return {};
    }
    at += key.size() + 1;
    return target.substr(at, target.find('&', at) - at);
}

bool has_meta_header(const ostrel_test::recorded_request &r)
{
    for (const auto &h : r.headers) {
        if (strncasecmp(h.first.c_str(), "x-ms-meta-", 10) == 0) {
            return true;
        }
    }
    return false;
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

    recorder put_pattern(const std::string &key, uint64_t size, pattern_source &source,
                         const AZ_put_options *options)
    {
        source.size = size;
        AZ_put_blob(client.get(), container.c_str(), key.c_str(), size, options, pattern_supply,
                    record_complete, static_cast<recorder *>(&source));
        EXPECT_EQ(source.completions, 1);
        return source;
    }

    ostrel_test::emulator emu = ostrel_test::emulator_from_env();
    ostrel_test::fault_proxy proxy{emu};
    refresher refresh;
    client_ptr client;
    std::string container;
};

// First in this program, so that the peak memory before it is the process's baseline.
TEST_F(put_blob_itest, a_byte_above_the_limit_makes_two_blocks)
{
    const uint64_t size = one_request_limit + 1;
    AZ_name_value meta[] = {{"ostrel_modtime", "1700000000"}};
    AZ_put_options options = {"application/octet-stream", 1, meta};
    pattern_source source;
    long before = peak_rss_kib();
    auto put = put_pattern("big", size, source, &options);
    long after = peak_rss_kib();
    printf("peak RSS before upload: %ld KiB, after: %ld KiB, growth: %ld KiB\n", before, after,
           after - before);
    ASSERT_EQ(put.status, AZ_OK) << put.message;
    EXPECT_EQ(source.offset, size);
    EXPECT_LE(source.largest_ask, 4194304);
    // A few staging buffers at most, whatever the blob size.
    if (peak_memory_is_meaningful) {
        EXPECT_LT(after - before, 24 * 1024);
    }

    auto blocks_last = requests_matching(proxy, "PUT", "comp=block");
    auto commits = requests_matching(proxy, "PUT", "comp=blocklist");
    ASSERT_EQ(commits.size(), 1u);
    ASSERT_EQ(blocks_last.size(), 3u);
    std::vector<ostrel_test::recorded_request> sent_blocks;
    for (const auto &r : blocks_last) {
        if (r.target.find("comp=blocklist") == std::string::npos) {
            sent_blocks.push_back(r);
        }
    }
    ASSERT_EQ(sent_blocks.size(), 2u);
    EXPECT_EQ(sent_blocks[0].body_size, block_size);
    EXPECT_EQ(sent_blocks[1].body_size, size - block_size);
    std::string id0 = query_value(sent_blocks[0].target, "blockid");
    std::string id1 = query_value(sent_blocks[1].target, "blockid");
    EXPECT_FALSE(id0.empty());
    EXPECT_EQ(id0.size(), id1.size());
    EXPECT_NE(id0, id1);
    // The metadata travels with the commit only.
    EXPECT_FALSE(has_meta_header(sent_blocks[0]));
    EXPECT_FALSE(has_meta_header(sent_blocks[1]));
    EXPECT_EQ(commits[0].header("x-ms-meta-ostrel_modtime"), "1700000000");

    // A refresh before each block and before the commit, each new token used at once.
    ASSERT_EQ(refresh.calls, 3);
    EXPECT_EQ(sent_blocks[0].header("Authorization"), "Bearer " + refresh.tokens[0]);
    EXPECT_EQ(sent_blocks[1].header("Authorization"), "Bearer " + refresh.tokens[1]);
    EXPECT_EQ(commits[0].header("Authorization"), "Bearer " + refresh.tokens[2]);

    auto head = head_blob(client.get(), container, "big");
    ASSERT_EQ(head.entries.size(), 1u);
    EXPECT_EQ(head.entries[0].size, size);
    EXPECT_EQ(head.entries[0].metadata.size(), 1u);

    pattern_check check;
    AZ_get_blob(client.get(), container.c_str(), "big", 0, 0, pattern_compare, record_complete,
                static_cast<recorder *>(&check));
    EXPECT_EQ(check.status, AZ_OK);
    EXPECT_EQ(check.offset, size);
    EXPECT_EQ(check.mismatches, 0u);
    delete_blob(client.get(), container, "big");
}

TEST_F(put_blob_itest, failed_second_block_commits_nothing)
{
    const uint64_t size = one_request_limit + 1;
    // The client does not repeat a block whose bytes cannot be pulled again; the rule
    // covers repeats anyway.
    proxy.add_rule(R"({"method":"PUT","path":"comp=block$","skip":1,"times":10,)"
                   R"("respond":{"status":500,"body":"<?xml version=\"1.0\" encoding=\"utf-8\"?>)"
                   R"(<Error><Code>InternalError</Code><Message>failed</Message></Error>"}})");
    pattern_source source;
    auto put = put_pattern("half", size, source, nullptr);
    EXPECT_EQ(put.status, 134u); // ErrorInternalError
    EXPECT_EQ(put.code, "500");
    EXPECT_EQ(refresh.calls, 2);
    EXPECT_TRUE(requests_matching(proxy, "PUT", "comp=blocklist").empty());
    EXPECT_EQ(head_blob(client.get(), container, "half").status, AZ_HttpErrorNotFound);
}

TEST_F(put_blob_itest, exactly_the_limit_goes_in_one_request)
{
    pattern_source source;
    auto put = put_pattern("limit", one_request_limit, source, nullptr);
    ASSERT_EQ(put.status, AZ_OK) << put.message;
    EXPECT_EQ(refresh.calls, 0);
    EXPECT_LE(source.largest_ask, 1048576);
    auto sent = requests_matching(proxy, "PUT", "/limit");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].target.find("comp="), std::string::npos);
    EXPECT_EQ(sent[0].body_size, one_request_limit);
    EXPECT_EQ(sent[0].header("x-ms-blob-type"), "BlockBlob");
    EXPECT_FALSE(has_meta_header(sent[0]));
    delete_blob(client.get(), container, "limit");
}

TEST_F(put_blob_itest, empty_folder_marker)
{
    AZ_name_value meta[] = {{"hdi_isfolder", "true"}};
    AZ_put_options options = {nullptr, 1, meta};
    recorder r;
    AZ_put_blob(client.get(), container.c_str(), "dir", 0, &options, supply_data, record_complete,
                &r);
    EXPECT_EQ(r.status, AZ_OK) << r.message;
    auto sent = requests_matching(proxy, "PUT", "/dir");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body_size, 0u);
    EXPECT_EQ(sent[0].header("x-ms-meta-hdi_isfolder"), "true");
    auto head = head_blob(client.get(), container, "dir");
    ASSERT_EQ(head.entries.size(), 1u);
    EXPECT_TRUE(head.entries[0].is_directory);
}

TEST_F(put_blob_itest, upload_replaces_and_sends_no_empty_metadata)
{
    put_text(client.get(), container, "file", "first version");
    AZ_put_options none = {"text/plain", 0, nullptr};
    recorder r;
    r.upload = "second";
    AZ_put_blob(client.get(), container.c_str(), "file", 6, &none, supply_data, record_complete,
                &r);
    EXPECT_EQ(r.status, AZ_OK);
    for (const auto &sent : requests_matching(proxy, "PUT", "/file")) {
        EXPECT_FALSE(has_meta_header(sent));
    }
    EXPECT_EQ(get_blob(client.get(), container, "file").data, "second");
}

struct failing_source : recorder {
    int calls = 0;
    int fail_on_call = 2;
    int32_t failure = -1;
};

int32_t failing_supply(int32_t max, unsigned char *buffer, void *arg)
{
    auto *s = static_cast<failing_source *>(static_cast<recorder *>(arg));
    if (++s->calls == s->fail_on_call) {
        return s->failure;
    }
    memset(buffer, 'n', static_cast<size_t>(max));
    return max;
}

// A source that fails, ends early or overruns must never leave a blob, nor damage the old one.
TEST_F(put_blob_itest, misbehaving_source_stores_nothing)
{
    for (int32_t failure : {-1, 0, 2 * 1048576}) {
        put_text(client.get(), container, "keep", "old content");
        failing_source source;
        source.failure = failure;
        AZ_put_blob(client.get(), container.c_str(), "keep", 3 * 1048576, nullptr, failing_supply,
                    record_complete, static_cast<recorder *>(&source));
        const recorder &r = source;
        EXPECT_EQ(r.completions, 1);
        EXPECT_EQ(r.status, AZ_AbortedByCallback) << failure;
        EXPECT_TRUE(r.has_message);
        EXPECT_EQ(source.calls, 2) << failure;
        auto kept = get_blob(client.get(), container, "keep");
        EXPECT_TRUE(kept.data == "old content")
            << failure << ": " << kept.data.size() << " bytes now stored";
    }
    failing_source source;
    AZ_put_blob(client.get(), container.c_str(), "never", 3 * 1048576, nullptr, failing_supply,
                record_complete, static_cast<recorder *>(&source));
    EXPECT_EQ(source.status, AZ_AbortedByCallback);
    EXPECT_EQ(head_blob(client.get(), container, "never").status, AZ_HttpErrorNotFound);
}

TEST_F(put_blob_itest, source_ending_early_in_a_block_commits_nothing)
{
    put_text(client.get(), container, "keep", "old content");
    failing_source source;
    source.fail_on_call = 3;
    source.failure = 0;
    AZ_put_blob(client.get(), container.c_str(), "keep", one_request_limit + 1, nullptr,
                failing_supply, record_complete, static_cast<recorder *>(&source));
    EXPECT_EQ(source.status, AZ_AbortedByCallback);
    EXPECT_EQ(source.calls, 3);
    EXPECT_EQ(refresh.calls, 1);
    EXPECT_TRUE(requests_matching(proxy, "PUT", "comp=blocklist").empty());
    EXPECT_TRUE(get_blob(client.get(), container, "keep").data == "old content");
}

// Blocks are staged unconditionally; the commit carries the condition and its answer names
// the version stored. The proxy stands in for the service, so no 128 MiB is kept.
TEST_F(put_blob_itest, block_upload_puts_the_condition_on_the_commit)
{
    proxy.add_rule(R"({"method":"PUT","path":"comp=block$","respond":{"status":201}})");
    proxy.add_rule(R"({"method":"PUT","path":"comp=blocklist","times":1,"respond":{"status":201,)"
                   R"("headers":{"ETag":"\"0x8DC0\"",)"
                   R"("Last-Modified":"Sun, 06 Nov 1994 08:49:37 GMT"}}})");
    failing_source source;
    source.fail_on_call = 0;
    AZ_blob_options absent = {nullptr, true, record_version};
    AZ_put_blob_ex(client.get(), container.c_str(), "new", one_request_limit + 1, nullptr, &absent,
                   failing_supply, record_complete, static_cast<recorder *>(&source));
    const recorder &r = source;
    ASSERT_EQ(r.status, AZ_OK) << r.message;
    ASSERT_EQ(r.versions.size(), 1u);
    EXPECT_EQ(r.versions[0].name, "new");
    EXPECT_EQ(r.versions[0].etag, "\"0x8DC0\"");
    EXPECT_EQ(r.versions[0].size, one_request_limit + 1);
    EXPECT_EQ(r.versions[0].last_modified, 784111777);
    auto sent = requests_matching(proxy, "PUT", "/new?");
    ASSERT_EQ(sent.size(), 3u);
    for (const auto &request : sent) {
        bool commit = request.target.find("comp=blocklist") != std::string::npos;
        EXPECT_EQ(request.header("If-None-Match"), commit ? "*" : "") << request.target;
    }
    EXPECT_NE(sent[2].target.find("comp=blocklist"), std::string::npos);
}

} // namespace
