// Recorders for what the AZ_ callbacks deliver, for unit and integration tests alike.
#ifndef OSTREL_TESTS_AZ_RECORDER_H
#define OSTREL_TESTS_AZ_RECORDER_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "az/az.h"

namespace az_itest
{

using pairs = std::vector<std::pair<std::string, std::string>>;

struct entry {
    std::string name;
    uint64_t size = 0;
    int64_t last_modified = 0;
    bool has_md5 = false;
    std::string md5;
    bool is_directory = false;
    pairs metadata;
    bool has_etag = false;
    std::string etag;
    bool folder_marker = false;
};

// Everything one AZ_ call reported, in order; a text the call left NULL stays empty. An entry
// after the completion, or a second completion, fails the test.
struct recorder {
    std::vector<entry> entries;
    std::vector<entry> versions; // version reports of the _ex calls
    int completions = 0;
    AZ_status status = 9999;
    std::optional<std::string> message, code, code_name, resource;
    pairs extra;
    std::string data; // what a download delivered
    int chunks = 0;
    int refuse_after_chunks = -1;
    std::string upload; // what an upload sends
    size_t upload_offset = 0;
};

inline std::optional<std::string> text_of(const char *text)
{
    return text ? std::optional<std::string>(text) : std::nullopt;
}

inline entry entry_of(const AZ_properties *p)
{
    entry e{
        p->name,         p->size, p->last_modified,   p->md5 != nullptr,      p->md5 ? p->md5 : "",
        p->is_directory, {},      p->etag != nullptr, p->etag ? p->etag : "", p->folder_marker};
    for (int32_t i = 0; i < p->metadata_count; i++) {
        e.metadata.emplace_back(p->metadata[i].name, p->metadata[i].value);
    }
    return e;
}

inline int record_into(std::vector<entry> recorder::*list, const AZ_properties *p, void *arg)
{
    auto *r = static_cast<recorder *>(arg);
    EXPECT_EQ(r->completions, 0) << "a report after the completion";
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
    EXPECT_EQ(r->completions++, 0) << "a second completion";
    r->status = status;
    r->message = text_of(d->message);
    r->code = text_of(d->code);
    r->code_name = text_of(d->code_name);
    r->resource = text_of(d->resource);
    for (int32_t i = 0; i < d->extra_count; i++) {
        r->extra.emplace_back(d->extra[i].name, d->extra[i].value);
    }
}

inline int32_t record_data(int32_t count, const unsigned char *data, void *arg)
{
    auto *r = static_cast<recorder *>(arg);
    if (++r->chunks > r->refuse_after_chunks && r->refuse_after_chunks >= 0) {
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
