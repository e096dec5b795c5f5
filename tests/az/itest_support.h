// What the storage layer's integration tests share: a client on an emulator or proxy, and
// recorders for what the AZ_ callbacks deliver.
#ifndef OSTREL_TESTS_AZ_ITEST_SUPPORT_H
#define OSTREL_TESTS_AZ_ITEST_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "az/az.h"
#include "test_support.h"

namespace az_itest
{

struct client_deleter {
    void operator()(AZ_client *c) const { AZ_destroy_client(c); }
};
using client_ptr = std::unique_ptr<AZ_client, client_deleter>;

inline client_ptr make_client(const ostrel_test::emulator &emu, bool adls = false,
                              AZ_token_refresh_callback refresh = nullptr, void *arg = nullptr)
{
    AZ_client_options options = {emu.ca_file.c_str()};
    AZ_client *client = nullptr;
    AZ_status status =
        AZ_init_client_with_options(emu.account_text.c_str(), ostrel_test::mint_token().c_str(),
                                    adls, refresh, arg, &options, &client);
    EXPECT_EQ(status, AZ_OK);
    return client_ptr(client);
}

struct entry {
    std::string name;
    uint64_t size = 0;
    int64_t last_modified = 0;
    bool has_md5 = false;
    std::string md5;
    bool is_directory = false;
    std::vector<std::pair<std::string, std::string>> metadata;
};

// Everything one AZ_ call reported, in order.
struct recorder {
    std::vector<entry> entries;
    int completions = 0;
    int entries_after_completion = 0;
    AZ_status status = 9999;
    std::string message, code, code_name;
    bool has_message = false, has_code = false, has_code_name = false;
    std::vector<std::pair<std::string, std::string>> extra;
    std::string data;
    int chunks = 0;
    int refuse_after_chunks = -1;
    // Upload source.
    std::string upload;
    size_t upload_offset = 0;
};

inline int record_properties(AZ_properties *p, void *arg)
{
    auto *r = static_cast<recorder *>(arg);
    if (r->completions > 0) {
        r->entries_after_completion++;
    }
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
    r->entries.push_back(e);
    return 0;
}

inline void record_complete(AZ_status status, AZ_error_details *d, void *arg)
{
    auto *r = static_cast<recorder *>(arg);
    r->completions++;
    r->status = status;
    r->has_message = d->message != nullptr;
    r->has_code = d->code != nullptr;
    r->has_code_name = d->code_name != nullptr;
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

inline recorder create_container(AZ_client *c, const std::string &name)
{
    recorder r;
    AZ_create_container(c, name.c_str(), record_complete, &r);
    EXPECT_EQ(r.status, AZ_OK) << r.message;
    return r;
}

inline recorder put_text(AZ_client *c, const std::string &container, const std::string &key,
                         const std::string &text,
                         std::vector<std::pair<std::string, std::string>> metadata = {})
{
    std::vector<AZ_name_value> pairs;
    for (const auto &m : metadata) {
        pairs.push_back({m.first.c_str(), m.second.c_str()});
    }
    AZ_put_options options = {nullptr, static_cast<int32_t>(pairs.size()), pairs.data()};
    recorder r;
    r.upload = text;
    AZ_put_blob(c, container.c_str(), key.c_str(), text.size(), &options, supply_data,
                record_complete, &r);
    EXPECT_EQ(r.status, AZ_OK) << key << ": " << r.message;
    EXPECT_EQ(r.completions, 1);
    return r;
}

inline recorder head_blob(AZ_client *c, const std::string &container, const std::string &key)
{
    recorder r;
    AZ_head_blob(c, container.c_str(), key.c_str(), record_properties, record_complete, &r);
    EXPECT_EQ(r.completions, 1);
    return r;
}

inline recorder get_blob(AZ_client *c, const std::string &container, const std::string &key,
                         uint64_t offset = 0, uint64_t size = 0)
{
    recorder r;
    AZ_get_blob(c, container.c_str(), key.c_str(), offset, size, record_data, record_complete, &r);
    EXPECT_EQ(r.completions, 1);
    return r;
}

inline recorder list_blobs(AZ_client *c, const std::string &container, const std::string &prefix)
{
    recorder r;
    AZ_list_blobs(c, container.c_str(), prefix.c_str(), record_properties, record_complete, &r);
    EXPECT_EQ(r.completions, 1);
    EXPECT_EQ(r.entries_after_completion, 0);
    return r;
}

// Requests of the proxy's log whose method matches and whose target contains `part`.
inline std::vector<ostrel_test::recorded_request> requests_matching(ostrel_test::fault_proxy &proxy,
                                                                    const std::string &method,
                                                                    const std::string &part)
{
    std::vector<ostrel_test::recorded_request> out;
    for (auto &r : proxy.requests()) {
        if (r.method == method && r.target.find(part) != std::string::npos) {
            out.push_back(r);
        }
    }
    return out;
}

inline std::string header_value(const ostrel_test::recorded_request &r, const std::string &name)
{
    for (const auto &h : r.headers) {
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) {
            return h.second;
        }
    }
    return {};
}

} // namespace az_itest

#endif
