/*
 * Delete: removes one blob. Paths that name a container or the root are
 * refused before any request.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

typedef struct ostrel_l_azure_delete_state_s {
    ostrel_i_azure_handle_t *az_handle;
    ostrel_gfs_operation_t op;
    ostrel_i_azure_container_context_t container_context;
    char *container;
    char *key;
    int32_t tries;
    AZ_status status;
    ostrel_result_t result;
    char *blob_path; /* container/key: the path of errors */
    char *path;      /* split in place */
} ostrel_l_azure_delete_state_t;

static void ostrel_l_azure_delete_complete(AZ_status status, AZ_error_details *details, void *arg)
{
    ostrel_l_azure_delete_state_t *state = (ostrel_l_azure_delete_state_t *)arg;

    ostrel_i_azure_trace_enter();
    if (status != AZ_OK)
        ostrel_i_azure_record_status(&state->status, &state->result, status, state->blob_path,
                                     details);
    ostrel_i_azure_trace_exit();
}

static void ostrel_l_azure_delete_call(void *arg)
{
    ostrel_l_azure_delete_state_t *state = (ostrel_l_azure_delete_state_t *)arg;

    AZ_delete_blob(state->az_handle->client, state->container, state->key,
                   ostrel_l_azure_delete_complete, state);
}

static void *ostrel_l_azure_delete_thread(void *arg)
{
    ostrel_l_azure_delete_state_t *state = (ostrel_l_azure_delete_state_t *)arg;
    char args[2048] = "";
    ostrel_i_azure_attempt_t attempt = {
        state->op,
        &state->tries,
        &state->status,
        &state->result,
        "AZ_delete_blob",
        args,
        ostrel_l_azure_delete_call,
        state,
    };

    ostrel_i_azure_trace_enter();
    if (OSTREL_I_AZURE_DEBUG_ENABLED(OSTREL_AZURE_DEBUG_INFO))
        snprintf(args, sizeof(args), "container=%s, key=%s", state->container, state->key);
    ostrel_i_azure_retry(&attempt);

    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "finished_command: op=%p result=%#lx path=%s\n",
                       (void *)state->op, (unsigned long)state->result, state->blob_path);
    ostrel_i_azure_trace_result(state->result);
    ostrel_gridftp_server_finished_command(state->op, state->result, NULL);
    free(state);
    return NULL;
}

void ostrel_i_azure_delete(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                           void *user_arg)
{
    ostrel_i_azure_handle_t *handle = (ostrel_i_azure_handle_t *)user_arg;
    ostrel_l_azure_delete_state_t *state = NULL;
    ostrel_thread_t thread;
    ostrel_result_t result;
    size_t length;

    ostrel_i_azure_trace_enter();
    if (handle == NULL || command_info == NULL || command_info->pathname == NULL) {
        result = ostrel_i_azure_system_error("delete", EINVAL);
        goto finish;
    }
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "delete: op=%p pathname=%s\n", (void *)op,
                       command_info->pathname);
    ostrel_i_azure_handle_set_op(handle, op);

    length = strlen(command_info->pathname);
    state = (ostrel_l_azure_delete_state_t *)calloc(1, sizeof(*state) + 2 * length + 5);
    if (state == NULL) {
        result = ostrel_i_azure_system_error("malloc", errno);
        goto finish;
    }
    state->az_handle = handle;
    state->op = op;
    state->path = (char *)(state + 1);
    memcpy(state->path, command_info->pathname, length + 1);
    state->blob_path = state->path + length + 3;
    ostrel_i_azure_path_parse(state->path, &state->container, &state->key);

    /* a container path (also "/c/") would delete nothing a user could mean */
    if (state->container[0] == '\0' || state->key == NULL || state->key[0] == '\0') {
        result = ostrel_i_azure_system_error("delete", EINVAL);
        goto finish;
    }
    snprintf(state->blob_path, length + 2, "%s/%s", state->container, state->key);
    result = ostrel_i_azure_container_context(handle, state->container, &state->container_context);
    if (result != OSTREL_SUCCESS)
        goto finish;

    if (ostrel_thread_create(&thread, NULL, ostrel_l_azure_delete_thread, state) != 0) {
        result = ostrel_error_put(ostrel_error_construct_error(
            NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "delete", "ostrel_i_azure_delete", __LINE__, "%s",
            "ostrel_thread_create"));
        goto finish;
    }
    ostrel_i_azure_trace_exit();
    return;

finish:
    ostrel_i_azure_trace_result(result);
    ostrel_gridftp_server_finished_command(op, result, NULL);
    free(state);
}
