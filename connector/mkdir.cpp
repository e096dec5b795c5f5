/*
 * Make directory: a container for a one-component path, otherwise a
 * zero-length folder-marker blob. Neither replaces anything that exists.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>

static AZ_name_value ostrel_l_azure_mkdir_marker_metadata[] = {{"hdi_isfolder", "true"}};
static const AZ_put_options ostrel_l_azure_mkdir_marker_options = {
    NULL, 1, ostrel_l_azure_mkdir_marker_metadata};
/* A marker written over a blob would destroy it. */
static const AZ_blob_options ostrel_l_azure_mkdir_new_only = {NULL, true, NULL};

static int32_t ostrel_l_azure_mkdir_data_callback(int32_t max, unsigned char *buffer, void *arg)
{
    (void)max;
    (void)buffer;
    (void)arg;
    return 0;
}

static void ostrel_l_azure_mkdir_put_marker(void *arg)
{
    ostrel_i_azure_command_request_t *request = (ostrel_i_azure_command_request_t *)arg;

    AZ_put_blob_ex(request->az_handle->client, request->container, request->key, 0,
                   &ostrel_l_azure_mkdir_marker_options, &ostrel_l_azure_mkdir_new_only,
                   ostrel_l_azure_mkdir_data_callback, ostrel_i_azure_command_request_done,
                   request);
}

static void ostrel_l_azure_mkdir_create_container(void *arg)
{
    ostrel_i_azure_command_request_t *request = (ostrel_i_azure_command_request_t *)arg;

    AZ_create_container(request->az_handle->client, request->container,
                        ostrel_i_azure_command_request_done, request);
}

/* The directory may exist under the other spelling of its marker ("d" for
 * "d/"), and a blob of that name would be shown beside it. */
static void ostrel_l_azure_mkdir_marker(ostrel_i_azure_command_request_t *request)
{
    ostrel_i_azure_blob_version_t version;
    char *other = ostrel_i_azure_marker_spelling(request->key);

    if (other == NULL) {
        request->result = ostrel_i_azure_system_error("malloc", errno);
        return;
    }
    if (ostrel_i_azure_command_request_head(request, other, &version) == OSTREL_SUCCESS) {
        if (version.found)
            ostrel_i_azure_command_request_fail(request, AZ_ErrorBlobAlreadyExists);
        else
            ostrel_i_azure_command_request_call(request, "AZ_put_blob", request->key,
                                                ostrel_l_azure_mkdir_put_marker, request);
    }
    free(other);
}

/* A new container passes the container gate too: it needs a fresh token as
 * much as a marker does. */
static ostrel_result_t ostrel_l_azure_mkdir_prepare(ostrel_i_azure_command_request_t *request,
                                                    const ostrel_gfs_command_info_t *command_info)
{
    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, request->command->entry,
                            "mkdir: op=%p pathname=%s\n", (void *)request->op,
                            command_info->pathname);
    if (!ostrel_i_azure_command_request_as_directory(request))
        return ostrel_i_azure_system_error("mkdir", EINVAL);
    return OSTREL_SUCCESS;
}

static char *ostrel_l_azure_mkdir_run(ostrel_i_azure_command_request_t *request)
{
    if (request->key != NULL)
        ostrel_l_azure_mkdir_marker(request);
    else
        ostrel_i_azure_command_request_call(request, "AZ_create_container", NULL,
                                            ostrel_l_azure_mkdir_create_container, request);
    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, request->command->worker,
                            "finished_command: op=%p result=%#lx path=%s\n", (void *)request->op,
                            (unsigned long)request->result, request->error_path);
    return NULL;
}

static const ostrel_i_azure_command_t ostrel_l_azure_mkdir_command = {
    "mkdir",                                  /* name */
    "ostrel_i_azure_mkdir",                   /* entry */
    "ostrel_l_azure_mkdir_thread",            /* worker */
    false,                                    /* thread_system_error */
    sizeof(ostrel_i_azure_command_request_t), /* size */
    ostrel_l_azure_mkdir_prepare,             /* prepare */
    ostrel_l_azure_mkdir_run,                 /* run */
};

void ostrel_i_azure_mkdir(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                          void *user_arg)
{
    ostrel_i_azure_command_request_start(&ostrel_l_azure_mkdir_command, op, command_info, user_arg);
}
