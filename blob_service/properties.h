#pragma once

#include "blob_service/http_base.h"
#include "blob_service/responses.h"
#include "blob_service/storage_outcome.h"

namespace azure::blob_service
{

// Blob properties from the headers of a successful HEAD answer. A Content-Length that is not
// a number is a failure of kind parse (code left for the caller to fill).
storage_outcome<blob_property> parse_blob_property(const header_map &headers);

container_property parse_container_property(const header_map &headers);

// The version an answer read or stored: its ETag, Last-Modified and, for a read, the whole
// blob's size (the SIZE of "Content-Range: bytes A-B/SIZE", else Content-Length).
blob_version parse_blob_version(const header_map &headers);

// A header number as HTTP writes it: decimal digits only, within 64 bits.
bool parse_decimal_header(const std::string &text, uint64_t &value);

// The SIZE of a Content-Range "bytes A-B/SIZE" or "bytes */SIZE"; false when it has none.
bool content_range_total(const std::string &content_range, uint64_t &total);

// The A and B of a Content-Range "bytes A-B/SIZE" (SIZE may be "*"); false unless
// A <= B < SIZE, so that B - A + 1 is the length of the body that follows.
bool content_range_span(const std::string &content_range, uint64_t &first, uint64_t &last);

} // namespace azure::blob_service
