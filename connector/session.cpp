/* Session start and end: the session handle, its storage client and token. */
#include "connector/ostrel_i_azure.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static ostrel_result_t ostrel_l_azure_start_error(const char *format, ...)
    __attribute__((format(printf, 1, 2)));

static ostrel_result_t ostrel_l_azure_start_error(const char *format, ...)
{
    char message[1024];
    va_list args;

    va_start(args, format);
    vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    return ostrel_error_put(ostrel_error_construct_error(NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN,
                                                         "session", "ostrel_i_azure_start",
                                                         __LINE__, "%s", message));
}

/* Checked before any token is loaded: an account text that is not an
 * account would send the token to another host, and an unreadable CA file
 * would only surface later as a TLS failure that does not name it. */
static ostrel_result_t ostrel_l_azure_start_check_config(const ostrel_i_azure_handle_t *handle)
{
    const char *reason = AZ_account_error(handle->account);
    if (reason != NULL)
        return ostrel_l_azure_start_error("Ostrel-Azure-Error: storage account \"%s\": %s",
                                          handle->account, reason);
    if (handle->ca_file == NULL)
        return OSTREL_SUCCESS;

    FILE *file = fopen(handle->ca_file, "r");
    int error = errno;
    if (file != NULL) {
        char byte;
        /* a directory opens, and fails only when read */
        if (fread(&byte, 1, 1, file) == 0 && ferror(file))
            error = errno;
        else
            error = 0;
        fclose(file);
    }
    if (error == 0)
        return OSTREL_SUCCESS;
    return ostrel_l_azure_start_error(
        "Ostrel-Azure-Error: cannot read the certificate file \"%s\" (\"ca_file\"): %s",
        handle->ca_file, strerror(error));
}

/* The storage layer ignores the callback's result, so a failure is only
 * logged (inside the refresh) and its error object released here. */
static int ostrel_l_azure_storage_token_refresh(void *arg)
{
    ostrel_result_t result = ostrel_i_azure_token_refresh((ostrel_i_azure_handle_t *)arg);
    if (result == OSTREL_SUCCESS)
        return 0;
    ostrel_object_t *error = ostrel_error_get(result);
    if (error != NULL)
        ostrel_object_free(error);
    return 1;
}

void ostrel_i_azure_handle_set_op(ostrel_i_azure_handle_t *handle, ostrel_gfs_operation_t op)
{
    ostrel_mutex_lock(&handle->token_lock);
    handle->op = op;
    ostrel_mutex_unlock(&handle->token_lock);
}

static ostrel_result_t ostrel_l_azure_handle_create(ostrel_gfs_operation_t op,
                                                    ostrel_i_azure_handle_t **handle)
{
    ostrel_i_azure_handle_t *created =
        (ostrel_i_azure_handle_t *)calloc(1, sizeof(ostrel_i_azure_handle_t));
    if (created == NULL)
        return ostrel_i_azure_system_error("malloc", errno);
    int rc = ostrel_mutex_init(&created->token_lock, NULL);
    if (rc != 0) {
        free(created);
        return ostrel_i_azure_system_error("ostrel_mutex_init", rc);
    }
    created->token_refresh = ostrel_i_azure_token_refresh;
    created->op = op;
    *handle = created;
    return OSTREL_SUCCESS;
}

/* A session without a configuration or a credential cannot reach storage;
 * say which one is missing rather than fail on the first request. */
static ostrel_result_t ostrel_l_azure_start_configure(ostrel_i_azure_handle_t *handle,
                                                      const char *user)
{
    char *config = NULL;
    ostrel_gridftp_server_get_config_data(handle->op, "config", &config);
    if (config == NULL)
        return ostrel_l_azure_start_error(
            "Ostrel-Azure-Error: no storage configuration (\"config\") for this session");
    ostrel_result_t result = ostrel_i_azure_config_parse_json(
        NULL, config, &handle->account, &handle->adls, &handle->ca_file, &handle->storage_options);
    free(config);
    if (result == OSTREL_SUCCESS)
        result = ostrel_l_azure_start_check_config(handle);
    if (result != OSTREL_SUCCESS)
        return result;

    result = handle->token_refresh(handle);
    if (result != OSTREL_SUCCESS)
        return result;
    if (handle->access_token == NULL)
        return ostrel_l_azure_start_error(
            "Ostrel-Azure-Error: no access token (\"creds\") for user %s", user);

    AZ_client_options options = handle->storage_options;
    options.ca_file = handle->ca_file;
    AZ_status status = AZ_init_client_with_options(
        handle->account, handle->access_token, handle->adls, ostrel_l_azure_storage_token_refresh,
        handle, &options, &handle->client);
    if (status != AZ_OK) {
        handle->client = NULL;
        return ostrel_error_put(ostrel_i_AzureError_to_error(status, handle->account, NULL));
    }
    return OSTREL_SUCCESS;
}

void ostrel_i_azure_start(ostrel_gfs_operation_t op, ostrel_gfs_session_info_t *session_info)
{
    ostrel_i_azure_trace_enter();

    char *user = session_info != NULL ? session_info->username : NULL;
    ostrel_i_azure_handle_t *handle = NULL;
    ostrel_result_t result = ostrel_l_azure_handle_create(op, &handle);
    if (result == OSTREL_SUCCESS)
        result = ostrel_l_azure_start_configure(handle, user != NULL ? user : "(unknown)");

    if (result != OSTREL_SUCCESS) {
        ostrel_i_azure_destroy(handle);
        ostrel_i_azure_trace_result(result);
        ostrel_gridftp_server_finished_session_start(op, result, NULL, (char *)"ERROR",
                                                     (char *)"/");
        return;
    }

    ostrel_gridftp_server_finished_session_start(op, OSTREL_SUCCESS, handle, user, (char *)"/");
    ostrel_i_azure_trace_result(OSTREL_SUCCESS);
}

void ostrel_i_azure_destroy(void *user_arg)
{
    ostrel_i_azure_trace_enter();

    ostrel_i_azure_handle_t *handle = (ostrel_i_azure_handle_t *)user_arg;
    if (handle == NULL) {
        ostrel_i_azure_trace_exit();
        return;
    }
    if (handle->client != NULL)
        AZ_destroy_client(handle->client);
    free(handle->access_token);
    free(handle->sub);
    free(handle->account);
    free(handle->ca_file);
    if (handle->allowed_containers != NULL) {
        for (char **name = handle->allowed_containers; *name != NULL; name++)
            free(*name);
        free(handle->allowed_containers);
    }
    ostrel_mutex_destroy(&handle->token_lock);
    free(handle);

    ostrel_i_azure_trace_exit();
}
