/*
 * Stat: the entry, the worker, result batching, and the top of the
 * namespace (the root and the containers). Blobs and directories inside a
 * container are in stat_blob.cpp.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#define OSTREL_L_AZURE_MODE_DIRECTORY 040700

int ostrel_i_azure_stat_hash(const char *text)
{
    return ostrel_hashtable_string_hash((void *)text, 0x7fffffff);
}

static void ostrel_l_azure_stat_flush(ostrel_i_azure_stat_request_t *request, bool final)
{
    int count = (int)request->entry_count;

    if (final)
        ostrel_gridftp_server_finished_stat(request->op, request->result, request->entries, count);
    else
        ostrel_gridftp_server_finished_stat_partial(request->op, OSTREL_SUCCESS, request->entries,
                                                    count);
    for (int i = 0; i < count; i++)
        free(request->entries[i].name);
    memset(request->entries, 0, sizeof(request->entries));
    request->entry_count = 0;
}

void ostrel_i_azure_stat_add(ostrel_i_azure_stat_request_t *request, const ostrel_gfs_stat_t *entry)
{
    ostrel_gfs_stat_t *slot = &request->entries[request->entry_count];
    char *name = strdup(entry->name ? entry->name : "");

    if (name == NULL) {
        if (request->result == OSTREL_SUCCESS)
            request->result = ostrel_i_azure_system_error("strdup", errno);
        return;
    }
    *slot = *entry;
    slot->name = name;
    request->entry_count++;
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "Adding stat result for %s [size=%ld]\n", name,
                       (long)entry->size);

    if (request->entry_count == OSTREL_I_AZURE_STAT_BATCH) {
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_DEBUG,
                           "calling finished_stat_partial stat_count=%d\n",
                           (int)request->entry_count);
        ostrel_l_azure_stat_flush(request, false);
    }
    ostrel_i_azure_trace_exit();
}

void ostrel_i_azure_stat_call(ostrel_i_azure_stat_request_t *request, const char *func,
                              const char *call_name, const char *args, void (*call)(void *))
{
    ostrel_i_azure_attempt_t attempt = {
        func,
        request->op,
        &request->tries,
        &request->status,
        &request->result,
        call_name,
        args ? args : "",
        call,
        request,
        request->az_handle,
    };

    ostrel_i_azure_retry(&attempt);
}

void ostrel_i_azure_stat_clear(ostrel_i_azure_stat_request_t *request)
{
    if (request->result != OSTREL_SUCCESS)
        ostrel_object_free(ostrel_error_get(request->result));
    request->result = OSTREL_SUCCESS;
    request->status = AZ_OK;
}

static void ostrel_l_azure_stat_directory(ostrel_gfs_stat_t *entry, const char *name)
{
    memset(entry, 0, sizeof(*entry));
    entry->mode = OSTREL_L_AZURE_MODE_DIRECTORY;
    entry->nlink = 1;
    entry->name = (char *)name;
    entry->atime = -1;
    entry->ctime = -1;
    entry->mtime = -1;
}

void ostrel_i_azure_stat_root(ostrel_i_azure_stat_request_t *request)
{
    ostrel_gfs_stat_t entry;

    ostrel_i_azure_trace_enter();
    ostrel_l_azure_stat_directory(&entry, ".");
    entry.dev = ostrel_i_azure_stat_hash("/");
    entry.ino = ostrel_i_azure_stat_hash("/");
    ostrel_i_azure_stat_add(request, &entry);
    ostrel_i_azure_trace_exit();
}

static int ostrel_l_azure_stat_list_containers_callback(AZ_properties *properties, void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;
    ostrel_gfs_stat_t entry;

    ostrel_i_azure_trace_enter();
    if (properties != NULL && properties->name != NULL &&
        ostrel_i_azure_container_allowed(properties->name, request->az_handle->allowed_containers,
                                         NULL)) {
        ostrel_l_azure_stat_directory(&entry, properties->name);
        entry.dev = ostrel_i_azure_stat_hash("/");
        entry.ino = ostrel_i_azure_stat_hash(properties->name);
        ostrel_i_azure_stat_add(request, &entry);
    }
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "exit status=%d: %s\n", 0, AZ_get_status_name(0));
    return 0;
}

static void ostrel_l_azure_stat_complete(AZ_status status, AZ_error_details *details, void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;

    ostrel_i_azure_record_status(&request->status, &request->result, status, request->pathname,
                                 details);
}

static void ostrel_l_azure_stat_list_containers_call(void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;

    AZ_list_containers(request->az_handle->client, ostrel_l_azure_stat_list_containers_callback,
                       ostrel_l_azure_stat_complete, request);
}

void ostrel_i_azure_stat_list_containers(ostrel_i_azure_stat_request_t *request)
{
    ostrel_gfs_stat_t entry;

    ostrel_i_azure_trace_enter();
    ostrel_l_azure_stat_directory(&entry, ".");
    entry.dev = 0;
    entry.ino = ostrel_i_azure_stat_hash("/");
    ostrel_i_azure_stat_add(request, &entry);
    ostrel_i_azure_stat_call(request, __func__, "AZ_list_containers", "",
                             ostrel_l_azure_stat_list_containers_call);
    ostrel_i_azure_trace_exit();
}

static void ostrel_l_azure_stat_head_container_call(void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;

    AZ_head_container(request->az_handle->client, request->container,
                      ostrel_l_azure_stat_list_containers_callback, ostrel_l_azure_stat_complete,
                      request);
}

void ostrel_i_azure_stat_container(ostrel_i_azure_stat_request_t *request)
{
    char args[512] = "";

    ostrel_i_azure_trace_enter();
    if (OSTREL_I_AZURE_DEBUG_ENABLED(OSTREL_AZURE_DEBUG_INFO))
        snprintf(args, sizeof(args), "container=%s", request->container);
    ostrel_i_azure_stat_call(request, __func__, "AZ_head_container", args,
                             ostrel_l_azure_stat_head_container_call);
    ostrel_i_azure_trace_exit();
}

static void *ostrel_l_azure_stat_thread(void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;

    ostrel_i_azure_trace_enter();
    switch (request->stat_kind) {
    case OSTREL_I_AZURE_STAT_ROOT:
        ostrel_i_azure_stat_root(request);
        break;
    case OSTREL_I_AZURE_STAT_CONTAINER:
        ostrel_i_azure_stat_container(request);
        break;
    case OSTREL_I_AZURE_STAT_BLOB:
        ostrel_i_azure_stat_blob(request);
        break;
    case OSTREL_I_AZURE_STAT_LIST_CONTAINERS:
        ostrel_i_azure_stat_list_containers(request);
        break;
    default:
        ostrel_i_azure_stat_list_blobs(request);
        break;
    }
    ostrel_l_azure_stat_flush(request, true);
    free(request);
    return NULL;
}

static int ostrel_l_azure_stat_kind(const ostrel_i_azure_stat_request_t *request)
{
    if (request->container[0] == '\0')
        return request->file_only ? OSTREL_I_AZURE_STAT_ROOT : OSTREL_I_AZURE_STAT_LIST_CONTAINERS;
    if (!request->file_only)
        return OSTREL_I_AZURE_STAT_LIST_BLOBS;
    return request->key == NULL ? OSTREL_I_AZURE_STAT_CONTAINER : OSTREL_I_AZURE_STAT_BLOB;
}

/* The request and, behind it, the split path (two spare bytes), the path as
 * given and the directory prefix. */
static ostrel_i_azure_stat_request_t *ostrel_l_azure_stat_request_create(const char *path)
{
    size_t length = strlen(path);
    ostrel_i_azure_stat_request_t *request;
    char *tail;

    request = (ostrel_i_azure_stat_request_t *)calloc(1, sizeof(*request) + 3 * length + 6);
    if (request == NULL)
        return NULL;
    tail = (char *)(request + 1);
    request->path = tail;
    memcpy(request->path, path, length + 1);
    tail += length + 3;
    memcpy(tail, path, length + 1);
    request->pathname = tail;
    request->prefix = tail + length + 1;
    return request;
}

/* A trailing separator names the same directory ("/c/d/" is "/c/d"), and a
 * key left empty ("/c/") names the container itself. The path check leaves
 * at most one trailing separator. */
static void ostrel_l_azure_stat_prefix(ostrel_i_azure_stat_request_t *request)
{
    size_t length;

    if (request->key == NULL)
        return;
    length = strlen(request->key);
    if (length > 0 && request->key[length - 1] == '/') {
        request->key[--length] = '\0';
        request->directory_only = true;
    }
    if (length == 0) {
        request->key = NULL;
        return;
    }
    memcpy(request->prefix, request->key, length);
    memcpy(request->prefix + length, "/", 2);
}

static void ostrel_l_azure_stat_refuse(ostrel_gfs_operation_t op, ostrel_result_t result)
{
    ostrel_i_azure_trace_result(result);
    ostrel_gridftp_server_finished_stat(op, result, NULL, 0);
}

void ostrel_i_azure_stat(ostrel_gfs_operation_t op, ostrel_gfs_stat_info_t *stat_info,
                         void *user_arg)
{
    ostrel_i_azure_handle_t *handle = (ostrel_i_azure_handle_t *)user_arg;
    ostrel_i_azure_stat_request_t *request;
    ostrel_result_t result;

    ostrel_i_azure_trace_enter();
    if (handle == NULL || stat_info == NULL || stat_info->pathname == NULL) {
        ostrel_l_azure_stat_refuse(op, ostrel_i_azure_system_error("stat", EINVAL));
        return;
    }
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "command=stat path=%s file_only=%s\n",
                       stat_info->pathname, stat_info->file_only ? "true" : "false");

    request = ostrel_l_azure_stat_request_create(stat_info->pathname);
    if (request == NULL) {
        ostrel_l_azure_stat_refuse(op, ostrel_i_azure_system_error("malloc", errno));
        return;
    }
    ostrel_i_azure_handle_set_op(handle, op);
    request->az_handle = handle;
    request->op = op;
    request->file_only = stat_info->file_only != 0;
    ostrel_i_azure_path_parse(request->path, &request->container, &request->key);
    result = ostrel_i_azure_path_check(stat_info->pathname, request->container, request->key);
    if (result != OSTREL_SUCCESS)
        goto refuse;
    ostrel_l_azure_stat_prefix(request);
    request->stat_kind = ostrel_l_azure_stat_kind(request);

    if (request->stat_kind == OSTREL_I_AZURE_STAT_ROOT) {
        /* the root's own entry needs no storage, so no token either */
        memset(&request->container_context, 0, sizeof(request->container_context));
        request->container_context.container = "";
    } else {
        result = ostrel_i_azure_container_context(handle, request->container,
                                                  &request->container_context);
        if (result != OSTREL_SUCCESS)
            goto refuse;
    }

    result =
        ostrel_i_azure_worker_start("stat", __func__, false, ostrel_l_azure_stat_thread, request);
    if (result != OSTREL_SUCCESS)
        goto refuse;
    ostrel_i_azure_trace_exit();
    return;

refuse:
    free(request);
    ostrel_l_azure_stat_refuse(op, result);
}
