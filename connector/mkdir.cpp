/*
 * Make directory: a container for a one-component path, otherwise a
 * zero-length folder-marker blob.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

typedef struct ostrel_l_azure_mkdir_state_s {
    ostrel_i_azure_handle_t *az_handle;
    ostrel_gfs_operation_t op;
    ostrel_i_azure_container_context_t container_context;
    char *container;
    char *key; /* NULL: make the container */
    int32_t tries;
    AZ_status status;
    ostrel_result_t result;
    const char *pathname; /* as given: the path of errors */
    char *path;           /* split in place */
} ostrel_l_azure_mkdir_state_t;

static AZ_name_value ostrel_l_azure_mkdir_marker_metadata[] = {{"hdi_isfolder", "true"}};
static const AZ_put_options ostrel_l_azure_mkdir_marker_options = {
    NULL, 1, ostrel_l_azure_mkdir_marker_metadata};

static int32_t ostrel_l_azure_mkdir_data_callback(int32_t max, unsigned char *buffer, void *arg)
{
    (void)max;
    (void)buffer;
    (void)arg;
    return 0;
}

static void ostrel_l_azure_mkdir_complete(AZ_status status, AZ_error_details *details, void *arg)
{
    ostrel_l_azure_mkdir_state_t *state = (ostrel_l_azure_mkdir_state_t *)arg;

    ostrel_i_azure_trace_enter();
    if (status != AZ_OK)
        ostrel_i_azure_record_status(&state->status, &state->result, status, state->pathname,
                                     details);
    ostrel_i_azure_trace_exit();
}

static void ostrel_l_azure_mkdir_put_marker(void *arg)
{
    ostrel_l_azure_mkdir_state_t *state = (ostrel_l_azure_mkdir_state_t *)arg;

    AZ_put_blob(state->az_handle->client, state->container, state->key, 0,
                &ostrel_l_azure_mkdir_marker_options, ostrel_l_azure_mkdir_data_callback,
                ostrel_l_azure_mkdir_complete, state);
}

static void ostrel_l_azure_mkdir_create_container(void *arg)
{
    ostrel_l_azure_mkdir_state_t *state = (ostrel_l_azure_mkdir_state_t *)arg;

    AZ_create_container(state->az_handle->client, state->container, ostrel_l_azure_mkdir_complete,
                        state);
}

static void *ostrel_l_azure_mkdir_thread(void *arg)
{
    ostrel_l_azure_mkdir_state_t *state = (ostrel_l_azure_mkdir_state_t *)arg;
    char args[2048] = "";
    ostrel_i_azure_attempt_t attempt = {
        state->op, &state->tries, &state->status, &state->result, NULL, args, NULL, state,
    };

    ostrel_i_azure_trace_enter();
    if (state->key != NULL) {
        attempt.call_name = "AZ_put_blob";
        attempt.call = ostrel_l_azure_mkdir_put_marker;
        if (OSTREL_I_AZURE_DEBUG_ENABLED(OSTREL_AZURE_DEBUG_INFO))
            snprintf(args, sizeof(args), "container=%s, key=%s", state->container, state->key);
    } else {
        attempt.call_name = "AZ_create_container";
        attempt.call = ostrel_l_azure_mkdir_create_container;
        if (OSTREL_I_AZURE_DEBUG_ENABLED(OSTREL_AZURE_DEBUG_INFO))
            snprintf(args, sizeof(args), "container=%s", state->container);
    }
    ostrel_i_azure_retry(&attempt);

    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "finished_command: op=%p result=%#lx path=%s\n",
                       (void *)state->op, (unsigned long)state->result, state->pathname);
    ostrel_i_azure_trace_result(state->result);
    ostrel_gridftp_server_finished_command(state->op, state->result, NULL);
    free(state);
    return NULL;
}

void ostrel_i_azure_mkdir(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                          void *user_arg)
{
    ostrel_i_azure_handle_t *handle = (ostrel_i_azure_handle_t *)user_arg;
    ostrel_l_azure_mkdir_state_t *state = NULL;
    ostrel_thread_t thread;
    ostrel_result_t result;
    size_t length;

    ostrel_i_azure_trace_enter();
    if (handle == NULL || command_info == NULL || command_info->pathname == NULL) {
        result = ostrel_i_azure_system_error("mkdir", EINVAL);
        goto finish;
    }
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "mkdir: op=%p pathname=%s\n", (void *)op,
                       command_info->pathname);
    ostrel_i_azure_handle_set_op(handle, op);

    length = strlen(command_info->pathname);
    state = (ostrel_l_azure_mkdir_state_t *)calloc(1, sizeof(*state) + 2 * length + 4);
    if (state == NULL) {
        result = ostrel_i_azure_system_error("malloc", errno);
        goto finish;
    }
    state->az_handle = handle;
    state->op = op;
    state->path = (char *)(state + 1);
    memcpy(state->path, command_info->pathname, length + 1);
    state->pathname = state->path + length + 3;
    memcpy((char *)state->pathname, command_info->pathname, length + 1);
    ostrel_i_azure_path_parse(state->path, &state->container, &state->key);

    /* "/c/" names the container; a blob with an empty name cannot exist */
    if (state->key != NULL && state->key[0] == '\0')
        state->key = NULL;
    if (state->container[0] == '\0') {
        result = ostrel_i_azure_system_error("mkdir", EINVAL);
        goto finish;
    }
    /* a new container needs a fresh token as much as a marker does */
    result = ostrel_i_azure_container_context(handle, state->container, &state->container_context);
    if (result != OSTREL_SUCCESS)
        goto finish;

    if (ostrel_thread_create(&thread, NULL, ostrel_l_azure_mkdir_thread, state) != 0) {
        result = ostrel_error_put(ostrel_error_construct_error(
            NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "mkdir", "ostrel_i_azure_mkdir", __LINE__, "%s",
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
