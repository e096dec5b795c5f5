/*
 * The conditions and version reports of the AZ_ blob calls that take AZ_blob_options.
 */
#ifndef OSTREL_AZ_BLOB_OPTIONS_H
#define OSTREL_AZ_BLOB_OPTIONS_H

#include <cstdint>

#include "az/az.h"
#include "az/status.h"
#include "blob_service/request_base.h"
#include "blob_service/responses.h"

namespace ostrel_az
{

// What `options` asks the service to check. Only uploads may ask that no blob has the key;
// other calls refuse it as a caller error rather than send a condition they cannot mean.
azure::blob_service::access_conditions conditions_of(const AZ_blob_options *options, bool upload);

// A service (or something in between) that ignores If-Match may answer with another
// version; that read fails here rather than pass for the one asked for.
void check_version_read(const AZ_blob_options *options,
                        const azure::blob_service::blob_version &version, az_result &result);

// Calls the options' version callback, if any, with the version a call read or stored.
void report_version(const AZ_blob_options *options, const char *key,
                    const azure::blob_service::blob_version &version, void *arg);

} // namespace ostrel_az

#endif
