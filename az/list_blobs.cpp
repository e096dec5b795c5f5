#include <string>
#include <unordered_set>

#include <curl/curl.h>

#include "az/call.h"
#include "az/client.h"
#include "az/md5_text.h"
#include "az/metadata.h"
#include "az/pages.h"
#include "az/properties.h"

namespace bs = azure::blob_service;
using ostrel_az::az_result;
using ostrel_az::require;
using ostrel_az::require_name;

constexpr int ostrel_l_az_blobs_per_page = 10000;

// With adls clear a directory can show up twice on a page, as a folder-marker blob and as a
// prefix; the first one reported stands for both. Returns whether `name` is new on the page.
static bool ostrel_l_az_list_blobs_first_directory(std::unordered_set<std::string> &seen,
                                                   const std::string &name)
{
    std::string directory = name;
    if (!directory.empty() && directory.back() == '/') {
        directory.pop_back();
    }
    return seen.insert(std::move(directory)).second;
}

static void ostrel_l_az_list_blobs_page(const AZ_client &client,
                                        const bs::list_blobs_segmented_response &page,
                                        AZ_properties_callback properties, void *arg)
{
    std::unordered_set<std::string> seen;
    for (const auto &item : page.blobs) {
        ostrel_az::properties_record record(item.name);
        bool directory = item.is_directory;
        ostrel_az::blob_metadata_scan scan;
        if (!directory) {
            scan = ostrel_az::scan_metadata(item.metadata);
            directory = scan.folder_marker;
            record.set_blob(item.etag, scan.folder_marker);
        }
        if (directory) {
            if (client.adls || ostrel_l_az_list_blobs_first_directory(seen, item.name)) {
                record.report(properties, arg);
            }
            continue;
        }
        time_t modified = curl_getdate(item.last_modified.c_str(), nullptr);
        record.set_file(item.content_length, static_cast<int64_t>(modified),
                        AZ_md5_hex(item.content_md5), scan);
        record.report(properties, arg);
    }
}

void AZ_list_blobs(AZ_client *client, const char *container, const char *prefix,
                   AZ_properties_callback properties, AZ_complete_callback complete, void *arg)
{
    ostrel_az::run_operation(complete, arg, [&](az_result &result) {
        require(client, "client");
        require_name(container, "container");
        require_name(prefix, "prefix");
        ostrel_az::for_each_page(
            result,
            [&](const std::string &marker) {
                return client->blob->list_blobs_segmented(container, "/", marker, prefix,
                                                          ostrel_l_az_blobs_per_page);
            },
            [&](const bs::list_blobs_segmented_response &page) {
                ostrel_l_az_list_blobs_page(*client, page, properties, arg);
            });
    });
}
