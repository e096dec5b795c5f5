// The error conversion table and the completion rule.
#include "connector/ostrel_i_azure.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace
{

struct converted {
    int reply_code = 0;
    std::string response_error_code;
    std::string extra; // the response error's text
    std::string base;  // the "Azure Error accessing" text
    const ostrel_module_t *base_source = nullptr;
    int base_type = 0;
    bool wrapped = false;
};

converted convert(AZ_status status, const char *path, const AZ_error_details *details)
{
    converted c;
    ostrel_object_t *error = ostrel_i_AzureError_to_error(status, path, details);
    EXPECT_NE(error, nullptr);
    ostrel_object_t *base = ostrel_error_get_cause(error);
    if (base != nullptr) {
        c.wrapped = true;
        c.reply_code = ostrel_error_ftp_response_code(error);
        const char *rec = ostrel_error_ftp_response_error_code(error);
        c.response_error_code = rec ? rec : "";
        c.extra = ostrel_error_get_text(error);
    } else {
        base = error;
    }
    c.base = ostrel_error_get_text(base);
    c.base_source = ostrel_error_get_source(base);
    c.base_type = ostrel_error_get_type(base);
    ostrel_object_free(error);
    return c;
}

TEST(error_conversion, reply_codes_by_status)
{
    struct row {
        AZ_status status;
        int reply_code;
        const char *response_error_code;
    };
    const row rows[] = {
        {52, 550, "PATH_NOT_FOUND"},
        {64, 550, "PATH_NOT_FOUND"},
        {200, 550, "PATH_NOT_FOUND"},
        {59, 553, "PATH_EXISTS"},
        {119, 550, "PERMISSION_DENIED"},
        {175, 550, "PERMISSION_DENIED"},
        {122, 550, "INCORRECT_CHECKSUM"},
        {135, 530, "LOGIN_DENIED"},
        {186, 530, "LOGIN_DENIED"},
        {148, 553, "APPEND_NOT_SUPPORTED"},
        {172, 553, "MULTI_PART_UPLOAD_NOT_FOUND"},
        {187, 451, "TOO_BUSY"},
        {188, 451, "TOO_BUSY"},
    };
    for (const row &r : rows) {
        converted c = convert(r.status, "/c/k", nullptr);
        EXPECT_TRUE(c.wrapped) << r.status;
        EXPECT_EQ(c.reply_code, r.reply_code) << r.status;
        EXPECT_EQ(c.response_error_code, r.response_error_code) << r.status;
    }
}

TEST(error_conversion, other_statuses_stay_unwrapped)
{
    for (AZ_status status : {1u, 47u, 124u, 196u, 198u, 199u, 201u, 202u, 203u, 5000u}) {
        converted c = convert(status, "/c/k", nullptr);
        EXPECT_FALSE(c.wrapped) << status;
        EXPECT_EQ(c.base_source, &ostrel_i_azure_base_module) << status;
        EXPECT_EQ(c.base_type, OSTREL_ERROR_TYPE_AZURE) << status;
    }
    EXPECT_EQ(convert(203, nullptr, nullptr).base,
              "Azure Error accessing \"\": No Code Unknown: : ");
}

TEST(error_conversion, texts)
{
    AZ_error_details details = {};
    details.message = (char *)"The specified blob does not exist.";
    details.code = (char *)"404";
    details.code_name = (char *)"BlobNotFound";
    converted c = convert(52, "/data/a.txt", &details);
    EXPECT_EQ(c.base, "Azure Error accessing \"/data/a.txt\": 404 ErrorBlobNotFound: The "
                      "specified blob does not exist.: BlobNotFound");
    EXPECT_EQ(c.base_source, &ostrel_i_azure_base_module);

    // A resource named by the details wins over the path.
    details.resource = (char *)"/other";
    EXPECT_EQ(
        convert(52, "/data/a.txt", &details).base.rfind("Azure Error accessing \"/other\"", 0), 0u);

    // Neither resource nor details: empty resource and "No Code".
    EXPECT_EQ(convert(201, nullptr, nullptr).base,
              "Azure Error accessing \"\": No Code HttpErrorConflict: : ");
}

TEST(error_conversion, not_found_extra_text)
{
    EXPECT_EQ(convert(64, "/missing/x", nullptr).extra, "GridFTP-Path: \"/missing/x\"");
    converted c = convert(200, nullptr, nullptr);
    EXPECT_EQ(c.reply_code, 550);
    EXPECT_EQ(c.response_error_code, "PATH_NOT_FOUND");
    EXPECT_EQ(c.extra, "");
    EXPECT_EQ(convert(59, "/newc", nullptr).extra, "GridFTP-Path: /newc");
    EXPECT_EQ(convert(59, nullptr, nullptr).extra, "GridFTP-Path: ");
}

TEST(error_conversion, bad_digest_names_both_checksums_last_pair_wins)
{
    AZ_name_value extra[] = {
        {"CalculatedDigest", "first"},
        {"ExpectedDigest", "d41d8cd98f00b204e9800998ecf8427e"},
        {"Other", "x"},
        {"CalculatedDigest", "0cc175b9c0f1b6a831c399e269772661"},
    };
    AZ_error_details details = {};
    details.extra_count = 4;
    details.extra = extra;
    EXPECT_EQ(convert(122, "/c/k", &details).extra,
              "GridFTP-Computed-Checksum: 0cc175b9c0f1b6a831c399e269772661\n"
              "GridFTP-Expected-Checksum: d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(convert(122, "/c/k", nullptr).extra,
              "GridFTP-Computed-Checksum: \nGridFTP-Expected-Checksum: ");
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

} // namespace
