#include "blob_service/credential.h"
#include "blob_service/encoding.h"
#include "blob_service/request_base.h"

#include <thread>

#include <gtest/gtest.h>

#include "recording_http.h"

namespace bs = azure::blob_service;

namespace
{

const char dev_key[] =
    "Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw==";
const char date[] = "Sun, 06 Nov 1994 08:49:37 GMT";

class no_request final : public bs::storage_request_base
{
  public:
    void build_request(const bs::storage_account &, bs::http_base &) const override {}
};

// Expected signatures computed outside this code:
//   printf '%s' "$STRING_TO_SIGN" | openssl dgst -sha256 -mac HMAC
//       -macopt hexkey:$(echo $KEY | base64 -d | xxd -p -c 256) -binary | base64
TEST(shared_key_credential, list_request_string_to_sign_and_signature)
{
    bs::shared_key_credential credential("devstoreaccount1", std::string(dev_key));
    bs::storage_url url("https://devstoreaccount1.blob.core.windows.net");
    url.append_path("cont").append_path("a b+c");
    url.add_query("restype", "container").add_query("comp", "list");
    bs::storage_headers headers;
    headers.ms_headers = {
        {"x-ms-version", "2018-11-09"}, {"x-ms-date", date}, {"X-Ms-Meta-Name", "v"}};

    EXPECT_EQ(credential.string_to_sign(bs::http_method::get, url, headers),
              "GET\n\n\n\n\n\n\n\n\n\n\n\n"
              "x-ms-date:Sun, 06 Nov 1994 08:49:37 GMT\n"
              "x-ms-meta-name:v\n"
              "x-ms-version:2018-11-09\n"
              "/devstoreaccount1/cont/a%20b%2Bc\ncomp:list\nrestype:container");

    ostrel_test::recording_http http;
    http.set_method(bs::http_method::get);
    credential.sign_request(no_request(), http, url, headers);
    EXPECT_EQ(http.header("Authorization"),
              "SharedKey devstoreaccount1:U/Kx2Y6TNfWXTK4A4pDe2L5rZnSTwW1g0y0ESIBxRBU=");
}

// An endpoint with a base path (the emulator's path-style account) signs that path too.
TEST(shared_key_credential, put_request_places_length_and_condition_lines)
{
    bs::shared_key_credential credential("devstoreaccount1", bs::from_base64(dev_key));
    bs::storage_url url("http://127.0.0.1:10000/devstoreaccount1");
    url.append_path("c").append_path("d/e.txt");
    bs::storage_headers headers;
    headers.content_length = "11";
    headers.if_match = "\"0x8D\"";
    headers.ms_headers = {
        {"x-ms-version", "2018-11-09"}, {"x-ms-date", date}, {"x-ms-blob-type", "BlockBlob"}};

    EXPECT_EQ(credential.string_to_sign(bs::http_method::put, url, headers),
              "PUT\n\n\n11\n\n\n\n\n\"0x8D\"\n\n\n\n"
              "x-ms-blob-type:BlockBlob\n"
              "x-ms-date:Sun, 06 Nov 1994 08:49:37 GMT\n"
              "x-ms-version:2018-11-09\n"
              "/devstoreaccount1/devstoreaccount1/c/d/e.txt");
    ostrel_test::recording_http http;
    http.set_method(bs::http_method::put);
    credential.sign_request(no_request(), http, url, headers);
    EXPECT_EQ(http.header("Authorization"),
              "SharedKey devstoreaccount1:8avLso5aengenUHtWNvvoMWfcF2TD8quPF4krsxFaYQ=");
}

TEST(shared_key_credential, no_ms_headers_means_resource_follows_fixed_lines)
{
    bs::shared_key_credential credential("a", std::vector<uint8_t>{1, 2, 3});
    bs::storage_url url("https://a.blob.core.windows.net");
    url.append_path("c");
    EXPECT_EQ(credential.string_to_sign(bs::http_method::del, url, {}),
              "DELETE\n\n\n\n\n\n\n\n\n\n\n\n/a/c");
}

TEST(shared_key_credential, malformed_key_throws)
{
    EXPECT_THROW(bs::shared_key_credential("a", std::string("abc")), std::runtime_error);
}

TEST(token_credential, replaced_token_is_used_and_never_torn)
{
    bs::token_credential credential("first-token");
    ostrel_test::recording_http before;
    credential.sign_request(no_request(), before, {}, {});
    EXPECT_EQ(before.header("Authorization"), "Bearer first-token");

    const std::string a(4096, 'a'), b(4096, 'b');
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            credential.set_token(i % 2 ? a : b);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        ostrel_test::recording_http http;
        credential.sign_request(no_request(), http, {}, {});
        std::string value = http.header("Authorization");
        ASSERT_TRUE(value == "Bearer first-token" || value == "Bearer " + a ||
                    value == "Bearer " + b);
    }
    writer.join();
    credential.set_token("second");
    ostrel_test::recording_http after;
    credential.sign_request(no_request(), after, {}, {});
    EXPECT_EQ(after.header("Authorization"), "Bearer second");
}

} // namespace
