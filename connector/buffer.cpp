/*
 * The buffer pool of a transfer. No lock of its own: every function here is
 * called with the transfer's mutex held.
 */
#include "connector/ostrel_i_azure.h"

#include <assert.h>

int32_t ostrel_i_azure_buffer_count(const ostrel_i_azure_buffer_t *list)
{
    int32_t count = 0;

    for (; list != NULL; list = list->next)
        count++;
    return count;
}

void ostrel_i_azure_buffer_release(ostrel_i_azure_transfer_state_t *transfer_state,
                                   ostrel_i_azure_buffer_t *az_buffer)
{
    assert(transfer_state != NULL);
    assert(az_buffer != NULL);
    az_buffer->buffer_used = 0;
    az_buffer->offset = -1;
    az_buffer->next = transfer_state->free_buffers;
    transfer_state->free_buffers = az_buffer;
}

ostrel_i_azure_buffer_t *ostrel_i_azure_buffer_get(ostrel_i_azure_transfer_state_t *transfer_state,
                                                   uint64_t requested_size)
{
    ostrel_i_azure_buffer_t *buffer = transfer_state->current;
    size_t block_size = 0;

    if (buffer != NULL)
        return buffer;
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "no current buffer\n");
    if (transfer_state->free_buffers != NULL) {
        buffer = transfer_state->free_buffers;
        transfer_state->free_buffers = buffer->next;
        buffer->next = NULL;
        transfer_state->current = buffer;
        return buffer;
    }

    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "no free buffers\n");
    ostrel_gridftp_server_get_block_size(transfer_state->op, &block_size);
    if (block_size > requested_size) {
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "requested_size=%zd optimal_size=%zd\n",
                           (ssize_t)requested_size, (ssize_t)block_size);
        requested_size = block_size;
    }
    /* the header must fit beside the data without the sum wrapping */
    if (requested_size > UINT64_MAX - sizeof(*buffer) - 1)
        requested_size = UINT64_MAX - sizeof(*buffer) - 1;
    buffer = (ostrel_i_azure_buffer_t *)malloc(sizeof(*buffer) + requested_size);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_DEBUG, "new_buffer=%p size=%zd buffer=%p\n",
                       (void *)buffer, (ssize_t)requested_size,
                       buffer != NULL ? (void *)ostrel_i_azure_buffer_data(buffer) : NULL);
    if (buffer == NULL) {
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_WARNING, "error allocating buffer\n");
        return NULL;
    }
    buffer->size = requested_size;
    buffer->buffer_used = 0;
    buffer->offset = -1;
    buffer->next = NULL;
    transfer_state->current = buffer;
    return buffer;
}

void ostrel_i_azure_buffer_append(ostrel_i_azure_transfer_state_t *transfer_state,
                                  ostrel_i_azure_buffer_t *buffer)
{
    buffer->next = NULL;
    *transfer_state->pending_tail = buffer;
    transfer_state->pending_tail = &buffer->next;
}

ostrel_i_azure_buffer_t *
ostrel_i_azure_buffer_shift(ostrel_i_azure_transfer_state_t *transfer_state)
{
    ostrel_i_azure_buffer_t *head = transfer_state->pending;

    if (head == NULL)
        return NULL;
    transfer_state->pending = head->next;
    if (transfer_state->pending == NULL)
        transfer_state->pending_tail = &transfer_state->pending;
    head->next = NULL;
    return head;
}

ostrel_i_azure_buffer_t *ostrel_i_azure_buffer_unlink(ostrel_i_azure_buffer_t **list,
                                                      const unsigned char *data)
{
    for (; *list != NULL; list = &(*list)->next) {
        ostrel_i_azure_buffer_t *buffer = *list;
        if (ostrel_i_azure_buffer_data(buffer) == data) {
            *list = buffer->next;
            buffer->next = NULL;
            return buffer;
        }
    }
    return NULL;
}
