// Download, properties and delete of single blobs against the emulator, with the fault
// proxy for answers the emulator does not give.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "itest_support.h"

using namespace az_itest;

namespace
{

using pairs = std::vector<std::pair<std::string, std::string>>;

class blob_itest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        client = make_client(emu);
        container = ostrel_test::unique_name("blob");
        create_container(client.get(), container);
    }

    ostrel_test::emulator emu = ostrel_test::emulator_from_env();
    client_ptr client;
    std::string container;
};

TEST_F(blob_itest, properties_of_a_file)
{
    time_t before = time(nullptr);
    put_text(client.get(), container, "dir/hello.txt", "hello",
             {{"other", "x"}, {"ostrel_modtime", "1700000000"}});
    entry e = head_entry(client.get(), container, "dir/hello.txt");
    EXPECT_EQ(e.name, "dir/hello.txt");
    EXPECT_FALSE(e.is_directory);
    EXPECT_EQ(e.size, 5u);
    // The emulator stores the MD5 of single-request uploads; this is MD5("hello").
    EXPECT_EQ(e.md5, "5d41402abc4b2a76b9719d911017c592");
    EXPECT_GE(e.last_modified, static_cast<int64_t>(before) - 2);
    EXPECT_LE(e.last_modified, static_cast<int64_t>(time(nullptr)) + 2);
    EXPECT_EQ(e.metadata, (pairs{{"ostrel_modtime", "1700000000"}}));
}

TEST_F(blob_itest, metadata_names_are_compared_as_designed)
{
    put_text(client.get(), container, "upper-marker", "", {{"HDI_ISFOLDER", "TRUE"}});
    put_text(client.get(), container, "upper-modtime", "abc", {{"OSTREL_MODTIME", "5"}});
    put_text(client.get(), container, "marker-with-time", "",
             {{"ostrel_modtime", "5"}, {"hdi_isfolder", "true"}});
    put_text(client.get(), container, "not-a-marker", "abc", {{"hdi_isfolder", "false"}});

    EXPECT_TRUE(head_entry(client.get(), container, "upper-marker").is_directory);
    entry upper = head_entry(client.get(), container, "upper-modtime");
    EXPECT_FALSE(upper.is_directory);
    EXPECT_TRUE(upper.metadata.empty());
    entry both = head_entry(client.get(), container, "marker-with-time");
    EXPECT_TRUE(both.is_directory);
    EXPECT_TRUE(both.metadata.empty());
    EXPECT_EQ(both.last_modified, -1);
    entry plain = head_entry(client.get(), container, "not-a-marker");
    EXPECT_FALSE(plain.is_directory);
    EXPECT_EQ(plain.size, 3u);
}

TEST_F(blob_itest, key_ending_in_slash_is_a_directory)
{
    put_text(client.get(), container, "folder/", "content");
    entry e = head_entry(client.get(), container, "folder/");
    EXPECT_TRUE(e.is_directory);
    EXPECT_EQ(e.size, 0u);
    EXPECT_EQ(e.last_modified, -1);
    EXPECT_FALSE(e.has_md5);
    EXPECT_TRUE(e.metadata.empty());
}

TEST_F(blob_itest, download_ranges)
{
    std::string text;
    for (int i = 0; i < 100000; i++) {
        text += static_cast<char>('a' + i % 26);
    }
    text += "end";
    put_text(client.get(), container, "range", text);

    auto whole = get_blob(client.get(), container, "range");
    EXPECT_EQ(whole.status, AZ_OK);
    EXPECT_EQ(whole.data, text);
    EXPECT_GT(whole.chunks, 1);

    auto middle = get_blob(client.get(), container, "range", 1, 3);
    EXPECT_EQ(middle.status, AZ_OK);
    EXPECT_EQ(middle.data, "bcd");

    auto tail = get_blob(client.get(), container, "range", 100000, 0);
    EXPECT_EQ(tail.status, AZ_OK);
    EXPECT_EQ(tail.data, "end");

    auto huge = get_blob(client.get(), container, "range", 100000, UINT64_MAX);
    EXPECT_EQ(huge.status, AZ_OK);
    EXPECT_EQ(huge.data, "end");

    auto first = get_blob(client.get(), container, "range", 0, 1);
    EXPECT_EQ(first.status, AZ_OK);
    EXPECT_EQ(first.data, "a");
}

TEST_F(blob_itest, refusing_data_callback_ends_the_download)
{
    put_text(client.get(), container, "big", std::string(1 << 20, 'x'));
    recorder r;
    r.refuse_after_chunks = 1;
    AZ_get_blob(client.get(), container.c_str(), "big", 0, 0, record_data, record_complete, &r);
    EXPECT_EQ(r.completions, 1);
    EXPECT_EQ(r.status, AZ_AbortedByCallback);
    EXPECT_EQ(r.chunks, 2);
}

TEST_F(blob_itest, missing_and_deleted_blobs)
{
    auto get = get_blob(client.get(), container, "missing");
    EXPECT_EQ(get.status, AZ_ErrorBlobNotFound);
    EXPECT_EQ(get.code, "404");
    EXPECT_EQ(get.code_name, "BlobNotFound");
    EXPECT_TRUE(get.data.empty());

    auto head = head_blob(client.get(), container, "missing");
    EXPECT_EQ(head.status, AZ_HttpErrorNotFound);
    EXPECT_TRUE(head.entries.empty());

    recorder del;
    AZ_delete_blob(client.get(), container.c_str(), "missing", record_complete, &del);
    EXPECT_EQ(del.completions, 1);
    EXPECT_EQ(del.status, AZ_ErrorBlobNotFound);

    put_text(client.get(), container, "gone", "x");
    recorder gone;
    AZ_delete_blob(client.get(), container.c_str(), "gone", record_complete, &gone);
    EXPECT_EQ(gone.status, AZ_OK);
    EXPECT_EQ(head_blob(client.get(), container, "gone").status, AZ_HttpErrorNotFound);
}

TEST_F(blob_itest, data_lake_session_deletes_non_recursively)
{
    ostrel_test::fault_proxy proxy(emu);
    auto adls = make_client(proxy.endpoint(), true);
    proxy.add_rule(
        R"({"method":"DELETE","times":1,"respond":{"status":200,"headers":{"x-ms-request-id":"r"}}})");
    recorder del;
    AZ_delete_blob(adls.get(), container.c_str(), "dir/file", record_complete, &del);
    EXPECT_EQ(del.status, AZ_OK);
    auto sent = requests_matching(proxy, "DELETE", "/dir/file");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_NE(sent[0].target.find("recursive=false"), std::string::npos);
    EXPECT_EQ(sent[0].header("x-ms-delete-snapshots"), "include");
}

// The service refuses a range at the end with 416; the caller learns the range and the
// blob's size.
TEST_F(blob_itest, restart_at_the_end_on_the_service)
{
    put_text(client.get(), container, "five", "12345");
    ostrel_test::fault_proxy proxy(emu);
    auto via = make_client(proxy.endpoint());
    proxy.add_rule(
        R"({"method":"GET","path":"/five$","respond":{"status":416,)"
        R"("headers":{"Content-Range":"bytes */5","Content-Type":"application/xml",)"
        R"("x-ms-error-code":"InvalidRange"},"body":)"
        R"("<?xml version=\"1.0\" encoding=\"utf-8\"?><Error><Code>InvalidRange</Code>)"
        R"(<Message>The range specified is invalid for the current size of the resource.</Message>)"
        R"(</Error>"}})");
    auto r = get_blob(via.get(), container, "five", 5, 0);
    EXPECT_EQ(r.status, AZ_ErrorInvalidRange);
    EXPECT_EQ(r.code, "416");
    EXPECT_EQ(r.code_name, "InvalidRange");
    EXPECT_TRUE(r.data.empty());
    auto has = [&](const std::pair<std::string, std::string> &p) {
        return std::find(r.extra.begin(), r.extra.end(), p) != r.extra.end();
    };
    EXPECT_TRUE(has({AZ_EXTRA_RANGE_REQUESTED, "bytes=5-"}));
    EXPECT_TRUE(has({AZ_EXTRA_ACTUAL_BLOB_SIZE, "5"}));
}

TEST_F(blob_itest, damaged_content_md5_gives_no_md5)
{
    ostrel_test::fault_proxy proxy(emu);
    auto via = make_client(proxy.endpoint());
    proxy.add_rule(R"({"method":"HEAD","path":"/damaged$","respond":{"status":200,"headers":{)"
                   R"("Content-Length":"7","Content-MD5":"%%%not-base64%%%","x-ms-request-id":"r",)"
                   R"("Last-Modified":"Sun, 06 Nov 1994 08:49:37 GMT",)"
                   R"("x-ms-meta-ostrel_modtime":"42"}}})");
    entry e = head_entry(via.get(), container, "damaged");
    EXPECT_FALSE(e.has_md5);
    EXPECT_EQ(e.size, 7u);
    EXPECT_EQ(e.last_modified, 784111777);
    EXPECT_EQ(e.metadata, (pairs{{"ostrel_modtime", "42"}}));
}

// Resolved on the way, a "." or ".." segment would reach another blob or container: such a
// name is refused before anything is sent, and nothing is touched.
TEST_F(blob_itest, dot_segments_are_refused_before_any_request)
{
    const std::string other = ostrel_test::unique_name("other");
    create_container(client.get(), other);
    put_text(client.get(), container, "b", "kept");
    put_text(client.get(), other, "x", "kept too");
    ostrel_test::fault_proxy proxy(emu);
    auto via = make_client(proxy.endpoint());
    AZ_client *c = via.get();
    const char *in = container.c_str();
    const std::string escape = "../" + other + "/x";
    const struct {
        const char *what;
        std::function<void(recorder &)> call;
    } rows[] = {
        {"delete", [&](recorder &r) { AZ_delete_blob(c, in, "dir/../b", record_complete, &r); }},
        {"delete elsewhere",
         [&](recorder &r) { AZ_delete_blob(c, in, escape.c_str(), record_complete, &r); }},
        {"put",
         [&](recorder &r) {
             r.upload = "overwritten";
             AZ_put_blob(c, in, "dir/./../b", 11, nullptr, supply_data, record_complete, &r);
         }},
        {"get",
         [&](recorder &r) { AZ_get_blob(c, in, "./b", 0, 0, record_data, record_complete, &r); }},
        {"head",
         [&](recorder &r) { AZ_head_blob(c, in, "b/.", record_properties, record_complete, &r); }},
        {"list",
         [&](recorder &r) {
             AZ_list_blobs(c, in, "dir/../", record_properties, record_complete, &r);
         }},
        {"list container",
         [&](recorder &r) { AZ_list_blobs(c, "..", "", record_properties, record_complete, &r); }},
        {"delete container",
         [&](recorder &r) { AZ_delete_container(c, "..", record_complete, &r); }},
    };
    for (const auto &row : rows) {
        recorder r;
        row.call(r);
        EXPECT_EQ(r.completions, 1) << row.what;
        EXPECT_EQ(r.status, AZ_FailedToInitializeRequest) << row.what;
        EXPECT_NE(r.message.find("segment"), std::string::npos) << row.what << ": " << r.message;
    }
    EXPECT_TRUE(proxy.requests().empty());
    EXPECT_EQ(get_blob(client.get(), container, "b").data, "kept");
    EXPECT_EQ(get_blob(client.get(), other, "x").data, "kept too");
}

} // namespace
