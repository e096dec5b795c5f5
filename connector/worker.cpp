/*
 * Starting an operation's worker thread, the last step of every entry.
 */
#include "connector/ostrel_i_azure.h"

ostrel_result_t ostrel_i_azure_worker_start(const char *source, const char *func, bool system_error,
                                            void *(*worker)(void *), void *request)
{
    ostrel_thread_t thread;
    int rc = ostrel_thread_create(&thread, NULL, worker, request);

    if (rc == 0)
        return OSTREL_SUCCESS;
    if (system_error)
        return ostrel_i_azure_system_error("ostrel_thread_create", rc);
    return ostrel_error_put(ostrel_error_construct_error(NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN,
                                                         source, func, __LINE__, "%s",
                                                         "ostrel_thread_create"));
}
