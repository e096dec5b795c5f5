// What the connector's integration tests share: the plug-in loaded through the
// host, sessions against the emulator (or the fault proxy in front of it), a
// storage client and raw requests of the test's own to seed and to check what
// the service holds, and an MD5 that does not come from the code under test.
#ifndef OSTREL_TESTS_CONNECTOR_ITEST_SUPPORT_H
#define OSTREL_TESTS_CONNECTOR_ITEST_SUPPORT_H

#include "host/ostrel_host_runtime.h"
#include "tests/az/itest_support.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace connector_itest
{

using strings = std::vector<std::string>;

using ostrel_test::md5_hex;
using ostrel_test::pattern;

class plugin_test : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(AZ_initialize(), AZ_OK);
        module = ostrel_host::loaded_module::load("ostrel_gridftp_server_azure_blob");
        auto initialize =
            (ostrel_result_t(*)(void))module->symbol("ostrel_i_azure_base_initialize");
        ASSERT_NE(initialize, nullptr);
        ASSERT_TRUE(ostrel_host::take_error(initialize()).ok);
        dsi = module->dsi("azure_blob");
        ASSERT_NE(dsi, nullptr);
    }
    static void TearDownTestSuite() { module.reset(); }

    void SetUp() override
    {
        emu = ostrel_test::emulator_from_env();
        seed = az_itest::make_client(emu);
    }

    std::string config(const ostrel_test::emulator &target, bool adls = false)
    {
        return "{\"account\": \"" + target.account_text + "\", \"ca_file\": \"" + target.ca_file +
               "\", \"adls\": " + (adls ? "true" : "false") + ", \"retry_max_delay_ms\": 10}";
    }

    // A session, not yet started, whose host has exactly these documents.
    std::unique_ptr<ostrel_host::session>
    session_with(const std::map<std::string, std::string> &documents,
                 const std::function<void(ostrel_host::session_options &)> &tune = {})
    {
        ostrel_host::session_options options;
        options.documents = [this, documents](const std::string &key) {
            std::lock_guard<std::mutex> guard(asked_lock);
            asked[key]++;
            auto it = documents.find(key);
            return it == documents.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
        if (tune)
            tune(options);
        return std::make_unique<ostrel_host::session>(dsi, options);
    }

    // A started session against target (the emulator unless a proxy is given); `tune`
    // adjusts the host's options.
    std::unique_ptr<ostrel_host::session>
    open(const ostrel_test::emulator &target, bool adls = false,
         const std::function<void(ostrel_host::session_options &)> &tune = {})
    {
        auto session = session_with(
            {{"config", config(target, adls)}, {"creds", ostrel_test::mint_creds(3600)}}, tune);
        ostrel_host::error_info started = session->start();
        EXPECT_TRUE(started.ok) << started.text;
        return session;
    }
    std::unique_ptr<ostrel_host::session> open() { return open(emu); }

    static ostrel_host::command_result command(ostrel_host::session &session, int number,
                                               const std::string &path, const char *alg = "md5",
                                               int64_t offset = 0, int64_t length = -1)
    {
        ostrel_gfs_command_info_t info = {};
        info.command = number;
        info.pathname = (char *)path.c_str();
        info.cksm_alg = (char *)alg;
        info.cksm_offset = offset;
        info.cksm_length = length;
        return session.command(info);
    }

    std::string new_container(const std::string &prefix)
    {
        std::string name = ostrel_test::unique_name(prefix);
        az_itest::create_container(seed.get(), name);
        return name;
    }

    // A request of the test's own, straight to the emulator: the path (after
    // the account) goes out as written, dot segments included. The status, or
    // -1 when no answer came.
    long raw(const std::string &method, const std::string &path,
             std::vector<std::string> headers = {}, const std::string &body = "")
    {
        std::string url = "https://" + emu.endpoint + path;
        headers.push_back("Authorization: Bearer " + ostrel_test::mint_token(3600));
        headers.push_back("x-ms-version: 2021-08-06");
        headers.push_back("Content-Length: " + std::to_string(body.size()));
        curl_slist *list = nullptr;
        for (const std::string &header : headers)
            list = curl_slist_append(list, header.c_str());
        CURL *curl = curl_easy_init();
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
        curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
        curl_easy_setopt(curl, CURLOPT_CAINFO, emu.ca_file.c_str());
        if (!body.empty()) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, (long)body.size());
        }
        curl_easy_setopt(
            curl, CURLOPT_WRITEFUNCTION,
            +[](char *, size_t size, size_t count, void *) { return size * count; });
        long status = -1;
        if (curl_easy_perform(curl) == CURLE_OK)
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_slist_free_all(list);
        curl_easy_cleanup(curl);
        return status;
    }

    static size_t count(ostrel_test::fault_proxy &proxy, const std::string &method)
    {
        return az_itest::requests_matching(proxy, method, "").size();
    }

    // Last-modified times have whole seconds: a digest taken from now on is known to be
    // younger than the blob.
    static void next_second() { std::this_thread::sleep_for(std::chrono::milliseconds(1100)); }

    bool exists(const std::string &container, const std::string &key)
    {
        return az_itest::head_blob(seed.get(), container, key).status == AZ_OK;
    }

    // The blob service keeps a Content-MD5 of whatever one Put Blob stored;
    // clearing it leaves the connector nothing but the data to go by.
    void clear_content_md5(const std::string &container, const std::string &key)
    {
        ASSERT_EQ(raw("PUT", "/" + container + "/" + key + "?comp=properties"), 200);
    }

    // A stat that is expected to succeed.
    static ostrel_host::stat_result stat_ok(ostrel_host::session &session, const std::string &path,
                                            bool file_only)
    {
        ostrel_host::stat_result result = session.stat(path, file_only);
        EXPECT_TRUE(result.error.ok) << path << ": " << result.error.text;
        return result;
    }

    static strings names(const ostrel_host::stat_result &result)
    {
        strings out;
        for (const ostrel_gfs_stat_t &entry : result.entries)
            out.push_back(entry.name ? entry.name : "<null>");
        return out;
    }

    // A listing's names, "." first and the rest sorted: the emulator and the
    // service order prefixes and blobs differently.
    static strings ls(ostrel_host::session &session, const std::string &path)
    {
        strings listed = names(stat_ok(session, path, false));
        std::sort(listed.begin() + (listed.empty() ? 0 : 1), listed.end());
        return listed;
    }

    static const ostrel_gfs_stat_t *entry_named(const ostrel_host::stat_result &result,
                                                const std::string &name)
    {
        for (const ostrel_gfs_stat_t &entry : result.entries)
            if (entry.name && name == entry.name)
                return &entry;
        return nullptr;
    }

    static int hash(const std::string &text)
    {
        return ostrel_hashtable_string_hash((void *)text.c_str(), 0x7fffffff);
    }

    static inline std::unique_ptr<ostrel_host::loaded_module> module;
    static inline const ostrel_gfs_storage_iface_t *dsi = nullptr;
    ostrel_test::emulator emu;
    az_itest::client_ptr seed;
    std::map<std::string, int> asked; // how often the host was asked for each document
    std::mutex asked_lock;
};

} // namespace connector_itest

#endif
