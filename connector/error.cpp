/* The one place where storage statuses become host error objects. */
#include "connector/ostrel_i_azure.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static const char *ostrel_l_azure_extra_value(const AZ_error_details *details, const char *name)
{
    const char *value = "";
    if (details == NULL || details->extra == NULL)
        return value;
    /* The service may repeat a pair; the last one describes the final state. */
    for (int32_t i = 0; i < details->extra_count; i++) {
        const AZ_name_value *pair = &details->extra[i];
        if (pair->name != NULL && strcmp(pair->name, name) == 0)
            value = pair->value != NULL ? pair->value : "";
    }
    return value;
}

ostrel_object_t *ostrel_i_AzureError_to_error(AZ_status status, const char *path,
                                              const AZ_error_details *details)
{
    ostrel_i_azure_trace_enter();

    const char *resource = path != NULL ? path : "";
    const char *code = "No Code";
    const char *message = "";
    const char *code_name = "";
    if (details != NULL) {
        if (details->resource != NULL)
            resource = details->resource;
        if (details->code != NULL)
            code = details->code;
        if (details->message != NULL)
            message = details->message;
        if (details->code_name != NULL)
            code_name = details->code_name;
    }

    ostrel_object_t *base = ostrel_error_construct_error(
        &ostrel_i_azure_base_module, NULL, OSTREL_ERROR_TYPE_AZURE, "module",
        "ostrel_i_AzureError_to_error", __LINE__, "Azure Error accessing \"%s\": %s %s: %s: %s",
        resource, code, AZ_get_status_name(status), message, code_name);

    ostrel_object_t *error = base;
    switch (status) {
    case AZ_ErrorBlobNotFound:
    case AZ_ErrorContainerNotFound:
    case AZ_HttpErrorNotFound:
        if (path != NULL)
            error = ostrel_gfs_ftp_response_error_construct(
                NULL, base, 550, "PATH_NOT_FOUND", "%s%s%s", "GridFTP-Path: \"", path, "\"");
        else
            error = ostrel_gfs_ftp_response_error_construct(NULL, base, 550, "PATH_NOT_FOUND",
                                                            "%s%s%s", "", "", "");
        break;
    case AZ_ErrorBlobAlreadyExists:
    case AZ_ErrorContainerAlreadyExists:
        error = ostrel_gfs_ftp_response_error_construct(
            NULL, base, 553, "PATH_EXISTS", "GridFTP-Path: %s", path != NULL ? path : "");
        break;
    case AZ_ErrorAccessDenied:
    case AZ_ErrorNotSignedUp:
        error = ostrel_gfs_ftp_response_error_construct(NULL, base, 550, "PERMISSION_DENIED", NULL);
        break;
    case AZ_ErrorBadDigest:
        error = ostrel_gfs_ftp_response_error_construct(
            NULL, base, 550, "INCORRECT_CHECKSUM",
            "GridFTP-Computed-Checksum: %s\nGridFTP-Expected-Checksum: %s",
            ostrel_l_azure_extra_value(details, "CalculatedDigest"),
            ostrel_l_azure_extra_value(details, "ExpectedDigest"));
        break;
    case AZ_ErrorInvalidAccessKeyId:
    case AZ_ErrorSignatureDoesNotMatch:
        error = ostrel_gfs_ftp_response_error_construct(NULL, base, 530, "LOGIN_DENIED", NULL);
        break;
    case AZ_ErrorInvalidRange:
        error =
            ostrel_gfs_ftp_response_error_construct(NULL, base, 553, "APPEND_NOT_SUPPORTED", NULL);
        break;
    case AZ_ErrorNoSuchUpload:
        error = ostrel_gfs_ftp_response_error_construct(NULL, base, 553,
                                                        "MULTI_PART_UPLOAD_NOT_FOUND", NULL);
        break;
    case AZ_ErrorServiceUnavailable:
    case AZ_ErrorSlowDown:
        error = ostrel_gfs_ftp_response_error_construct(NULL, base, 451, "TOO_BUSY", NULL);
        break;
    default:
        break;
    }

    ostrel_i_azure_trace_exit();
    return error;
}

void ostrel_i_azure_record_status(AZ_status *status_field, ostrel_result_t *result_field,
                                  AZ_status status, const char *path,
                                  const AZ_error_details *details)
{
    ostrel_i_azure_trace_enter();
    /* The first failure of a try is its cause; later ones are consequences. */
    if (status != AZ_OK && *result_field == OSTREL_SUCCESS) {
        *status_field = status;
        *result_field = ostrel_error_put(ostrel_i_AzureError_to_error(status, path, details));
    }
    ostrel_i_azure_trace_exit();
}

ostrel_result_t ostrel_i_azure_system_error(const char *call, int system_errno)
{
    return ostrel_i_gfs_error_system(0, system_errno, "System error%s%s", " in ", call);
}

ostrel_result_t ostrel_i_azure_path_error(int reply_code, const char *response_error_code,
                                          const char *path, const char *format, ...)
{
    char reason[1024];
    va_list args;

    va_start(args, format);
    vsnprintf(reason, sizeof(reason), format, args);
    va_end(args);
    ostrel_object_t *error =
        ostrel_error_construct_error(NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "error", __func__,
                                     __LINE__, "Ostrel-Azure-Error: %s", reason);
    if (reply_code != 0)
        error = ostrel_gfs_ftp_response_error_construct(
            NULL, error, reply_code, response_error_code, "GridFTP-Path: \"%s\"", path);
    return ostrel_error_put(error);
}
