/* The session's container policy and the gate every container operation passes. */
#include "connector/ostrel_i_azure.h"

#include <string.h>

bool ostrel_i_azure_container_allowed(const char *container, char **allowed,
                                      ostrel_result_t *result)
{
    ostrel_i_azure_trace_enter();

    bool found = allowed == NULL;
    for (char **name = allowed; !found && *name != NULL; name++)
        found = strcmp(*name, container) == 0;

    if (result != NULL) {
        if (found) {
            *result = OSTREL_SUCCESS;
        } else {
            ostrel_object_t *refusal = ostrel_error_construct_error(
                NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "container_allowed",
                "ostrel_i_azure_container_allowed", __LINE__, "%s",
                "Ostrel-Azure-Error: Container not allowed.");
            *result = ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
                NULL, refusal, 550, "PERMISSION_DENIED", NULL));
        }
    }

    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "exit: %d\n", (int)found);
    return found;
}

ostrel_result_t ostrel_i_azure_container_context(ostrel_i_azure_handle_t *handle,
                                                 const char *container,
                                                 ostrel_i_azure_container_context_t *context)
{
    ostrel_i_azure_trace_enter();

    ostrel_result_t result = OSTREL_SUCCESS;
    /* The root lists the containers, and the listing applies the policy to
     * each of them; it still needs a current token. */
    if (container[0] != '\0' &&
        !ostrel_i_azure_container_allowed(container, handle->allowed_containers, &result))
        goto done;
    if (handle->token_refresh != NULL) {
        result = handle->token_refresh(handle);
        if (result != OSTREL_SUCCESS)
            goto done;
    }
    memset(context, 0, sizeof(*context));
    context->container = container;

done:
    ostrel_i_azure_trace_result(result);
    return result;
}
