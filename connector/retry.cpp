/* The retry rule around every storage call of every operation. */
#include "connector/ostrel_i_azure.h"

#include <limits.h>

uint32_t ostrel_i_azure_retry_delay_ms = 100;
int32_t ostrel_i_azure_max_retries = 1;

uint32_t ostrel_i_azure_retry_delay_us(int32_t try_number, uint32_t delay_ms)
{
    if (try_number <= 0)
        return 0;
    /* Computed wide and capped: a 32-bit product would wrap to a negative
     * count, which usleep reads as a sleep of many years. */
    uint64_t delay = ((uint64_t)delay_ms << ((uint32_t)(try_number - 1) % 32)) * 1000u;
    return delay > (uint64_t)INT32_MAX ? (uint32_t)INT32_MAX : (uint32_t)delay;
}

void ostrel_i_azure_retry_delay(int32_t try_number)
{
    uint32_t microseconds =
        ostrel_i_azure_retry_delay_us(try_number, ostrel_i_azure_retry_delay_ms);
    if (microseconds > 0)
        ostrel_libc_usleep(microseconds);
}

static void ostrel_l_azure_retry_clear(const ostrel_i_azure_attempt_t *attempt)
{
    *attempt->status = AZ_OK;
    if (*attempt->result != OSTREL_SUCCESS) {
        ostrel_object_t *stale = ostrel_error_get(*attempt->result);
        if (stale != NULL)
            ostrel_object_free(stale);
        *attempt->result = OSTREL_SUCCESS;
    }
}

/* A token that expired during the call (a slow download, a long wait) is
 * refused with 403; the call deserves one more try once the token is new. */
static bool ostrel_l_azure_retry_renewed(const ostrel_i_azure_attempt_t *attempt, AZ_status status)
{
    ostrel_i_azure_handle_t *handle = attempt->renew;

    if (handle == NULL || status != AZ_HttpErrorForbidden)
        return false;
    ostrel_mutex_lock(&handle->token_lock);
    time_t before = handle->token_expiry;
    ostrel_mutex_unlock(&handle->token_lock);
    ostrel_result_t result = ostrel_i_azure_token_refresh(handle);
    if (result != OSTREL_SUCCESS) {
        ostrel_object_t *error = ostrel_error_get(result);
        if (error != NULL)
            ostrel_object_free(error);
        return false;
    }
    ostrel_mutex_lock(&handle->token_lock);
    bool renewed = handle->token_expiry > before;
    ostrel_mutex_unlock(&handle->token_lock);
    return renewed;
}

void ostrel_i_azure_retry(const ostrel_i_azure_attempt_t *attempt)
{
    bool renewed = false;

    ostrel_i_azure_trace_enter();

    *attempt->tries = 0;
    for (;;) {
        ostrel_l_azure_retry_clear(attempt);
        ostrel_i_azure_retry_delay(*attempt->tries);
        ostrel_i_azure_log_from(
            OSTREL_AZURE_DEBUG_INFO, attempt->func, "REST: op=%p %s(%s) try=%d\n",
            (void *)attempt->op, attempt->call_name,
            attempt->call_args != NULL ? attempt->call_args : "", (int)*attempt->tries);

        attempt->call(attempt->request);

        AZ_status status = *attempt->status;
        if (status != AZ_OK)
            ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_DEBUG, attempt->func,
                                    "%s: op=%p status=%s[%d]\n", attempt->call_name,
                                    (void *)attempt->op, AZ_get_status_name(status), (int)status);
        if (!AZ_status_is_retryable(status)) {
            if (renewed || !ostrel_l_azure_retry_renewed(attempt, status))
                break;
            renewed = true;
            continue;
        }
        int32_t done = (*attempt->tries)++;
        if (done >= ostrel_i_azure_max_retries)
            break;
    }

    ostrel_i_azure_trace_exit();
}
