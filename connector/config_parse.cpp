/* The session's "config" document: {"account", "adls", "ca_file"}. */
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

ostrel_result_t ostrel_i_azure_config_parse_json(void *json, const char *text, char **account,
                                                 bool *adls, char **ca_file)
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
