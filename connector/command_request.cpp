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

    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_TRACE, request->command->worker, "enter\n");
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
                                         const char *call_name, const char *key,
                                         void (*call)(void *), void *arg)
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
        arg,
        request->az_handle,
    };

    if (OSTREL_I_AZURE_DEBUG_ENABLED(OSTREL_AZURE_DEBUG_INFO)) {
        if (key != NULL)
            snprintf(args, sizeof(args), "container=%s, key=%s", request->container, key);
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

void ostrel_i_azure_command_request_fail(ostrel_i_azure_command_request_t *request,
                                         AZ_status status)
{
    ostrel_i_azure_record_status(&request->status, &request->result, status, request->error_path,
                                 NULL);
}

/* ---- head ------------------------------------------------------------------- */

typedef struct ostrel_l_azure_command_request_head_s {
    ostrel_i_azure_command_request_t *request;
    const char *key;
    ostrel_i_azure_blob_version_t *version;
} ostrel_l_azure_command_request_head_t;

static int ostrel_l_azure_command_request_head_properties(AZ_properties *properties, void *arg)
{
    ostrel_i_azure_blob_version_t *version =
        ((ostrel_l_azure_command_request_head_t *)arg)->version;

    if (properties == NULL)
        return 0;
    version->found = true;
    version->is_directory = properties->is_directory;
    version->folder_marker = properties->folder_marker;
    version->size = properties->size;
    version->last_modified = properties->last_modified;
    snprintf(version->md5, sizeof(version->md5), "%s", properties->md5 ? properties->md5 : "");
    /* a longer one is cut and no longer matches: the pinned call then fails */
    snprintf(version->etag, sizeof(version->etag), "%s", properties->etag ? properties->etag : "");
    return 0;
}

static void ostrel_l_azure_command_request_head_done(AZ_status status, AZ_error_details *details,
                                                     void *arg)
{
    ostrel_l_azure_command_request_head_t *head = (ostrel_l_azure_command_request_head_t *)arg;

    /* A HEAD answer has no body, so "no such blob" mostly arrives as 200. */
    if (status == AZ_HttpErrorNotFound || status == AZ_ErrorBlobNotFound)
        return;
    ostrel_i_azure_command_request_done(status, details, head->request);
}

static void ostrel_l_azure_command_request_head_call(void *arg)
{
    ostrel_l_azure_command_request_head_t *head = (ostrel_l_azure_command_request_head_t *)arg;

    memset(head->version, 0, sizeof(*head->version));
    AZ_head_blob(head->request->az_handle->client, head->request->container, head->key,
                 ostrel_l_azure_command_request_head_properties,
                 ostrel_l_azure_command_request_head_done, head);
}

ostrel_result_t ostrel_i_azure_command_request_head(ostrel_i_azure_command_request_t *request,
                                                    const char *key,
                                                    ostrel_i_azure_blob_version_t *version)
{
    ostrel_l_azure_command_request_head_t head = {request, key, version};

    ostrel_i_azure_command_request_call(request, "AZ_head_blob", key,
                                        ostrel_l_azure_command_request_head_call, &head);
    return request->result;
}

char *ostrel_i_azure_marker_spelling(const char *key)
{
    size_t length = strlen(key);
    char *other = (char *)malloc(length + 2);

    if (other == NULL)
        return NULL;
    memcpy(other, key, length + 1);
    if (length > 0 && key[length - 1] == '/')
        other[length - 1] = '\0';
    else
        memcpy(other + length, "/", 2);
    return other;
}
