#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace azure::blob_service
{

using metadata_list = std::vector<std::pair<std::string, std::string>>;

enum class lease_status { locked = 0, unlocked = 1 };
enum class lease_state { available = 0, leased = 1, expired = 2, breaking = 3, broken = 4 };
enum class lease_duration { none = 0, infinite = 1, fixed = 2 };

struct list_containers_item {
    std::string name;
    std::string etag;
    std::string last_modified;
    lease_status status = lease_status::unlocked;
    lease_state state = lease_state::available;
    lease_duration duration = lease_duration::none;
};

struct list_containers_segmented_response {
    std::string next_marker; // empty when the listing is complete
    std::vector<list_containers_item> containers;
};

struct list_blobs_segmented_item {
    std::string name;
    std::string etag;
    std::string last_modified;
    std::string cache_control;
    std::string content_encoding;
    std::string content_language;
    std::string content_type;
    std::string content_md5;
    uint64_t content_length = 0;
    lease_status status = lease_status::unlocked;
    lease_state state = lease_state::available;
    lease_duration duration = lease_duration::none;
    metadata_list metadata;
    bool is_directory = false; // a BlobPrefix entry
};

struct list_blobs_segmented_response {
    std::string next_marker;
    std::vector<list_blobs_segmented_item> blobs;
};

struct blob_property {
    bool valid = false;
    std::string cache_control;
    std::string content_disposition;
    std::string content_encoding;
    std::string content_language;
    std::string content_md5;
    std::string content_type;
    std::string etag;
    std::string copy_status;
    time_t last_modified = -1;
    uint64_t size = 0;
    metadata_list metadata;
};

// The identifiers of a blob's committed blocks, in order.
struct block_list_response {
    std::vector<std::string> committed;
};

// What a successful answer says about the version of the blob it read or stored.
struct blob_version {
    std::string etag; // with its quotes
    time_t last_modified = -1;
    uint64_t size = 0;       // the whole blob's; from downloads only
    std::string content_md5; // base64; of uploads that computed it
};

struct container_property {
    bool valid = false;
    std::string etag;
    metadata_list metadata;
};

} // namespace azure::blob_service
