/*
 * What a download and an upload share: the transfer record, its entry
 * checks, its storage call under the retry rule, its failure and its finish.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

/* The root, a container or a directory spelling is no file to move. */
static ostrel_result_t ostrel_l_azure_transfer_check_blob(const char *pathname,
                                                          const char *container, const char *key)
{
    size_t length = key != NULL ? strlen(key) : 0;

    if (container[0] != '\0' && length > 0 && key[length - 1] != '/')
        return OSTREL_SUCCESS;
    return ostrel_i_azure_path_error(550, "IS_A_DIRECTORY", pathname,
                                     "the path \"%s\" names no blob", pathname);
}

ostrel_result_t ostrel_i_azure_transfer_create(ostrel_gfs_operation_t op,
                                               ostrel_gfs_transfer_info_t *transfer_info,
                                               ostrel_i_azure_handle_t *az_handle,
                                               ostrel_i_azure_transfer_state_t **transfer_state)
{
    ostrel_i_azure_transfer_state_t *state;
    ostrel_result_t result;
    size_t length;

    *transfer_state = NULL;
    if (transfer_info->pathname == NULL)
        return ostrel_i_azure_system_error("transfer", EINVAL);
    ostrel_i_azure_handle_set_op(az_handle, op);
    length = strlen(transfer_info->pathname);
    /* the path split in place, then the path as given, for errors */
    state = (ostrel_i_azure_transfer_state_t *)calloc(1, sizeof(*state) + 2 * length + 2);
    if (state == NULL)
        return ostrel_i_azure_system_error("malloc", errno);
    state->az_handle = az_handle;
    state->transfer_info = transfer_info;
    state->op = op;
    state->pending_tail = &state->pending;
    state->path = (char *)(state + 1);
    memcpy(state->path, transfer_info->pathname, length + 1);
    state->pathname = state->path + length + 1;
    memcpy((char *)state->pathname, transfer_info->pathname, length + 1);
    ostrel_i_azure_path_parse(state->path, &state->container, &state->key);

    result = ostrel_i_azure_path_check(state->pathname, state->container, state->key);
    if (result == OSTREL_SUCCESS)
        result = ostrel_l_azure_transfer_check_blob(state->pathname, state->container, state->key);
    if (result == OSTREL_SUCCESS)
        result = ostrel_i_azure_container_context(az_handle, state->container, &state->context);
    if (result != OSTREL_SUCCESS) {
        free(state);
        return result;
    }
    ostrel_mutex_init(&state->mutex, NULL);
    ostrel_cond_init(&state->cond, NULL);
    *transfer_state = state;
    return OSTREL_SUCCESS;
}

static void ostrel_l_azure_transfer_free_list(ostrel_i_azure_buffer_t *list)
{
    while (list != NULL) {
        ostrel_i_azure_buffer_t *next = list->next;
        free(list);
        list = next;
    }
}

void ostrel_i_azure_transfer_free(ostrel_i_azure_transfer_state_t *transfer_state)
{
    if (transfer_state == NULL)
        return;
    /* registered is empty by now: the host holds none of these */
    ostrel_l_azure_transfer_free_list(transfer_state->pending);
    ostrel_l_azure_transfer_free_list(transfer_state->undigested);
    ostrel_l_azure_transfer_free_list(transfer_state->free_buffers);
    free(transfer_state->current);
    ostrel_i_az_checksum_free(&transfer_state->checksum);
    if (transfer_state->try_result != OSTREL_SUCCESS)
        ostrel_object_free(ostrel_error_get(transfer_state->try_result));
    free(transfer_state);
}

ostrel_result_t ostrel_i_azure_transfer_start(ostrel_gfs_operation_t op,
                                              ostrel_gfs_transfer_info_t *transfer_info,
                                              ostrel_i_azure_handle_t *az_handle,
                                              const char *source, const char *func,
                                              void *(*worker)(void *))
{
    ostrel_i_azure_transfer_state_t *transfer_state = NULL;
    ostrel_result_t result;

    result = ostrel_i_azure_transfer_create(op, transfer_info, az_handle, &transfer_state);
    if (result == OSTREL_SUCCESS) {
        result = ostrel_i_azure_worker_start(source, func, false, worker, transfer_state);
        if (result == OSTREL_SUCCESS)
            return OSTREL_SUCCESS;
        ostrel_cond_destroy(&transfer_state->cond);
        ostrel_mutex_destroy(&transfer_state->mutex);
        ostrel_i_azure_transfer_free(transfer_state);
    }
    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, func, "finished_transfer: op=%p result=%#lx\n",
                            (void *)op, (unsigned long)result);
    ostrel_gridftp_server_finished_transfer(op, result);
    return result;
}

void ostrel_i_azure_transfer_finish(ostrel_i_azure_transfer_state_t *transfer_state,
                                    const char *func)
{
    ostrel_result_t result = transfer_state->result;

    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, func, "finished_transfer: op=%p result=%#lx\n",
                            (void *)transfer_state->op, (unsigned long)result);
    ostrel_gridftp_server_finished_transfer(transfer_state->op, result);
    ostrel_mutex_unlock(&transfer_state->mutex);
    ostrel_cond_destroy(&transfer_state->cond);
    ostrel_mutex_destroy(&transfer_state->mutex);
    ostrel_i_azure_transfer_free(transfer_state);
}

void ostrel_i_azure_transfer_fail(ostrel_i_azure_transfer_state_t *transfer_state,
                                  ostrel_result_t result)
{
    if (result == OSTREL_SUCCESS)
        return;
    if (transfer_state->result == OSTREL_SUCCESS)
        transfer_state->result = result;
    else
        ostrel_object_free(ostrel_error_get(result));
}

void ostrel_i_azure_transfer_call(ostrel_i_azure_transfer_state_t *transfer_state, const char *func,
                                  const char *call_name, void (*call)(void *), void *arg)
{
    char args[2048] = "";
    ostrel_i_azure_attempt_t attempt = {
        func,
        transfer_state->op,
        &transfer_state->tries,
        &transfer_state->status,
        &transfer_state->try_result,
        call_name,
        args,
        call,
        arg,
        /* a download resumes at its first missing byte; an upload's data is gone */
        strcmp(call_name, "AZ_get_blob") == 0 ? transfer_state->az_handle : NULL,
    };

    if (OSTREL_I_AZURE_DEBUG_ENABLED(OSTREL_AZURE_DEBUG_INFO))
        snprintf(args, sizeof(args), "container=%s, key=%s", transfer_state->container,
                 transfer_state->key);
    ostrel_i_azure_retry(&attempt);
    /* the last try's failure is the transfer's, unless the data failed first */
    ostrel_i_azure_transfer_fail(transfer_state, transfer_state->try_result);
    transfer_state->try_result = OSTREL_SUCCESS;
}

void ostrel_i_azure_transfer_done(AZ_status status, AZ_error_details *details, void *arg)
{
    ostrel_i_azure_transfer_state_t *transfer_state = (ostrel_i_azure_transfer_state_t *)arg;

    ostrel_i_azure_record_status(&transfer_state->status, &transfer_state->try_result, status,
                                 transfer_state->pathname, details);
}
