/*
 * Remove directory: deletes a directory's folder marker, or a whole
 * container when OSTREL_AZURE_DELETE_CONTAINERS is set. Blobs below a
 * directory are left in place, and a blob that is not a folder marker is
 * never deleted.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>

typedef struct ostrel_l_azure_rmdir_marker_s {
    ostrel_i_azure_command_request_t *request;
    const char *key;
    AZ_blob_options pin; /* only the version that was examined */
} ostrel_l_azure_rmdir_marker_t;

/* What became of the markers of both spellings. */
typedef struct ostrel_l_azure_rmdir_outcome_s {
    int removed;
    bool not_marker; /* a blob of that name is not a folder marker */
    bool changed;    /* a marker changed between its head and its delete */
} ostrel_l_azure_rmdir_outcome_t;

static void ostrel_l_azure_rmdir_delete_done(AZ_status status, AZ_error_details *details, void *arg)
{
    ostrel_l_azure_rmdir_marker_t *marker = (ostrel_l_azure_rmdir_marker_t *)arg;

    /* gone meanwhile: what the command wanted */
    if (status == AZ_HttpErrorNotFound || status == AZ_ErrorBlobNotFound)
        return;
    /* replaced meanwhile: examined again, not an error of this try */
    if (status == AZ_ErrorPreconditionFailed) {
        marker->request->status = status;
        return;
    }
    ostrel_i_azure_command_request_done(status, details, marker->request);
}

static void ostrel_l_azure_rmdir_delete_marker(void *arg)
{
    ostrel_l_azure_rmdir_marker_t *marker = (ostrel_l_azure_rmdir_marker_t *)arg;

    AZ_delete_blob_ex(marker->request->az_handle->client, marker->request->container, marker->key,
                      &marker->pin, ostrel_l_azure_rmdir_delete_done, marker);
}

/* Deletes the folder marker at key, if that is what is there. */
static void ostrel_l_azure_rmdir_spelling(ostrel_i_azure_command_request_t *request,
                                          const char *key, ostrel_l_azure_rmdir_outcome_t *outcome)
{
    ostrel_i_azure_blob_version_t version;
    ostrel_l_azure_rmdir_marker_t marker = {request, key, {version.etag, false, NULL}};

    if (ostrel_i_azure_command_request_head(request, key, &version) != OSTREL_SUCCESS ||
        !version.found)
        return;
    if (!version.folder_marker) {
        outcome->not_marker = true;
        return;
    }
    ostrel_i_azure_command_request_call(request, "AZ_delete_blob", key,
                                        ostrel_l_azure_rmdir_delete_marker, &marker);
    if (request->status == AZ_ErrorPreconditionFailed)
        outcome->changed = true;
    else if (request->result == OSTREL_SUCCESS)
        outcome->removed++;
}

/* A directory's marker is "d" or "d/", whichever spelling made it. */
static void ostrel_l_azure_rmdir_directory(ostrel_i_azure_command_request_t *request)
{
    ostrel_l_azure_rmdir_outcome_t outcome = {0, false, false};
    char *other = ostrel_i_azure_marker_spelling(request->key);
    const char *spellings[2] = {request->key, other};

    if (other == NULL) {
        request->result = ostrel_i_azure_system_error("malloc", errno);
        return;
    }
    bool was_changed = false;
    for (int round = 0; round < OSTREL_I_AZURE_CHANGED_ROUNDS; round++) {
        outcome.changed = false;
        outcome.not_marker = false;
        for (int i = 0; i < 2 && request->result == OSTREL_SUCCESS; i++)
            ostrel_l_azure_rmdir_spelling(request, spellings[i], &outcome);
        if (!outcome.changed)
            break;
        was_changed = true;
    }
    free(other);

    /* A marker that failed its condition and then was gone was most likely
     * deleted by our own delete whose answer was lost; either way the
     * directory is gone, which is what the command wanted. */
    if (request->result != OSTREL_SUCCESS || outcome.removed > 0 ||
        (was_changed && !outcome.changed && !outcome.not_marker))
        return;
    if (outcome.changed)
        request->result = ostrel_i_azure_path_error(
            0, NULL, request->error_path, "\"%s\" kept changing while it was being removed",
            request->error_path);
    else if (outcome.not_marker)
        request->result = ostrel_i_azure_path_error(
            550, "NOT_A_DIRECTORY", request->error_path,
            "\"%s\" is not a directory: only a folder marker is removed", request->error_path);
    else
        ostrel_i_azure_command_request_fail(request, AZ_ErrorBlobNotFound);
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
        ostrel_l_azure_rmdir_directory(request);
    } else if (getenv("OSTREL_AZURE_DELETE_CONTAINERS") != NULL) {
        ostrel_i_azure_command_request_call(request, "AZ_delete_container", NULL,
                                            ostrel_l_azure_rmdir_delete_container, request);
    } else {
        /* deleting a container deletes every blob in it: only on request */
        ostrel_i_azure_command_request_fail(request, AZ_NotSupported);
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
