/* The data-channel calls a plug-in makes during a transfer. Reads and writes
 * go to the operation's data channel; the rest answers from the session's
 * settings and the user's request. */
#include "host/operation.h"

namespace
{

bool is_transfer(ostrel_gfs_operation_t op)
{
    return op != nullptr && op->kind == ostrel_host::operation_kind::transfer && op->channel;
}

ostrel_result_t not_a_transfer(const char *call, ostrel_gfs_operation_t op)
{
    return ostrel_error_put(ostrel_error_construct_error(
        nullptr, nullptr, OSTREL_ERROR_TYPE_PLUGIN, "transfer", call, 0,
        "%s called for op=%p, which is no transfer", call, (void *)op));
}

} // namespace

void ostrel_gridftp_server_get_read_range(ostrel_gfs_operation_t op, int64_t *offset,
                                          int64_t *length)
{
    int64_t start = 0, count = 0; /* length 0: no range left */
    if (is_transfer(op)) {
        std::lock_guard<std::mutex> guard(op->lock);
        if (op->next_range < op->ranges.size()) {
            start = op->ranges[op->next_range].offset;
            count = op->ranges[op->next_range].length;
            op->next_range++;
        }
    }
    if (offset != nullptr)
        *offset = start;
    if (length != nullptr)
        *length = count;
}

void ostrel_gridftp_server_get_optimal_concurrency(ostrel_gfs_operation_t op, int *count)
{
    if (count == nullptr)
        return;
    *count = 1;
    if (op != nullptr && op->session != nullptr)
        *count = op->session->options.streams;
}

void ostrel_gridftp_server_get_block_size(ostrel_gfs_operation_t op, size_t *block_size)
{
    if (block_size == nullptr)
        return;
    *block_size = 262144;
    if (op != nullptr && op->session != nullptr)
        *block_size = op->session->options.block_size;
}

ostrel_result_t ostrel_gridftp_server_register_write(ostrel_gfs_operation_t op,
                                                     unsigned char *buffer, size_t length,
                                                     int64_t offset, int stripe_ndx,
                                                     ostrel_gfs_write_cb_t callback, void *user_arg)
{
    (void)stripe_ndx;
    if (!is_transfer(op))
        return not_a_transfer(__func__, op);
    return op->channel->register_write(buffer, length, offset, callback, user_arg);
}

ostrel_result_t ostrel_gridftp_server_register_read(ostrel_gfs_operation_t op,
                                                    unsigned char *buffer, size_t length,
                                                    ostrel_gfs_read_cb_t callback, void *user_arg)
{
    if (!is_transfer(op))
        return not_a_transfer(__func__, op);
    return op->channel->register_read(buffer, length, callback, user_arg);
}

void ostrel_gridftp_server_update_bytes_recvd(ostrel_gfs_operation_t op, int64_t offset,
                                              int64_t length)
{
    (void)offset;
    if (is_transfer(op) && op->progress && length > 0)
        op->progress->add((uint64_t)length);
}

int ostrel_gridftp_server_get_recv_modification_time(ostrel_gfs_operation_t op, time_t *modtime)
{
    if (modtime != nullptr)
        *modtime = -1;
    if (!is_transfer(op) || modtime == nullptr)
        return 1;
    std::lock_guard<std::mutex> guard(op->lock);
    if (!op->modification_time)
        return 1;
    op->modification_time_asked = true;
    *modtime = *op->modification_time;
    return 0;
}
