/*
 * Delete: removes one blob. Paths that name a container or the root are
 * refused before any request.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>

static void ostrel_l_azure_delete_call(void *arg)
{
    ostrel_i_azure_command_request_t *request = (ostrel_i_azure_command_request_t *)arg;

    AZ_delete_blob(request->az_handle->client, request->container, request->key,
                   ostrel_i_azure_command_request_done, request);
}

static ostrel_result_t ostrel_l_azure_delete_prepare(ostrel_i_azure_command_request_t *request,
                                                     const ostrel_gfs_command_info_t *command_info)
{
    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, request->command->entry,
                            "delete: op=%p pathname=%s\n", (void *)request->op,
                            command_info->pathname);
    /* a container path (also "/c/") would delete nothing a user could mean */
    if (!ostrel_i_azure_command_request_as_blob(request))
        return ostrel_i_azure_system_error("delete", EINVAL);
    return OSTREL_SUCCESS;
}

static char *ostrel_l_azure_delete_run(ostrel_i_azure_command_request_t *request)
{
    ostrel_i_azure_command_request_call(request, "AZ_delete_blob", request->key,
                                        ostrel_l_azure_delete_call, request);
    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, request->command->worker,
                            "finished_command: op=%p result=%#lx path=%s\n", (void *)request->op,
                            (unsigned long)request->result, request->error_path);
    return NULL;
}

static const ostrel_i_azure_command_t ostrel_l_azure_delete_command = {
    "delete",                                 /* name */
    "ostrel_i_azure_delete",                  /* entry */
    "ostrel_l_azure_delete_thread",           /* worker */
    false,                                    /* thread_system_error */
    sizeof(ostrel_i_azure_command_request_t), /* size */
    ostrel_l_azure_delete_prepare,            /* prepare */
    ostrel_l_azure_delete_run,                /* run */
};

void ostrel_i_azure_delete(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                           void *user_arg)
{
    ostrel_i_azure_command_request_start(&ostrel_l_azure_delete_command, op, command_info,
                                         user_arg);
}
