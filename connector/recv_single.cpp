/*
 * Upload: one block blob stored by one AZ_put_blob, which pulls the data
 * from the stream that recv_stream reassembles from the host's reads.
 */
#include "connector/ostrel_i_azure.h"

#include <assert.h>
#include <stdio.h>
#include <string.h>

/* Above this the storage layer sends blocks, and the service keeps no MD5
 * of the blob: the digest is made here. */
#define OSTREL_L_AZURE_RECV_MD5_THRESHOLD 134217728

typedef struct ostrel_l_azure_recv_put_s {
    ostrel_i_azure_transfer_state_t *transfer_state;
    AZ_put_options options;
    AZ_name_value modtime;
    char modtime_text[21];
    int64_t stored_modified; /* last-modified of the version stored; -1: unknown */
    char stored_md5[33];     /* the digest the storage layer made of the upload; "": none */
} ostrel_l_azure_recv_put_t;

static void ostrel_l_azure_recv_single_complete(AZ_status status, AZ_error_details *details,
                                                void *arg)
{
    ostrel_l_azure_recv_put_t *put = (ostrel_l_azure_recv_put_t *)arg;
    ostrel_i_azure_transfer_state_t *transfer_state;
    AZ_status ignored = AZ_OK;
    ostrel_result_t result = OSTREL_SUCCESS;

    assert(put != NULL && put->transfer_state != NULL);
    transfer_state = put->transfer_state;
    if (status == AZ_OK)
        return;
    /* Bytes already pulled cannot be pulled again: a repeat would store a
     * blob without them. Such a failure is final. */
    if (transfer_state->offset > 0 || transfer_state->result != OSTREL_SUCCESS) {
        ostrel_i_azure_record_status(&ignored, &result, status, transfer_state->pathname, details);
        ostrel_i_azure_transfer_fail(transfer_state, result);
        return;
    }
    ostrel_i_azure_transfer_done(status, details, transfer_state);
}

static int ostrel_l_azure_recv_single_stored(AZ_properties *properties, void *arg)
{
    ostrel_l_azure_recv_put_t *put = (ostrel_l_azure_recv_put_t *)arg;

    if (properties != NULL) {
        put->stored_modified = properties->last_modified;
        if (properties->md5 != NULL && strlen(properties->md5) == 32)
            memcpy(put->stored_md5, properties->md5, 33);
    }
    return 0;
}

static int32_t ostrel_l_azure_recv_single_pull(int32_t max, unsigned char *buffer, void *arg)
{
    return ostrel_i_azure_recv_single_data(max, buffer,
                                           ((ostrel_l_azure_recv_put_t *)arg)->transfer_state);
}

static void ostrel_l_azure_recv_single_put(void *arg)
{
    ostrel_l_azure_recv_put_t *put = (ostrel_l_azure_recv_put_t *)arg;
    ostrel_i_azure_transfer_state_t *transfer_state = put->transfer_state;
    AZ_blob_options blob_options = {NULL, false, ostrel_l_azure_recv_single_stored};

    if (transfer_state->result != OSTREL_SUCCESS)
        return;
    AZ_put_blob_ex(transfer_state->az_handle->client, transfer_state->container,
                   transfer_state->key, (uint64_t)transfer_state->transfer_info->alloc_size,
                   &put->options, &blob_options, ostrel_l_azure_recv_single_pull,
                   ostrel_l_azure_recv_single_complete, put);
}

static void ostrel_l_azure_recv_single_options(ostrel_l_azure_recv_put_t *put)
{
    ostrel_i_azure_transfer_state_t *transfer_state = put->transfer_state;
    time_t modtime = -1;

    put->stored_modified = -1;
    put->options.content_type = ostrel_i_azure_mime_type_get(transfer_state->key);
    if (ostrel_gridftp_server_get_recv_modification_time(transfer_state->op, &modtime) == 0 &&
        modtime != -1) {
        snprintf(put->modtime_text, sizeof(put->modtime_text), "%ld", (long)modtime);
        put->modtime.name = "ostrel_modtime";
        put->modtime.value = put->modtime_text;
        put->options.metadata_count = 1;
        put->options.metadata = &put->modtime;
    }
}

static void ostrel_l_azure_recv_single_checksum(ostrel_i_azure_transfer_state_t *transfer_state,
                                                const ostrel_l_azure_recv_put_t *put)
{
    ostrel_result_t result;
    const char *text = put->stored_md5;

    if (transfer_state->result != OSTREL_SUCCESS || put->stored_modified < 0)
        return;
    if (text[0] == '\0') {
        if (!transfer_state->md5_active)
            return;
        result = ostrel_i_az_checksum_finalize(transfer_state->checksum);
        if (result != OSTREL_SUCCESS) {
            ostrel_object_free(ostrel_error_get(result));
            return;
        }
        text = ostrel_i_az_checksum_text(transfer_state->checksum);
    }
    /* Valid for the version stored here, whose time has whole seconds. */
    ostrel_i_az_checksum_add(transfer_state->az_handle->account, transfer_state->container,
                             transfer_state->key, (time_t)put->stored_modified + 1, text);
}

static void *ostrel_l_azure_recv_single_thread(void *arg)
{
    ostrel_i_azure_transfer_state_t *transfer_state = (ostrel_i_azure_transfer_state_t *)arg;
    ostrel_l_azure_recv_put_t put = {};
    int64_t announced = transfer_state->transfer_info->alloc_size;

    ostrel_mutex_lock(&transfer_state->mutex);
    put.transfer_state = transfer_state;
    ostrel_l_azure_recv_single_options(&put);

    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "begin_transfer: op=%p pathname=%s\n",
                       (void *)transfer_state->op, transfer_state->pathname);
    ostrel_gridftp_server_begin_transfer(transfer_state->op, 0, NULL);
    ostrel_i_azure_transfer_fail(transfer_state,
                                 ostrel_i_azure_recv_register_reads(transfer_state));

    /* a stored digest is made below as the bytes go out: one pass is enough */
    if (transfer_state->result == OSTREL_SUCCESS && announced > OSTREL_L_AZURE_RECV_MD5_THRESHOLD &&
        !transfer_state->az_handle->storage_options.store_md5) {
        ostrel_result_t result = ostrel_i_az_checksum_init(&transfer_state->checksum, 0);
        if (result != OSTREL_SUCCESS)
            ostrel_object_free(ostrel_error_get(result));
        transfer_state->md5_active = result == OSTREL_SUCCESS;
    }
    /* An empty blob pulls nothing: data that should not be there must show
     * before it is stored. */
    if (announced == 0)
        ostrel_i_azure_recv_wait_complete(transfer_state);
    if (transfer_state->result == OSTREL_SUCCESS)
        ostrel_i_azure_transfer_call(transfer_state, "ostrel_l_azure_recv_single_thread",
                                     "AZ_put_blob", ostrel_l_azure_recv_single_put, &put);

    ostrel_i_azure_recv_wait_complete(transfer_state);
    ostrel_l_azure_recv_single_checksum(transfer_state, &put);
    ostrel_i_azure_transfer_finish(transfer_state, "ostrel_l_azure_recv_single_thread");
    return NULL;
}

ostrel_result_t ostrel_i_azure_recv_single(ostrel_gfs_operation_t op,
                                           ostrel_gfs_transfer_info_t *transfer_info,
                                           ostrel_i_azure_handle_t *az_handle)
{
    assert(transfer_info != NULL);
    assert(az_handle != NULL);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "recv: op=%p pathname=%s\n", (void *)op,
                       transfer_info->pathname ? transfer_info->pathname : "");
    return ostrel_i_azure_transfer_start(op, transfer_info, az_handle, "recv_single",
                                         "ostrel_i_azure_recv_single",
                                         ostrel_l_azure_recv_single_thread);
}
