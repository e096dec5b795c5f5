/*
 * The steps that every command (make directory, remove directory, delete,
 * checksum) takes: its request record, its entry on the host's thread, its
 * worker, the storage calls and the answer. A command adds only its rules,
 * its storage calls and its log lines.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

static ostrel_result_t
ostrel_l_azure_command_request_create(const ostrel_i_azure_command_t *command,
                                      ostrel_gfs_operation_t op,
                                      const ostrel_gfs_command_info_t *command_info, void *user_arg,
                                      ostrel_i_azure_command_request_t **request)
{
    ostrel_i_azure_handle_t *handle = (ostrel_i_azure_handle_t *)user_arg;
    ostrel_i_azure_command_request_t *created;
    size_t length;

    if (handle == NULL || command_info == NULL || command_info->pathname == NULL)
        return ostrel_i_azure_system_error(command->name, EINVAL);
    ostrel_i_azure_handle_set_op(handle, op);

    length = strlen(command_info->pathname);
    /* path copy with two spare bytes, then room for the path of errors,
     * which container/key never outgrows */
    created = (ostrel_i_azure_command_request_t *)calloc(1, command->size + 2 * length + 5);
    if (created == NULL)
        return ostrel_i_azure_system_error("malloc", errno);
    created->command = command;
    created->az_handle = handle;
    created->op = op;
    created->path = (char *)created + command->size;
    memcpy(created->path, command_info->pathname, length + 1);
    created->error_path = created->path + length + 3;
    memcpy(created->error_path, command_info->pathname, length + 1);
    ostrel_i_azure_path_parse(created->path, &created->container, &created->key);
    *request = created;
    return ostrel_i_azure_path_check(command_info->pathname, created->container, created->key);
}

/* The worker owns request: nothing else touches it once this runs. */
static void *ostrel_l_azure_command_request_thread(void *arg)
{
    ostrel_i_azure_command_request_t *request = (ostrel_i_azure_command_request_t *)arg;
    char *reply;

    ostrel_i_azure_trace_enter();
    reply = request->command->run(request);
    ostrel_i_azure_command_request_finish(request->op, request->result, reply, request);
    return NULL;
}

void ostrel_i_azure_command_request_start(const ostrel_i_azure_command_t *command,
                                          ostrel_gfs_operation_t op,
                                          const ostrel_gfs_command_info_t *command_info,
                                          void *user_arg)
{
    ostrel_i_azure_command_request_t *request = NULL;
    ostrel_result_t result;

    ostrel_i_azure_trace_enter();
    result = ostrel_l_azure_command_request_create(command, op, command_info, user_arg, &request);
    if (result != OSTREL_SUCCESS)
        goto finish;
    result = command->prepare(request, command_info);
    if (result != OSTREL_SUCCESS)
        goto finish;
    result = ostrel_i_azure_container_context(request->az_handle, request->container,
                                              &request->container_context);
    if (result != OSTREL_SUCCESS)
        goto finish;

    result =
        ostrel_i_azure_worker_start(command->name, command->entry, command->thread_system_error,
                                    ostrel_l_azure_command_request_thread, request);
    if (result != OSTREL_SUCCESS)
        goto finish;
    ostrel_i_azure_trace_exit();
    return;

finish:
    ostrel_i_azure_command_request_finish(op, result, NULL, request);
}

void ostrel_i_azure_command_request_finish(ostrel_gfs_operation_t op, ostrel_result_t result,
                                           char *reply, ostrel_i_azure_command_request_t *request)
{
    ostrel_i_azure_trace_result(result);
    ostrel_gridftp_server_finished_command(op, result, reply);
    free(request);
}

bool ostrel_i_azure_command_request_as_directory(ostrel_i_azure_command_request_t *request)
{
    /* a blob with an empty name cannot exist */
    if (request->key != NULL && request->key[0] == '\0')
        request->key = NULL;
    return request->container[0] != '\0';
}

bool ostrel_i_azure_command_request_as_blob(ostrel_i_azure_command_request_t *request)
{
    if (request->container[0] == '\0' || request->key == NULL || request->key[0] == '\0')
        return false;
    snprintf(request->error_path, strlen(request->container) + strlen(request->key) + 2, "%s/%s",
             request->container, request->key);
    return true;
}

void ostrel_i_azure_command_request_call(ostrel_i_azure_command_request_t *request,
                                         const char *call_name, void (*call)(void *))
{
    char args[2048] = "";
    ostrel_i_azure_attempt_t attempt = {
        request->command->worker,
        request->op,
        &request->tries,
        &request->status,
        &request->result,
        call_name,
        args,
        call,
        request,
    };

    if (OSTREL_I_AZURE_DEBUG_ENABLED(OSTREL_AZURE_DEBUG_INFO)) {
        if (request->key != NULL)
            snprintf(args, sizeof(args), "container=%s, key=%s", request->container, request->key);
        else
            snprintf(args, sizeof(args), "container=%s", request->container);
    }
    ostrel_i_azure_retry(&attempt);
}

void ostrel_i_azure_command_request_done(AZ_status status, AZ_error_details *details, void *arg)
{
    ostrel_i_azure_command_request_t *request = (ostrel_i_azure_command_request_t *)arg;

    ostrel_i_azure_trace_enter();
    if (status != AZ_OK)
        ostrel_i_azure_record_status(&request->status, &request->result, status,
                                     request->error_path, details);
    ostrel_i_azure_trace_exit();
}
