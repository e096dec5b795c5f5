// Commands the connector does not serve are refused at once.
#include "connector/ostrel_i_azure.h"
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

namespace
{

TEST(command_dispatch, unserved_commands_fail_without_touching_the_session)
{
    ostrel_gfs_storage_iface_t dsi = {};
    dsi.init_func = [](ostrel_gfs_operation_t op, ostrel_gfs_session_info_t *info) {
        // No session handle: an unserved command must not look at it.
        ostrel_gridftp_server_finished_session_start(op, OSTREL_SUCCESS, nullptr, info->username,
                                                     (char *)"/");
    };
    dsi.command_func = ostrel_i_azure_command;
    ostrel_host::session session(&dsi, {});
    ASSERT_TRUE(session.start().ok);

    for (int command : std::initializer_list<int>{
             OSTREL_GFS_CMD_SITE_AUTHZ_ASSERT, OSTREL_GFS_CMD_SITE_RDEL, OSTREL_GFS_CMD_RNTO,
             OSTREL_GFS_CMD_RNFR, OSTREL_GFS_CMD_SITE_CHMOD, OSTREL_GFS_CMD_SITE_UTIME,
             OSTREL_GFS_CMD_SITE_SYMLINK, 0, 99}) {
        ostrel_gfs_command_info_t info = {};
        info.command = command;
        info.pathname = (char *)"/data/x";
        ostrel_host::command_result result = session.command(info);
        EXPECT_FALSE(result.error.ok) << command;
        EXPECT_TRUE(result.response.empty()) << command;
    }
}

} // namespace
