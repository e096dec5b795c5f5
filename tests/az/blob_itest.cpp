// Download, properties and delete of single blobs against the emulator, with the fault
// proxy where the wire must be watched.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "itest_support.h"

using namespace az_itest;

namespace
{

using blob_itest = container_test;

// Folder markers by key or metadata (names and values in any case), and of the metadata only
// the modification time, spelt exactly, is passed on.
TEST_F(blob_itest, properties_follow_the_folder_and_metadata_rules)
{
    const struct {
        const char *key, *content;
        pairs metadata;
        bool directory;
        pairs reported;
    } rows[] = {
        {"d/f.txt",
         "hello",
         {{"other", "x"}, {"ostrel_modtime", "17"}},
         false,
         {{"ostrel_modtime", "17"}}},
        {"upper-marker", "", {{"HDI_ISFOLDER", "TRUE"}}, true, {}},
        {"upper-modtime", "abc", {{"OSTREL_MODTIME", "5"}}, false, {}},
        {"marker-with-time", "", {{"ostrel_modtime", "5"}, {"hdi_isfolder", "true"}}, true, {}},
        {"not-a-marker", "abc", {{"hdi_isfolder", "false"}}, false, {}},
        {"folder/", "content", {}, true, {}},
    };
    time_t before = time(nullptr);
    for (const auto &row : rows) {
        put_text(client.get(), container, row.key, row.content, row.metadata);
        const entry e = head_entry(client.get(), container, row.key);
        if (row.directory) {
            expect_directory(e, row.key);
            continue;
        }
        EXPECT_FALSE(e.is_directory) << row.key;
        EXPECT_EQ(e.size, strlen(row.content)) << row.key;
        EXPECT_EQ(e.metadata, row.reported) << row.key;
        EXPECT_GE(e.last_modified, static_cast<int64_t>(before) - 2) << row.key;
        EXPECT_LE(e.last_modified, static_cast<int64_t>(time(nullptr)) + 2) << row.key;
    }
}

// A range reaching past the largest offset reads to the end; a refusing data callback gets no
// more data and its refusal is the outcome.
TEST_F(blob_itest, download_ranges_and_refusal)
{
    std::string text(100000, 'x');
    text += "end";
    put_text(client.get(), container, "range", text);
    recorder whole = get_blob(client.get(), container, "range");
    EXPECT_TRUE(whole.data == text);
    EXPECT_GT(whole.chunks, 1);
    EXPECT_EQ(get_blob(client.get(), container, "range", 100000, UINT64_MAX).data, "end");
    recorder refused;
    refused.refuse_after_chunks = 1;
    AZ_get_blob(client.get(), container.c_str(), "range", 0, 0, record_data, record_complete,
                &refused);
    EXPECT_EQ(refused.status, AZ_AbortedByCallback);
    EXPECT_EQ(refused.chunks, 2);
}

// The version a call reports is the one stored, whole even when only a range was read.
TEST_F(blob_itest, calls_report_the_whole_version)
{
    auto put = put_text_ex(client.get(), container, "v", "0123456789", {});
    ASSERT_EQ(put.versions.size(), 1u);
    entry head = head_entry(client.get(), container, "v");
    EXPECT_EQ(put.versions[0].etag, head.etag);
    EXPECT_EQ(put.versions[0].last_modified, head.last_modified);
    EXPECT_EQ(put.versions[0].size, 10u);

    auto part = get_blob(client.get(), container, "v", 2, 3, head.etag.c_str());
    EXPECT_EQ(part.status, AZ_OK) << part.message.value_or("");
    EXPECT_EQ(part.data, "234");
    ASSERT_EQ(part.versions.size(), 1u);
    EXPECT_EQ(part.versions[0].etag, head.etag);
    EXPECT_EQ(part.versions[0].size, 10u);
}

// With adls clear, a folder marker and the prefix of its contents on one page are one
// directory. A page that fails ends the listing with its error, after the pages before it; a
// continuation marker already followed, however far back, would page forever.
TEST_F(blob_itest, listing_pages)
{
    put_text(client.get(), container, "d", "", {{"hdi_isfolder", "true"}});
    put_text(client.get(), container, "d/x", "inner");
    auto merged = list_blobs(client.get(), container, "");
    ASSERT_EQ(merged.entries.size(), 1u);
    expect_directory(merged.entries[0], "d");

    // The NextMarker of each page in turn; `busy`: the page after them is refused.
    const struct {
        std::vector<std::string> markers;
        bool busy = false;
    } rows[] = {{{"A"}, true}, {{"same", "same"}}, {{"A", "B", "A"}}, {{"A", "B", "C", "B"}}};
    for (const auto &row : rows) {
        ostrel_test::fault_proxy proxy(emu);
        for (const auto &marker : row.markers) {
            proxy.add_rule(
                R"({"method":"GET","path":"comp=list","times":1,"replace_body":")"
                R"(<?xml version=\"1.0\" encoding=\"utf-8\"?><EnumerationResults>)"
                R"(<Blobs><BlobPrefix><Name>p/</Name></BlobPrefix></Blobs><NextMarker>)" +
                marker + R"(</NextMarker></EnumerationResults>"})");
        }
        if (row.busy) {
            proxy.add_rule(R"({"method":"GET","path":"marker=","respond":{"status":503,"body":)"
                           R"("<Error><Code>ServerBusy</Code><Message>busy</Message></Error>"}})");
        }
        auto r = list_blobs(make_client(proxy.endpoint()).get(), container, "");
        EXPECT_EQ(r.entries.size(), row.markers.size()) << row.markers.size();
        if (row.busy) {
            EXPECT_EQ(r.code_name, "ServerBusy");
            continue;
        }
        EXPECT_EQ(r.status, AZ_XmlParseFailure) << row.markers.size();
        EXPECT_EQ(requests_matching(proxy, "GET", "comp=list").size(), row.markers.size());
    }
}

// Something between us and the service may drop the condition or let a hostile one through.
TEST_F(blob_itest, named_version_is_checked_not_trusted)
{
    ostrel_test::fault_proxy proxy(emu);
    auto via = make_client(proxy.endpoint());
    proxy.add_rule(R"({"method":"GET","path":"/lied$","respond":{"status":200,)"
                   R"("headers":{"ETag":"\"0x2\"","x-ms-request-id":"r"},"body":"abc"}})");
    auto other = get_blob(via.get(), container, "lied", 0, 0, "\"0x1\"");
    EXPECT_EQ(other.status, AZ_ErrorPreconditionFailed);
    EXPECT_TRUE(other.versions.empty());

    proxy.clear_log();
    auto injected = get_blob(via.get(), container, "lied", 0, 0, "\"0x1\"\r\nx-ms-meta-a: b");
    EXPECT_EQ(injected.status, AZ_InternalError);
    EXPECT_TRUE(proxy.requests().empty());
}

// A condition a delete cannot mean is refused before anything is sent.
TEST_F(blob_itest, delete_refuses_an_absent_condition)
{
    put_text(client.get(), container, "d", "new");
    AZ_blob_options absent = {nullptr, true, nullptr};
    EXPECT_EQ(delete_blob(client.get(), container, "d", &absent).status, AZ_InternalError);
    EXPECT_EQ(get_blob(client.get(), container, "d").data, "new");
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
    const std::function<void(recorder &)> calls[] = {
        [&](recorder &r) { AZ_delete_blob(c, in, "dir/../b", record_complete, &r); },
        [&](recorder &r) { AZ_delete_blob(c, in, escape.c_str(), record_complete, &r); },
        [&](recorder &r) {
            r.upload = "overwritten";
            AZ_put_blob(c, in, "dir/./../b", 11, nullptr, supply_data, record_complete, &r);
        },
        [&](recorder &r) { AZ_get_blob(c, in, "./b", 0, 0, record_data, record_complete, &r); },
        [&](recorder &r) { AZ_head_blob(c, in, "b/.", record_properties, record_complete, &r); },
        [&](recorder &r) {
            AZ_list_blobs(c, in, "dir/../", record_properties, record_complete, &r);
        },
        [&](recorder &r) { AZ_list_blobs(c, "..", "", record_properties, record_complete, &r); },
        [&](recorder &r) { AZ_delete_container(c, "..", record_complete, &r); },
    };
    for (size_t i = 0; i < std::size(calls); i++) {
        recorder r;
        calls[i](r);
        EXPECT_EQ(r.status, AZ_FailedToInitializeRequest) << i;
        EXPECT_NE(r.message.value_or("").find("segment"), std::string::npos) << i;
    }
    EXPECT_TRUE(proxy.requests().empty());
    EXPECT_EQ(get_blob(client.get(), container, "b").data, "kept");
    EXPECT_EQ(get_blob(client.get(), other, "x").data, "kept too");
}

} // namespace
