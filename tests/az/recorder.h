// Recorders for what the AZ_ callbacks deliver, for unit and integration tests alike.
#ifndef OSTREL_TESTS_AZ_RECORDER_H
#define OSTREL_TESTS_AZ_RECORDER_H

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "az/az.h"

namespace az_itest
{

struct entry {
    std::string name;
    uint64_t size = 0;
    int64_t last_modified = 0;
    bool has_md5 = false;
    std::string md5;
    bool is_directory = false;
    std::vector<std::pair<std::string, std::string>> metadata;
    bool has_etag = false;
    std::string etag;
    bool folder_marker = false;
};

// Everything one AZ_ call reported, in order.
struct recorder {
    std::vector<entry> entries;
    std::vector<entry> versions; // version reports of the _ex calls
    int completions = 0;
    int entries_after_completion = 0;
    AZ_status status = 9999;
    std::string message, code, code_name;
    bool has_message = false, has_code = false, has_code_name = false, has_resource = false;
    std::vector<std::pair<std::string, std::string>> extra;
    std::string data;
    int chunks = 0;
    int refuse_after_chunks = -1;
    // Upload source.
    std::string upload;
    size_t upload_offset = 0;
};

inline entry entry_of(const AZ_properties *p)
{
    entry e;
    e.name = p->name;
    e.size = p->size;
    e.last_modified = p->last_modified;
    e.has_md5 = p->md5 != nullptr;
    e.md5 = p->md5 ? p->md5 : "";
    e.is_directory = p->is_directory;
    for (int32_t i = 0; i < p->metadata_count; i++) {
        e.metadata.emplace_back(p->metadata[i].name, p->metadata[i].value);
    }
    e.has_etag = p->etag != nullptr;
    e.etag = p->etag ? p->etag : "";
    e.folder_marker = p->folder_marker;
    return e;
}

// Appends to `list`; counts reports that came after the completion.
inline int record_into(std::vector<entry> recorder::*list, const AZ_properties *p, void *arg)
{
    auto *r = static_cast<recorder *>(arg);
    if (r->completions > 0) {
        r->entries_after_completion++;
    }
    (r->*list).push_back(entry_of(p));
    return 0;
}

inline int record_properties(AZ_properties *p, void *arg)
{
    return record_into(&recorder::entries, p, arg);
}

inline int record_version(AZ_properties *p, void *arg)
{
    return record_into(&recorder::versions, p, arg);
}

inline void record_complete(AZ_status status, AZ_error_details *d, void *arg)
{
    auto *r = static_cast<recorder *>(arg);
    r->completions++;
    r->status = status;
    r->has_message = d->message != nullptr;
    r->has_code = d->code != nullptr;
    r->has_code_name = d->code_name != nullptr;
    r->has_resource = d->resource != nullptr;
    r->message = d->message ? d->message : "";
    r->code = d->code ? d->code : "";
    r->code_name = d->code_name ? d->code_name : "";
    for (int32_t i = 0; i < d->extra_count; i++) {
        r->extra.emplace_back(d->extra[i].name, d->extra[i].value);
    }
}

inline int32_t record_data(int32_t count, const unsigned char *data, void *arg)
{
    auto *r = static_cast<recorder *>(arg);
    r->chunks++;
    if (r->refuse_after_chunks >= 0 && r->chunks > r->refuse_after_chunks) {
        return 0;
    }
    r->data.append(reinterpret_cast<const char *>(data), static_cast<size_t>(count));
    return count;
}

inline int32_t supply_data(int32_t max, unsigned char *buffer, void *arg)
{
    auto *r = static_cast<recorder *>(arg);
    size_t n = std::min(static_cast<size_t>(max), r->upload.size() - r->upload_offset);
    memcpy(buffer, r->upload.data() + r->upload_offset, n);
    r->upload_offset += n;
    return static_cast<int32_t>(n);
}

} // namespace az_itest

#endif
