// Response header blocks, line by line as libcurl hands them over, and what the client reads
// from them: properties, the version a download read and the Content-Range arithmetic.
#include "blob_service/header_line.h"
#include "blob_service/properties.h"
#include "tests/fuzz/fuzz.h"

namespace bs = azure::blob_service;

namespace
{

bs::header_map read_block(const std::string &text)
{
    bs::header_map headers;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        bs::header_line line = bs::parse_header_line(text.data() + start, end - start);
        FUZZ_CHECK(line.status >= 0 && line.status <= 999);
        FUZZ_CHECK(line.name.find(':') == std::string::npos);
        FUZZ_CHECK(line.name.find('\n') == std::string::npos);
        if (line.is_status) {
            FUZZ_CHECK(line.name.empty());
            headers.clear();
        } else if (!line.name.empty()) {
            headers[line.name] = line.value;
        }
        start = end;
    }
    return headers;
}

void check_content_range(const std::string &value)
{
    uint64_t first = 0, last = 0, total = 0;
    if (!bs::content_range_span(value, first, last)) {
        return;
    }
    FUZZ_CHECK(first <= last);
    FUZZ_CHECK(last - first + 1 != 0);
    if (bs::content_range_total(value, total)) {
        FUZZ_CHECK(last < total);
    }
}

} // namespace

void fuzz_one(const std::string &text, const uint8_t *, size_t)
{
    bs::header_map headers = read_block(text);

    auto property = bs::parse_blob_property(headers);
    FUZZ_CHECK(property.success() ? property.response().valid
                                  : property.error().kind == bs::error_kind::parse);
    bs::parse_container_property(headers);
    bs::blob_version version = bs::parse_blob_version(headers);
    uint64_t total = 0;
    if (bs::content_range_total(headers["Content-Range"], total)) {
        FUZZ_CHECK(version.size == total);
    }
    check_content_range(headers["Content-Range"]);
    check_content_range(text);
}
