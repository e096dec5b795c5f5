// The blob client against the emulator, with the fault proxy in front of it to watch the
// wire and to break answers on demand.
#include "blob_service/blob_client.h"

#include <future>
#include <sstream>

#include <gtest/gtest.h>

#include "itest_helpers.h"

namespace bs = azure::blob_service;
using ostrel_test::fault_proxy;
using ostrel_test::recorded_request;

namespace
{

class blob_client_itest : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        ostrel_test::ignore_proxy_environment();
        upstream_ = new ostrel_test::emulator(ostrel_test::emulator_from_env());
        proxy_ = new fault_proxy(*upstream_);
        credential_ = std::make_shared<bs::token_credential>(ostrel_test::mint_token());
        client_ = ostrel_test::make_client(proxy_->endpoint(), credential_);
        container_ = ostrel_test::unique_name("bsit");
        auto created = client_->create_container(container_).get();
        ASSERT_TRUE(created.success()) << created.error().code << " " << created.error().code_name;
    }

    static void TearDownTestSuite()
    {
        client_.reset();
        credential_.reset();
        delete proxy_;
        delete upstream_;
    }

    void SetUp() override
    {
        proxy_->clear_rules();
        proxy_->clear_log();
    }

    static void upload(const std::string &blob, const std::string &data)
    {
        std::istringstream in(data);
        auto outcome =
            client_->upload_block_blob_from_stream(container_, blob, in, {}, data.size()).get();
        ASSERT_TRUE(outcome.success()) << outcome.error().code << " " << outcome.error().code_name;
    }

    // Requests the proxy saw, without those of the set-up steps.
    static std::vector<recorded_request> requests_for(const std::string &method,
                                                      const std::string &blob)
    {
        std::vector<recorded_request> matching;
        std::string path = "/" + proxy_->endpoint().account + "/" + container_ + "/" + blob;
        for (auto &r : proxy_->requests()) {
            if (r.method == method && r.target.substr(0, r.target.find('?')) == path) {
                matching.push_back(r);
            }
        }
        return matching;
    }

    static void stage_blocks(const std::string &blob,
                             const std::vector<bs::put_block_list_request_base::block_item> &ids,
                             const std::vector<std::string> &parts)
    {
        for (size_t i = 0; i < ids.size(); ++i) {
            std::istringstream part(parts[i]);
            auto staged =
                client_
                    ->upload_block_from_stream(container_, blob, ids[i].id, part, parts[i].size())
                    .get();
            ASSERT_TRUE(staged.success()) << staged.error().code;
        }
    }

    // Downloads into a sink that cannot seek, as the storage layer's cannot; `data` gets what
    // arrived.
    static bs::storage_outcome<void> download(const std::string &blob, uint64_t offset,
                                              uint64_t size, std::string *data)
    {
        ostrel_test::sink_buf buf;
        std::ostream sink(&buf);
        auto outcome = client_->download_blob_to_stream(container_, blob, offset, size, sink).get();
        *data = buf.data;
        return outcome;
    }

    static std::string path_regex(const std::string &blob)
    {
        return "^/" + proxy_->endpoint().account + "/" + container_ + "/" + blob + "$";
    }

    // A proxy rule for `method` requests to `blob`; `fields` are the rule's other members.
    static void add_blob_rule(const std::string &method, const std::string &blob,
                              const std::string &fields)
    {
        proxy_->add_rule(R"({"method":")" + method + R"(","path":")" + path_regex(blob) + R"(",)" +
                         fields + "}");
    }

    static inline ostrel_test::emulator *upstream_;
    static inline fault_proxy *proxy_;
    static inline std::shared_ptr<bs::token_credential> credential_;
    static inline std::shared_ptr<bs::blob_client> client_;
    static inline std::string container_;
};

// A body cut off (or shortened with consistent framing) is resumed from the first byte not
// delivered, inside the asked range and for the same version, into a sink that cannot seek.
// A whole download's resume is the connector's case.
TEST_F(blob_client_itest, interrupted_download_resumes_without_rewinding_the_sink)
{
    const struct {
        const char *blob, *rule;
        size_t size;
        uint64_t offset, length;
        const char *first_range, *second_range;
    } rows[] = {
        {"ranged-blob", R"("cut_after":50000)", 200000, 1000, 100000, "bytes=1000-100999",
         "bytes=51000-100999"},
        {"short-blob", R"("truncate_body":4000)", 10000, 0, 10000, "bytes=0-9999",
         "bytes=4000-9999"},
    };
    unsigned seed = 1;
    for (const auto &row : rows) {
        const std::string data = ostrel_test::pattern(row.size, seed++);
        upload(row.blob, data);
        proxy_->clear_log();
        add_blob_rule("GET", row.blob, std::string(R"("times":1,)") + row.rule);
        std::string got;
        auto outcome = download(row.blob, row.offset, row.length, &got);
        ASSERT_TRUE(outcome.success())
            << row.blob << ": " << outcome.error().code << " " << outcome.error().code_name;
        std::string expected = row.length ? data.substr(row.offset, row.length) : data;
        EXPECT_TRUE(got == expected) << row.blob << ": got " << got.size() << " bytes";
        auto log = requests_for("GET", row.blob);
        ASSERT_EQ(log.size(), 2u) << row.blob;
        EXPECT_EQ(log[0].header("x-ms-range"), row.first_range) << row.blob;
        EXPECT_EQ(log[1].header("x-ms-range"), row.second_range) << row.blob;
        EXPECT_FALSE(log[1].header("If-Match").empty()) << row.blob;
    }
}

// Dot segments are refused above this layer; here they must still reach the
// wire as built, never resolved into another blob's or container's path.
TEST_F(blob_client_itest, url_sent_is_the_url_built)
{
    const std::string base = "/" + proxy_->endpoint().account + "/" + container_ + "/";
    for (const char *blob : {"a/../b", "a/./b", "../x", "x/.."}) {
        proxy_->clear_log();
        client_->get_blob_properties(container_, blob).get();
        auto log = proxy_->requests();
        ASSERT_EQ(log.size(), 1u) << blob;
        EXPECT_EQ(log[0].target, base + blob);
    }
}

// The wait the service asks for is kept; it is a lower bound here. Its cap is the retry
// policy's, checked without a network.
TEST_F(blob_client_itest, repeat_waits_as_the_answer_asks)
{
    using std::chrono::milliseconds;
    upload("after-blob", "a");
    auto client = ostrel_test::make_client(proxy_->endpoint(), credential_,
                                           {3, milliseconds(1), milliseconds(400)});
    add_blob_rule("HEAD", "after-blob",
                  R"("times":1,"respond":{"status":503,"headers":{"x-ms-retry-after-ms":"300"}})");
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(client->get_blob_properties(container_, "after-blob").get().success());
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(300));
    EXPECT_EQ(requests_for("HEAD", "after-blob").size(), 2u);
}

// When the answer to a request that did its work is lost, the repeat finds the work done:
// that is the request's success. Both ways a repeat happens: the executor's, after libcurl
// reports the loss (fresh connection), and libcurl's own resend (reused connection). A blob's
// delete is the fault matrix's "rm" under a lost answer; an unconditional commit's repeat meets
// the same block list check as the conditional one.
TEST_F(blob_client_itest, repeat_after_a_lost_answer_finds_the_work_done)
{
    using block = bs::put_block_list_request_base::block_item;
    const std::string account = proxy_->endpoint().account;
    const std::string data = ostrel_test::pattern(3000, 9);
    const std::vector<std::string> parts = {data.substr(0, 1000), data.substr(1000)};
    const std::vector<block> ids = {{"YjA=", block::uncommitted}, {"YjE=", block::uncommitted}};
    for (bool fresh : {true, false}) {
        const std::string made = ostrel_test::unique_name("made");
        const std::string doomed = ostrel_test::unique_name("doomed");
        // Where no blob is: the repeat fails its condition on the lost attempt's own commit.
        const std::string guarded = ostrel_test::unique_name("guarded");
        ASSERT_TRUE(client_->create_container(doomed).get().success());
        stage_blocks(guarded, ids, parts);
        const struct {
            const char *name, *method;
            std::string path;
            std::function<bs::storage_outcome<void>(bs::blob_client &)> call;
            size_t requests = 2;
        } rows[] = {
            {"create container", "PUT", "^/" + account + "/" + made + "[?]",
             [&](bs::blob_client &c) { return c.create_container(made).get(); }},
            {"delete container", "DELETE", "^/" + account + "/" + doomed + "[?]",
             [&](bs::blob_client &c) { return c.delete_container(doomed).get(); }},
            {"conditional commit", "PUT", "comp=blocklist",
             [&](bs::blob_client &c) {
                 return c.put_block_list(container_, guarded, ids, {}, {"", "*"}).get();
             },
             3},
        };
        for (const auto &row : rows) {
            // The suite's client has a live connection on each pooled handle by now.
            auto client =
                fresh ? ostrel_test::make_client(proxy_->endpoint(), credential_) : client_;
            proxy_->clear_rules();
            proxy_->clear_log();
            proxy_->add_rule(std::string(R"({"method":")") + row.method + R"(","path":")" +
                             row.path + R"(","times":1,"drop_answer":true})");
            auto outcome = row.call(*client);
            EXPECT_TRUE(outcome.success())
                << row.name << (fresh ? " (fresh)" : " (reused)") << ": " << outcome.error().code
                << " " << outcome.error().code_name;
            // The conditional commit's repeat fails, and its block list is looked at.
            EXPECT_EQ(proxy_->requests().size(), row.requests) << row.name;
        }
        proxy_->clear_rules();
        EXPECT_TRUE(client_->get_container_properties(made).get().success());
        EXPECT_EQ(client_->get_container_properties(doomed).get().error().code, "404");
        std::string stored;
        ASSERT_TRUE(download(guarded, 0, 0, &stored).success());
        EXPECT_TRUE(stored == data);
    }
}

// Only a repeat after an attempt that may have acted: a refused first attempt (503) did not.
TEST_F(blob_client_itest, repeat_after_a_refusal_reports_what_it_finds)
{
    proxy_->add_rule(R"({"method":"PUT","path":"^/)" + proxy_->endpoint().account + "/" +
                     container_ + R"([?]","times":1,"respond":{"status":503,"body":""}})");
    auto outcome = client_->create_container(container_).get();
    ASSERT_FALSE(outcome.success());
    EXPECT_EQ(outcome.error().code_name, "ContainerAlreadyExists");

    EXPECT_EQ(proxy_->requests().size(), 2u);
    // A commit that never reached the service meets another's blob: not its own work.
    using block = bs::put_block_list_request_base::block_item;
    const std::vector<block> ids = {{"dDA=", block::uncommitted}};
    const std::vector<block> others = {{"bzA=", block::uncommitted}};
    stage_blocks("taken-commit", others, {"other"});
    ASSERT_TRUE(client_->put_block_list(container_, "taken-commit", others, {}).get().success());
    stage_blocks("taken-commit", ids, {"mine"});
    proxy_->clear_rules();
    proxy_->add_rule(R"({"method":"PUT","path":"comp=blocklist","times":1,"refuse":true})");
    auto fresh = ostrel_test::make_client(proxy_->endpoint(), credential_);
    auto refused = fresh->put_block_list(container_, "taken-commit", ids, {}, {"", "*"}).get();
    ASSERT_FALSE(refused.success());
    EXPECT_EQ(refused.error().code_name, "BlobAlreadyExists");
    std::string kept;
    ASSERT_TRUE(download("taken-commit", 0, 0, &kept).success());
    EXPECT_EQ(kept, "other");
}

// There is no JSON parser: a listing labelled JSON fails, though its body reads as XML.
TEST_F(blob_client_itest, listing_labelled_json_fails)
{
    proxy_->add_rule(R"({"method":"GET","times":1,"respond":{"status":200,"headers":)"
                     R"({"Content-Type":"application/json","x-ms-request-id":"r"},)"
                     R"("body":"<EnumerationResults><Blobs/></EnumerationResults>"}})");
    EXPECT_EQ(client_->list_blobs_segmented(container_, "/", "", "", 10).get().error().kind,
              bs::error_kind::parse);
}

// What the client buffers is bounded (what it streams to the caller is not: whole downloads of
// more than the limit pass in the connector's tests).
TEST_F(blob_client_itest, answers_beyond_the_buffer_limit_fail)
{
    auto client = ostrel_test::make_client(proxy_->endpoint(), credential_);
    client->context()->max_buffered_bytes = 1 << 20;
    upload("limit-blob", "x");
    proxy_->clear_log();
    proxy_->add_rule(R"({"method":"GET","path":"comp=list","endless_body":{"status":200,)"
                     R"("headers":{"x-ms-request-id":"r"}}})");
    add_blob_rule("GET", "limit-blob",
                  R"("endless_body":{"status":500,"headers":{"x-ms-request-id":"r"}})");
    auto listing = client->list_blobs_segmented(container_, "/", "", "", 10).get();
    ASSERT_FALSE(listing.success());
    EXPECT_EQ(listing.error().kind, bs::error_kind::too_large);
    ostrel_test::sink_buf buf;
    std::ostream sink(&buf);
    auto failed = client->download_blob_to_stream(container_, "limit-blob", 0, 0, sink).get();
    ASSERT_FALSE(failed.success());
    EXPECT_EQ(failed.error().kind, bs::error_kind::too_large);
    EXPECT_EQ(buf.data, "");
    // A definite answer, however broken, is not asked for again.
    EXPECT_EQ(proxy_->requests().size(), 2u);
}

// A stream that throws ends the exchange; the exception reaches the caller, not libcurl.
TEST_F(blob_client_itest, throwing_streams_end_the_exchange_with_their_exception)
{
    struct throwing_buf : std::streambuf {
        int_type overflow(int_type) override { throw std::runtime_error("sink broke"); }
        std::streamsize xsputn(const char *, std::streamsize) override
        {
            throw std::runtime_error("sink broke");
        }
        int_type underflow() override { throw std::runtime_error("source broke"); }
    } buf;
    upload("throw-blob", "abc");
    std::ostream sink(&buf);
    sink.exceptions(std::ios::badbit);
    EXPECT_THROW(client_->download_blob_to_stream(container_, "throw-blob", 0, 0, sink),
                 std::runtime_error);
    std::istream source(&buf);
    source.exceptions(std::ios::badbit);
    EXPECT_THROW(client_->upload_block_blob_from_stream(container_, "throw-blob", source, {}, 3),
                 std::runtime_error);
    std::string kept;
    ASSERT_TRUE(download("throw-blob", 0, 0, &kept).success());
    EXPECT_EQ(kept, "abc");
}

} // namespace
