// The stat and command entries refuse what they cannot serve on the host's
// thread, before any storage call: the sessions here have no storage client,
// so a request that slipped through would crash the test.
#include "connector/ostrel_i_azure.h"
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace
{

ostrel_i_azure_handle_t *g_handle; // what the fake session start hands over

class ConnectorEntries : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        std::memset(&handle, 0, sizeof(handle));
        ostrel_mutex_init(&handle.token_lock, nullptr);
        handle.account = (char *)"acct";
        dsi.init_func = [](ostrel_gfs_operation_t op, ostrel_gfs_session_info_t *info) {
            ostrel_gridftp_server_finished_session_start(op, OSTREL_SUCCESS, g_handle,
                                                         info->username, (char *)"/");
        };
        dsi.stat_func = ostrel_i_azure_stat;
        dsi.command_func = ostrel_i_azure_command;
    }
    void TearDown() override
    {
        session.reset();
        ostrel_mutex_destroy(&handle.token_lock);
    }

    void start(ostrel_i_azure_handle_t *given)
    {
        g_handle = given;
        session = std::make_unique<ostrel_host::session>(&dsi, ostrel_host::session_options{});
        ASSERT_TRUE(session->start().ok);
    }

    ostrel_host::command_result command(int number, const char *path, const char *alg = "md5",
                                        int64_t offset = 0, int64_t length = -1)
    {
        ostrel_gfs_command_info_t info = {};
        info.command = number;
        info.pathname = (char *)path;
        info.cksm_alg = (char *)alg;
        info.cksm_offset = offset;
        info.cksm_length = length;
        return session->command(info);
    }

    ostrel_i_azure_handle_t handle;
    ostrel_gfs_storage_iface_t dsi = {};
    std::unique_ptr<ostrel_host::session> session;
};

TEST_F(ConnectorEntries, MissingSessionHandleFailsEveryOperation)
{
    start(nullptr);
    ostrel_host::stat_result listing = session->stat("/c/x", false);
    EXPECT_FALSE(listing.error.ok);
    EXPECT_TRUE(listing.entries.empty());
    // Served commands fail for want of a handle; the others are refused without looking.
    for (int number : std::initializer_list<int>{
             OSTREL_GFS_CMD_MKD, OSTREL_GFS_CMD_RMD, OSTREL_GFS_CMD_DELE, OSTREL_GFS_CMD_CKSM,
             OSTREL_GFS_CMD_SITE_AUTHZ_ASSERT, OSTREL_GFS_CMD_SITE_RDEL, OSTREL_GFS_CMD_RNTO,
             OSTREL_GFS_CMD_RNFR, OSTREL_GFS_CMD_SITE_CHMOD, OSTREL_GFS_CMD_SITE_UTIME,
             OSTREL_GFS_CMD_SITE_SYMLINK, 0, 99}) {
        ostrel_host::command_result result = command(number, "/data/x");
        EXPECT_FALSE(result.error.ok) << number;
        EXPECT_TRUE(result.response.empty()) << number;
    }
}

TEST_F(ConnectorEntries, MissingCommandInformationFailsEveryOperation)
{
    start(&handle);
    for (int number :
         {OSTREL_GFS_CMD_MKD, OSTREL_GFS_CMD_RMD, OSTREL_GFS_CMD_DELE, OSTREL_GFS_CMD_CKSM})
        EXPECT_FALSE(command(number, nullptr).error.ok) << number;

    dsi.command_func = [](ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *, void *arg) {
        ostrel_i_azure_command(op, nullptr, arg);
    };
    EXPECT_EQ(command(OSTREL_GFS_CMD_MKD, "/c/d").error.system_errno, EINVAL);
}

TEST_F(ConnectorEntries, FileOnlyStatOfRootNeedsNoStorage)
{
    start(&handle);
    ostrel_host::stat_result root = session->stat("/", true);
    ASSERT_TRUE(root.error.ok) << root.error.text;
    ASSERT_EQ(root.entries.size(), 1u);
    EXPECT_STREQ(root.entries[0].name, ".");
    EXPECT_EQ(root.entries[0].mode, 040700);
    EXPECT_EQ(root.entries[0].mtime, -1);
    EXPECT_EQ(root.entries[0].ino, ostrel_hashtable_string_hash((void *)"/", 0x7fffffff));
    EXPECT_TRUE(root.batches.empty());
}

TEST_F(ConnectorEntries, PathsWithoutABlobAreRefused)
{
    start(&handle);
    for (const char *path : {"/c", "/c/", "/", ""}) {
        ostrel_host::command_result deleted = command(OSTREL_GFS_CMD_DELE, path);
        EXPECT_FALSE(deleted.error.ok) << path;
        EXPECT_EQ(deleted.error.system_errno, EINVAL) << path;

        ostrel_host::command_result checksum = command(OSTREL_GFS_CMD_CKSM, path);
        EXPECT_FALSE(checksum.error.ok) << path;
        EXPECT_EQ(checksum.error.reply_code, 550) << path;
        EXPECT_NE(checksum.error.text.find("checksum needs a blob path"), std::string::npos)
            << checksum.error.text;
        EXPECT_TRUE(checksum.response.empty());
    }
    for (int number : {OSTREL_GFS_CMD_MKD, OSTREL_GFS_CMD_RMD}) {
        ostrel_host::command_result root = command(number, "/");
        EXPECT_FALSE(root.error.ok) << number;
        EXPECT_EQ(root.error.system_errno, EINVAL) << number;
    }
}

TEST_F(ConnectorEntries, ChecksumArgumentsAreChecked)
{
    start(&handle);
    ostrel_host::command_result sha = command(OSTREL_GFS_CMD_CKSM, "/c/k", "SHA1");
    EXPECT_FALSE(sha.error.ok);
    EXPECT_NE(sha.error.text.find("Unknown checksum algorithm \"SHA1\""), std::string::npos)
        << sha.error.text;
    EXPECT_FALSE(command(OSTREL_GFS_CMD_CKSM, "/c/k", nullptr).error.ok);

    ostrel_host::command_result offset = command(OSTREL_GFS_CMD_CKSM, "/c/k", "md5", -1);
    EXPECT_EQ(offset.error.system_errno, EINVAL);
    ostrel_host::command_result length = command(OSTREL_GFS_CMD_CKSM, "/c/k", "md5", 0, -2);
    EXPECT_EQ(length.error.system_errno, EINVAL);
}

} // namespace
