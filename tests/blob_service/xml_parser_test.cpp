#include "blob_service/xml_parser.h"

#include <gtest/gtest.h>

namespace bs = azure::blob_service;

namespace
{

const bs::tinyxml2_parser parser;

TEST(xml_parser, error_body_that_is_not_error_xml_leaves_fields_empty)
{
    for (const char *body : {"", "not xml", "<Other><Code>X</Code></Other>", "<Error><Code>"}) {
        bs::storage_error e = parser.parse_storage_error(body);
        EXPECT_EQ(e.code_name, "") << body;
        EXPECT_EQ(e.message, "") << body;
        EXPECT_TRUE(e.details.empty()) << body;
    }
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
