// GridFTP paths to container and key, the names no operation may send, and the container
// policy in front of every container operation.
#include "connector/ostrel_i_azure.h"
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace
{

struct split {
    std::string copy;
    char *container = nullptr;
    char *key = nullptr;
    explicit split(const char *path) : copy(std::string(path) + std::string(3, '\0'))
    {
        ostrel_i_azure_path_parse(&copy[0], &container, &key);
    }
};

TEST(path_parse, examples)
{
    struct row {
        const char *path;
        const char *container;
        const char *key; // nullptr: no key
    };
    const row rows[] = {
        {"/", "", nullptr},
        {"", "", nullptr},
        {"/data", "data", nullptr},
        {"data", "data", nullptr},
        {"/data/", "data", ""},
        {"/data/a/b.txt", "data", "a/b.txt"},
        {"/data/dir/", "data", "dir/"},
        {"//x", "", "x"},
    };
    for (const row &r : rows) {
        split s(r.path);
        EXPECT_STREQ(s.container, r.container) << r.path;
        if (r.key == nullptr)
            EXPECT_EQ(s.key, nullptr) << r.path;
        else
            EXPECT_STREQ(s.key, r.key) << r.path;
    }
}

TEST(path_check, names_that_would_address_something_else)
{
    for (const char *path : {"/", "", "/c", "/c/", "/c/a", "/c/a/", "/c/a/b/", "/c/a.b/..c/...",
                             "/c/.hidden", "/c/a./b..", "/c/..a"}) {
        split s(path);
        EXPECT_EQ(ostrel_i_azure_path_check(path, s.container, s.key), OSTREL_SUCCESS) << path;
    }
    // the other refused names, through every entry, are the namespace integration test's
    const struct {
        const char *path, *reason;
    } refused[] = {
        {"/c/a/./", "\".\" or \"..\""},
        {"/.", "\".\" or \"..\""},
        {"//", "empty name component"},
    };
    for (const auto &r : refused) {
        split s(r.path);
        ostrel_host::error_info info =
            ostrel_host::take_error(ostrel_i_azure_path_check(r.path, s.container, s.key));
        EXPECT_EQ(info.reply_code, 553) << r.path;
        EXPECT_EQ(info.response_error_code, "INVALID_PATH") << r.path;
        EXPECT_NE(info.text.find(std::string("GridFTP-Path: \"") + r.path + "\""),
                  std::string::npos)
            << info.text;
        EXPECT_NE(info.text.find(r.reason), std::string::npos) << info.text;
    }
}

TEST(container_allowed, policy)
{
    char data[] = "data";
    char *one[] = {data, nullptr};
    char *none[] = {nullptr};

    EXPECT_TRUE(ostrel_i_azure_container_allowed("data", nullptr, nullptr));
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
