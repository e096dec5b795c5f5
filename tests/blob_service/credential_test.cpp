#include "blob_service/credential.h"
#include "blob_service/request_base.h"

#include <thread>

#include <gtest/gtest.h>

#include "recording_http.h"

namespace bs = azure::blob_service;

namespace
{

class no_request final : public bs::storage_request_base
{
  public:
    void build_request(const bs::storage_account &, bs::http_base &) const override {}
};

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
