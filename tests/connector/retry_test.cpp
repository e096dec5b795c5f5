// The retry rule around one storage call, and its delay arithmetic.
#include "connector/ostrel_i_azure.h"

#include <gtest/gtest.h>

namespace
{

struct fake_request {
    int32_t tries = -1;
    AZ_status status = AZ_OK;
    ostrel_result_t result = OSTREL_SUCCESS;
    int calls = 0;
    AZ_status answer = AZ_OK;
    AZ_status status_seen_at_call = 12345;
    ostrel_result_t result_seen_at_call = 1;
};

void fake_call(void *arg)
{
    fake_request *request = (fake_request *)arg;
    request->calls++;
    request->status_seen_at_call = request->status;
    request->result_seen_at_call = request->result;
    ostrel_i_azure_record_status(&request->status, &request->result, request->answer, "/c/k",
                                 nullptr);
}

ostrel_i_azure_attempt_t attempt_for(fake_request *request)
{
    ostrel_i_azure_attempt_t attempt = {};
    attempt.tries = &request->tries;
    attempt.status = &request->status;
    attempt.result = &request->result;
    attempt.call_name = "AZ_head_blob";
    attempt.call_args = "container=c key=k";
    attempt.call = fake_call;
    attempt.request = request;
    return attempt;
}

TEST(retry_rule, a_failing_call_is_made_once_and_its_error_kept)
{
    int32_t saved = ostrel_i_azure_max_retries;
    ostrel_i_azure_max_retries = 3;
    for (AZ_status answer : {AZ_ErrorServiceUnavailable, AZ_ErrorSlowDown, AZ_HttpErrorNotFound}) {
        fake_request request;
        request.answer = answer;
        ostrel_i_azure_attempt_t attempt = attempt_for(&request);
        ostrel_i_azure_retry(&attempt);
        EXPECT_EQ(request.calls, 1) << answer;
        EXPECT_EQ(request.tries, 0) << answer;
        EXPECT_EQ(request.status, answer);
        ostrel_object_t *error = ostrel_error_get(request.result);
        EXPECT_NE(error, nullptr);
        ostrel_object_free(error);
    }
    ostrel_i_azure_max_retries = saved;
}

TEST(retry_rule, a_try_starts_clean_and_drops_an_earlier_error)
{
    fake_request request;
    request.status = AZ_ErrorBlobNotFound;
    ostrel_result_t stale = ostrel_error_put(ostrel_i_AzureError_to_error(52, "/c/k", nullptr));
    request.result = stale;
    ostrel_i_azure_attempt_t attempt = attempt_for(&request);
    ostrel_i_azure_retry(&attempt);
    EXPECT_EQ(request.status_seen_at_call, AZ_OK);
    EXPECT_EQ(request.result_seen_at_call, OSTREL_SUCCESS);
    EXPECT_EQ(request.result, OSTREL_SUCCESS);
    EXPECT_EQ(ostrel_error_peek(stale), nullptr); // released, not leaked in the registry
}

TEST(retry_delay, doubles_from_the_configured_delay)
{
    struct row {
        int32_t try_number;
        uint32_t delay_ms;
        uint32_t microseconds;
    };
    const row rows[] = {
        {0, 100, 0},           {1, 100, 100000}, {2, 100, 200000},  {3, 100, 400000},
        {-1, 100, 0},          {1, 0, 0},        {33, 100, 100000}, // the shift count wraps at 32
        {20, 100, 2147483647}, // 100 ms << 19 is 52428.8 s: capped, never negative
        {32, 100, 2147483647},
    };
    for (const row &r : rows)
        EXPECT_EQ(ostrel_i_azure_retry_delay_us(r.try_number, r.delay_ms), r.microseconds)
            << r.try_number << " " << r.delay_ms;
}

} // namespace
