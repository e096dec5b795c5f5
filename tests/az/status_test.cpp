#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "az/status.h"
#include "recorder.h"

namespace bs = azure::blob_service;
using az_itest::pairs;
using az_itest::record_complete;
using az_itest::recorder;

namespace
{

// Known answers, value by value, at the ends of each group and of each table.
TEST(status, names_and_lookups_at_the_ends_of_each_group)
{
    const std::pair<AZ_status, const char *> names[] = {{0, "OK"},
                                                        {47, "NotSupported"},
                                                        {48, "ErrorAppendPositionConditionNotMet"},
                                                        {195, "ErrorQuotaExceeded"},
                                                        {196, "ErrorUnknown"},
                                                        {202, "HttpErrorUnknown"},
                                                        {203, "Unknown"}};
    for (const auto &[value, name] : names) {
        EXPECT_STREQ(AZ_get_status_name(value), name);
    }
    const std::pair<const char *, AZ_status> codes[] = {{"AppendPositionConditionNotMet", 48},
                                                        {"QuotaExceeded", 195},
                                                        {"ConditionNotMet", 179},
                                                        {"conditionnotmet", 196},
                                                        {"blobnotfound", 196},
                                                        {"", 196}};
    for (const auto &[code, status] : codes) {
        EXPECT_EQ(AZ_status_from_code_name(code), status) << code;
    }
    const std::pair<const char *, AZ_status> http[] = {{"400", 198}, {"401", 196}, {"404", 200},
                                                       {"409", 201}, {"416", 148}, {"417", 196},
                                                       {"399", 196}, {"40x", 196}};
    for (const auto &[code, status] : http) {
        EXPECT_EQ(AZ_status_from_http_status(code), status) << code;
    }
    EXPECT_EQ(AZ_status_from_code_name(nullptr), AZ_ErrorUnknown);
    EXPECT_EQ(AZ_status_from_http_status(nullptr), AZ_ErrorUnknown);
}

recorder convert(bs::error_kind kind, std::string code, std::string code_name, std::string message,
                 pairs details = {})
{
    bs::storage_error error{std::move(code), std::move(code_name), std::move(message), kind,
                            std::move(details)};
    ostrel_az::az_result result;
    result.take_error(error);
    recorder r;
    result.complete(record_complete, &r);
    return r;
}

// The service's code wins over the HTTP status; without it the message is not the
// service's and is dropped, while the client's own findings always keep theirs.
TEST(status, conversion_of_failed_outcomes)
{
    using k = bs::error_kind;
    using text = std::optional<std::string>;
    const char *unparsed = "the service's answer could not be parsed";
    const struct {
        k kind;
        const char *code, *code_name, *message;
        AZ_status status;
        text kept_message, kept_code_name;
    } rows[] = {
        {k::service, "404", "BlobNotFound", "gone", AZ_ErrorBlobNotFound, "gone", "BlobNotFound"},
        {k::service, "404", "", "ignored", AZ_HttpErrorNotFound, {}, {}},
        {k::service, "401", "", "", AZ_ErrorUnknown, {}, {}},
        {k::transport, "7", "Couldn't connect", "", AZ_ErrorUnknown, {}, "Couldn't connect"},
        {k::parse, "200", "", "", AZ_XmlParseFailure, unparsed, {}},
        {k::not_service, "200", "", "no id", AZ_ErrorUnknown, "no id", {}},
        {k::too_large, "200", "", "too big", AZ_XmlDocumentTooLarge, "too big", {}},
    };
    for (const auto &row : rows) {
        recorder r = convert(row.kind, row.code, row.code_name, row.message);
        EXPECT_EQ(r.status, row.status) << row.code << " " << row.code_name;
        EXPECT_EQ(r.code, row.code);
        EXPECT_EQ(r.message, row.kept_message) << row.code << " " << row.code_name;
        EXPECT_EQ(r.code_name, row.kept_code_name);
        EXPECT_FALSE(r.resource);
    }
    recorder ok;
    ostrel_az::az_result().complete(record_complete, &ok);
    EXPECT_EQ(ok.status, AZ_OK);
    EXPECT_FALSE(ok.message || ok.code || ok.code_name || ok.resource);
    EXPECT_TRUE(ok.extra.empty());
    ostrel_az::az_result().complete(nullptr, nullptr); // no callback: nothing to report to
}

TEST(status, details_become_extra_pairs)
{
    auto digest = convert(bs::error_kind::service, "400", "Md5Mismatch", "m",
                          {{"UserSpecifiedMd5", "AAAA"}, {"ServerCalculatedMd5", "BBBB"}});
    EXPECT_EQ(digest.extra, (pairs{{"UserSpecifiedMd5", "AAAA"}, {"ServerCalculatedMd5", "BBBB"}}));
}

} // namespace
