// What the storage layer's integration tests share: a client on an emulator or proxy, and
// calls that record what the AZ_ callbacks deliver.
#ifndef OSTREL_TESTS_AZ_ITEST_SUPPORT_H
#define OSTREL_TESTS_AZ_ITEST_SUPPORT_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "az/az.h"
#include "recorder.h"
#include "test_support.h"

namespace az_itest
{

struct client_deleter {
    void operator()(AZ_client *c) const { AZ_destroy_client(c); }
};
using client_ptr = std::unique_ptr<AZ_client, client_deleter>;

// `options` give the upload tuning; the CA and the repeats' wait are set here.
inline client_ptr make_client(const ostrel_test::emulator &emu, bool adls = false,
                              AZ_token_refresh_callback refresh = nullptr, void *arg = nullptr,
                              const std::string &token = ostrel_test::mint_token(),
                              AZ_client_options options = {})
{
    // Repeats wait a few milliseconds, so that tests of faults stay quick.
    options.ca_file = emu.ca_file.c_str();
    options.retry_max_delay_ms = 10;
    AZ_client *client = nullptr;
    EXPECT_EQ(AZ_init_client_with_options(emu.account_text.c_str(), token.c_str(), adls, refresh,
                                          arg, &options, &client),
              AZ_OK);
    return client_ptr(client);
}

inline recorder create_container(AZ_client *c, const std::string &name)
{
    recorder r;
    AZ_create_container(c, name.c_str(), record_complete, &r);
    EXPECT_EQ(r.status, AZ_OK) << r.message.value_or("");
    return r;
}

// A client on the emulator and a container of each test's own.
class container_test : public ::testing::Test
{
  protected:
    void SetUp() override { create_container(client.get(), container); }

    ostrel_test::emulator emu = ostrel_test::emulator_from_env();
    client_ptr client = make_client(emu);
    std::string container = ostrel_test::unique_name("test");
};

// Versions go to recorder::versions when `blob_options` names no callback of its own.
inline recorder put_text_ex(AZ_client *c, const std::string &container, const std::string &key,
                            const std::string &text, AZ_blob_options blob_options,
                            const pairs &metadata = {})
{
    std::vector<AZ_name_value> meta;
    for (const auto &m : metadata) {
        meta.push_back({m.first.c_str(), m.second.c_str()});
    }
    AZ_put_options options = {nullptr, static_cast<int32_t>(meta.size()), meta.data()};
    if (blob_options.version == nullptr) {
        blob_options.version = record_version;
    }
    recorder r;
    r.upload = text;
    AZ_put_blob_ex(c, container.c_str(), key.c_str(), text.size(), &options, &blob_options,
                   supply_data, record_complete, &r);
    return r;
}

inline recorder put_text(AZ_client *c, const std::string &container, const std::string &key,
                         const std::string &text, const pairs &metadata = {})
{
    recorder r = put_text_ex(c, container, key, text, {}, metadata);
    EXPECT_EQ(r.status, AZ_OK) << key << ": " << r.message.value_or("");
    return r;
}

inline recorder head_blob(AZ_client *c, const std::string &container, const std::string &key)
{
    recorder r;
    AZ_head_blob(c, container.c_str(), key.c_str(), record_properties, record_complete, &r);
    return r;
}

// The one entry a HEAD of `key` reported (an empty entry, and a failure, otherwise).
inline entry head_entry(AZ_client *c, const std::string &container, const std::string &key)
{
    recorder r = head_blob(c, container, key);
    EXPECT_EQ(r.entries.size(), 1u) << key << ": " << r.message.value_or("");
    return r.entries.empty() ? entry{} : r.entries[0];
}

inline recorder get_blob(AZ_client *c, const std::string &container, const std::string &key,
                         uint64_t offset = 0, uint64_t size = 0, const char *if_match = nullptr)
{
    AZ_blob_options options = {if_match, false, record_version};
    recorder r;
    AZ_get_blob_ex(c, container.c_str(), key.c_str(), offset, size, &options, record_data,
                   record_complete, &r);
    return r;
}

inline recorder delete_blob(AZ_client *c, const std::string &container, const std::string &key,
                            const AZ_blob_options *options = nullptr)
{
    recorder r;
    AZ_delete_blob_ex(c, container.c_str(), key.c_str(), options, record_complete, &r);
    return r;
}

inline recorder list_blobs(AZ_client *c, const std::string &container, const std::string &prefix)
{
    recorder r;
    AZ_list_blobs(c, container.c_str(), prefix.c_str(), record_properties, record_complete, &r);
    return r;
}

// A directory record carries its name and kind and nothing else.
inline void expect_directory(const entry &e, const std::string &name)
{
    EXPECT_EQ(e.name, name);
    EXPECT_TRUE(e.is_directory) << name;
    EXPECT_EQ(e.size, 0u) << name;
    EXPECT_EQ(e.last_modified, -1) << name;
    EXPECT_FALSE(e.has_md5) << name;
    EXPECT_TRUE(e.metadata.empty()) << name;
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

} // namespace az_itest

#endif
