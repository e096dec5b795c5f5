#include "az/blob_options.h"

#include <stdexcept>
#include <string>

#include "az/md5_text.h"
#include "az/properties.h"

namespace ostrel_az
{

azure::blob_service::access_conditions conditions_of(const AZ_blob_options *options, bool upload)
{
    azure::blob_service::access_conditions conditions;
    if (options == nullptr) {
        return conditions;
    }
    if (options->if_match != nullptr) {
        conditions.if_match = options->if_match;
        // A line break would end the header and start another of the caller's making.
        for (unsigned char c : conditions.if_match) {
            if (c < 0x20 || c == 0x7f) {
                throw std::invalid_argument("if_match holds a control character");
            }
        }
    }
    if (options->if_none_match) {
        if (!upload) {
            throw std::invalid_argument("if_none_match applies to uploads only");
        }
        conditions.if_none_match = "*";
    }
    return conditions;
}

void check_version_read(const AZ_blob_options *options,
                        const azure::blob_service::blob_version &version, az_result &result)
{
    if (options == nullptr || options->if_match == nullptr || version.etag.empty() ||
        version.etag == options->if_match) {
        return;
    }
    result.set_local(AZ_ErrorPreconditionFailed, "asked for version " +
                                                     std::string(options->if_match) +
                                                     ", the answer was of " + version.etag);
}

void report_version(const AZ_blob_options *options, const char *key,
                    const azure::blob_service::blob_version &version, void *arg)
{
    if (options == nullptr || options->version == nullptr) {
        return;
    }
    properties_record record(key);
    record.set_file(version.size, static_cast<int64_t>(version.last_modified),
                    AZ_md5_hex(version.content_md5), {});
    record.set_blob(version.etag, false);
    record.report(options->version, arg);
}

} // namespace ostrel_az
