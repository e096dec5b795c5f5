#include "blob_service/xml_parser.h"

#include <gtest/gtest.h>

namespace bs = azure::blob_service;

namespace
{

const bs::tinyxml2_parser parser;

TEST(xml_parser, error_body_with_details_in_document_order)
{
    bs::storage_error e = parser.parse_storage_error(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><Error><Code>InvalidRange</Code>"
        "<Message>The range specified is invalid.\nRequestId:1</Message>"
        "<RangeRequested>bytes=10-</RangeRequested><Empty/></Error>");
    EXPECT_EQ(e.code_name, "InvalidRange");
    EXPECT_EQ(e.message, "The range specified is invalid.\nRequestId:1");
    ASSERT_EQ(e.details.size(), 2u);
    EXPECT_EQ(e.details[0],
              std::make_pair(std::string("RangeRequested"), std::string("bytes=10-")));
    EXPECT_EQ(e.details[1], std::make_pair(std::string("Empty"), std::string()));
}

TEST(xml_parser, error_body_that_is_not_error_xml_leaves_fields_empty)
{
    for (const char *body : {"", "not xml", "<Other><Code>X</Code></Other>", "<Error><Code>"}) {
        bs::storage_error e = parser.parse_storage_error(body);
        EXPECT_EQ(e.code_name, "") << body;
        EXPECT_EQ(e.message, "") << body;
        EXPECT_TRUE(e.details.empty()) << body;
    }
}

TEST(xml_parser, container_listing)
{
    auto outcome = parser.parse_list_containers_segmented_response(
        "<?xml version=\"1.0\"?><EnumerationResults ServiceEndpoint=\"x\"><Containers>"
        "<Container><Name>alpha</Name><Properties><Last-Modified>Sun, 06 Nov 1994 08:49:37 GMT"
        "</Last-Modified><Etag>\"0x1\"</Etag></Properties></Container>"
        "<Container><Name>beta</Name><Properties/></Container></Containers><NextMarker>/acct/"
        "gamma</NextMarker></EnumerationResults>");
    ASSERT_TRUE(outcome.success());
    const auto &r = outcome.response();
    EXPECT_EQ(r.next_marker, "/acct/gamma");
    ASSERT_EQ(r.containers.size(), 2u);
    EXPECT_EQ(r.containers[0].name, "alpha");
    EXPECT_EQ(r.containers[0].etag, "\"0x1\"");
    EXPECT_EQ(r.containers[0].last_modified, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(r.containers[1].name, "beta");
}

TEST(xml_parser, blob_listing_puts_blobs_before_prefixes)
{
    auto outcome = parser.parse_list_blobs_segmented_response(
        "<EnumerationResults><Blobs>"
        "<BlobPrefix><Name>dir/</Name></BlobPrefix>"
        "<Blob><Name>a.txt</Name><Properties><Content-Length>1234</Content-Length>"
        "<Content-Type>text/plain</Content-Type><Content-MD5>1B2M2Y8AsgTpgAmY7PhCfg==</Content-MD5>"
        "<Etag>0x2</Etag><Last-Modified>Tue, 29 Feb 2000 00:00:00 GMT</Last-Modified>"
        "<LeaseStatus>bogus</LeaseStatus><LeaseState>something</LeaseState></Properties>"
        "<Metadata><ostrel_modtime>42</ostrel_modtime><hdi_isfolder>true</hdi_isfolder>"
        "<empty/></Metadata></Blob>"
        "<Blob><Name>b</Name><Properties><Content-Length>0</Content-Length></Properties></Blob>"
        "</Blobs><NextMarker/></EnumerationResults>");
    ASSERT_TRUE(outcome.success());
    EXPECT_EQ(outcome.response().next_marker, "");
    std::vector<std::string> seen;
    for (const auto &b : outcome.response().blobs) {
        std::string line = b.name + "|" + std::to_string(b.content_length) + "|" + b.content_type +
                           "|" + b.content_md5 + "|" + b.etag + "|" + b.last_modified +
                           (b.is_directory ? "|prefix" : "");
        for (const auto &m : b.metadata)
            line += "|" + m.first + "=" + m.second;
        seen.push_back(line);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "a.txt|1234|text/plain|1B2M2Y8AsgTpgAmY7PhCfg==|0x2|Tue, 29 Feb 2000 "
                        "00:00:00 GMT|ostrel_modtime=42|hdi_isfolder=true|empty=",
                        "b|0||||", "dir/|0|||||prefix"}));
}

TEST(xml_parser, empty_listing_document_is_a_complete_empty_listing)
{
    auto outcome = parser.parse_list_blobs_segmented_response(
        "<EnumerationResults ContainerName=\"c\"><Blobs/><NextMarker/></EnumerationResults>");
    EXPECT_TRUE(outcome.success() && outcome.response().blobs.empty());
}

TEST(xml_parser, listing_that_cannot_be_read_is_a_parse_failure)
{
    const char *bodies[] = {
        "",
        "garbage",
        "<EnumerationResults><Blobs><Blob><Name>cut",
        "{\"blobs\":[]}",
        "<Error><Code>X</Code></Error>",
        "<EnumerationResults><Blobs><Blob><Name>a</Name><Properties>"
        "<Content-Length>12x</Content-Length></Properties></Blob></Blobs></EnumerationResults>",
    };
    for (const char *body : bodies) {
        auto blobs = parser.parse_list_blobs_segmented_response(body);
        EXPECT_FALSE(blobs.success()) << body;
        EXPECT_EQ(blobs.error().kind, bs::error_kind::parse) << body;
        EXPECT_FALSE(blobs.error().message.empty()) << body;
    }
    for (const char *body : {"", "garbage", "<EnumerationResults><Containers>"}) {
        auto containers = parser.parse_list_containers_segmented_response(body);
        EXPECT_FALSE(containers.success()) << body;
        EXPECT_EQ(containers.error().kind, bs::error_kind::parse) << body;
    }
}

} // namespace
