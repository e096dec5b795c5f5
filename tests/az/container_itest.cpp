// Container operations and the client's life against the emulator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "itest_support.h"

using namespace az_itest;

namespace
{

TEST(container_itest, lifecycle_and_what_each_failure_says)
{
    auto client = make_client(ostrel_test::emulator_from_env());
    AZ_client *c = client.get();
    const std::string name = ostrel_test::unique_name("cont");
    const char *n = name.c_str();
    recorder create, again, head, list, del, missing, del_missing;
    AZ_create_container(c, n, record_complete, &create);
    AZ_create_container(c, n, record_complete, &again);
    AZ_head_container(c, n, record_properties, record_complete, &head);
    AZ_list_containers(c, record_properties, record_complete, &list);
    AZ_delete_container(c, n, record_complete, &del);
    AZ_head_container(c, n, record_properties, record_complete, &missing);
    AZ_delete_container(c, n, record_complete, &del_missing);

    EXPECT_EQ(create.status, AZ_OK);
    EXPECT_EQ(again.status, AZ_ErrorContainerAlreadyExists);
    EXPECT_EQ(again.code, "409");
    EXPECT_TRUE(again.message);
    ASSERT_EQ(head.entries.size(), 1u);
    expect_directory(head.entries[0], name);
    EXPECT_EQ(list.status, AZ_OK);
    size_t listed = 0;
    for (const auto &e : list.entries) {
        expect_directory(e, e.name);
        listed += e.name == name;
    }
    EXPECT_EQ(listed, 1u);
    EXPECT_EQ(del.status, AZ_OK);
    // A HEAD answer has no body: only the HTTP status is known.
    EXPECT_EQ(missing.status, AZ_HttpErrorNotFound);
    EXPECT_EQ(missing.code, "404");
    EXPECT_FALSE(missing.code_name || missing.message || !missing.entries.empty());
    EXPECT_EQ(del_missing.status, AZ_ErrorContainerNotFound);
}

// An expired token is refused, and the refusal does not show it; replaced tokens signing the
// next request is the block upload's case (put_blob_itest).
TEST(container_itest, expired_token_is_refused_without_being_shown)
{
    auto client = make_client(ostrel_test::emulator_from_env(), false, nullptr, nullptr,
                              ostrel_test::mint_token(-3600));
    recorder refused;
    AZ_create_container(client.get(), ostrel_test::unique_name("tok").c_str(), record_complete,
                        &refused);
    EXPECT_EQ(refused.code, "403");
    EXPECT_EQ(refused.message.value_or("").find("Bearer"), std::string::npos);
}

// Numbers out of range are refused up front.
TEST(container_itest, client_options_out_of_range_are_refused)
{
    const std::pair<int32_t, int32_t> refused[] = {
        {-1, 0},
        {AZ_RETRY_ATTEMPTS_MAX + 1, 0},
        {0, -1},
        {0, AZ_RETRY_MAX_DELAY_MS_MAX + 1},
    };
    for (const auto &[attempts, max_delay] : refused) {
        AZ_client_options options = {};
        options.retry_attempts = attempts;
        options.retry_max_delay_ms = max_delay;
        EXPECT_NE(AZ_client_options_error(&options), nullptr);
        AZ_client *raw = nullptr;
        EXPECT_EQ(
            AZ_init_client_with_options("name", "token", false, nullptr, nullptr, &options, &raw),
            AZ_FailedToInitializeRequest);
        EXPECT_EQ(raw, nullptr);
    }
    AZ_client_options edges = {};
    edges.retry_attempts = AZ_RETRY_ATTEMPTS_MAX;
    edges.retry_max_delay_ms = AZ_RETRY_MAX_DELAY_MS_MAX;
    EXPECT_EQ(AZ_client_options_error(&edges), nullptr);
    EXPECT_EQ(AZ_client_options_error(nullptr), nullptr);
}

// A name the service would not give out could aim the token at another host; caller errors
// are reported, never followed.
TEST(az_lifecycle, accounts_and_caller_errors)
{
    EXPECT_EQ(AZ_initialize(), AZ_OK);
    const std::pair<const char *, AZ_status> rows[] = {
        {"name", AZ_OK},
        {"name:127.0.0.1:1/x", AZ_OK},
        {":127.0.0.1:1/x", AZ_FailedToInitializeRequest},
        {"127.0.0.1/", AZ_FailedToInitializeRequest},
        {"name:h/../x", AZ_FailedToInitializeRequest},
    };
    for (const auto &[account, status] : rows) {
        AZ_client *raw = reinterpret_cast<AZ_client *>(0x1);
        EXPECT_EQ(AZ_init_client(account, "token", true, nullptr, nullptr, &raw), status)
            << account;
        EXPECT_EQ(raw != nullptr, status == AZ_OK) << account;
        AZ_destroy_client(raw);
    }
    AZ_client *raw = reinterpret_cast<AZ_client *>(0x1);
    EXPECT_NE(AZ_init_client("name", nullptr, false, nullptr, nullptr, &raw), AZ_OK);
    EXPECT_EQ(raw, nullptr);
    EXPECT_NE(AZ_init_client(nullptr, "token", false, nullptr, nullptr, &raw), AZ_OK);
    EXPECT_NE(AZ_update_token(nullptr, "token"), AZ_OK);
    ASSERT_EQ(AZ_init_client("name", "token", false, nullptr, nullptr, &raw), AZ_OK);
    client_ptr client(raw);
    EXPECT_NE(AZ_update_token(raw, nullptr), AZ_OK);
    recorder r;
    AZ_create_container(raw, nullptr, record_complete, &r);
    EXPECT_EQ(r.status, AZ_InternalError);
    EXPECT_TRUE(r.message);
    AZ_deinitialize();
}

} // namespace
