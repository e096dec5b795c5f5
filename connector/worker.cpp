/*
 * Starting an operation's worker thread, the last step of every entry.
 */
#include "connector/ostrel_i_azure.h"

ostrel_result_t ostrel_i_azure_worker_start(const char *source, const char *func,
                                            void *(*worker)(void *), void *request)
{
    ostrel_thread_t thread;

    if (ostrel_thread_create(&thread, NULL, worker, request) == 0)
        return OSTREL_SUCCESS;
    return ostrel_error_put(ostrel_error_construct_error(NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN,
                                                         source, func, __LINE__, "%s",
                                                         "ostrel_thread_create"));
}
