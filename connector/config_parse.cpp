/* The session's "config" document: {"account", "adls", "ca_file"} and the
 * storage client's tuning keys. */
#include "connector/ostrel_i_azure.h"

#include <errno.h>
#include <jansson.h>
#include <stdio.h>
#include <string.h>

static ostrel_result_t ostrel_l_azure_config_error(const char *message)
{
    ostrel_result_t result = ostrel_error_put(
        ostrel_error_construct_error(NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "config_parse",
                                     "ostrel_i_azure_config_parse_json", __LINE__, "%s", message));
    return result;
}

/* An optional whole number within [min, max]; absent leaves *value alone. */
static ostrel_result_t ostrel_l_azure_config_number(json_t *document, const char *key, int32_t min,
                                                    int32_t max, int32_t *value)
{
    json_t *member = json_object_get(document, key);
    if (member == NULL)
        return OSTREL_SUCCESS;
    if (json_is_integer(member) && json_integer_value(member) >= min &&
        json_integer_value(member) <= max) {
        *value = (int32_t)json_integer_value(member);
        return OSTREL_SUCCESS;
    }
    char message[256];
    snprintf(message, sizeof(message),
             "Error in storage configuration: \"%s\" must be a whole number from %d to %d\n", key,
             (int)min, (int)max);
    return ostrel_l_azure_config_error(message);
}

/* An optional boolean; absent leaves *value alone. */
static ostrel_result_t ostrel_l_azure_config_flag(json_t *document, const char *key, bool *value)
{
    json_t *member = json_object_get(document, key);
    if (member == NULL)
        return OSTREL_SUCCESS;
    if (json_is_boolean(member)) {
        *value = json_is_true(member);
        return OSTREL_SUCCESS;
    }
    char message[256];
    snprintf(message, sizeof(message),
             "Error in storage configuration: \"%s\" must be true or false\n", key);
    return ostrel_l_azure_config_error(message);
}

/* The storage client's tuning keys; all optional. */
static ostrel_result_t ostrel_l_azure_config_tuning(json_t *document, AZ_client_options *options)
{
    ostrel_result_t result = ostrel_l_azure_config_number(
        document, "retry_attempts", 1, AZ_RETRY_ATTEMPTS_MAX, &options->retry_attempts);
    if (result == OSTREL_SUCCESS)
        result =
            ostrel_l_azure_config_number(document, "retry_max_delay_ms", 1,
                                         AZ_RETRY_MAX_DELAY_MS_MAX, &options->retry_max_delay_ms);
    if (result == OSTREL_SUCCESS)
        result = ostrel_l_azure_config_number(document, "upload_block_mib", 1,
                                              AZ_UPLOAD_BLOCK_MIB_MAX, &options->upload_block_mib);
    if (result == OSTREL_SUCCESS)
        result = ostrel_l_azure_config_number(document, "upload_parallel", 1,
                                              AZ_UPLOAD_PARALLEL_MAX, &options->upload_parallel);
    if (result == OSTREL_SUCCESS)
        result = ostrel_l_azure_config_flag(document, "store_md5", &options->store_md5);
    /* Each parallel request holds a block of its own: without a block size
     * the memory asked for is unknown. */
    if (result == OSTREL_SUCCESS && options->upload_parallel != 0 && options->upload_block_mib == 0)
        result = ostrel_l_azure_config_error(
            "Error in storage configuration: \"upload_parallel\" needs \"upload_block_mib\"\n");
    return result;
}

ostrel_result_t ostrel_i_azure_config_parse_json(void *json, const char *text, char **account,
                                                 bool *adls, char **ca_file,
                                                 AZ_client_options *tuning)
{
    ostrel_i_azure_trace_enter();

    ostrel_result_t result = OSTREL_SUCCESS;
    char message[JSON_ERROR_TEXT_LENGTH + 128];
    json_error_t error;
    json_t *owned = NULL;
    json_t *document = (json_t *)json;
    const char *account_text = NULL;
    const char *ca_file_text = NULL;
    int adls_flag = 1;

    if (document == NULL) {
        owned = json_loads(text != NULL ? text : "", 0, &error);
        if (owned == NULL) {
            snprintf(message, sizeof(message), "Error loading collection storage policy: %s\n",
                     error.text);
            result = ostrel_l_azure_config_error(message);
            goto done;
        }
        document = owned;
    }

    if (json_unpack_ex(document, &error, 0, "{s:s,s?b,s?s}", "account", &account_text, "adls",
                       &adls_flag, "ca_file", &ca_file_text) != 0) {
        snprintf(message, sizeof(message), "Error parsing storage account: %s\n", error.text);
        result = ostrel_l_azure_config_error(message);
        goto done;
    }
    /* An empty name would only fail later, on the first request, with a
     * less helpful answer from the service. */
    if (account_text[0] == '\0') {
        result =
            ostrel_l_azure_config_error("Error parsing storage account: \"account\" is empty\n");
        goto done;
    }

    if (tuning != NULL) {
        result = ostrel_l_azure_config_tuning(document, tuning);
        if (result != OSTREL_SUCCESS)
            goto done;
    }

    *account = strdup(account_text);
    if (*account == NULL) {
        result = ostrel_i_azure_system_error("strdup", errno);
        goto done;
    }
    *adls = adls_flag != 0;
    if (ca_file != NULL && ca_file_text != NULL) {
        *ca_file = strdup(ca_file_text);
        if (*ca_file == NULL) {
            result = ostrel_i_azure_system_error("strdup", errno);
            free(*account);
            *account = NULL;
            goto done;
        }
    }

done:
    if (owned != NULL)
        json_decref(owned);
    ostrel_i_azure_trace_result(result);
    return result;
}
