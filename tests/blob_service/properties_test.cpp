#include "blob_service/properties.h"

#include <gtest/gtest.h>

namespace bs = azure::blob_service;

namespace
{

TEST(properties, blob_property_from_lower_case_headers)
{
    bs::header_map headers = {
        {"content-length", "11"},
        {"content-type", "text/plain"},
        {"content-md5", "XrY7u+Ae7tCTyyK7j1rNww=="},
        {"etag", "\"0x8D\""},
        {"last-modified", "Sun, 06 Nov 1994 08:49:37 GMT"},
        {"x-ms-meta-ostrel_md5", "abc"},
        {"x-ms-meta-b", "2"},
        {"X-MS-META-upper", "ignored"},
    };
    auto outcome = bs::parse_blob_property(headers);
    ASSERT_TRUE(outcome.success());
    const auto &p = outcome.response();
    EXPECT_TRUE(p.valid);
    EXPECT_EQ(p.size, 11u);
    EXPECT_EQ(p.content_type, "text/plain");
    EXPECT_EQ(p.content_md5, "XrY7u+Ae7tCTyyK7j1rNww==");
    EXPECT_EQ(p.etag, "\"0x8D\"");
    EXPECT_EQ(p.last_modified, 784111777);
    bs::metadata_list expected = {{"b", "2"}, {"ostrel_md5", "abc"}};
    EXPECT_EQ(p.metadata, expected);
}

TEST(properties, missing_or_unreadable_values)
{
    auto outcome = bs::parse_blob_property({{"Last-Modified", "yesterday-ish"}});
    ASSERT_TRUE(outcome.success());
    EXPECT_EQ(outcome.response().last_modified, -1);
    EXPECT_EQ(outcome.response().size, 0u);
    EXPECT_EQ(bs::parse_blob_property({}).response().last_modified, -1);
    EXPECT_EQ(bs::parse_blob_property({{"Content-Length", "0x10"}}).response().size, 16u);
}

TEST(properties, malformed_content_length_is_a_parse_failure)
{
    for (const char *value : {"abc", "12abc", "-1", "99999999999999999999999"}) {
        auto outcome = bs::parse_blob_property({{"Content-Length", value}});
        EXPECT_FALSE(outcome.success()) << value;
        EXPECT_EQ(outcome.error().kind, bs::error_kind::parse) << value;
    }
}

TEST(properties, container_property)
{
    auto p = bs::parse_container_property({{"ETag", "\"0x1\""}, {"x-ms-meta-owner", "me"}});
    EXPECT_TRUE(p.valid);
    EXPECT_EQ(p.etag, "\"0x1\"");
    EXPECT_EQ(p.metadata, (bs::metadata_list{{"owner", "me"}}));
}

} // namespace
