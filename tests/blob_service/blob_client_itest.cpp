// The blob client against the emulator, with the fault proxy in front of it to watch the
// wire and to break answers on demand.
#include "blob_service/blob_client.h"
#include "blob_service/encoding.h"

#include <future>
#include <sstream>
#include <thread>

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

    static void upload(const std::string &blob, const std::string &data,
                       const bs::metadata_list &metadata = {})
    {
        std::istringstream in(data);
        auto outcome =
            client_->upload_block_blob_from_stream(container_, blob, in, metadata, data.size())
                .get();
        ASSERT_TRUE(outcome.success()) << outcome.error().code << " " << outcome.error().code_name;
    }

    // Requests the proxy saw, without those of the set-up steps.
    static std::vector<recorded_request> requests_for(const std::string &method,
                                                      const std::string &blob)
    {
        std::vector<recorded_request> matching;
        std::string path = "/" + proxy_->endpoint().account + "/" + container_ + "/" + blob;
        for (auto &r : proxy_->requests()) {
            if (r.method == method && r.target.compare(0, path.size(), path) == 0 &&
                (r.target.size() == path.size() || r.target[path.size()] == '?')) {
                matching.push_back(r);
            }
        }
        return matching;
    }

    static std::string header(const recorded_request &r, const std::string &name)
    {
        for (const auto &h : r.headers) {
            if (strcasecmp(h.first.c_str(), name.c_str()) == 0) {
                return h.second;
            }
        }
        return {};
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

    static ostrel_test::emulator *upstream_;
    static fault_proxy *proxy_;
    static std::shared_ptr<bs::token_credential> credential_;
    static std::shared_ptr<bs::blob_client> client_;
    static std::string container_;
};

ostrel_test::emulator *blob_client_itest::upstream_;
fault_proxy *blob_client_itest::proxy_;
std::shared_ptr<bs::token_credential> blob_client_itest::credential_;
std::shared_ptr<bs::blob_client> blob_client_itest::client_;
std::string blob_client_itest::container_;

TEST_F(blob_client_itest, wire_format_of_listing_and_blob_paths)
{
    auto listing = client_->list_blobs_segmented(container_, "/", "", "dir/", 10).get();
    ASSERT_TRUE(listing.success()) << listing.error().code;
    upload("a b/c+d", "xyz");

    auto log = proxy_->requests();
    ASSERT_EQ(log.size(), 2u);
    const std::string prefix = "/" + proxy_->endpoint().account + "/" + container_;
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].target, prefix + "?comp=list&delimiter=/&include=metadata&maxresults=10"
                                      "&prefix=dir/&restype=container");
    EXPECT_EQ(log[1].method, "PUT");
    EXPECT_EQ(log[1].target, prefix + "/a%20b/c%2Bd");
    EXPECT_EQ(log[1].body_size, 3u);
    EXPECT_EQ(header(log[1], "x-ms-blob-type"), "BlockBlob");
    for (const auto &r : log) {
        ASSERT_GE(r.headers.size(), 4u);
        std::vector<std::string> last;
        for (size_t i = r.headers.size() - 4; i < r.headers.size(); ++i) {
            last.push_back(r.headers[i].first);
        }
        EXPECT_EQ(last, (std::vector<std::string>{"User-Agent", "x-ms-date", "x-ms-version",
                                                  "Authorization"}));
        EXPECT_EQ(header(r, "User-Agent"), "ostrel-azure-blob/0.10");
        EXPECT_EQ(header(r, "x-ms-version"), "2018-11-09");
        EXPECT_EQ(header(r, "Authorization").compare(0, 7, "Bearer "), 0);
        EXPECT_EQ(header(r, "Transfer-Encoding"), "");
        EXPECT_EQ(header(r, "Expect"), "");
    }

    std::ostringstream out;
    ASSERT_TRUE(client_->download_blob_to_stream(container_, "a b/c+d", 0, 0, out).get().success());
    EXPECT_EQ(out.str(), "xyz");
}

TEST_F(blob_client_itest, token_replacement_under_concurrent_use)
{
    upload("token-blob", "t");
    const std::string old_token = ostrel_test::mint_token(3600);
    const std::string new_token = ostrel_test::mint_token(7200);
    ASSERT_NE(old_token, new_token);
    credential_->set_token(old_token);
    proxy_->clear_log();

    std::atomic<bool> failed{false};
    auto worker = [&] {
        for (int i = 0; i < 15; ++i) {
            if (!client_->get_blob_properties(container_, "token-blob").get().success()) {
                failed = true;
            }
        }
    };
    std::thread a(worker), b(worker);
    credential_->set_token(new_token);
    a.join();
    b.join();
    EXPECT_FALSE(failed);
    ASSERT_TRUE(client_->get_blob_properties(container_, "token-blob").get().success());

    auto log = requests_for("HEAD", "token-blob");
    ASSERT_EQ(log.size(), 31u);
    for (const auto &r : log) {
        std::string value = header(r, "Authorization");
        EXPECT_TRUE(value == "Bearer " + old_token || value == "Bearer " + new_token);
    }
    EXPECT_EQ(header(log.back(), "Authorization"), "Bearer " + new_token);
    credential_->set_token(ostrel_test::mint_token());
}

TEST_F(blob_client_itest, retry_counts_and_last_error)
{
    upload("retry-blob", "r");
    proxy_->clear_log();
    add_blob_rule(
        "HEAD", "retry-blob",
        R"("times":4,"respond":{"status":503,"headers":{"Content-Type":"application/xml"},)"
        R"("body":"<?xml version=\"1.0\"?><Error><Code>ServerBusy</Code><Message>busy</Message></Error>"})");
    auto busy = client_->get_blob_properties(container_, "retry-blob").get();
    ASSERT_FALSE(busy.success());
    EXPECT_EQ(busy.error().code, "503");
    EXPECT_EQ(busy.error().kind, bs::error_kind::service);
    EXPECT_EQ(requests_for("HEAD", "retry-blob").size(), 4u);

    // The rule is used up: three failures and then the real answer.
    proxy_->clear_rules();
    proxy_->clear_log();
    add_blob_rule("GET", "retry-blob", R"("times":3,"respond":{"status":500,"body":""})");
    std::ostringstream out;
    auto recovered = client_->download_blob_to_stream(container_, "retry-blob", 0, 0, out).get();
    EXPECT_TRUE(recovered.success());
    EXPECT_EQ(out.str(), "r");
    EXPECT_EQ(requests_for("GET", "retry-blob").size(), 4u);

    proxy_->clear_rules();
    proxy_->clear_log();
    auto missing = client_->get_blob_properties(container_, "no-such-blob").get();
    ASSERT_FALSE(missing.success());
    EXPECT_EQ(missing.error().code, "404");
    EXPECT_EQ(requests_for("HEAD", "no-such-blob").size(), 1u);

    std::ostringstream none;
    auto missing_body =
        client_->download_blob_to_stream(container_, "no-such-blob", 0, 0, none).get();
    ASSERT_FALSE(missing_body.success());
    EXPECT_EQ(missing_body.error().code, "404");
    EXPECT_EQ(missing_body.error().code_name, "BlobNotFound");
    EXPECT_FALSE(missing_body.error().message.empty());
    EXPECT_EQ(none.str(), "");
    EXPECT_EQ(requests_for("GET", "no-such-blob").size(), 1u);
}

TEST_F(blob_client_itest, refused_connection_is_tried_four_times)
{
    // A fresh pool: libcurl itself repeats a request once when a reused connection turns out
    // dead, which would add one request on the wire.
    auto client = ostrel_test::make_client(proxy_->endpoint(), credential_);
    add_blob_rule("HEAD", "refused", R"("refuse":true)");
    auto outcome = client->get_blob_properties(container_, "refused").get();
    ASSERT_FALSE(outcome.success());
    EXPECT_EQ(outcome.error().kind, bs::error_kind::transport);
    EXPECT_EQ(outcome.error().code, std::to_string(CURLE_GOT_NOTHING));
    EXPECT_EQ(outcome.error().code_name, curl_easy_strerror(CURLE_GOT_NOTHING));
    EXPECT_EQ(outcome.error().message, "");
    EXPECT_EQ(requests_for("HEAD", "refused").size(), 4u);
}

TEST_F(blob_client_itest, closed_port_reports_libcurl_code_and_text)
{
    ostrel_test::emulator nowhere = proxy_->endpoint();
    nowhere.endpoint = "127.0.0.1:1/" + nowhere.account;
    auto client = ostrel_test::make_client(nowhere, credential_);
    auto outcome = client->delete_blob(container_, "x").get();
    ASSERT_FALSE(outcome.success());
    EXPECT_EQ(outcome.error().kind, bs::error_kind::transport);
    EXPECT_EQ(outcome.error().code, std::to_string(CURLE_COULDNT_CONNECT));
    EXPECT_EQ(outcome.error().code_name, curl_easy_strerror(CURLE_COULDNT_CONNECT));
}

TEST_F(blob_client_itest, third_request_waits_for_a_pooled_handle)
{
    upload("pool-blob", "p");
    proxy_->clear_log();
    auto first = client_->client()->get_handle();
    auto second = client_->client()->get_handle();
    auto pending = std::async(std::launch::async, [] {
        return client_->get_blob_properties(container_, "pool-blob").get();
    });
    // Cannot finish while both handles are held; the wait only bounds how long we look.
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    EXPECT_TRUE(requests_for("HEAD", "pool-blob").empty());
    first.reset();
    auto outcome = pending.get();
    EXPECT_TRUE(outcome.success());
    EXPECT_EQ(requests_for("HEAD", "pool-blob").size(), 1u);
    second.reset();
}

TEST_F(blob_client_itest, listing_and_properties_from_the_emulator)
{
    upload("list/a.txt", "hello world", {{"ostrel_modtime", "1234"}});
    upload("list/sub/b.txt", "b");
    upload("list/sub/", "", {{"hdi_isfolder", "true"}});

    auto listing = client_->list_blobs_segmented(container_, "/", "", "list/", 0).get();
    ASSERT_TRUE(listing.success()) << listing.error().message;
    const auto &blobs = listing.response().blobs;
    ASSERT_EQ(blobs.size(), 2u);
    EXPECT_EQ(blobs[0].name, "list/a.txt");
    EXPECT_FALSE(blobs[0].is_directory);
    EXPECT_EQ(blobs[0].content_length, 11u);
    EXPECT_EQ(blobs[0].metadata, (bs::metadata_list{{"ostrel_modtime", "1234"}}));
    EXPECT_FALSE(blobs[0].last_modified.empty());
    EXPECT_EQ(blobs[1].name, "list/sub/");
    EXPECT_TRUE(blobs[1].is_directory);
    EXPECT_EQ(listing.response().next_marker, "");

    auto flat = client_->list_blobs_segmented(container_, "", "", "list/", 0).get();
    ASSERT_TRUE(flat.success());
    ASSERT_EQ(flat.response().blobs.size(), 3u);
    EXPECT_EQ(flat.response().blobs[1].name, "list/sub/");
    EXPECT_EQ(flat.response().blobs[1].metadata, (bs::metadata_list{{"hdi_isfolder", "true"}}));

    auto page = client_->list_blobs_segmented(container_, "", "", "list/", 1).get();
    ASSERT_TRUE(page.success());
    EXPECT_EQ(page.response().blobs.size(), 1u);
    EXPECT_FALSE(page.response().next_marker.empty());
    auto rest =
        client_->list_blobs_segmented(container_, "", page.response().next_marker, "list/", 0)
            .get();
    ASSERT_TRUE(rest.success());
    EXPECT_EQ(rest.response().blobs.size(), 2u);

    auto property = client_->get_blob_properties(container_, "list/a.txt").get();
    ASSERT_TRUE(property.success());
    const auto &p = property.response();
    EXPECT_TRUE(p.valid);
    EXPECT_EQ(p.size, 11u);
    EXPECT_FALSE(p.etag.empty());
    EXPECT_GT(p.last_modified, 0);
    EXPECT_EQ(p.content_md5, "XrY7u+Ae7tCTyyK7j1rNww==");
    EXPECT_EQ(p.metadata, (bs::metadata_list{{"ostrel_modtime", "1234"}}));

    auto container = client_->get_container_properties(container_).get();
    ASSERT_TRUE(container.success());
    EXPECT_TRUE(container.response().valid);
    EXPECT_FALSE(container.response().etag.empty());

    auto containers = client_->list_containers_segmented(container_, "", 0, false).get();
    ASSERT_TRUE(containers.success());
    ASSERT_EQ(containers.response().containers.size(), 1u);
    EXPECT_EQ(containers.response().containers[0].name, container_);
}

TEST_F(blob_client_itest, container_lifecycle_and_conflicts)
{
    std::string name = ostrel_test::unique_name("bslife");
    ASSERT_TRUE(client_->create_container(name).get().success());
    auto again = client_->create_container(name).get();
    ASSERT_FALSE(again.success());
    EXPECT_EQ(again.error().code, "409");
    EXPECT_EQ(again.error().code_name, "ContainerAlreadyExists");
    ASSERT_TRUE(client_->delete_container(name).get().success());
    auto gone = client_->get_container_properties(name).get();
    ASSERT_FALSE(gone.success());
    EXPECT_EQ(gone.error().code, "404");
}

TEST_F(blob_client_itest, interrupted_download_resumes_without_rewinding_the_sink)
{
    const std::string data = ostrel_test::random_bytes(300000, 1);
    upload("resume-blob", data);
    proxy_->clear_log();
    add_blob_rule("GET", "resume-blob", R"("times":1,"cut_after":70000)");
    ostrel_test::sink_buf buf;
    std::ostream sink(&buf);
    auto outcome = client_->download_blob_to_stream(container_, "resume-blob", 0, 0, sink).get();
    ASSERT_TRUE(outcome.success()) << outcome.error().code << " " << outcome.error().code_name;
    EXPECT_TRUE(buf.data == data) << "got " << buf.data.size() << " bytes";

    auto log = requests_for("GET", "resume-blob");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(header(log[0], "x-ms-range"), "");
    EXPECT_EQ(header(log[1], "x-ms-range"), "bytes=70000-");
    EXPECT_FALSE(header(log[1], "If-Match").empty());
}

TEST_F(blob_client_itest, interrupted_ranged_download_resumes_inside_the_range)
{
    const std::string data = ostrel_test::random_bytes(200000, 2);
    upload("ranged-blob", data);
    proxy_->clear_log();
    add_blob_rule("GET", "ranged-blob", R"("times":1,"cut_after":50000)");
    ostrel_test::sink_buf buf;
    std::ostream sink(&buf);
    auto outcome =
        client_->download_blob_to_stream(container_, "ranged-blob", 1000, 100000, sink).get();
    ASSERT_TRUE(outcome.success()) << outcome.error().code;
    EXPECT_TRUE(buf.data == data.substr(1000, 100000));
    auto log = requests_for("GET", "ranged-blob");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(header(log[0], "x-ms-range"), "bytes=1000-100999");
    EXPECT_EQ(header(log[1], "x-ms-range"), "bytes=51000-100999");
}

TEST_F(blob_client_itest, body_shortened_with_consistent_framing_is_resumed)
{
    const std::string data = ostrel_test::random_bytes(10000, 3);
    upload("short-blob", data);
    proxy_->clear_log();
    add_blob_rule("GET", "short-blob", R"("times":1,"truncate_body":4000)");
    ostrel_test::sink_buf buf;
    std::ostream sink(&buf);
    auto outcome = client_->download_blob_to_stream(container_, "short-blob", 0, 10000, sink).get();
    ASSERT_TRUE(outcome.success()) << outcome.error().code;
    EXPECT_TRUE(buf.data == data);
    auto log = requests_for("GET", "short-blob");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(header(log[1], "x-ms-range"), "bytes=4000-9999");
}

TEST_F(blob_client_itest, download_cut_on_every_attempt_fails)
{
    const std::string data = ostrel_test::random_bytes(100000, 4);
    upload("cut-blob", data);
    proxy_->clear_log();
    add_blob_rule("GET", "cut-blob", R"("cut_after":1000)");
    ostrel_test::sink_buf buf;
    std::ostream sink(&buf);
    auto outcome = client_->download_blob_to_stream(container_, "cut-blob", 0, 0, sink).get();
    ASSERT_FALSE(outcome.success());
    EXPECT_EQ(outcome.error().kind, bs::error_kind::transport);
    EXPECT_EQ(requests_for("GET", "cut-blob").size(), 4u);
    // Whatever arrived is the true beginning of the blob, never a repeat.
    EXPECT_EQ(buf.data.size(), 4000u);
    EXPECT_TRUE(buf.data == data.substr(0, buf.data.size()));
}

TEST_F(blob_client_itest, changed_blob_during_resume_fails_instead_of_mixing)
{
    const std::string data = ostrel_test::random_bytes(100000, 5);
    upload("changed-blob", data);
    proxy_->clear_log();
    add_blob_rule("GET", "changed-blob", R"("times":1,"cut_after":20000)");
    add_blob_rule(
        "GET", "changed-blob",
        R"("times":1,"respond":{"status":412,"body":"<?xml version=\"1.0\"?><Error><Code>ConditionNotMet</Code><Message>changed</Message></Error>"})");
    ostrel_test::sink_buf buf;
    std::ostream sink(&buf);
    auto outcome = client_->download_blob_to_stream(container_, "changed-blob", 0, 0, sink).get();
    ASSERT_FALSE(outcome.success());
    EXPECT_EQ(outcome.error().code, "412");
    EXPECT_EQ(outcome.error().code_name, "ConditionNotMet");
    EXPECT_EQ(buf.data.size(), 20000u);
    EXPECT_EQ(requests_for("GET", "changed-blob").size(), 2u);
}

TEST_F(blob_client_itest, refusing_sink_stops_the_download)
{
    const std::string data = ostrel_test::random_bytes(100000, 6);
    upload("sink-blob", data);
    proxy_->clear_log();
    ostrel_test::sink_buf buf(10);
    std::ostream sink(&buf);
    auto outcome = client_->download_blob_to_stream(container_, "sink-blob", 0, 0, sink).get();
    ASSERT_FALSE(outcome.success());
    EXPECT_EQ(outcome.error().code, std::to_string(CURLE_WRITE_ERROR));
    EXPECT_EQ(requests_for("GET", "sink-blob").size(), 1u);
}

TEST_F(blob_client_itest, one_byte_at_offset_zero_is_one_byte)
{
    upload("byte-blob", "abcdef");
    proxy_->clear_log();
    std::ostringstream out;
    ASSERT_TRUE(
        client_->download_blob_to_stream(container_, "byte-blob", 0, 1, out).get().success());
    EXPECT_EQ(out.str(), "a");
    std::ostringstream tail;
    ASSERT_TRUE(
        client_->download_blob_to_stream(container_, "byte-blob", 4, 0, tail).get().success());
    EXPECT_EQ(tail.str(), "ef");
    auto log = requests_for("GET", "byte-blob");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(header(log[0], "x-ms-range"), "bytes=0-0");
    EXPECT_EQ(header(log[1], "x-ms-range"), "bytes=4-");
}

TEST_F(blob_client_itest, range_past_the_end_carries_its_details)
{
    // The emulator answers such a range with an empty 206; the service answers as below.
    upload("end-blob", "0123456789");
    add_blob_rule(
        "GET", "end-blob",
        R"("times":1,"respond":{"status":416,"headers":{"Content-Range":"bytes */10"},)"
        R"("body":"<?xml version=\"1.0\"?><Error><Code>InvalidRange</Code><Message>bad</Message>)"
        R"(<RangeRequested>bytes=10-</RangeRequested></Error>"})");
    std::ostringstream out;
    auto outcome = client_->download_blob_to_stream(container_, "end-blob", 10, 0, out).get();
    ASSERT_FALSE(outcome.success());
    EXPECT_EQ(outcome.error().kind, bs::error_kind::service);
    EXPECT_EQ(outcome.error().code, "416");
    EXPECT_EQ(outcome.error().code_name, "InvalidRange");
    EXPECT_EQ(outcome.error().message, "bad");
    EXPECT_EQ(out.str(), "");
    using pair = std::pair<std::string, std::string>;
    EXPECT_EQ(outcome.error().details, (std::vector<pair>{{"RangeRequested", "bytes=10-"},
                                                          {"Content-Range", "bytes */10"},
                                                          {"x-ms-range", "bytes=10-"}}));

    std::ostringstream empty;
    auto emulated = client_->download_blob_to_stream(container_, "end-blob", 10, 0, empty).get();
    EXPECT_TRUE(emulated.success());
    EXPECT_EQ(empty.str(), "");
}

TEST_F(blob_client_itest, unreadable_listings_fail)
{
    const std::string listing = "^/" + proxy_->endpoint().account + "/" + container_ + "\\\\?";
    proxy_->add_rule(R"({"method":"GET","path":")" + listing +
                     R"(","times":1,"replace_body":"<EnumerationResults><Blobs><Blob><Name>x"})");
    auto garbled = client_->list_blobs_segmented(container_, "/", "", "", 0).get();
    ASSERT_FALSE(garbled.success());
    EXPECT_EQ(garbled.error().kind, bs::error_kind::parse);
    EXPECT_EQ(garbled.error().code, "200");

    proxy_->add_rule(
        R"({"method":"GET","path":")" + listing +
        R"(","times":1,"replace_body":"{\"blobs\":[]}","content_type":"application/json"})");
    auto json = client_->list_blobs_segmented(container_, "/", "", "", 0).get();
    ASSERT_FALSE(json.success());
    EXPECT_EQ(json.error().kind, bs::error_kind::parse);

    proxy_->add_rule(R"({"method":"GET","path":"^/)" + proxy_->endpoint().account +
                     R"(/\\?comp=list","times":1,"replace_body":""})");
    auto empty = client_->list_containers_segmented("", "", 0, false).get();
    ASSERT_FALSE(empty.success());
    EXPECT_EQ(empty.error().kind, bs::error_kind::parse);
}

TEST_F(blob_client_itest, upload_retry_resends_a_seekable_body_only)
{
    const std::string data = ostrel_test::random_bytes(5000, 7);
    add_blob_rule("PUT", "upload-blob", R"("times":1,"respond":{"status":503,"body":""})");
    std::istringstream seekable(data);
    auto outcome =
        client_->upload_block_blob_from_stream(container_, "upload-blob", seekable, {}, data.size())
            .get();
    ASSERT_TRUE(outcome.success()) << outcome.error().code;
    auto log = requests_for("PUT", "upload-blob");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].body_size, 5000u);
    std::ostringstream back;
    ASSERT_TRUE(
        client_->download_blob_to_stream(container_, "upload-blob", 0, 0, back).get().success());
    EXPECT_TRUE(back.str() == data);

    proxy_->clear_log();
    add_blob_rule("PUT", "upload-blob", R"("times":1,"respond":{"status":503,"body":""})");
    ostrel_test::source_buf source(data);
    std::istream once(&source);
    auto failed =
        client_->upload_block_blob_from_stream(container_, "upload-blob", once, {}, data.size())
            .get();
    ASSERT_FALSE(failed.success());
    EXPECT_EQ(failed.error().code, "503");
    EXPECT_EQ(requests_for("PUT", "upload-blob").size(), 1u);
}

TEST_F(blob_client_itest, blocks_committed_by_block_list)
{
    const std::string part1 = ostrel_test::random_bytes(3000, 8), part2 = "tail";
    std::istringstream in(part1 + part2);
    const std::string id1 = bs::to_base64(std::vector<uint8_t>{'b', '-', '1'});
    const std::string id2 = bs::to_base64(std::vector<uint8_t>{'b', '-', '2'});
    ASSERT_TRUE(client_->upload_block_from_stream(container_, "blocks", id1, in, part1.size())
                    .get()
                    .success());
    ASSERT_TRUE(client_->upload_block_from_stream(container_, "blocks", id2, in, part2.size())
                    .get()
                    .success());
    using item = bs::put_block_list_request_base::block_item;
    auto committed = client_
                         ->put_block_list(container_, "blocks",
                                          {{id1, item::uncommitted}, {id2, item::uncommitted}},
                                          {{"ostrel_modtime", "7"}})
                         .get();
    ASSERT_TRUE(committed.success()) << committed.error().code << committed.error().message;
    std::ostringstream back;
    ASSERT_TRUE(client_->download_blob_to_stream(container_, "blocks", 0, 0, back).get().success());
    EXPECT_TRUE(back.str() == part1 + part2);
    auto p = client_->get_blob_properties(container_, "blocks").get();
    ASSERT_TRUE(p.success());
    EXPECT_EQ(p.response().metadata, (bs::metadata_list{{"ostrel_modtime", "7"}}));

    ASSERT_TRUE(client_->delete_blob(container_, "blocks").get().success());
    auto gone = client_->delete_blob(container_, "blocks").get();
    ASSERT_FALSE(gone.success());
    EXPECT_EQ(gone.error().code_name, "BlobNotFound");
}

} // namespace
