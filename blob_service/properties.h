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

} // namespace azure::blob_service
