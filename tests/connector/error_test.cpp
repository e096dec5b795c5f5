// The error conversion table, the completion rule, and the retry rule around one storage
// call with its delay arithmetic.
#include "connector/ostrel_i_azure.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

struct converted {
    int reply_code = 0; // 0: the base error came back unwrapped
    std::string response_error_code;
    std::string extra; // the response error's text
    std::string base;  // the "Azure Error accessing" text
};

converted convert(AZ_status status, const char *path, const AZ_error_details *details = nullptr)
{
    converted c;
    ostrel_object_t *error = ostrel_i_AzureError_to_error(status, path, details);
    ostrel_object_t *base = ostrel_error_get_cause(error);
    if (base != nullptr) {
        c.reply_code = ostrel_error_ftp_response_code(error);
        c.response_error_code = ostrel_error_ftp_response_error_code(error);
        c.extra = ostrel_error_get_text(error);
    } else {
        base = error;
    }
    c.base = ostrel_error_get_text(base);
    EXPECT_EQ(ostrel_error_get_source(base), &ostrel_i_azure_base_module);
    EXPECT_EQ(ostrel_error_get_type(base), OSTREL_ERROR_TYPE_AZURE);
    ostrel_object_free(error);
    return c;
}

TEST(error_conversion, reply_codes_by_status)
{
    const struct {
        AZ_status status;
        int reply_code;
        const char *response_error_code, *extra;
    } rows[] = {
        // (the not-found and exists statuses: the integration tests)
        {49, 553, "PATH_EXISTS", "GridFTP-Path: /c/k"},
        {119, 550, "PERMISSION_DENIED", ""},
        {175, 550, "PERMISSION_DENIED", ""},
        {122, 550, "INCORRECT_CHECKSUM",
         "GridFTP-Computed-Checksum: \nGridFTP-Expected-Checksum: "},
        {135, 530, "LOGIN_DENIED", ""},
        {186, 530, "LOGIN_DENIED", ""},
        {148, 553, "APPEND_NOT_SUPPORTED", ""},
        {172, 553, "MULTI_PART_UPLOAD_NOT_FOUND", ""},
        {187, 451, "TOO_BUSY", ""},
        {188, 451, "TOO_BUSY", ""},
    };
    for (const auto &r : rows) {
        converted c = convert(r.status, "/c/k");
        EXPECT_EQ(c.reply_code, r.reply_code) << r.status;
        EXPECT_EQ(c.response_error_code, r.response_error_code) << r.status;
        EXPECT_EQ(c.extra, r.extra) << r.status;
    }
    // any other status: the base error alone
    for (AZ_status other : {1, 47, 124, 179, 196, 199, 201, 203, 5000})
        EXPECT_EQ(convert(other, "/c/k").reply_code, 0) << other;
    // without a path the texts are empty
    EXPECT_EQ(convert(200, nullptr).extra, "");
    EXPECT_EQ(convert(59, nullptr).extra, "GridFTP-Path: ");
}

TEST(error_conversion, texts)
{
    AZ_error_details details = {};
    details.message = (char *)"The specified blob does not exist.";
    details.code = (char *)"404";
    details.code_name = (char *)"BlobNotFound";
    EXPECT_EQ(convert(52, "/data/a.txt", &details).base,
              "Azure Error accessing \"/data/a.txt\": 404 ErrorBlobNotFound: The "
              "specified blob does not exist.: BlobNotFound");
    // A resource named by the details wins over the path.
    details.resource = (char *)"/other";
    EXPECT_EQ(
        convert(52, "/data/a.txt", &details).base.rfind("Azure Error accessing \"/other\"", 0), 0u);
    // Neither resource nor details: empty resource and "No Code".
    EXPECT_EQ(convert(203, nullptr).base, "Azure Error accessing \"\": No Code Unknown: : ");

    AZ_name_value extra[] = {
        {"CalculatedDigest", "first"},
        {"ExpectedDigest", "d41d8cd98f00b204e9800998ecf8427e"},
        {"Other", "x"},
        {"CalculatedDigest", "0cc175b9c0f1b6a831c399e269772661"},
    };
    AZ_error_details digests = {};
    digests.extra_count = 4;
    digests.extra = extra;
    EXPECT_EQ(convert(122, "/c/k", &digests).extra,
              "GridFTP-Computed-Checksum: 0cc175b9c0f1b6a831c399e269772661\n"
              "GridFTP-Expected-Checksum: d41d8cd98f00b204e9800998ecf8427e");
}

TEST(completion_rule, first_failure_of_a_try_wins)
{
    AZ_status status = AZ_OK;
    ostrel_result_t result = OSTREL_SUCCESS;
    ostrel_i_azure_record_status(&status, &result, AZ_OK, "/c", nullptr);
    EXPECT_EQ(result, OSTREL_SUCCESS);

    ostrel_i_azure_record_status(&status, &result, 64, "/c", nullptr);
    ostrel_i_azure_record_status(&status, &result, 187, "/c", nullptr);
    EXPECT_EQ(status, 64u);
    ostrel_object_t *error = ostrel_error_get(result);
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(ostrel_error_ftp_response_error_code(error), "PATH_NOT_FOUND");
    ostrel_object_free(error);
}

struct fake_request {
    int calls = 0;
    int32_t tries = -1;
    AZ_status status = AZ_OK;
    ostrel_result_t result = OSTREL_SUCCESS;
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

// The storage client already repeats what is worth repeating; a second loop
// here would multiply the requests and the waits.
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
