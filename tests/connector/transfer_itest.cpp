// Downloads and uploads through the host's data channel, checked against
// what the service holds and against MD5s computed here.
#include "tests/connector/itest_support.h"

#include <algorithm>
#include <mutex>
#include <system_error>

namespace
{

using connector_itest::md5_hex;
using connector_itest::pattern;
using connector_itest::strings;
const int CKSM = OSTREL_GFS_CMD_CKSM;

// Keeps every write by its offset.
class memory_sink : public ostrel_host::sink
{
  public:
    void write(const unsigned char *data, size_t length, int64_t offset) override
    {
        std::lock_guard<std::mutex> guard(lock);
        writes.emplace_back(offset, std::string((const char *)data, length));
    }
    // The bytes written, or "<not tiled>" when writes overlap or leave a gap.
    std::string joined()
    {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<std::pair<int64_t, std::string>> sorted = writes;
        std::sort(sorted.begin(), sorted.end());
        std::string out;
        for (auto &w : sorted) {
            if (w.first != (int64_t)out.size())
                return "<not tiled>";
            out += w.second;
        }
        return out;
    }
    std::vector<std::pair<int64_t, std::string>> writes;
    std::mutex lock;
};

// Bytes from memory; the announced size may differ from what is there.
class memory_source : public ostrel_host::source
{
  public:
    memory_source(std::string data, int64_t announced) : bytes(std::move(data)), size(announced) {}
    explicit memory_source(std::string data) : bytes(std::move(data)), size((int64_t)bytes.size())
    {
    }
    int64_t announced_size() const override { return size; }
    bool sequential() const override { return false; }
    size_t read(unsigned char *buffer, size_t length, int64_t offset, bool &at_end) override
    {
        if (fail_at > 0 && offset == fail_at)
            throw std::system_error(EIO, std::generic_category(), "reading the source");
        size_t from = std::min((size_t)offset, bytes.size());
        size_t n = std::min(length, bytes.size() - from);
        memcpy(buffer, bytes.data() + from, n);
        at_end = from + n >= bytes.size();
        return n;
    }
    std::string bytes;
    int64_t size;
    int64_t fail_at = 0; // a read there fails; 0: none
};

class transfer_itest : public connector_itest::plugin_test
{
  protected:
    std::unique_ptr<ostrel_host::session> open_with(const ostrel_test::emulator &target,
                                                    int streams, bool reverse,
                                                    size_t block_size = 65536)
    {
        return open(target, false, [&](ostrel_host::session_options &o) {
            o.streams = streams;
            o.block_size = block_size;
            o.order =
                reverse ? ostrel_host::stream_order::reverse : ostrel_host::stream_order::parallel;
            o.jitter_us = reverse ? 0 : 200;
        });
    }

    static ostrel_host::transfer_result get(ostrel_host::session &session, const std::string &path,
                                            ostrel_host::sink &to,
                                            std::vector<ostrel_host::byte_range> ranges = {})
    {
        ostrel_host::send_request request;
        request.path = path;
        request.ranges = std::move(ranges);
        request.to = &to;
        return session.send(request);
    }

    static ostrel_host::transfer_result put(ostrel_host::session &session, const std::string &path,
                                            ostrel_host::source &from,
                                            std::optional<time_t> modtime = std::nullopt)
    {
        ostrel_host::recv_request request;
        request.path = path;
        request.from = &from;
        request.modification_time = modtime;
        return session.recv(request);
    }

    std::string stored(const std::string &c, const std::string &key)
    {
        az_itest::recorder r = az_itest::get_blob(seed.get(), c, key);
        EXPECT_EQ(r.status, AZ_OK) << key;
        return r.data;
    }
};

TEST_F(transfer_itest, download_writes_every_range_at_its_own_offsets)
{
    const size_t block = 65536;
    std::string c = new_container("get");
    std::string bytes = pattern(7 * block + 123);
    az_itest::put_text(seed.get(), c, "k", bytes);
    std::string path = "/" + c + "/k";

    struct {
        std::vector<ostrel_host::byte_range> ranges;
        int streams;
        bool reverse;
    } cases[] = {
        // several blocks of one range still wait when the next one starts
        {{{0, 3 * block + 7}, {4 * block, 1}, {4 * block + 10, 2 * block}, {7 * block, -1}},
         1,
         false},
        {{{5 * block, 2 * block}, {block / 2, 3 * block}}, 3, true},
    };
    for (auto &t : cases) {
        auto session = open_with(emu, t.streams, t.reverse, block);
        memory_sink sink;
        ostrel_host::transfer_result r = get(*session, path, sink, t.ranges);
        ASSERT_TRUE(r.error.ok) << r.error.text;
        size_t total = 0, written = 0;
        for (auto &g : t.ranges)
            total += g.length < 0 ? bytes.size() - g.offset : g.length;
        // Each write is the file's own bytes at its offset, inside one of the ranges.
        for (auto &w : sink.writes) {
            written += w.second.size();
            EXPECT_TRUE(w.second == bytes.substr(w.first, w.second.size())) << "at " << w.first;
            EXPECT_TRUE(std::any_of(t.ranges.begin(), t.ranges.end(),
                                    [&](auto &g) {
                                        return w.first >= g.offset &&
                                               (g.length < 0 ||
                                                w.first + (int64_t)w.second.size() <=
                                                    g.offset + g.length);
                                    }))
                << "at " << w.first;
        }
        EXPECT_EQ(written, total) << t.ranges.size() << " ranges";
        EXPECT_EQ(r.bytes, total);
    }
}

// The digest follows the buffers as they are written, in whatever order the streams finish
// them; a read that names its length caches only when that length was all of the blob.
TEST_F(transfer_itest, whole_download_caches_its_digest)
{
    ostrel_test::fault_proxy proxy(emu);
    std::string c = new_container("md5");
    std::string bytes = pattern(300000, 3);
    struct {
        const char *key;
        std::vector<ostrel_host::byte_range> ranges;
        bool cached;
    } cases[] = {
        {"whole", {}, true},
        {"named", {{0, 300000}}, true},
        {"beyond", {{0, 300001}}, true},
        {"short", {{0, 299999}}, false},
        {"part", {{10, -1}}, false},
        {"twice", {{0, -1}, {0, 10}}, false}, // more than the blob went by
    };
    for (bool reverse : {false, true}) {
        std::string suffix = reverse ? "-r" : "";
        for (auto &t : cases) {
            az_itest::put_text(seed.get(), c, t.key + suffix, bytes);
            clear_content_md5(c, t.key + suffix);
        }
    }
    next_second();
    for (bool reverse : {false, true}) {
        std::string suffix = reverse ? "-r" : "";
        auto session = open_with(proxy.endpoint(), 4, reverse);
        for (auto &t : cases) {
            memory_sink sink;
            ASSERT_TRUE(get(*session, "/" + c + "/" + t.key + suffix, sink, t.ranges).error.ok)
                << t.key;
        }
        for (auto &t : cases) {
            proxy.clear_log();
            ostrel_host::command_result sum =
                command(*session, CKSM, "/" + c + "/" + t.key + suffix);
            EXPECT_EQ(sum.response, md5_hex(bytes)) << t.key << suffix;
            EXPECT_EQ(count(proxy, "GET"), t.cached ? 0u : 1u) << t.key << suffix;
        }
    }
}

TEST_F(transfer_itest, restart_at_the_end_sends_nothing_and_succeeds)
{
    ostrel_test::fault_proxy proxy(emu);
    std::string c = new_container("end");
    std::string bytes = pattern(5000);
    az_itest::put_text(seed.get(), c, "k", bytes);
    std::string path = "/" + c + "/k";
    int64_t n = (int64_t)bytes.size();

    // the service refuses the range (the emulator answers 206 with no body)
    std::string refusal = R"({"method": "GET", "respond": {"status": 416, "headers": {
        "x-ms-request-id": "r1", "x-ms-error-code": "InvalidRange",
        "Content-Range": "bytes */5000", "Content-Type": "application/xml"},
        "body": "<?xml version=\"1.0\" encoding=\"utf-8\"?><Error><Code>InvalidRange</Code><Message>The range specified is invalid for the current size of the resource.</Message></Error>"}})";
    proxy.add_rule(refusal);
    auto session = open_with(proxy.endpoint(), 2, false);
    struct {
        int64_t offset, length;
        bool ok;
    } cases[] = {{n, -1, true}, {n, 10, false}};
    for (auto &t : cases) {
        memory_sink s;
        ostrel_host::transfer_result r = get(*session, path, s, {{t.offset, t.length}});
        EXPECT_EQ(r.error.ok, t.ok) << t.offset << "," << t.length << ": " << r.error.text;
        EXPECT_EQ(r.bytes, 0u);
    }
}

TEST_F(transfer_itest, download_cut_mid_body_is_whole_or_fails)
{
    ostrel_test::fault_proxy proxy(emu);
    std::string c = new_container("cut");
    std::string bytes = pattern(400000, 5);
    az_itest::put_text(seed.get(), c, "k", bytes);
    auto session = open_with(proxy.endpoint(), 4, false);

    proxy.add_rule(R"({"method": "GET", "cut_after": 150000, "times": 1})");
    memory_sink once;
    ostrel_host::transfer_result r = get(*session, "/" + c + "/k", once);
    ASSERT_TRUE(r.error.ok) << r.error.text;
    EXPECT_TRUE(once.joined() == bytes);

    proxy.clear_rules();
    proxy.add_rule(R"({"method": "GET", "cut_after": 50000})");
    memory_sink always;
    r = get(*session, "/" + c + "/k", always);
    EXPECT_FALSE(r.error.ok);
}

TEST_F(transfer_itest, upload_stores_the_bytes_in_order)
{
    const size_t block = 65536;
    std::string c = new_container("put");
    // storage takes up to 1 MiB a pull: ready blocks beyond that are split
    const size_t odd = 400003;
    struct {
        size_t size;
        int streams;
        bool reverse;
        size_t block_size;
    } cases[] = {
        {0, 4, false, block},        {1000, 1, false, block},
        {4 * block, 4, true, block}, {9 * block + 17, 4, true, block},
        {7 * odd + 1, 4, true, odd},
    };
    int n = 0;
    for (auto &t : cases) {
        std::string key = "dir/k" + std::to_string(n++) + ".txt";
        std::string bytes = pattern(t.size, n);
        memory_source source(bytes);
        auto session = open_with(emu, t.streams, t.reverse, t.block_size);
        ostrel_host::transfer_result r = put(*session, "/" + c + "/" + key, source);
        ASSERT_TRUE(r.error.ok) << key << ": " << r.error.text;
        EXPECT_TRUE(stored(c, key) == bytes) << key;
    }
}

TEST_F(transfer_itest, upload_that_is_not_the_announced_size_stores_nothing)
{
    std::string c = new_container("size");
    std::string old = "previous content";
    std::string bytes = pattern(5 * 65536 + 10, 7);
    struct {
        int64_t announced;
        size_t have;
        int errno_value; // 0: any failure
        int64_t fail_at = 0;
    } cases[] = {
        {(int64_t)bytes.size() + 1, bytes.size(), 0},        // ends one byte early
        {(int64_t)bytes.size() - 1, bytes.size(), EFBIG},    // one byte too many
        {2 * 65536, 2 * 65536 + 1, EFBIG},                   // the surplus in a block of its own
        {0, 1, EFBIG},                                       // empty announced, one byte sent
        {10, 0, 0},                                          // nothing sent
        {(int64_t)bytes.size(), bytes.size(), 0, 2 * 65536}, // the source fails
    };
    for (int streams : {1, 4}) {
        for (auto &t : cases) {
            std::string data = bytes.substr(0, t.have);
            az_itest::put_text(seed.get(), c, "k", old);
            memory_source source(data, t.announced);
            source.fail_at = t.fail_at;
            auto session = open_with(emu, streams, false);
            ostrel_host::transfer_result r = put(*session, "/" + c + "/k", source);
            EXPECT_FALSE(r.error.ok) << t.announced << " announced, " << t.have << " sent";
            if (t.errno_value != 0) {
                EXPECT_EQ(r.error.system_errno, t.errno_value) << r.error.text;
            }
            EXPECT_TRUE(stored(c, "k") == old)
                << t.announced << " announced, " << t.have << " sent";
        }
    }
}

TEST_F(transfer_itest, upload_refused_before_any_request)
{
    ostrel_test::fault_proxy proxy(emu);
    std::string c = new_container("refuse");
    auto session = open_with(proxy.endpoint(), 2, false);
    std::string x = "x";
    struct {
        std::string path;
        int64_t announced;
        int reply;
        const char *code;
    } cases[] = {
        {"/" + c + "/a/../b", 1, 553, "INVALID_PATH"}, {"/" + c + "/a//b", 1, 553, "INVALID_PATH"},
        {"/" + c, 1, 550, "IS_A_DIRECTORY"},           {"/" + c + "/", 1, 550, "IS_A_DIRECTORY"},
        {"/" + c + "/dir/", 1, 550, "IS_A_DIRECTORY"}, {"/", 1, 550, "IS_A_DIRECTORY"},
        {"/" + c + "/big", 5000000000001, 0, ""},      {"/" + c + "/unknown", -1, 0, ""},
    };
    for (auto &t : cases) {
        proxy.clear_log();
        memory_source up(x, t.announced);
        ostrel_host::transfer_result r = put(*session, t.path, up);
        EXPECT_FALSE(r.error.ok) << t.path;
        EXPECT_EQ(r.error.reply_code, t.reply) << t.path << ": " << r.error.text;
        EXPECT_EQ(r.error.response_error_code, t.code) << t.path;
        if (t.reply == 550) {
            EXPECT_NE(r.error.text.find("\"" + t.path + "\""), std::string::npos) << r.error.text;
        }
        if (t.reply == 0) {
            EXPECT_NE(r.error.text.find("File upload too large"), std::string::npos);
        }
        EXPECT_TRUE(proxy.requests().empty()) << t.path;
    }
    // the largest size the service stores is not refused up front: here the
    // data then ends early
    memory_source largest(x, 5000000000000);
    ostrel_host::transfer_result r = put(*session, "/" + c + "/largest", largest);
    EXPECT_FALSE(r.error.ok);
    EXPECT_EQ(r.error.text.find("too large"), std::string::npos) << r.error.text;
    EXPECT_FALSE(exists(c, "largest"));

    // what the service refuses names the path
    for (const std::string &path : strings{"/" + c + "/missing", "/no-such-container/k"}) {
        memory_sink sink;
        r = get(*session, path, sink);
        EXPECT_EQ(r.error.reply_code, 550) << path << ": " << r.error.text;
        EXPECT_EQ(r.error.response_error_code, "PATH_NOT_FOUND") << path;
        EXPECT_NE(r.error.text.find("\"" + path + "\""), std::string::npos) << r.error.text;
    }
    memory_source up(x);
    r = put(*session, "/no-such-container/k", up);
    EXPECT_EQ(r.error.reply_code, 550) << r.error.text;
}

TEST_F(transfer_itest, failed_upload_after_data_moved_is_not_repeated)
{
    ostrel_test::fault_proxy proxy(emu);
    std::string c = new_container("again");
    std::string bytes = pattern(300000, 9);
    auto session = open_with(proxy.endpoint(), 4, true);
    int32_t *max_retries = (int32_t *)module->symbol("ostrel_i_azure_max_retries");
    ASSERT_NE(max_retries, nullptr);
    *max_retries = 3;

    // every answer is throttling: the body went out with the first attempt
    proxy.add_rule(R"({"method": "PUT", "respond": {"status": 503,
        "headers": {"x-ms-request-id": "r", "x-ms-error-code": "ServerBusy"}, "body": ""}})");
    memory_source source(bytes);
    ostrel_host::transfer_result r = put(*session, "/" + c + "/k", source);
    EXPECT_FALSE(r.error.ok);
    EXPECT_EQ(count(proxy, "PUT"), 1u) << "a body that is gone is not sent again";
    EXPECT_FALSE(exists(c, "k"));
    *max_retries = 1;
}

// The block path: above 128 MiB the service keeps no MD5, so the digest of
// the upload answers a checksum.
TEST_F(transfer_itest, large_upload_goes_in_blocks_and_caches_its_digest)
{
    ostrel_test::fault_proxy proxy(emu);
    std::string c = new_container("large");
    std::string bytes = pattern(134217728 + 65537, 11);
    std::string path = "/" + c + "/big.bin";
    auto session = open_with(proxy.endpoint(), 4, false, 4u << 20);
    std::string expected = md5_hex(bytes);
    auto source = std::make_unique<memory_source>(std::move(bytes));
    ostrel_host::transfer_result r = put(*session, path, *source);
    ASSERT_TRUE(r.error.ok) << r.error.text;
    EXPECT_EQ(az_itest::requests_matching(proxy, "PUT", "blockid=").size(), 2u);
    source.reset();

    proxy.clear_log();
    ostrel_host::command_result sum = command(*session, CKSM, path);
    EXPECT_EQ(sum.response, expected);
    EXPECT_EQ(count(proxy, "GET"), 0u) << "answered from the cache";

    auto one = open_with(proxy.endpoint(), 1, false, 4u << 20);
    memory_sink sink;
    ASSERT_TRUE(get(*one, path, sink).error.ok);
    EXPECT_TRUE(std::is_sorted(sink.writes.begin(), sink.writes.end())) << "one stream in order";
    EXPECT_EQ(md5_hex(sink.joined()), expected);
    az_itest::delete_blob(seed.get(), c, "big.bin");
}

} // namespace
