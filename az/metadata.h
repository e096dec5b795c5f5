/*
 * The two metadata rules of this layer: a folder marker makes a blob a directory, and only
 * "ostrel_modtime" is handed on to callers.
 */
#ifndef OSTREL_AZ_METADATA_H
#define OSTREL_AZ_METADATA_H

#include <string>

#include "blob_service/responses.h"

namespace ostrel_az
{

struct blob_metadata_scan {
    bool folder_marker = false;
    bool has_modtime = false;
    std::string modtime;
};

// Walks the pairs in the service's order; a folder marker ends the walk and discards a
// modification time taken before it.
blob_metadata_scan scan_metadata(const azure::blob_service::metadata_list &metadata);

} // namespace ostrel_az

#endif
