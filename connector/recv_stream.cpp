/*
 * The upload's data stream: host reads that complete in any order, filed by
 * offset, and served to the storage layer strictly in file order. Everything
 * here runs with the transfer's mutex held.
 */
#include "connector/ostrel_i_azure.h"

#include <assert.h>
#include <errno.h>
#include <inttypes.h>
#include <string.h>

static uint64_t ostrel_l_azure_recv_announced(const ostrel_i_azure_transfer_state_t *state)
{
    return (uint64_t)state->transfer_info->alloc_size;
}

bool ostrel_i_azure_recv_is_transfer_offset_ready(const ostrel_i_azure_transfer_state_t *state)
{
    return state->pending != NULL && state->pending->offset == (int64_t)state->offset;
}

bool ostrel_i_azure_recv_is_reading_complete(const ostrel_i_azure_transfer_state_t *state)
{
    return state->eof && state->registered == NULL;
}

/* Files buffer among the received ones, ordered by offset. */
static void ostrel_l_azure_recv_insert(ostrel_i_azure_transfer_state_t *transfer_state,
                                       ostrel_i_azure_buffer_t *buffer)
{
    ostrel_i_azure_buffer_t **link = &transfer_state->pending;

    while (*link != NULL && (*link)->offset + (int64_t)(*link)->buffer_used <= buffer->offset)
        link = &(*link)->next;
    buffer->next = *link;
    *link = buffer;
    if (buffer->next == NULL)
        transfer_state->pending_tail = &buffer->next;
}

static void ostrel_l_azure_recv_single_read_callback(ostrel_gfs_operation_t op,
                                                     ostrel_result_t result, unsigned char *data,
                                                     size_t nbytes, int64_t offset, bool eof,
                                                     void *user_arg)
{
    ostrel_i_azure_transfer_state_t *transfer_state = (ostrel_i_azure_transfer_state_t *)user_arg;
    ostrel_i_azure_buffer_t *az_buffer;

    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_DEBUG,
                       "recv_read_callback: op=%p result=%#lx buffer=%p nbytes=%zd offset=%" PRId64
                       " eof=%d user_arg=%p\n",
                       (void *)op, (unsigned long)result, (void *)data, (ssize_t)nbytes, offset,
                       (int)eof, user_arg);
    ostrel_mutex_lock(&transfer_state->mutex);
    if (eof)
        transfer_state->eof = true;
    az_buffer = ostrel_i_azure_buffer_unlink(&transfer_state->registered, data);
    assert(az_buffer != NULL);
    az_buffer->buffer_used = nbytes;
    az_buffer->offset = offset;
    ostrel_gridftp_server_update_bytes_recvd(op, offset, (int64_t)nbytes);

    /* the result stays the host's */
    if (result != OSTREL_SUCCESS && transfer_state->result == OSTREL_SUCCESS) {
        char *text = ostrel_error_print_friendly(ostrel_error_peek(result));
        ostrel_i_azure_transfer_fail(
            transfer_state,
            ostrel_i_azure_path_error(0, NULL, transfer_state->pathname,
                                      "reading \"%s\" from the data channel failed: %s",
                                      transfer_state->pathname, text ? text : ""));
        free(text);
    }
    /* an empty read carries no data, whatever offset it names */
    if (transfer_state->result == OSTREL_SUCCESS && nbytes > 0 &&
        (offset < 0 || (uint64_t)offset + nbytes > ostrel_l_azure_recv_announced(transfer_state)))
        ostrel_i_azure_transfer_fail(transfer_state, ostrel_i_azure_system_error("write", EFBIG));

    if (transfer_state->result != OSTREL_SUCCESS) {
        /* nothing waits for more data once the upload has failed */
        transfer_state->eof = true;
        ostrel_i_azure_buffer_release(transfer_state, az_buffer);
    } else if (nbytes == 0) {
        ostrel_i_azure_buffer_release(transfer_state, az_buffer);
    } else {
        ostrel_l_azure_recv_insert(transfer_state, az_buffer);
    }
    ostrel_cond_signal(&transfer_state->cond);
    ostrel_mutex_unlock(&transfer_state->mutex);
}

ostrel_result_t ostrel_i_azure_recv_register_reads(ostrel_i_azure_transfer_state_t *transfer_state)
{
    int32_t registered;
    int concurrency = 0;
    size_t block_size = 0;

    if (transfer_state->result != OSTREL_SUCCESS || transfer_state->eof)
        return OSTREL_SUCCESS;
    registered = ostrel_i_azure_buffer_count(transfer_state->registered);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE,
                       "Currently %d blocks registered, %d blocks pending\n", (int)registered,
                       (int)ostrel_i_azure_buffer_count(transfer_state->pending));
    ostrel_gridftp_server_get_block_size(transfer_state->op, &block_size);
    ostrel_gridftp_server_get_optimal_concurrency(transfer_state->op, &concurrency);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "Optimal is %d blocks\n", concurrency);
    if (concurrency < 1)
        concurrency = 1;

    while (registered < concurrency) {
        ostrel_i_azure_buffer_t *buffer = ostrel_i_azure_buffer_get(transfer_state, block_size);
        ostrel_result_t result;

        transfer_state->current = NULL;
        if (buffer == NULL)
            return ostrel_i_azure_system_error("malloc", errno);
        assert(buffer->buffer_used == 0);
        buffer->offset = -1;
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "Registering read with az_buffer=%p\n",
                           (void *)buffer);
        result = ostrel_gridftp_server_register_read(
            transfer_state->op, ostrel_i_azure_buffer_data(buffer), buffer->size,
            ostrel_l_azure_recv_single_read_callback, transfer_state);
        if (result != OSTREL_SUCCESS) {
            ostrel_i_azure_buffer_release(transfer_state, buffer);
            return result;
        }
        buffer->next = transfer_state->registered;
        transfer_state->registered = buffer;
        registered++;
    }
    return OSTREL_SUCCESS;
}

/* Registers what is needed and waits until cond holds, the reads are all
 * back, or the upload has failed. */
static void ostrel_l_azure_recv_wait(ostrel_i_azure_transfer_state_t *transfer_state,
                                     bool (*cond)(const ostrel_i_azure_transfer_state_t *))
{
    while (transfer_state->result == OSTREL_SUCCESS && !cond(transfer_state) &&
           !ostrel_i_azure_recv_is_reading_complete(transfer_state)) {
        ostrel_i_azure_transfer_fail(transfer_state,
                                     ostrel_i_azure_recv_register_reads(transfer_state));
        if (transfer_state->result != OSTREL_SUCCESS)
            break;
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE,
                           "Waiting for current offset %" PRIu64 " to be ready\n",
                           transfer_state->offset);
        ostrel_cond_wait(&transfer_state->cond, &transfer_state->mutex);
    }
}

static bool ostrel_l_azure_recv_never(const ostrel_i_azure_transfer_state_t *state)
{
    (void)state;
    return false;
}

void ostrel_i_azure_recv_wait_complete(ostrel_i_azure_transfer_state_t *transfer_state)
{
    ostrel_l_azure_recv_wait(transfer_state, ostrel_l_azure_recv_never);
    /* a failure stops registering, but reads already queued still come back */
    while (transfer_state->registered != NULL)
        ostrel_cond_wait(&transfer_state->cond, &transfer_state->mutex);
}

/* The data stopped before the announced size: a short blob must never be
 * stored. */
static void ostrel_l_azure_recv_short(ostrel_i_azure_transfer_state_t *transfer_state)
{
    const char *what = transfer_state->pending != NULL ? "has a gap at byte" : "ended at byte";

    ostrel_i_azure_transfer_fail(
        transfer_state,
        ostrel_i_azure_path_error(0, NULL, transfer_state->pathname,
                                  "the data of \"%s\" %s %" PRIu64 " of %" PRIu64 " announced",
                                  transfer_state->pathname, what, transfer_state->offset,
                                  ostrel_l_azure_recv_announced(transfer_state)));
}

/* Moves ready bytes to the caller's buffer. */
static int32_t ostrel_l_azure_recv_copy(ostrel_i_azure_transfer_state_t *transfer_state,
                                        unsigned char *buffer, int32_t max)
{
    int32_t placed = 0;

    while (placed < max && ostrel_i_azure_recv_is_transfer_offset_ready(transfer_state)) {
        ostrel_i_azure_buffer_t *head = transfer_state->pending;
        uint64_t room = (uint64_t)(max - placed);
        uint64_t count = head->buffer_used < room ? head->buffer_used : room;
        unsigned char *data = ostrel_i_azure_buffer_data(head);

        assert(count > 0);
        memcpy(buffer + placed, data, count);
        placed += (int32_t)count;
        transfer_state->offset += count;
        if (head->buffer_used > count) {
            ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE,
                               "partial_buffer_copy: op=%p bytes_copied=%d\n",
                               (void *)transfer_state->op, (int)count);
            memmove(data, data + count, head->buffer_used - count);
            head->offset += (int64_t)count;
            head->buffer_used -= count;
        } else {
            ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE,
                               "add_to_pending_buffers: op=%p az_buffer=%p\n",
                               (void *)transfer_state->op, (void *)head);
            ostrel_i_azure_buffer_release(transfer_state,
                                          ostrel_i_azure_buffer_shift(transfer_state));
        }
    }
    return placed;
}

int32_t ostrel_i_azure_recv_single_data(int32_t max, unsigned char *buffer, void *arg)
{
    ostrel_i_azure_transfer_state_t *transfer_state = (ostrel_i_azure_transfer_state_t *)arg;
    int32_t placed;

    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE,
                       "recv_single_data: op=%p buffer_size=%d buffer=%p\n",
                       (void *)transfer_state->op, (int)max, (void *)buffer);
    if (max < 0 || transfer_state->result != OSTREL_SUCCESS)
        return -1;
    if (max == 0)
        return 0;
    ostrel_l_azure_recv_wait(transfer_state, ostrel_i_azure_recv_is_transfer_offset_ready);
    if (transfer_state->result != OSTREL_SUCCESS)
        return -1;
    if (!ostrel_i_azure_recv_is_transfer_offset_ready(transfer_state)) {
        ostrel_l_azure_recv_short(transfer_state);
        return -1;
    }
    placed = ostrel_l_azure_recv_copy(transfer_state, buffer, max);

    if (transfer_state->md5_active) {
        ostrel_result_t update =
            ostrel_i_az_checksum_update(transfer_state->checksum, buffer, (size_t)placed);
        if (update != OSTREL_SUCCESS) {
            ostrel_object_free(ostrel_error_get(update));
            transfer_state->md5_active = false;
        }
    }
    /* The last announced byte lets storage commit the blob: data beyond it
     * must show up before that, never after. */
    if (transfer_state->offset >= ostrel_l_azure_recv_announced(transfer_state)) {
        ostrel_i_azure_recv_wait_complete(transfer_state);
        if (transfer_state->result != OSTREL_SUCCESS)
            return -1;
    }
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "exit: %d\n", (int)placed);
    return placed;
}
