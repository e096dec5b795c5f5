// Listing pages of containers and blobs, block lists, and error bodies (any answer of a failed
// request, whoever sent it).
#include "blob_service/xml_parser.h"
#include "tests/fuzz/fuzz.h"

#include <cstring>

namespace bs = azure::blob_service;

void fuzz_one(const std::string &xml, const uint8_t *data, size_t size)
{
    static const bs::tinyxml2_parser parser;

    bs::storage_error error = parser.parse_storage_error(xml);
    // The executor owns the status code and the kind.
    FUZZ_CHECK(error.code.empty() && error.kind == bs::storage_error().kind);
    // Code and Message have fields of their own; details carry the rest.
    for (const auto &[name, value] : error.details) {
        FUZZ_CHECK(name != "Code" && name != "Message" && !name.empty());
    }
    if (!error.code_name.empty() || !error.message.empty()) {
        FUZZ_CHECK(memmem(data, size, "Error", 5) != nullptr);
    }

    auto blobs = parser.parse_list_blobs_segmented_response(xml);
    auto containers = parser.parse_list_containers_segmented_response(xml);
    auto blocks = parser.parse_block_list_response(xml);
    FUZZ_CHECK(blobs.success() || blobs.error().kind == bs::error_kind::parse);
    FUZZ_CHECK(containers.success() || containers.error().kind == bs::error_kind::parse);
    FUZZ_CHECK(blocks.success() || blocks.error().kind == bs::error_kind::parse);
    // Both listings share one frame; only a blob's length can fail on its own.
    FUZZ_CHECK(containers.success() || !blobs.success());
    if (!blobs.success()) {
        return;
    }
    FUZZ_CHECK(blobs.response().next_marker == containers.response().next_marker);
    bool seen_prefix = false;
    for (const auto &item : blobs.response().blobs) {
        // A page's blobs come before its prefixes, and a prefix has nothing but a name.
        FUZZ_CHECK(item.is_directory || !seen_prefix);
        seen_prefix = seen_prefix || item.is_directory;
        if (item.is_directory) {
            FUZZ_CHECK(item.content_length == 0 && item.etag.empty() && item.metadata.empty());
        }
    }
}
