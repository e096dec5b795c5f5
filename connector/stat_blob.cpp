/*
 * Stat inside a container: a blob or directory (file-only), and the listing
 * of a container or directory with "/" read as the separator.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#define OSTREL_L_AZURE_MODE_DIRECTORY 040700
#define OSTREL_L_AZURE_MODE_FILE 0100700

/* The blob's modification time: "ostrel_modtime" when it holds a valid time,
 * -1 when it holds anything else, last_modified without it. */
static void ostrel_l_azure_parse_mtime(const AZ_properties *properties,
                                       const ostrel_i_azure_stat_request_t *request, int64_t *mtime)
{
    const char *value = NULL;
    char *end = NULL;
    long long number;

    *mtime = properties->last_modified;
    for (int32_t i = 0; i < properties->metadata_count && properties->metadata != NULL; i++) {
        if (properties->metadata[i].name != NULL &&
            strcmp(properties->metadata[i].name, "ostrel_modtime") == 0) {
            value = properties->metadata[i].value;
            break;
        }
    }
    if (value == NULL)
        return;

    errno = 0;
    number = strtoll(value, &end, 10);
    if ((errno == 0 && end != value && *end == '\0' && number >= 1) || strcmp(value, "0") == 0) {
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "Blob '/%s/%s' has metadata: mtime='%ld'\n",
                           request->container, request->key ? request->key : "", (long)number);
        *mtime = number;
    } else {
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE,
                           "Blob '/%s/%s' has invalid metadata: mtime='%s'\n", request->container,
                           request->key ? request->key : "", value);
        *mtime = -1;
    }
}

static void ostrel_l_azure_stat_entry(ostrel_gfs_stat_t *entry, int mode, const char *name,
                                      const ostrel_i_azure_stat_request_t *request)
{
    memset(entry, 0, sizeof(*entry));
    entry->mode = mode;
    entry->nlink = 1;
    entry->name = (char *)name;
    entry->atime = -1;
    entry->ctime = -1;
    entry->mtime = -1;
    entry->dev = ostrel_i_azure_stat_hash(request->container);
}

static void ostrel_l_azure_stat_not_found(ostrel_i_azure_stat_request_t *request)
{
    request->status = AZ_HttpErrorNotFound;
    request->result = ostrel_error_put(
        ostrel_i_AzureError_to_error(AZ_HttpErrorNotFound, request->pathname, NULL));
}

static const char *ostrel_l_azure_stat_args(char *args, size_t size,
                                            const ostrel_i_azure_stat_request_t *request,
                                            const char *key)
{
    if (OSTREL_I_AZURE_DEBUG_ENABLED(OSTREL_AZURE_DEBUG_INFO))
        snprintf(args, size, "container=%s, key=%s", request->container, key ? key : "<NULL>");
    return args;
}

/* ---- file-only stat of a key ---------------------------------------------- */

static int ostrel_l_azure_stat_head_blob_callback(AZ_properties *properties, void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;
    ostrel_gfs_stat_t entry;
    int64_t mtime;

    ostrel_i_azure_trace_enter();
    if (properties == NULL)
        goto out;
    ostrel_l_azure_parse_mtime(properties, request, &mtime);
    if (properties->is_directory) {
        ostrel_l_azure_stat_entry(&entry, OSTREL_L_AZURE_MODE_DIRECTORY,
                                  request->file_only ? request->key : ".", request);
        entry.ino = ostrel_i_azure_stat_hash(request->pathname);
        ostrel_i_azure_stat_add(request, &entry);
    } else if (request->file_only && !request->directory_only) {
        ostrel_l_azure_stat_entry(&entry, OSTREL_L_AZURE_MODE_FILE, request->key, request);
        entry.ino = ostrel_i_azure_stat_hash(request->pathname);
        entry.size = (int64_t)properties->size;
        entry.mtime = mtime < 0 ? -1 : mtime;
        ostrel_i_azure_stat_add(request, &entry);
    }
out:
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "exit status=%d: %s\n", 0, AZ_get_status_name(0));
    return 0;
}

static void ostrel_l_azure_stat_head_blob_complete(AZ_status status, AZ_error_details *details,
                                                   void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;

    ostrel_i_azure_record_status(&request->status, &request->result, status, request->pathname,
                                 details);
}

static void ostrel_l_azure_stat_list_dir_complete(AZ_status status, AZ_error_details *details,
                                                  void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;

    /* a prefix with nothing under it is not an error of the listing */
    if (status == AZ_HttpErrorNotFound)
        return;
    ostrel_i_azure_record_status(&request->status, &request->result, status, request->pathname,
                                 details);
}

static int ostrel_l_azure_stat_check_dir_callback(AZ_properties *properties, void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;
    ostrel_gfs_stat_t entry;

    ostrel_i_azure_trace_enter();
    if (properties != NULL && request->entry_count == 0 && !request->found) {
        request->found = true;
        ostrel_l_azure_stat_entry(&entry, OSTREL_L_AZURE_MODE_DIRECTORY, ".", request);
        entry.ino = ostrel_i_azure_stat_hash(request->prefix);
        ostrel_i_azure_stat_add(request, &entry);
    }
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "exit status=%d: %s\n", 0, AZ_get_status_name(0));
    return 0;
}

static void ostrel_l_azure_stat_head_blob_call(void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;

    AZ_head_blob(request->az_handle->client, request->container, request->key,
                 ostrel_l_azure_stat_head_blob_callback, ostrel_l_azure_stat_head_blob_complete,
                 request);
}

static void ostrel_l_azure_stat_check_dir_call(void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;

    AZ_list_blobs(request->az_handle->client, request->container, request->prefix,
                  ostrel_l_azure_stat_check_dir_callback, ostrel_l_azure_stat_list_dir_complete,
                  request);
}

static void ostrel_l_azure_stat_head_blob(ostrel_i_azure_stat_request_t *request, const char *func)
{
    char args[2048] = "";

    ostrel_i_azure_stat_call(request, func, "AZ_head_blob",
                             ostrel_l_azure_stat_args(args, sizeof(args), request, request->key),
                             ostrel_l_azure_stat_head_blob_call);
}

void ostrel_i_azure_stat_blob(ostrel_i_azure_stat_request_t *request)
{
    char args[2048] = "";

    ostrel_i_azure_trace_enter();
    ostrel_l_azure_stat_head_blob(request, __func__);

    /* A HEAD answer has no body, so "not a blob" mostly arrives as 200; the
     * service may still name it BlobNotFound in a header. */
    if (request->entry_count == 0 &&
        (request->result == OSTREL_SUCCESS || request->status == AZ_HttpErrorNotFound ||
         request->status == AZ_ErrorBlobNotFound)) {
        ostrel_i_azure_stat_clear(request);
        ostrel_i_azure_stat_call(
            request, __func__, "AZ_list_container",
            ostrel_l_azure_stat_args(args, sizeof(args), request, request->prefix),
            ostrel_l_azure_stat_check_dir_call);
        if (request->result == OSTREL_SUCCESS && request->entry_count == 0)
            ostrel_l_azure_stat_not_found(request);
    }
    ostrel_i_azure_trace_exit();
}

/* ---- listing ---------------------------------------------------------------- */

static void ostrel_l_azure_stat_list_dot(ostrel_i_azure_stat_request_t *request, int64_t mtime)
{
    ostrel_gfs_stat_t entry;

    request->found = true;
    ostrel_l_azure_stat_entry(&entry, OSTREL_L_AZURE_MODE_DIRECTORY, ".", request);
    entry.atime = mtime;
    entry.ctime = mtime;
    entry.mtime = mtime;
    entry.ino = ostrel_i_azure_stat_hash(request->key != NULL ? request->key : "/");
    ostrel_i_azure_stat_add(request, &entry);
}

/* The entry's name: the one component of rel (the listed name below the
 * listed directory), which a directory's prefix ends with "/". NULL for a
 * name that no operation could address. Caller frees. */
static char *ostrel_l_azure_stat_component(const char *rel, bool is_directory)
{
    size_t length = strcspn(rel, "/");

    if (ostrel_i_azure_name_error(rel) != NULL || length == 0)
        return NULL;
    if (rel[length] != '\0' && !(is_directory && rel[length + 1] == '\0'))
        return NULL;
    return strndup(rel, length);
}

/* Whether the listing already showed a directory called name: the service
 * shows a directory both as its marker and as its prefix, and the two may
 * come on different pages. Remembers name otherwise. */
static bool ostrel_l_azure_stat_seen_directory(ostrel_i_azure_stat_request_t *request,
                                               const char *name)
{
    char *copy;

    if (request->directories == NULL &&
        ostrel_hashtable_init(&request->directories, 256, ostrel_hashtable_string_hash,
                              ostrel_hashtable_string_keyeq) != 0) {
        /* nothing to remember with: a name shown twice beats one lost */
        request->directories = NULL;
        return false;
    }
    if (ostrel_hashtable_lookup(&request->directories, (void *)name) != NULL)
        return true;
    copy = strdup(name);
    if (copy != NULL && ostrel_hashtable_insert(&request->directories, copy, copy) != 0)
        free(copy);
    return false;
}

static int ostrel_l_azure_stat_list_dir_callback(AZ_properties *properties, void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;
    size_t length = strlen(request->prefix);
    ostrel_gfs_stat_t entry;
    char *name = NULL;
    const char *rel;
    int64_t mtime;

    ostrel_i_azure_trace_enter();
    if (properties == NULL || properties->name == NULL)
        goto out;
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "List entry '%s'.\n", properties->name);
    if (strncmp(properties->name, request->prefix, length) != 0)
        goto out;
    ostrel_l_azure_parse_mtime(properties, request, &mtime);
    if (!request->found)
        ostrel_l_azure_stat_list_dot(request, mtime);

    rel = properties->name + length;
    if (rel[0] == '\0') {
        /* the listed directory's own marker, written with its separator */
        if (properties->is_directory)
            ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "Dropping invalid entry '%s'.\n",
                               properties->name);
        goto out;
    }
    name = ostrel_l_azure_stat_component(rel, properties->is_directory);
    if (name == NULL) {
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "Dropping invalid entry '%s'.\n",
                           properties->name);
        goto out;
    }
    if (properties->is_directory) {
        if (ostrel_l_azure_stat_seen_directory(request, name))
            goto out;
        ostrel_l_azure_stat_entry(&entry, OSTREL_L_AZURE_MODE_DIRECTORY, name, request);
    } else {
        ostrel_l_azure_stat_entry(&entry, OSTREL_L_AZURE_MODE_FILE, name, request);
        entry.size = (int64_t)properties->size;
    }
    entry.atime = mtime;
    entry.ctime = mtime;
    entry.mtime = mtime;
    entry.ino = ostrel_i_azure_stat_hash(properties->name);
    ostrel_i_azure_stat_add(request, &entry);
out:
    free(name);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "exit status=%d: %s\n", 0, AZ_get_status_name(0));
    return 0;
}

static void ostrel_l_azure_stat_list_blobs_call(void *arg)
{
    ostrel_i_azure_stat_request_t *request = (ostrel_i_azure_stat_request_t *)arg;

    AZ_list_blobs(request->az_handle->client, request->container, request->prefix,
                  ostrel_l_azure_stat_list_dir_callback, ostrel_l_azure_stat_list_dir_complete,
                  request);
}

void ostrel_i_azure_stat_list_blobs(ostrel_i_azure_stat_request_t *request)
{
    char args[2048] = "";
    ostrel_gfs_stat_t entry;

    ostrel_i_azure_trace_enter();
    ostrel_i_azure_stat_call(request, __func__, "AZ_list_blobs",
                             ostrel_l_azure_stat_args(args, sizeof(args), request,
                                                      request->key ? request->prefix : NULL),
                             ostrel_l_azure_stat_list_blobs_call);
    if (request->directories != NULL) {
        ostrel_hashtable_destroy_all(&request->directories, free);
        request->directories = NULL;
    }
    if (request->result == OSTREL_SUCCESS && !request->found) {
        if (request->key != NULL) {
            /* nothing below it: only a folder marker makes it a directory */
            ostrel_l_azure_stat_head_blob(request, __func__);
            if (request->result == OSTREL_SUCCESS && request->entry_count == 0)
                ostrel_l_azure_stat_not_found(request);
        } else {
            request->found = true;
            ostrel_l_azure_stat_entry(&entry, OSTREL_L_AZURE_MODE_DIRECTORY, ".", request);
            entry.ino = ostrel_i_azure_stat_hash("/");
            ostrel_i_azure_stat_add(request, &entry);
        }
    }
    ostrel_i_azure_trace_exit();
}
