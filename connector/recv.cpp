/*
 * Upload entry: what the host asks for is checked before anything is
 * allocated; the upload itself is recv_single's.
 */
#include "connector/ostrel_i_azure.h"

#include <assert.h>

/* The largest blob the service stores. */
#define OSTREL_L_AZURE_RECV_MAX_SIZE 5000000000000ULL

void ostrel_i_azure_recv(ostrel_gfs_operation_t op, ostrel_gfs_transfer_info_t *transfer_info,
                         void *user_arg)
{
    ostrel_i_azure_handle_t *az_handle = (ostrel_i_azure_handle_t *)user_arg;
    ostrel_result_t result;

    assert(transfer_info != NULL);
    assert(az_handle != NULL);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "recv op=%p pathname=%s\n", (void *)op,
                       transfer_info->pathname ? transfer_info->pathname : "");

    if (!transfer_info->truncate) {
        result = ostrel_error_put(
            ostrel_gfs_ftp_response_error_construct(NULL, NULL, 553, "APPEND_NOT_SUPPORTED", NULL));
    } else if ((uint64_t)transfer_info->alloc_size > OSTREL_L_AZURE_RECV_MAX_SIZE) {
        /* an unknown size (-1) reads as the largest and is refused too */
        result = ostrel_error_put(ostrel_error_construct_error(
            NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "recv", "ostrel_i_azure_recv", __LINE__, "%s",
            "File upload too large"));
    } else {
        ostrel_i_azure_recv_single(op, transfer_info, az_handle);
        return;
    }
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "finished_transfer: op=%p result=%#lx\n",
                       (void *)op, (unsigned long)result);
    ostrel_gridftp_server_finished_transfer(op, result);
}
