#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "az/status.h"
#include "recorder.h"

namespace bs = azure::blob_service;
using az_itest::record_complete;
using az_itest::recorder;

namespace
{

TEST(status_names, known_values_and_ends)
{
    const std::pair<AZ_status, const char *> cases[] = {
        {0, "OK"},
        {1, "InternalError"},
        {30, "XmlParseFailure"},
        {47, "NotSupported"},
        {48, "ErrorAppendPositionConditionNotMet"},
        {52, "ErrorBlobNotFound"},
        {115, "ErrorUnsupportedHeader"},
        {148, "ErrorInvalidRange"},
        {195, "ErrorQuotaExceeded"},
        {196, "ErrorUnknown"},
        {197, "HttpErrorMovedTemporarily"},
        {202, "HttpErrorUnknown"},
        {203, "Unknown"},
        {1000, "Unknown"},
        {UINT32_MAX, "Unknown"},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(AZ_get_status_name(c.first), c.second) << c.first;
    }
}

TEST(status_from_code_name, exact_match_only)
{
    const std::pair<const char *, AZ_status> cases[] = {
        {"AppendPositionConditionNotMet", 48},
        {"BlobNotFound", 52},
        {"ContainerAlreadyExists", 59},
        {"UnsupportedHeader", 115},
        {"BlobBeingRehydrated", 116},
        {"AccessDenied", 119},
        {"InvalidRange", 148},
        {"QuotaExceeded", 195},
        {"ConditionNotMet", 179},
        {"conditionnotmet", 196},
        {"blobnotfound", 196},
        {"ErrorBlobNotFound", 196},
        {"", 196},
        {"Couldn't connect to server", 196},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AZ_status_from_code_name(c.first), c.second) << c.first;
    }
    EXPECT_EQ(AZ_status_from_code_name(nullptr), AZ_ErrorUnknown);
}

TEST(status_from_http_status, table)
{
    const std::pair<const char *, AZ_status> cases[] = {
        {"400", 198}, {"401", 196}, {"402", 196}, {"403", 199}, {"404", 200}, {"405", 162},
        {"406", 196}, {"408", 196}, {"409", 201}, {"410", 196}, {"411", 164}, {"412", 179},
        {"413", 196}, {"415", 196}, {"416", 148}, {"417", 196}, {"399", 196}, {"500", 196},
        {"503", 196}, {"abc", 196}, {"40x", 196}, {"", 196},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AZ_status_from_http_status(c.first), c.second) << c.first;
    }
    EXPECT_EQ(AZ_status_from_http_status(nullptr), AZ_ErrorUnknown);
}

recorder convert(const bs::storage_error &error)
{
    ostrel_az::az_result result;
    result.take_error(error);
    recorder c;
    result.complete(record_complete, &c);
    EXPECT_EQ(c.completions, 1);
    return c;
}

bs::storage_error service_error(std::string code, std::string code_name, std::string message)
{
    bs::storage_error e;
    e.kind = bs::error_kind::service;
    e.code = std::move(code);
    e.code_name = std::move(code_name);
    e.message = std::move(message);
    return e;
}

TEST(error_conversion, success_leaves_record_empty)
{
    ostrel_az::az_result result;
    recorder c;
    result.complete(record_complete, &c);
    EXPECT_EQ(c.status, AZ_OK);
    EXPECT_FALSE(c.has_message || c.has_code || c.has_code_name || c.has_resource);
    EXPECT_TRUE(c.extra.empty());
}

TEST(error_conversion, service_code_wins_over_http_status)
{
    auto c = convert(service_error("404", "BlobNotFound", "The specified blob does not exist."));
    EXPECT_EQ(c.status, AZ_ErrorBlobNotFound);
    EXPECT_EQ(c.code, "404");
    EXPECT_EQ(c.code_name, "BlobNotFound");
    EXPECT_EQ(c.message, "The specified blob does not exist.");
    EXPECT_FALSE(c.has_resource);
}

TEST(error_conversion, without_code_name_only_code_is_kept)
{
    auto c = convert(service_error("404", "", "ignored"));
    EXPECT_EQ(c.status, AZ_HttpErrorNotFound);
    EXPECT_EQ(c.code, "404");
    EXPECT_FALSE(c.has_message);
    EXPECT_FALSE(c.has_code_name);

    EXPECT_EQ(convert(service_error("401", "", "")).status, AZ_ErrorUnknown);
    EXPECT_EQ(convert(service_error("500", "", "")).status, AZ_ErrorUnknown);
}

TEST(error_conversion, transport_failure_is_unknown_with_curl_text)
{
    bs::storage_error e;
    e.kind = bs::error_kind::transport;
    e.code = "7";
    e.code_name = "Couldn't connect to server";
    auto c = convert(e);
    EXPECT_EQ(c.status, AZ_ErrorUnknown);
    EXPECT_EQ(c.code, "7");
    EXPECT_EQ(c.code_name, "Couldn't connect to server");
}

TEST(error_conversion, parse_failure_has_a_message)
{
    bs::storage_error e;
    e.kind = bs::error_kind::parse;
    e.code = "200";
    auto c = convert(e);
    EXPECT_EQ(c.status, AZ_XmlParseFailure);
    EXPECT_TRUE(c.has_message);
    EXPECT_FALSE(c.message.empty());
}

TEST(error_conversion, details_become_extra_pairs)
{
    auto e = service_error("400", "Md5Mismatch", "mismatch");
    e.details = {{"UserSpecifiedMd5", "AAAA"}, {"ServerCalculatedMd5", "BBBB"}};
    auto c = convert(e);
    EXPECT_EQ(c.status, AZ_ErrorUnknown);
    ASSERT_EQ(c.extra.size(), 2u);
    EXPECT_EQ(c.extra[0], std::make_pair(std::string("UserSpecifiedMd5"), std::string("AAAA")));
    EXPECT_EQ(c.extra[1], std::make_pair(std::string("ServerCalculatedMd5"), std::string("BBBB")));
}

TEST(error_conversion, refused_range_names_request_and_blob_size)
{
    auto e = service_error("416", "InvalidRange",
                           "The range specified is invalid for the current size of the resource.");
    e.details = {{"Content-Range", "bytes */1000"}, {"x-ms-range", "bytes=1000-"}};
    auto c = convert(e);
    EXPECT_EQ(c.status, AZ_ErrorInvalidRange);
    std::vector<std::pair<std::string, std::string>> expected = {
        {"Content-Range", "bytes */1000"},
        {"x-ms-range", "bytes=1000-"},
        {"RangeRequested", "bytes=1000-"},
        {"ActualBlobSize", "1000"},
    };
    EXPECT_EQ(c.extra, expected);

    // A HEAD-style answer without a body still says which range and size.
    auto bare = service_error("416", "", "");
    bare.details = {{"Content-Range", "bytes */0"}, {"x-ms-range", "bytes=0-"}};
    auto b = convert(bare);
    EXPECT_EQ(b.status, AZ_ErrorInvalidRange);
    ASSERT_EQ(b.extra.size(), 4u);
    EXPECT_EQ(b.extra[3], std::make_pair(std::string("ActualBlobSize"), std::string("0")));

    // An unusable size is left out rather than guessed.
    auto odd = service_error("416", "InvalidRange", "");
    odd.details = {{"Content-Range", "bytes */*"}};
    EXPECT_EQ(convert(odd).extra.size(), 1u);
}

TEST(error_conversion, local_failure_and_null_callback)
{
    ostrel_az::az_result result;
    result.set_local(AZ_AbortedByCallback, "the data ended after 3 of 5 bytes");
    recorder c;
    result.complete(record_complete, &c);
    EXPECT_EQ(c.status, AZ_AbortedByCallback);
    EXPECT_EQ(c.message, "the data ended after 3 of 5 bytes");
    EXPECT_FALSE(c.has_code);
    result.complete(nullptr, nullptr);
}

} // namespace
