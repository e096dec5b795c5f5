// Clients refused up front, and calls with missing arguments reported, never followed.
#include <gtest/gtest.h>

#include "az/az.h"
#include "recorder.h"

using namespace az_itest;

namespace
{

// A name the service would not give out could aim the token at another host.
TEST(az_client, accounts_options_and_caller_errors)
{
    const struct {
        const char *account;
        int32_t attempts, max_delay;
        AZ_status status;
    } rows[] = {
        {"name", 0, 0, AZ_OK},
        {"name:127.0.0.1:1/x", AZ_RETRY_ATTEMPTS_MAX, AZ_RETRY_MAX_DELAY_MS_MAX, AZ_OK},
        {":127.0.0.1:1/x", 0, 0, AZ_FailedToInitializeRequest},
        {"127.0.0.1/", 0, 0, AZ_FailedToInitializeRequest},
        {"name:h/../x", 0, 0, AZ_FailedToInitializeRequest},
        {"name", -1, 0, AZ_FailedToInitializeRequest},
        {"name", AZ_RETRY_ATTEMPTS_MAX + 1, 0, AZ_FailedToInitializeRequest},
        {"name", 0, -1, AZ_FailedToInitializeRequest},
        {"name", 0, AZ_RETRY_MAX_DELAY_MS_MAX + 1, AZ_FailedToInitializeRequest},
    };
    for (const auto &row : rows) {
        AZ_client_options options = {};
        options.retry_attempts = row.attempts;
        options.retry_max_delay_ms = row.max_delay;
        AZ_client *raw = reinterpret_cast<AZ_client *>(0x1);
        EXPECT_EQ(AZ_init_client_with_options(row.account, "token", true, nullptr, nullptr,
                                              &options, &raw),
                  row.status)
            << row.account << " " << row.attempts << " " << row.max_delay;
        EXPECT_EQ(raw != nullptr, row.status == AZ_OK) << row.account;
        AZ_destroy_client(raw);
    }
    AZ_client *raw = reinterpret_cast<AZ_client *>(0x1);
    EXPECT_NE(AZ_init_client("name", nullptr, false, nullptr, nullptr, &raw), AZ_OK);
    EXPECT_EQ(raw, nullptr);
    EXPECT_NE(AZ_init_client(nullptr, "token", false, nullptr, nullptr, &raw), AZ_OK);
    EXPECT_NE(AZ_update_token(nullptr, "token"), AZ_OK);
    ASSERT_EQ(AZ_init_client("name", "token", false, nullptr, nullptr, &raw), AZ_OK);
    EXPECT_NE(AZ_update_token(raw, nullptr), AZ_OK);
    recorder r;
    AZ_create_container(raw, nullptr, record_complete, &r);
    EXPECT_EQ(r.status, AZ_InternalError);
    EXPECT_TRUE(r.message);
    AZ_destroy_client(raw);
}

} // namespace
