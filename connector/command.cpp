/* Routes the host's file-system commands to their operations. */
#include "connector/ostrel_i_azure.h"

#include <errno.h>

void ostrel_i_azure_command(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                            void *user_arg)
{
    ostrel_i_azure_trace_enter();

    if (command_info == NULL) {
        ostrel_gridftp_server_finished_command(op, ostrel_i_azure_system_error("command", EINVAL),
                                               NULL);
        ostrel_i_azure_trace_exit();
        return;
    }
    switch (command_info->command) {
    case OSTREL_GFS_CMD_MKD:
        ostrel_i_azure_mkdir(op, command_info, user_arg);
        break;
    case OSTREL_GFS_CMD_RMD:
        ostrel_i_azure_rmdir(op, command_info, user_arg);
        break;
    case OSTREL_GFS_CMD_DELE:
        ostrel_i_azure_delete(op, command_info, user_arg);
        break;
    case OSTREL_GFS_CMD_CKSM:
        ostrel_i_azure_checksum(op, command_info, user_arg);
        break;
    default:
        /* The host words the reply for a command nobody serves. */
        ostrel_gridftp_server_finished_command(op, OSTREL_FAILURE, NULL);
        break;
    }

    ostrel_i_azure_trace_exit();
}
