/*
 * Download: ranged blob reads turned into data-channel writes. Each buffer
 * keeps the file offset its bytes belong at, so buffers of one range still
 * waiting to be written when the next range starts land where they belong.
 */
#include "connector/ostrel_i_azure.h"

#include <assert.h>
#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

static int32_t ostrel_l_azure_send_concurrency(ostrel_gfs_operation_t op)
{
    int count = 0;

    ostrel_gridftp_server_get_optimal_concurrency(op, &count);
    return count > 0 ? count : 1;
}

/* Registers writes for pending buffers while fewer than the host's
 * concurrency are outstanding. 0, or 1 when a registration failed (the
 * failure is then the transfer's). Mutex held. */
static int ostrel_l_azure_send_pending_buffers(ostrel_i_azure_transfer_state_t *transfer_state);

/* The digest of a whole download is taken from buffers once written, in
 * file order, on whichever thread completes the write the digest waits for:
 * the receiving thread only copies. One thread digests at a time; the others
 * leave their buffers on undigested. Mutex held, released while digesting. */
static void ostrel_l_azure_send_digest(ostrel_i_azure_transfer_state_t *transfer_state)
{
    if (transfer_state->digesting)
        return;
    transfer_state->digesting = true;
    for (;;) {
        ostrel_i_azure_buffer_t **link = &transfer_state->undigested;
        ostrel_i_azure_buffer_t *buffer;

        while (*link != NULL && transfer_state->md5_active &&
               (uint64_t)(*link)->offset != transfer_state->digest_offset)
            link = &(*link)->next;
        buffer = *link;
        if (buffer == NULL)
            break;
        *link = buffer->next;
        if (transfer_state->md5_active) {
            ostrel_result_t update;

            ostrel_mutex_unlock(&transfer_state->mutex);
            update = ostrel_i_az_checksum_update(transfer_state->checksum,
                                                 ostrel_i_azure_buffer_data(buffer),
                                                 (size_t)buffer->buffer_used);
            ostrel_mutex_lock(&transfer_state->mutex);
            if (update != OSTREL_SUCCESS) {
                ostrel_object_free(ostrel_error_get(update));
                transfer_state->md5_active = false;
            }
            transfer_state->digest_offset += buffer->buffer_used;
        }
        ostrel_i_azure_buffer_release(transfer_state, buffer);
        ostrel_cond_signal(&transfer_state->cond);
    }
    transfer_state->digesting = false;
}

static void ostrel_l_azure_send_write_callback(ostrel_gfs_operation_t op, ostrel_result_t result,
                                               unsigned char *buffer, size_t nbytes, void *user_arg)
{
    ostrel_i_azure_transfer_state_t *transfer_state = (ostrel_i_azure_transfer_state_t *)user_arg;
    ostrel_i_azure_buffer_t *written;

    (void)op;
    ostrel_mutex_lock(&transfer_state->mutex);
    written = ostrel_i_azure_buffer_unlink(&transfer_state->registered, buffer);
    if (written != NULL) {
        written->next = transfer_state->undigested;
        transfer_state->undigested = written;
        ostrel_l_azure_send_digest(transfer_state);
    }
    /* the result stays the host's; a lost write fails the download */
    if (result != OSTREL_SUCCESS) {
        char *text = ostrel_error_print_friendly(ostrel_error_peek(result));
        ostrel_i_azure_transfer_fail(
            transfer_state,
            ostrel_i_azure_path_error(0, NULL, transfer_state->pathname,
                                      "writing %zu bytes of \"%s\" to the data channel failed: %s",
                                      nbytes, transfer_state->pathname, text ? text : ""));
        free(text);
    }
    if (transfer_state->result == OSTREL_SUCCESS)
        ostrel_l_azure_send_pending_buffers(transfer_state);
    ostrel_cond_signal(&transfer_state->cond);
    ostrel_mutex_unlock(&transfer_state->mutex);
}

static int ostrel_l_azure_send_pending_buffers(ostrel_i_azure_transfer_state_t *transfer_state)
{
    int32_t registered;
    int32_t concurrency;

    if (transfer_state->pending == NULL)
        return 0;
    registered = ostrel_i_azure_buffer_count(transfer_state->registered);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "Currently %d blocks registered\n",
                       (int)registered);
    concurrency = ostrel_l_azure_send_concurrency(transfer_state->op);
    while (transfer_state->pending != NULL && registered < concurrency) {
        ostrel_i_azure_buffer_t *buffer = transfer_state->pending;
        ostrel_result_t result;

        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_DEBUG,
                           "registering write buffer=%p size=%zd offset=%" PRId64 "\n",
                           (void *)ostrel_i_azure_buffer_data(buffer), (ssize_t)buffer->buffer_used,
                           buffer->offset);
        result = ostrel_gridftp_server_register_write(
            transfer_state->op, ostrel_i_azure_buffer_data(buffer), buffer->buffer_used,
            buffer->offset, -1, ostrel_l_azure_send_write_callback, transfer_state);
        if (result != OSTREL_SUCCESS) {
            ostrel_i_azure_transfer_fail(transfer_state, result);
            return 1;
        }
        ostrel_i_azure_buffer_shift(transfer_state);
        buffer->next = transfer_state->registered;
        transfer_state->registered = buffer;
        registered++;
    }
    return 0;
}

/* Copies the chunk into buffers; a buffer takes the offset of its first
 * byte when it is started. Mutex held. */
static void ostrel_l_azure_send_fill(ostrel_i_azure_transfer_state_t *transfer_state,
                                     const unsigned char *data, uint64_t length,
                                     int32_t concurrency)
{
    uint64_t done = 0;

    while (done < length && transfer_state->result == OSTREL_SUCCESS) {
        ostrel_i_azure_buffer_t *buffer;
        uint64_t count;

        if (transfer_state->current == NULL) {
            /* buffers the digest lags behind count as well: memory stays bounded */
            while (ostrel_i_azure_buffer_count(transfer_state->pending) +
                           ostrel_i_azure_buffer_count(transfer_state->undigested) >
                       2 * concurrency &&
                   transfer_state->result == OSTREL_SUCCESS)
                ostrel_cond_wait(&transfer_state->cond, &transfer_state->mutex);
            if (transfer_state->result != OSTREL_SUCCESS)
                break;
        }
        buffer = ostrel_i_azure_buffer_get(transfer_state, length - done);
        if (buffer == NULL) {
            ostrel_i_azure_transfer_fail(transfer_state,
                                         ostrel_i_azure_system_error("malloc", errno));
            break;
        }
        if (buffer->buffer_used == 0)
            buffer->offset = (int64_t)transfer_state->offset;
        count = buffer->size - buffer->buffer_used;
        if (count > length - done)
            count = length - done;
        memcpy(ostrel_i_azure_buffer_data(buffer) + buffer->buffer_used, data + done, count);
        buffer->buffer_used += count;
        transfer_state->offset += count;
        done += count;
        if (buffer->buffer_used == buffer->size) {
            ostrel_i_azure_buffer_append(transfer_state, buffer);
            transfer_state->current = NULL;
        }
    }
}

/* -1, never a count, once the transfer has failed: 1 would read as success
 * for a one-byte chunk. */
static int32_t ostrel_l_azure_send_data(int32_t length, const unsigned char *data, void *arg)
{
    ostrel_i_azure_transfer_state_t *transfer_state = (ostrel_i_azure_transfer_state_t *)arg;
    int32_t concurrency = ostrel_l_azure_send_concurrency(transfer_state->op);
    int32_t taken;

    if (length < 0)
        return -1;
    ostrel_mutex_lock(&transfer_state->mutex);
    ostrel_l_azure_send_fill(transfer_state, data, (uint64_t)length, concurrency);
    if (transfer_state->result == OSTREL_SUCCESS)
        ostrel_l_azure_send_pending_buffers(transfer_state);
    taken = transfer_state->result == OSTREL_SUCCESS ? length : -1;
    ostrel_mutex_unlock(&transfer_state->mutex);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "exit: %d\n", (int)taken);
    return taken;
}

static const char *ostrel_l_azure_send_extra(const AZ_error_details *details, const char *name)
{
    const char *value = NULL;

    for (int32_t i = 0; details->extra != NULL && i < details->extra_count; i++)
        if (details->extra[i].name != NULL && strcmp(details->extra[i].name, name) == 0)
            value = details->extra[i].value;
    return value;
}

/* The service refuses a range that starts exactly at the blob's end: a
 * restart there has nothing left to send, which is no failure. */
static bool ostrel_l_azure_send_at_end(AZ_status status, const AZ_error_details *details)
{
    const char *requested;
    const char *actual;
    int64_t start = 0;
    int64_t end = 0;
    int64_t size = -1;

    if (status != AZ_ErrorInvalidRange || details == NULL)
        return false;
    requested = ostrel_l_azure_send_extra(details, AZ_EXTRA_RANGE_REQUESTED);
    actual = ostrel_l_azure_send_extra(details, AZ_EXTRA_ACTUAL_BLOB_SIZE);
    if (requested == NULL || actual == NULL)
        return false;
    if (sscanf(requested, "bytes=%" SCNd64 "-%" SCNd64, &start, &end) < 1 ||
        sscanf(actual, "%" SCNd64, &size) < 1)
        return false;
    return start != 0 && start == size && end == 0;
}

static void ostrel_l_azure_send_complete(AZ_status status, AZ_error_details *details, void *arg)
{
    ostrel_i_azure_transfer_state_t *transfer_state = (ostrel_i_azure_transfer_state_t *)arg;

    assert(transfer_state != NULL);
    if (status != AZ_OK && !ostrel_l_azure_send_at_end(status, details)) {
        /* the try's fields are the worker's alone: no lock needed */
        ostrel_i_azure_transfer_done(status, details, arg);
        return;
    }
    ostrel_mutex_lock(&transfer_state->mutex);
    /* the range's last, partly filled buffer */
    if (transfer_state->current != NULL) {
        if (transfer_state->current->buffer_used > 0)
            ostrel_i_azure_buffer_append(transfer_state, transfer_state->current);
        else
            ostrel_i_azure_buffer_release(transfer_state, transfer_state->current);
        transfer_state->current = NULL;
    }
    if (transfer_state->result == OSTREL_SUCCESS)
        ostrel_l_azure_send_pending_buffers(transfer_state);
    ostrel_mutex_unlock(&transfer_state->mutex);
}

static int ostrel_l_azure_send_version(AZ_properties *properties, void *arg)
{
    ostrel_i_azure_transfer_state_t *transfer_state = (ostrel_i_azure_transfer_state_t *)arg;

    ostrel_mutex_lock(&transfer_state->mutex);
    if (properties != NULL)
        transfer_state->blob_size = (int64_t)properties->size;
    ostrel_mutex_unlock(&transfer_state->mutex);
    return 0;
}

/* One try fetches what the range still lacks: a repeated try starts at the
 * first byte not yet delivered, so no byte is written twice or skipped.
 * Mutex held, released around the fetch. */
static void ostrel_l_azure_send_get(void *arg)
{
    ostrel_i_azure_transfer_state_t *transfer_state = (ostrel_i_azure_transfer_state_t *)arg;
    uint64_t offset = transfer_state->offset;
    uint64_t done = offset - (uint64_t)transfer_state->range_offset;
    uint64_t size = 0;

    if (transfer_state->result != OSTREL_SUCCESS)
        return;
    if (transfer_state->range_length != -1) {
        if (done >= (uint64_t)transfer_state->range_length)
            return;
        size = (uint64_t)transfer_state->range_length - done;
    }
    ostrel_mutex_unlock(&transfer_state->mutex);
    AZ_blob_options options = {NULL, false, ostrel_l_azure_send_version};
    AZ_get_blob_ex(transfer_state->az_handle->client, transfer_state->container,
                   transfer_state->key, offset, size, &options, ostrel_l_azure_send_data,
                   ostrel_l_azure_send_complete, transfer_state);
    ostrel_mutex_lock(&transfer_state->mutex);
}

/* Waits until every buffer is written and digested, or, once the transfer
 * has failed, until no write is outstanding and no thread digests. Mutex
 * held. */
static void ostrel_l_azure_send_drain(ostrel_i_azure_transfer_state_t *transfer_state)
{
    for (;;) {
        if (transfer_state->result == OSTREL_SUCCESS)
            ostrel_l_azure_send_pending_buffers(transfer_state);
        if (transfer_state->registered == NULL && !transfer_state->digesting &&
            (transfer_state->result != OSTREL_SUCCESS ||
             (transfer_state->pending == NULL && transfer_state->undigested == NULL)))
            return;
        /* a later range stopped the digest: what it left is only memory */
        if (!transfer_state->md5_active && transfer_state->undigested != NULL)
            ostrel_l_azure_send_digest(transfer_state);
        else
            ostrel_cond_wait(&transfer_state->cond, &transfer_state->mutex);
    }
}

static void ostrel_l_azure_send_checksum_start(ostrel_i_azure_transfer_state_t *transfer_state)
{
    ostrel_result_t result = ostrel_i_az_checksum_init(&transfer_state->checksum, 0);

    /* the download goes on without a digest */
    if (result != OSTREL_SUCCESS)
        ostrel_object_free(ostrel_error_get(result));
    transfer_state->md5_active = result == OSTREL_SUCCESS;
}

static void ostrel_l_azure_send_checksum_store(ostrel_i_azure_transfer_state_t *transfer_state,
                                               time_t started)
{
    ostrel_result_t result;

    if (transfer_state->result != OSTREL_SUCCESS || !transfer_state->md5_active)
        return;
    /* a read that named its length is the blob's digest only if it was all of it */
    if (transfer_state->range_length != -1 &&
        (int64_t)transfer_state->digest_offset != transfer_state->blob_size)
        return;
    result = ostrel_i_az_checksum_finalize(transfer_state->checksum);
    if (result != OSTREL_SUCCESS) {
        ostrel_object_free(ostrel_error_get(result));
        return;
    }
    /* the time the read began: a change during the read is later and so
     * never answered from this entry */
    ostrel_i_az_checksum_add(transfer_state->az_handle->account, transfer_state->container,
                             transfer_state->key, started,
                             ostrel_i_az_checksum_text(transfer_state->checksum));
}

static void *ostrel_l_azure_send_thread(void *arg)
{
    ostrel_i_azure_transfer_state_t *transfer_state = (ostrel_i_azure_transfer_state_t *)arg;
    int64_t offset = 0;
    int64_t length = 0;
    time_t started;

    ostrel_mutex_lock(&transfer_state->mutex);
    ostrel_gridftp_server_begin_transfer(transfer_state->op, 0, NULL);
    ostrel_gridftp_server_get_read_range(transfer_state->op, &offset, &length);
    transfer_state->blob_size = -1;
    /* a read from the start may be all of the blob, its length named or not */
    if (offset == 0 && length != 0)
        ostrel_l_azure_send_checksum_start(transfer_state);
    started = time(NULL);

    while (length != 0 && transfer_state->result == OSTREL_SUCCESS) {
        if (offset < 0 || length < -1) {
            ostrel_i_azure_transfer_fail(
                transfer_state,
                ostrel_i_azure_path_error(0, NULL, transfer_state->pathname,
                                          "invalid range %" PRId64 ",%" PRId64 " of \"%s\"", offset,
                                          length, transfer_state->pathname));
            break;
        }
        /* the digest is of the blob only when its one range is all of it */
        if (transfer_state->range_length != 0)
            transfer_state->md5_active = false;
        transfer_state->range_offset = offset;
        transfer_state->range_length = length;
        transfer_state->offset = (uint64_t)offset;
        ostrel_i_azure_transfer_call(transfer_state, "ostrel_l_azure_send_thread", "AZ_get_blob",
                                     ostrel_l_azure_send_get, transfer_state);
        if (transfer_state->result != OSTREL_SUCCESS)
            break;
        ostrel_gridftp_server_get_read_range(transfer_state->op, &offset, &length);
    }

    ostrel_l_azure_send_drain(transfer_state);
    ostrel_l_azure_send_checksum_store(transfer_state, started);
    ostrel_i_azure_transfer_finish(transfer_state, "ostrel_l_azure_send_thread");
    return NULL;
}

void ostrel_i_azure_send(ostrel_gfs_operation_t op, ostrel_gfs_transfer_info_t *transfer_info,
                         void *user_arg)
{
    ostrel_i_azure_handle_t *az_handle = (ostrel_i_azure_handle_t *)user_arg;
    assert(az_handle != NULL);
    assert(transfer_info != NULL);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "send: op=%p pathname=%s\n", (void *)op,
                       transfer_info->pathname ? transfer_info->pathname : "");
    ostrel_i_azure_transfer_start(op, transfer_info, az_handle, "send", "ostrel_i_azure_send",
                                  ostrel_l_azure_send_thread);
}
