#include "blob_service/properties.h"

#include <gtest/gtest.h>

namespace bs = azure::blob_service;

namespace
{

TEST(properties, missing_or_unreadable_values)
{
    auto outcome = bs::parse_blob_property({{"Last-Modified", "yesterday-ish"}});
    ASSERT_TRUE(outcome.success());
    EXPECT_EQ(outcome.response().last_modified, -1);
    EXPECT_EQ(outcome.response().size, 0u);
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

TEST(properties, content_range_arithmetic)
{
    struct {
        const char *value;
        bool ok;
        uint64_t first, last;
    } spans[] = {
        {"bytes 0-99/100", true, 0, 99},
        {"bytes 5-5/6", true, 5, 5},
        {"bytes 0-9/*", true, 0, 9},
        {"bytes 1-18446744073709551614/*", true, 1, 18446744073709551614u},
        {"bytes 0-100/100", false, 0, 0}, // ends past the blob it claims
        {"bytes 5-4/10", false, 0, 0},
        {"bytes 0-18446744073709551615/*", false, 0, 0}, // its length does not fit
        {"bytes */100", false, 0, 0},
        {"bytes 0-9", false, 0, 0},
        {"bytes -9/10", false, 0, 0},
        {"bytes 0x0-9/10", false, 0, 0},
        {"items 0-9/10", false, 0, 0},
    };
    for (const auto &c : spans) {
        uint64_t first = 7, last = 7;
        EXPECT_EQ(bs::content_range_span(c.value, first, last), c.ok) << c.value;
        if (c.ok) {
            EXPECT_EQ(first, c.first) << c.value;
            EXPECT_EQ(last, c.last) << c.value;
        }
    }
    // The size is decimal, as HTTP writes it: a leading zero is no octal.
    uint64_t total = 0;
    EXPECT_TRUE(bs::content_range_total("bytes 0-9/010", total));
    EXPECT_EQ(total, 10u);
    EXPECT_TRUE(bs::content_range_total("bytes */20", total));
    EXPECT_EQ(total, 20u);
    EXPECT_FALSE(bs::content_range_total("bytes 0-9/0x10", total));
    EXPECT_FALSE(bs::content_range_total("bytes 0-9/", total));
}

} // namespace
