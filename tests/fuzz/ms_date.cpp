// The x-ms-date texts, for any instant the clock may give.
#include "blob_service/date.h"
#include "tests/fuzz/fuzz.h"

#include <curl/curl.h>

#include <cstring>
#include <stdexcept>

namespace bs = azure::blob_service;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
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
    return 0;
}
