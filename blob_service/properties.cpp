#include "blob_service/properties.h"

#include <cerrno>
#include <cstdlib>

#include <curl/curl.h>

namespace azure::blob_service
{

namespace
{

const char meta_prefix[] = "x-ms-meta-";
const size_t meta_prefix_len = sizeof(meta_prefix) - 1;

std::string header(const header_map &headers, const char *name)
{
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

metadata_list parse_metadata(const header_map &headers)
{
    metadata_list pairs;
    for (const auto &[name, value] : headers) {
        if (name.compare(0, meta_prefix_len, meta_prefix) == 0) {
            pairs.emplace_back(name.substr(meta_prefix_len), value);
        }
    }
    return pairs;
}

// Accepts what strtoull with base 0 accepts, but only when the whole text is the number.
bool parse_size(const std::string &text, uint64_t &size)
{
    size = 0;
    if (text.empty()) {
        return true;
    }
    if (text.find('-') != std::string::npos) {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    unsigned long long value = strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0') {
        return false;
    }
    size = value;
    return true;
}

time_t http_time(const std::string &text)
{
    return text.empty() ? -1 : curl_getdate(text.c_str(), nullptr);
}

} // namespace

bool parse_decimal_header(const std::string &text, uint64_t &value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    value = strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

bool content_range_total(const std::string &content_range, uint64_t &total)
{
    size_t slash = content_range.rfind('/');
    return slash != std::string::npos &&
           parse_decimal_header(content_range.substr(slash + 1), total);
}

bool content_range_span(const std::string &content_range, uint64_t &first, uint64_t &last)
{
    const std::string unit = "bytes ";
    if (content_range.compare(0, unit.size(), unit) != 0) {
        return false;
    }
    size_t dash = content_range.find('-', unit.size());
    size_t slash = content_range.find('/', unit.size());
    if (dash == std::string::npos || slash == std::string::npos || dash > slash ||
        !parse_decimal_header(content_range.substr(unit.size(), dash - unit.size()), first) ||
        !parse_decimal_header(content_range.substr(dash + 1, slash - dash - 1), last) ||
        last < first) {
        return false;
    }
    // An unknown size still bounds the length, which must fit in 64 bits.
    uint64_t total = UINT64_MAX;
    if (content_range.compare(slash + 1, std::string::npos, "*") != 0 &&
        !parse_decimal_header(content_range.substr(slash + 1), total)) {
        return false;
    }
    return last < total;
}

storage_outcome<blob_property> parse_blob_property(const header_map &headers)
{
    blob_property property;
    property.cache_control = header(headers, "Cache-Control");
    property.content_disposition = header(headers, "Content-Disposition");
    property.content_encoding = header(headers, "Content-Encoding");
    property.content_language = header(headers, "Content-Language");
    property.content_md5 = header(headers, "Content-MD5");
    property.content_type = header(headers, "Content-Type");
    property.etag = header(headers, "ETag");
    property.copy_status = header(headers, "x-ms-copy-status");

    property.last_modified = http_time(header(headers, "Last-Modified"));

    std::string length = header(headers, "Content-Length");
    if (!parse_size(length, property.size)) {
        storage_error error;
        error.kind = error_kind::parse;
        error.message = "Content-Length header is not a number: " + length;
        return storage_outcome<blob_property>(std::move(error));
    }
    property.metadata = parse_metadata(headers);
    property.valid = true;
    return storage_outcome<blob_property>(std::move(property));
}

container_property parse_container_property(const header_map &headers)
{
    container_property property;
    property.etag = header(headers, "ETag");
    property.metadata = parse_metadata(headers);
    property.valid = true;
    return property;
}

blob_version parse_blob_version(const header_map &headers)
{
    blob_version version;
    version.etag = header(headers, "ETag");
    version.last_modified = http_time(header(headers, "Last-Modified"));
    if (!content_range_total(header(headers, "Content-Range"), version.size) &&
        !parse_size(header(headers, "Content-Length"), version.size)) {
        version.size = 0;
    }
    return version;
}

} // namespace azure::blob_service
