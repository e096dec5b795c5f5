#include <cstdint>
#include <istream>
#include <string>

#include "az/blob_options.h"
#include "az/call.h"
#include "az/client.h"
#include "az/md5_text.h"
#include "az/metadata.h"
#include "az/properties.h"
#include "az/streams.h"

using ostrel_az::az_result;
using ostrel_az::require;
using ostrel_az::require_name;

void AZ_get_blob(AZ_client *client, const char *container, const char *key, uint64_t offset,
                 uint64_t size, AZ_get_data_callback data, AZ_complete_callback complete, void *arg)
{
    AZ_get_blob_ex(client, container, key, offset, size, nullptr, data, complete, arg);
}

void AZ_get_blob_ex(AZ_client *client, const char *container, const char *key, uint64_t offset,
                    uint64_t size, const AZ_blob_options *options, AZ_get_data_callback data,
                    AZ_complete_callback complete, void *arg)
{
    ostrel_az::run_operation(complete, arg, [&](az_result &result) {
        require(client, "client");
        require_name(container, "container");
        require_name(key, "key");
        require(reinterpret_cast<const void *>(data), "data callback");
        // A range past the largest offset can only mean "to the end"; its last byte would wrap.
        if (size > UINT64_MAX - offset) {
            size = 0;
        }
        auto conditions = ostrel_az::conditions_of(options, false);
        ostrel_az::stream_callback sink(data, arg);
        std::ostream os(&sink);
        azure::blob_service::blob_version version;
        auto outcome =
            client->blob
                ->download_blob_to_stream(container, key, offset, size, os, conditions, &version)
                .get();
        // A refusing callback is why the transfer stopped, whatever the exchange reports.
        if (sink.refused()) {
            result.set_local(AZ_AbortedByCallback, "the data callback did not accept the data");
            return;
        }
        if (!result.take_outcome(outcome)) {
            return;
        }
        ostrel_az::check_version_read(options, version, result);
        if (result.ok()) {
            ostrel_az::report_version(options, key, version, arg);
        }
    });
}

void AZ_head_blob(AZ_client *client, const char *container, const char *key,
                  AZ_properties_callback properties, AZ_complete_callback complete, void *arg)
{
    ostrel_az::run_operation(complete, arg, [&](az_result &result) {
        require(client, "client");
        require_name(container, "container");
        require_name(key, "key");
        auto outcome = client->blob->get_blob_properties(container, key).get();
        if (!result.take_outcome(outcome)) {
            return;
        }
        const auto &blob = outcome.response();
        std::string name(key);
        ostrel_az::properties_record record(name);
        auto scan = ostrel_az::scan_metadata(blob.metadata);
        bool slash = !name.empty() && name.back() == '/';
        if (!slash && !scan.folder_marker) {
            record.set_file(blob.size, static_cast<int64_t>(blob.last_modified),
                            AZ_md5_hex(blob.content_md5), scan);
        }
        record.set_blob(blob.etag, scan.folder_marker);
        record.report(properties, arg);
    });
}

void AZ_delete_blob(AZ_client *client, const char *container, const char *key,
                    AZ_complete_callback complete, void *arg)
{
    AZ_delete_blob_ex(client, container, key, nullptr, complete, arg);
}

void AZ_delete_blob_ex(AZ_client *client, const char *container, const char *key,
                       const AZ_blob_options *options, AZ_complete_callback complete, void *arg)
{
    ostrel_az::run_operation(complete, arg, [&](az_result &result) {
        require(client, "client");
        require_name(container, "container");
        require_name(key, "key");
        auto conditions = ostrel_az::conditions_of(options, false);
        // The account sends this to the data-lake endpoint when the session has adls set.
        auto outcome = client->blob->delete_blob(container, key, false, conditions).get();
        result.take_outcome(outcome);
    });
}
