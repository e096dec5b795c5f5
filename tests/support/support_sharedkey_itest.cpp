// The plain-HTTP shared-key emulator (a fixture name ending in "_sharedkey"):
// its env file, its development key, and the proxy in plain-HTTP mode.
#include "test_support.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <ctime>
#include <string>
#include <vector>

namespace
{

std::string base64(const unsigned char *data, size_t size)
{
    std::vector<unsigned char> out(4 * ((size + 2) / 3) + 1);
    int n = EVP_EncodeBlock(out.data(), data, static_cast<int>(size));
    return std::string(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n));
}

std::string unbase64(const std::string &text)
{
    std::vector<unsigned char> out(text.size());
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char *>(text.data()),
                            static_cast<int>(text.size()));
    size_t pad = text.size() - text.find_last_not_of('=') - 1;
    return std::string(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n) - pad);
}

// List Containers signed with the account key; returns the HTTP status (0: no answer).
long list_containers(const ostrel_test::emulator &e, const std::string &key_base64)
{
    char date[64];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(date, sizeof(date), "%a, %d %b %Y %H:%M:%S GMT", &tm);

    // Verb, eleven empty standard headers, canonical x-ms- headers, canonical resource.
    std::string to_sign = "GET\n\n\n\n\n\n\n\n\n\n\n\nx-ms-date:" + std::string(date) +
                          "\nx-ms-version:2018-11-09\n/" + e.account + "/" + e.account +
                          "/\ncomp:list";
    std::string key = unbase64(key_base64);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int mac_len = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char *>(to_sign.data()), to_sign.size(), mac, &mac_len);

    CURL *h = curl_easy_init();
    curl_slist *headers = nullptr;
    headers = curl_slist_append(headers, ("x-ms-date: " + std::string(date)).c_str());
    headers = curl_slist_append(headers, "x-ms-version: 2018-11-09");
    headers = curl_slist_append(
        headers, ("Authorization: SharedKey " + e.account + ":" + base64(mac, mac_len)).c_str());
    std::string url = "http://" + e.endpoint + "/?comp=list";
    std::string body;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(
        h, CURLOPT_WRITEFUNCTION, +[](char *d, size_t s, size_t n, void *u) -> size_t {
            static_cast<std::string *>(u)->append(d, s * n);
            return s * n;
        });
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    long status = 0;
    if (curl_easy_perform(h) == CURLE_OK) {
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
    return status;
}

class support_sharedkey : public ::testing::Test
{
  protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    static void TearDownTestSuite() { curl_global_cleanup(); }
};

TEST_F(support_sharedkey, env_describes_a_plain_http_instance_with_the_development_key)
{
    auto e = ostrel_test::emulator_from_env();
    EXPECT_FALSE(e.oauth);
    EXPECT_FALSE(e.use_https);
    EXPECT_TRUE(e.ca_file.empty());
    EXPECT_EQ("devstoreaccount1", e.account);
    ASSERT_FALSE(e.account_key.empty());

    EXPECT_EQ(200, list_containers(e, e.account_key));
    std::string wrong = e.account_key;
    wrong[0] = wrong[0] == 'A' ? 'B' : 'A';
    EXPECT_EQ(403, list_containers(e, wrong));
}

TEST_F(support_sharedkey, proxy_forwards_over_plain_http)
{
    auto e = ostrel_test::emulator_from_env();
    ostrel_test::fault_proxy proxy(e);
    EXPECT_EQ(200, list_containers(proxy.endpoint(), e.account_key));
    proxy.add_rule(R"({"times":1,"respond":{"status":500}})");
    EXPECT_EQ(500, list_containers(proxy.endpoint(), e.account_key));

    auto log = proxy.requests();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ("/devstoreaccount1/?comp=list", log[0].target);
    ASSERT_EQ(3u + 2u, log[0].headers.size()); // Host, Accept and ours
    EXPECT_EQ("Authorization", log[0].headers[4].first);
}

} // namespace
