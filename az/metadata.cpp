#include "az/metadata.h"

#include <strings.h>

namespace ostrel_az
{

blob_metadata_scan scan_metadata(const azure::blob_service::metadata_list &metadata)
{
    blob_metadata_scan scan;
    for (const auto &pair : metadata) {
        // Data-lake tools write the marker in any case.
        if (strcasecmp(pair.first.c_str(), "hdi_isfolder") == 0 &&
            strcasecmp(pair.second.c_str(), "true") == 0) {
            scan = blob_metadata_scan();
            scan.folder_marker = true;
            return scan;
        }
        if (!scan.has_modtime && pair.first == "ostrel_modtime") {
            scan.has_modtime = true;
            scan.modtime = pair.second;
        }
    }
    return scan;
}

} // namespace ostrel_az
