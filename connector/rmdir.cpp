/*
 * Remove directory: deletes a directory's folder marker, or a whole
 * container when OSTREL_AZURE_DELETE_CONTAINERS is set. Blobs below a
 * directory are left in place.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>

static void ostrel_l_azure_rmdir_delete_marker(void *arg)
{
    ostrel_i_azure_command_request_t *request = (ostrel_i_azure_command_request_t *)arg;

    AZ_delete_blob(request->az_handle->client, request->container, request->key,
                   ostrel_i_azure_command_request_done, request);
}

static void ostrel_l_azure_rmdir_delete_container(void *arg)
{
    ostrel_i_azure_command_request_t *request = (ostrel_i_azure_command_request_t *)arg;

    AZ_delete_container(request->az_handle->client, request->container,
                        ostrel_i_azure_command_request_done, request);
}

static ostrel_result_t ostrel_l_azure_rmdir_prepare(ostrel_i_azure_command_request_t *request,
                                                    const ostrel_gfs_command_info_t *command_info)
{
    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, request->command->entry,
                            "rmdir op=%p pathname=%s\n", (void *)request->op,
                            command_info->pathname);
    if (!ostrel_i_azure_command_request_as_directory(request))
        return ostrel_i_azure_system_error("rmdir", EINVAL);
    return OSTREL_SUCCESS;
}

static char *ostrel_l_azure_rmdir_run(ostrel_i_azure_command_request_t *request)
{
    if (request->key != NULL) {
        ostrel_i_azure_command_request_call(request, "AZ_delete_blob", request->key,
                                            ostrel_l_azure_rmdir_delete_marker, request);
    } else if (getenv("OSTREL_AZURE_DELETE_CONTAINERS") != NULL) {
        ostrel_i_azure_command_request_call(request, "AZ_delete_container", NULL,
                                            ostrel_l_azure_rmdir_delete_container, request);
    } else {
        /* deleting a container deletes every blob in it: only on request */
        request->status = AZ_NotSupported;
        request->result = ostrel_error_put(
            ostrel_i_AzureError_to_error(AZ_NotSupported, request->error_path, NULL));
    }
    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, request->command->worker,
                            "finished_command: op=%p result=%#lx\n", (void *)request->op,
                            (unsigned long)request->result);
    return NULL;
}

static const ostrel_i_azure_command_t ostrel_l_azure_rmdir_command = {
    "rmdir",                                  /* name */
    "ostrel_i_azure_rmdir",                   /* entry */
    "ostrel_l_azure_rmdir_thread",            /* worker */
    false,                                    /* thread_system_error */
    sizeof(ostrel_i_azure_command_request_t), /* size */
    ostrel_l_azure_rmdir_prepare,             /* prepare */
    ostrel_l_azure_rmdir_run,                 /* run */
};

void ostrel_i_azure_rmdir(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                          void *user_arg)
{
    ostrel_i_azure_command_request_start(&ostrel_l_azure_rmdir_command, op, command_info, user_arg);
}
