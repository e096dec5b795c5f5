/*
 * The checksum command (MD5 of a blob or of a byte range) and the incremental
 * checksum object that it and the transfers use.
 */
#include "connector/ostrel_i_azure.h"

#include <ctype.h>
#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <openssl/evp.h>

/* ---- checksum object ----------------------------------------------------- */

struct ostrel_i_az_checksum_s {
    EVP_MD_CTX *md5;
    bool finalized; /* the digest is spent: later updates would be lost */
    char text[33];
};

static ostrel_result_t ostrel_l_az_checksum_error(const char *func, int line, const char *text)
{
    return ostrel_error_put(ostrel_error_construct_error(NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN,
                                                         "checksum", func, line, "%s", text));
}

ostrel_result_t ostrel_i_az_checksum_init(ostrel_i_az_checksum_t **checksum, size_t size)
{
    ostrel_i_az_checksum_t *object;

    (void)size;
    ostrel_i_azure_trace_enter();
    object = (ostrel_i_az_checksum_t *)calloc(1, sizeof(*object));
    if (object == NULL)
        return ostrel_i_azure_system_error("malloc", errno);
    object->md5 = EVP_MD_CTX_new();
    if (object->md5 == NULL || EVP_DigestInit_ex(object->md5, EVP_md5(), NULL) != 1) {
        EVP_MD_CTX_free(object->md5);
        free(object);
        return ostrel_i_azure_system_error("malloc", ENOMEM);
    }
    *checksum = object;
    ostrel_i_azure_trace_result(OSTREL_SUCCESS);
    return OSTREL_SUCCESS;
}

ostrel_result_t ostrel_i_az_checksum_update(ostrel_i_az_checksum_t *checksum, const void *bytes,
                                            size_t count)
{
    if (checksum == NULL || checksum->finalized ||
        EVP_DigestUpdate(checksum->md5, bytes, count) != 1)
        return ostrel_l_az_checksum_error(__func__, __LINE__, "checksum update error");
    return OSTREL_SUCCESS;
}

ostrel_result_t ostrel_i_az_checksum_finalize(ostrel_i_az_checksum_t *checksum)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    ostrel_result_t result;

    ostrel_i_azure_trace_enter();
    if (checksum == NULL || checksum->finalized ||
        EVP_DigestFinal_ex(checksum->md5, digest, &length) != 1 || length != 16) {
        result = ostrel_l_az_checksum_error(__func__, __LINE__, "Can not finalize checksum.");
        ostrel_i_azure_trace_result(result);
        return result;
    }
    checksum->finalized = true;
    for (unsigned int i = 0; i < length; i++)
        snprintf(checksum->text + 2 * i, 3, "%.2x", digest[i]);
    ostrel_i_azure_trace_result(OSTREL_SUCCESS);
    return OSTREL_SUCCESS;
}

const char *ostrel_i_az_checksum_text(const ostrel_i_az_checksum_t *checksum)
{
    return checksum != NULL ? checksum->text : "";
}

void ostrel_i_az_checksum_free(ostrel_i_az_checksum_t **checksum)
{
    if (checksum == NULL || *checksum == NULL)
        return;
    EVP_MD_CTX_free((*checksum)->md5);
    free(*checksum);
    *checksum = NULL;
}

/* ---- checksum command ---------------------------------------------------- */

typedef struct ostrel_l_azure_checksum_state_s {
    ostrel_i_azure_command_request_t request; /* first: see its declaration */
    int64_t offset;
    int64_t length; /* -1: to the end of the blob */
    uint64_t bytes_done;
    uint64_t bytes_expected;
    int32_t update_interval; /* seconds; 0: no progress replies */
    time_t next_report;
    ostrel_i_az_checksum_t *md5;
    ostrel_result_t digest_result;         /* first failure of the digest in this try */
    bool stopped;                          /* no more bytes are taken in this try */
    ostrel_i_azure_blob_version_t version; /* the one the read is pinned to */
    char checksum[33];
} ostrel_l_azure_checksum_state_t;

static void ostrel_l_azure_checksum_digest_reset(ostrel_l_azure_checksum_state_t *state)
{
    ostrel_i_az_checksum_free(&state->md5);
    if (state->digest_result != OSTREL_SUCCESS)
        ostrel_object_free(ostrel_error_get(state->digest_result));
    state->digest_result = OSTREL_SUCCESS;
    state->stopped = false;
    state->bytes_done = 0;
}

static ostrel_result_t ostrel_l_azure_checksum_not_blob(const char *path)
{
    return ostrel_i_azure_path_error(550, "IS_A_DIRECTORY", path, "checksum needs a blob path");
}

/* Only a digest of the whole blob may come from its properties or the cache. */
static bool ostrel_l_azure_checksum_whole(const ostrel_l_azure_checksum_state_t *state)
{
    return state->offset == 0 &&
           (state->length == -1 || (uint64_t)state->length == state->version.size);
}

/* The digest without reading: the service's Content-MD5 or the cache. */
static void ostrel_l_azure_checksum_known(ostrel_l_azure_checksum_state_t *state)
{
    const char *md5 = state->version.md5;
    int consumed = 0;
    char digits[33];

    if (!ostrel_l_azure_checksum_whole(state))
        return;
    if (md5[0] != '\0') {
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_DEBUG, "Setting md5sum=%.32s from properties\n", md5);
        if (sscanf(md5, "%32[a-fA-F0-9]%n", digits, &consumed) == 1 && consumed == 32 &&
            md5[32] == '\0') {
            for (int i = 0; i < 33; i++)
                state->checksum[i] = (char)tolower((unsigned char)digits[i]);
            return;
        }
    }
    ostrel_i_az_checksum_find(state->request.az_handle->account, state->request.container,
                              state->request.key, (time_t)state->version.last_modified,
                              state->checksum);
}

static void ostrel_l_azure_checksum_report(ostrel_l_azure_checksum_state_t *state)
{
    char text[32];
    time_t now;

    if (state->update_interval <= 0)
        return;
    now = time(NULL);
    if (now < state->next_report)
        return;
    snprintf(text, sizeof(text), "%" PRIu64, state->bytes_done);
    ostrel_gridftp_server_intermediate_command(state->request.op, OSTREL_SUCCESS, text);
    state->next_report = now + state->update_interval;
}

/* A short count stops the delivery of this download; the worker then fails
 * the command instead of answering the digest of partial data. */
static int32_t ostrel_l_azure_checksum_data(int32_t count, const unsigned char *data, void *arg)
{
    ostrel_l_azure_checksum_state_t *state = (ostrel_l_azure_checksum_state_t *)arg;

    if (state->stopped || count < 0)
        return 0;
    if (state->bytes_done + (uint64_t)count > state->bytes_expected) {
        /* more than the range: the client delivered some bytes twice */
        state->bytes_done += (uint64_t)count;
        state->stopped = true;
        return 0;
    }
    ostrel_result_t update = ostrel_i_az_checksum_update(state->md5, data, (size_t)count);
    if (update != OSTREL_SUCCESS) {
        ostrel_object_free(ostrel_error_get(update));
        state->digest_result = ostrel_l_az_checksum_error("ostrel_l_azure_checksum_data", __LINE__,
                                                          "MD5_Update error");
        state->stopped = true;
        return 0;
    }
    state->bytes_done += (uint64_t)count;
    ostrel_l_azure_checksum_report(state);
    return count;
}

/* Every try digests from a fresh context: bytes of a failed try must not
 * count towards the answer. The read is pinned to the version the head
 * sized. */
static void ostrel_l_azure_checksum_get_call(void *request)
{
    ostrel_l_azure_checksum_state_t *state = (ostrel_l_azure_checksum_state_t *)request;
    AZ_blob_options pin = {state->version.etag, false, NULL};
    ostrel_result_t result;

    ostrel_l_azure_checksum_digest_reset(state);
    result = ostrel_i_az_checksum_init(&state->md5, 0);
    if (result != OSTREL_SUCCESS) {
        state->request.result = result;
        return;
    }
    AZ_get_blob_ex(state->request.az_handle->client, state->request.container, state->request.key,
                   (uint64_t)state->offset, state->bytes_expected, &pin,
                   ostrel_l_azure_checksum_data, ostrel_i_azure_command_request_done, state);
}

/* Bytes the range covers, once the head has given the blob's size. */
static ostrel_result_t ostrel_l_azure_checksum_range(ostrel_l_azure_checksum_state_t *state)
{
    uint64_t rest;

    if ((uint64_t)state->offset > state->version.size)
        return ostrel_i_azure_system_error("checksum", EINVAL);
    rest = state->version.size - (uint64_t)state->offset;
    if (state->length != -1 && (uint64_t)state->length < rest)
        rest = (uint64_t)state->length;
    state->bytes_expected = rest;
    return OSTREL_SUCCESS;
}

/* The read's outcome, or success with changed set when the blob is no
 * longer the version the head saw. */
static ostrel_result_t ostrel_l_azure_checksum_read(ostrel_l_azure_checksum_state_t *state,
                                                    bool *changed)
{
    ostrel_i_azure_command_request_t *request = &state->request;
    ostrel_result_t result;

    ostrel_i_azure_command_request_call(request, "AZ_get_blob", request->key,
                                        ostrel_l_azure_checksum_get_call, state);
    result = request->result;
    request->result = OSTREL_SUCCESS;
    if (request->status == AZ_ErrorPreconditionFailed) {
        ostrel_object_free(ostrel_error_get(result));
        *changed = true;
        return OSTREL_SUCCESS;
    }
    if (result != OSTREL_SUCCESS)
        return result;
    if (state->digest_result != OSTREL_SUCCESS) {
        result = state->digest_result;
        state->digest_result = OSTREL_SUCCESS;
        return result;
    }
    if (state->bytes_done != state->bytes_expected)
        return ostrel_error_put(ostrel_error_construct_error(
            NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "checksum", "ostrel_l_azure_checksum_thread",
            __LINE__, "Ostrel-Azure-Error: read %" PRIu64 " of %" PRIu64 " bytes of \"%s\"",
            state->bytes_done, state->bytes_expected, request->error_path));
    return OSTREL_SUCCESS;
}

static ostrel_result_t ostrel_l_azure_checksum_compute(ostrel_l_azure_checksum_state_t *state,
                                                       bool *changed)
{
    ostrel_result_t result;

    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_DEBUG, state->request.command->worker,
                            "op=%p no_md5_metadata_available\n", (void *)state->request.op);
    result = ostrel_l_azure_checksum_range(state);
    if (result != OSTREL_SUCCESS)
        return result;
    state->next_report = time(NULL) + state->update_interval;

    /* AZ_get_blob reads size 0 as "to the end"; nothing to read here. */
    if (state->bytes_expected == 0)
        result = ostrel_i_az_checksum_init(&state->md5, 0);
    else
        result = ostrel_l_azure_checksum_read(state, changed);
    if (result != OSTREL_SUCCESS || *changed)
        return result;
    result = ostrel_i_az_checksum_finalize(state->md5);
    if (result == OSTREL_SUCCESS)
        snprintf(state->checksum, sizeof(state->checksum), "%s",
                 ostrel_i_az_checksum_text(state->md5));
    return result;
}

/* One round: head, then the digest of the version it saw. */
static ostrel_result_t ostrel_l_azure_checksum_round(ostrel_l_azure_checksum_state_t *state,
                                                     bool *changed)
{
    ostrel_i_azure_command_request_t *request = &state->request;
    /* Taken before the head: any later change of the blob has a later time. */
    time_t started = time(NULL);
    ostrel_result_t result;

    result = ostrel_i_azure_command_request_head(request, request->key, &state->version);
    request->result = OSTREL_SUCCESS;
    if (result != OSTREL_SUCCESS)
        return result;
    if (!state->version.found)
        return ostrel_error_put(
            ostrel_i_AzureError_to_error(AZ_HttpErrorNotFound, request->error_path, NULL));
    if (state->version.is_directory)
        return ostrel_l_azure_checksum_not_blob(request->error_path);
    ostrel_l_azure_checksum_known(state);
    if (state->checksum[0] != '\0')
        return OSTREL_SUCCESS;

    result = ostrel_l_azure_checksum_compute(state, changed);
    if (result == OSTREL_SUCCESS && !*changed && ostrel_l_azure_checksum_whole(state))
        ostrel_i_az_checksum_add(request->az_handle->account, request->container, request->key,
                                 started, state->checksum);
    return result;
}

static char *ostrel_l_azure_checksum_run(ostrel_i_azure_command_request_t *request)
{
    ostrel_l_azure_checksum_state_t *state = (ostrel_l_azure_checksum_state_t *)request;
    ostrel_result_t result = OSTREL_SUCCESS;
    bool changed = false;

    for (int round = 0; round < OSTREL_I_AZURE_CHANGED_ROUNDS; round++) {
        changed = false;
        result = ostrel_l_azure_checksum_round(state, &changed);
        if (result != OSTREL_SUCCESS || !changed)
            break;
    }
    if (result == OSTREL_SUCCESS && changed)
        result = ostrel_i_azure_path_error(0, NULL, request->error_path,
                                           "\"%s\" changed while its checksum was read, %d times",
                                           request->error_path, OSTREL_I_AZURE_CHANGED_ROUNDS);
    if (result != OSTREL_SUCCESS)
        state->checksum[0] = '\0';

    /* the request is freed as a plain record */
    ostrel_l_azure_checksum_digest_reset(state);
    request->result = result;
    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, request->command->worker,
                            "finished_command: op=%p result=%#lx checksum=%.*s\n",
                            (void *)request->op, (unsigned long)result, 32, state->checksum);
    return state->checksum[0] != '\0' ? state->checksum : NULL;
}

static ostrel_result_t
ostrel_l_azure_checksum_prepare(ostrel_i_azure_command_request_t *request,
                                const ostrel_gfs_command_info_t *command_info)
{
    ostrel_l_azure_checksum_state_t *state = (ostrel_l_azure_checksum_state_t *)request;
    ostrel_result_t result;
    int interval = 0;

    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, request->command->entry,
                            "checksum: op=%p pathname=%s alg=%s offset=%ld length=%ld\n",
                            (void *)request->op, command_info->pathname,
                            command_info->cksm_alg ? command_info->cksm_alg : "",
                            (long)command_info->cksm_offset, (long)command_info->cksm_length);

    if (command_info->cksm_alg == NULL || strcasecmp(command_info->cksm_alg, "md5") != 0) {
        result = ostrel_error_put(ostrel_error_construct_error(
            NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "checksum", "ostrel_i_azure_checksum", __LINE__,
            "Unknown checksum algorithm \"%s\"",
            command_info->cksm_alg ? command_info->cksm_alg : ""));
        ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, request->command->entry,
                                "finished_command: op=%p result=%#lx\n", (void *)request->op,
                                (unsigned long)result);
        return result;
    }
    if (command_info->cksm_offset < 0 || command_info->cksm_length < -1)
        return ostrel_i_azure_system_error("checksum", EINVAL);
    state->offset = command_info->cksm_offset;
    state->length = command_info->cksm_length;
    result = ostrel_gridftp_server_get_update_interval(request->op, &interval);
    if (result != OSTREL_SUCCESS) {
        /* progress is optional: answer without it */
        ostrel_object_free(ostrel_error_get(result));
        interval = 0;
    }
    state->update_interval = interval > 0 ? interval : 0;

    if (!ostrel_i_azure_command_request_as_blob(request))
        return ostrel_l_azure_checksum_not_blob(command_info->pathname);
    return OSTREL_SUCCESS;
}

static const ostrel_i_azure_command_t ostrel_l_azure_checksum_command = {
    "checksum",                              /* name */
    "ostrel_i_azure_checksum",               /* entry */
    "ostrel_l_azure_checksum_thread",        /* worker */
    true,                                    /* thread_system_error */
    sizeof(ostrel_l_azure_checksum_state_t), /* size */
    ostrel_l_azure_checksum_prepare,         /* prepare */
    ostrel_l_azure_checksum_run,             /* run */
};

void ostrel_i_azure_checksum(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                             void *user_arg)
{
    ostrel_i_azure_command_request_start(&ostrel_l_azure_checksum_command, op, command_info,
                                         user_arg);
}
