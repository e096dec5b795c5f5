// The container policy and the gate in front of every container operation.
#include "connector/ostrel_i_azure.h"
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace
{

TEST(container_allowed, policy)
{
    char data[] = "data";
    char *one[] = {data, nullptr};
    char *none[] = {nullptr};

    EXPECT_TRUE(ostrel_i_azure_container_allowed("data", nullptr, nullptr));
    EXPECT_TRUE(ostrel_i_azure_container_allowed("Not_A-Valid..Name", nullptr, nullptr));
    EXPECT_TRUE(ostrel_i_azure_container_allowed("data", one, nullptr));
    EXPECT_FALSE(ostrel_i_azure_container_allowed("Data", one, nullptr));
    EXPECT_FALSE(ostrel_i_azure_container_allowed("dat", one, nullptr));
    EXPECT_FALSE(ostrel_i_azure_container_allowed("data", none, nullptr));

    ostrel_result_t result = 1;
    EXPECT_TRUE(ostrel_i_azure_container_allowed("data", one, &result));
    EXPECT_EQ(result, OSTREL_SUCCESS);

    EXPECT_FALSE(ostrel_i_azure_container_allowed("Data", one, &result));
    ostrel_host::error_info info = ostrel_host::take_error(result);
    EXPECT_EQ(info.reply_code, 550);
    EXPECT_EQ(info.response_error_code, "PERMISSION_DENIED");
    EXPECT_NE(info.text.find("Ostrel-Azure-Error: Container not allowed."), std::string::npos)
        << info.text;
}

int refreshes;
ostrel_result_t refresh_ok(ostrel_i_azure_handle_t *)
{
    refreshes++;
    return OSTREL_SUCCESS;
}
ostrel_result_t refresh_failing(ostrel_i_azure_handle_t *)
{
    refreshes++;
    return ostrel_i_azure_system_error("refresh", EIO);
}

TEST(container_context, refuses_before_refreshing)
{
    char data[] = "data";
    char *one[] = {data, nullptr};
    ostrel_i_azure_handle_t handle;
    memset(&handle, 0, sizeof handle);
    handle.allowed_containers = one;
    handle.token_refresh = refresh_ok;
    ostrel_i_azure_container_context_t context = {"untouched"};

    refreshes = 0;
    ostrel_result_t result = ostrel_i_azure_container_context(&handle, "other", &context);
    EXPECT_EQ(ostrel_host::take_error(result).response_error_code, "PERMISSION_DENIED");
    EXPECT_EQ(refreshes, 0);
    EXPECT_STREQ(context.container, "untouched");

    EXPECT_EQ(ostrel_i_azure_container_context(&handle, "data", &context), OSTREL_SUCCESS);
    EXPECT_EQ(refreshes, 1);
    EXPECT_STREQ(context.container, "data");

    handle.token_refresh = refresh_failing;
    ostrel_i_azure_container_context_t kept = {"kept"};
    result = ostrel_i_azure_container_context(&handle, "data", &kept);
    EXPECT_EQ(ostrel_host::take_error(result).system_errno, EIO);
    EXPECT_STREQ(kept.container, "kept");
}

} // namespace
