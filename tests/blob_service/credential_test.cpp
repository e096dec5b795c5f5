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

// A replaced token signing the next request is the block upload's case (put_blob_itest).
TEST(token_credential, token_replaced_while_signing_is_never_torn)
{
    bs::token_credential credential("first-token");
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
}

} // namespace
