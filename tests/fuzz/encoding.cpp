// Base64 (account keys, token claims), the percent-encoding of names in URLs, and the x-ms-date
// texts for any instant the clock may give.
#include "blob_service/date.h"
#include "blob_service/encoding.h"
#include "tests/fuzz/fuzz.h"

#include <curl/curl.h>

#include <cctype>
#include <cstring>
#include <stdexcept>

namespace bs = azure::blob_service;

namespace
{

int hex_value(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Every byte outside `kept` is escaped, in upper-case hex, and the escapes undo exactly.
void check_encoded(const std::string &text, const std::string &encoded, const char *kept)
{
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i) {
        char c = encoded[i];
        if (c != '%') {
            FUZZ_CHECK(isalnum(static_cast<unsigned char>(c)) || strchr(kept, c) != nullptr);
            decoded += c;
            continue;
        }
        FUZZ_CHECK(i + 2 < encoded.size());
        int high = hex_value(encoded[i + 1]), low = hex_value(encoded[i + 2]);
        FUZZ_CHECK(high >= 0 && low >= 0);
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    FUZZ_CHECK(decoded == text);
}

void check_base64(const std::string &text, const uint8_t *data, size_t size)
{
    // Whatever the decoder accepts, it accepts in one spelling only.
    try {
        FUZZ_CHECK(bs::to_base64(bs::from_base64(text)) == text);
    } catch (const std::runtime_error &) {
    }
    std::string encoded = bs::to_base64(data, size);
    FUZZ_CHECK(encoded.size() == (size + 2) / 3 * 4);
    FUZZ_CHECK(bs::from_base64(encoded) == std::vector<uint8_t>(data, data + size));
}

void check_date(const uint8_t *data, size_t size)
{
    int64_t when = 0;
    memcpy(&when, data, size < sizeof when ? size : sizeof when);
    for (bs::date_format format : {bs::date_format::rfc_1123, bs::date_format::iso_8601}) {
        std::string text;
        try {
            text = bs::format_ms_date(static_cast<time_t>(when), format);
        } catch (const std::runtime_error &) {
            continue;
        }
        // Never an empty header: a time that does not fit is refused.
        FUZZ_CHECK(!text.empty());
        // Four-digit years read back to the same instant.
        if (format == bs::date_format::rfc_1123 && when >= 0 && when <= 253402300799) {
            FUZZ_CHECK(curl_getdate(text.c_str(), nullptr) == when);
        }
    }
}

} // namespace

void fuzz_one(const std::string &text, const uint8_t *data, size_t size)
{
    check_base64(text, data, size);
    check_date(data, size);
    check_encoded(text, bs::encode_url_path(text), "-._~!$&'()*,;=/:@");
    check_encoded(text, bs::encode_url_query(text), "-._~!$'()*,;/:?@");
}
