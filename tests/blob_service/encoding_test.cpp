#include "blob_service/date.h"
#include "blob_service/encoding.h"

#include <clocale>
#include <stdexcept>

#include <gtest/gtest.h>

namespace bs = azure::blob_service;

namespace
{

std::vector<uint8_t> bytes(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(encoding, base64_known_answers_both_ways)
{
    struct {
        std::vector<uint8_t> bytes;
        const char *text;
    } cases[] = {
        {{}, ""},
        {bytes("a"), "YQ=="},
        {bytes("ab"), "YWI="},
        {bytes("abc"), "YWJj"},
        {bytes("Hello, World"), "SGVsbG8sIFdvcmxk"},
        {{0xff}, "/w=="},
        {{0xfb, 0xff, 0xbf}, "+/+/"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(bs::to_base64(c.bytes), c.text);
        EXPECT_EQ(bs::from_base64(c.text), c.bytes) << c.text;
    }
}

// What is not canonical base64 is refused: a digest read from it would be no digest at all.
TEST(encoding, from_base64_rejects_malformed_input)
{
    for (const char *in : {"YWJ", "YWJjY", "YW-j", "YW_j", "YW\xc3\xa9",
                           "YR==", "YWK=", "Y===", "YQ=a", "YQ==YWJj", "===="}) {
        EXPECT_THROW(bs::from_base64(in), std::runtime_error) << in;
    }
}

TEST(encoding, percent_encoding_of_path_and_query)
{
    struct {
        const char *in;
        const char *path;
        const char *query;
    } cases[] = {
        {"a b+c/d", "a%20b%2Bc/d", "a%20b%2Bc/d"},
        {"a=b&c+d", "a=b&c%2Bd", "a%3Db%26c%2Bd"},
        {"~-._", "~-._", "~-._"},
        {"?#%", "%3F%23%25", "?%23%25"},
        {"\xc3\xa9", "%C3%A9", "%C3%A9"},
        {"!$'()*,;:@", "!$'()*,;:@", "!$'()*,;:@"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(bs::encode_url_path(c.in), c.path) << c.in;
        EXPECT_EQ(bs::encode_url_query(c.in), c.query) << c.in;
    }
}

TEST(encoding, status_classifiers)
{
    struct {
        int status;
        bool retry;
        bool fail;
    } cases[] = {
        {200, true, false}, {201, true, false}, {202, true, false}, {206, true, false},
        {299, true, false}, {199, true, true},  {300, false, true}, {304, false, true},
        {400, false, true}, {404, false, true}, {408, true, true},  {412, false, true},
        {416, false, true}, {499, false, true}, {500, true, true},  {501, false, true},
        {502, true, true},  {503, true, true},  {504, true, true},  {505, false, true},
        {599, true, true},  {0, true, true},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(bs::retryable(c.status), c.retry) << c.status;
        EXPECT_EQ(bs::unsuccessful(c.status), c.fail) << c.status;
    }
}

TEST(date, formats_with_english_names_under_any_locale)
{
    // 784111777 is Sun, 06 Nov 1994 08:49:37 GMT.
    const char *old = setlocale(LC_TIME, nullptr);
    std::string saved = old ? old : "C";
    setlocale(LC_TIME, "de_DE.UTF-8"); // may be absent; the names must not depend on it
    EXPECT_EQ(bs::format_ms_date(784111777, bs::date_format::rfc_1123),
              "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(bs::format_ms_date(784111777, bs::date_format::iso_8601), "1994-11-06T08:49:37Z");
    EXPECT_EQ(bs::format_ms_date(951782400, bs::date_format::rfc_1123),
              "Tue, 29 Feb 2000 00:00:00 GMT");
    setlocale(LC_TIME, saved.c_str());
    EXPECT_THROW(bs::format_ms_date(0, static_cast<bs::date_format>(2)), std::runtime_error);
    // The buffer holds six-digit years; later ones are refused, never an empty date.
    EXPECT_EQ(bs::format_ms_date(31494784780799, bs::date_format::rfc_1123),
              "Fri, 31 Dec 999999 23:59:59 GMT");
    EXPECT_THROW(bs::format_ms_date(31494784780800, bs::date_format::rfc_1123), std::runtime_error);
}

} // namespace
