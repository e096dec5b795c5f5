/* Data-channel calls. This host has no data channel yet: transfers are
 * refused with a clear error instead of hanging. */
#include "host/operation.h"

void ostrel_gridftp_server_begin_transfer(ostrel_gfs_operation_t op, int event_mask,
                                          void *event_arg)
{
    (void)op;
    (void)event_mask;
    (void)event_arg;
}

void ostrel_gridftp_server_get_read_range(ostrel_gfs_operation_t op, int64_t *offset,
                                          int64_t *length)
{
    (void)op;
    /* length 0: no range left to send */
    if (offset != nullptr)
        *offset = 0;
    if (length != nullptr)
        *length = 0;
}

void ostrel_gridftp_server_get_optimal_concurrency(ostrel_gfs_operation_t op, int *count)
{
    (void)op;
    if (count != nullptr)
        *count = 1;
}

void ostrel_gridftp_server_get_block_size(ostrel_gfs_operation_t op, size_t *block_size)
{
    if (block_size == nullptr)
        return;
    *block_size = 262144;
    if (op != nullptr && op->session != nullptr)
        *block_size = op->session->options.block_size;
}

static ostrel_result_t ostrel_l_no_data_channel(void)
{
    return ostrel_error_put(
        ostrel_gfs_ftp_response_error_construct(nullptr, nullptr, 425, "DATA_CHANNEL_UNAVAILABLE",
                                                "%s", "data channel not available in this host"));
}

ostrel_result_t ostrel_gridftp_server_register_write(ostrel_gfs_operation_t op,
                                                     unsigned char *buffer, size_t length,
                                                     int64_t offset, int stripe_ndx,
                                                     ostrel_gfs_write_cb_t callback, void *user_arg)
{
    (void)op;
    (void)buffer;
    (void)length;
    (void)offset;
    (void)stripe_ndx;
    (void)callback;
    (void)user_arg;
    return ostrel_l_no_data_channel();
}

ostrel_result_t ostrel_gridftp_server_register_read(ostrel_gfs_operation_t op,
                                                    unsigned char *buffer, size_t length,
                                                    ostrel_gfs_read_cb_t callback, void *user_arg)
{
    (void)op;
    (void)buffer;
    (void)length;
    (void)callback;
    (void)user_arg;
    return ostrel_l_no_data_channel();
}

void ostrel_gridftp_server_update_bytes_recvd(ostrel_gfs_operation_t op, int64_t offset,
                                              int64_t length)
{
    (void)op;
    (void)offset;
    (void)length;
}

int ostrel_gridftp_server_get_recv_modification_time(ostrel_gfs_operation_t op, time_t *modtime)
{
    (void)op;
    (void)modtime;
    return 1;
}

void ostrel_gridftp_server_finished_transfer(ostrel_gfs_operation_t op, ostrel_result_t result)
{
    ostrel_host::error_info info = ostrel_host::take_error(result);
    if (op == nullptr || op->kind != ostrel_host::operation_kind::transfer) {
        ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR,
                               "finished_transfer called for op=%p, which is no transfer",
                               (void *)op);
        return;
    }
    std::lock_guard<std::mutex> guard(op->lock);
    if (op->done) {
        ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR,
                               "finished_transfer called for op=%p after it was finished",
                               (void *)op);
        return;
    }
    op->error = info;
    op->done = true;
    op->done_cond.notify_all();
}
