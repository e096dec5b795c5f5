/*
 * The session's access token: loading ("creds"), renewal ("renew-creds")
 * before expiry, and handing the current token to the storage client.
 *
 * Refreshes of one session can run on several threads at once (operation
 * entries and the storage layer's refresh callback), so every read and write
 * of the token fields and of op happens under the handle's token_lock, and
 * the token is handed to AZ_update_token (which copies it) before the lock is
 * released; no thread ever sees a token another thread has freed.
 *
 * A renewal asks for the new document before the old token is dropped. When
 * the host supplies none (or an unreadable one), the previous token stays in
 * use while it is still valid, with a warning; once it has expired the
 * operation fails with a clear error instead of leaving the session without
 * a token, because the storage client cannot run with a null one.
 */
#include "connector/ostrel_i_azure.h"
#include "connector/token_time.h"

#include <errno.h>
#include <jansson.h>
#include <stdio.h>
#include <string.h>

/* Renew this many seconds before the token runs out, so that a request
 * signed just before the check does not reach the service expired. */
enum { OSTREL_L_AZURE_TOKEN_MARGIN = 99 };

static ostrel_result_t ostrel_l_azure_token_error(const char *function, const char *message)
{
    return ostrel_error_put(ostrel_error_construct_error(
        NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "token", function, __LINE__, "%s", message));
}

bool ostrel_i_azure_token_needs_renewal(time_t now, time_t expiry)
{
    return !(now + OSTREL_L_AZURE_TOKEN_MARGIN < expiry);
}

ostrel_result_t ostrel_i_azure_parse_date(const char *text, time_t *seconds)
{
    ostrel_i_azure_trace_enter();

    if (!ostrel_i_azure_token_time(text, seconds)) {
        char message[256];
        snprintf(message, sizeof(message), "Error parsing time string: %s\n", text);
        ostrel_result_t result = ostrel_l_azure_token_error("ostrel_i_azure_parse_date", message);
        ostrel_i_azure_trace_result(result);
        return result;
    }
    ostrel_i_azure_trace_result(OSTREL_SUCCESS);
    return OSTREL_SUCCESS;
}

/* Never puts the document's text into a message: it carries the token. */
ostrel_result_t ostrel_i_azure_parse_token_json(const char *text, char **sub, char **access_token,
                                                time_t *token_expiry)
{
    ostrel_i_azure_trace_enter();

    ostrel_result_t result = OSTREL_SUCCESS;
    char message[JSON_ERROR_TEXT_LENGTH + 128];
    json_error_t error;
    const char *token_text = NULL;
    const char *expiry_text = NULL;
    const char *sub_text = NULL;
    char *sub_copy = NULL;
    char *token_copy = NULL;
    time_t expiry = 0;

    json_t *document = json_loads(text, 0, &error);
    if (document == NULL) {
        /* The parser's own text quotes the input near the fault, which may be
         * the token itself; the position is enough to find the problem. */
        snprintf(message, sizeof(message),
                 "Error loading user credential: invalid JSON at line %d, column %d\n", error.line,
                 error.column);
        result = ostrel_l_azure_token_error("ostrel_i_azure_parse_token_json", message);
        goto done;
    }
    if (json_unpack_ex(document, &error, 0, "{s:s,s:s,s:s}", "access_token", &token_text,
                       "token_expiry", &expiry_text, "sub", &sub_text) != 0) {
        snprintf(message, sizeof(message), "Error unpacking collection storage policy: %s\n",
                 error.text);
        result = ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
            NULL, NULL, 500, "INTERNAL_ERROR", "%s%s", "GridFTP-Error:", message));
        goto done;
    }
    result = ostrel_i_azure_parse_date(expiry_text, &expiry);
    if (result != OSTREL_SUCCESS)
        goto done;

    sub_copy = strdup(sub_text);
    token_copy = strdup(token_text);
    if (sub_copy == NULL || token_copy == NULL) {
        result = ostrel_i_azure_system_error("strdup", errno);
        goto done;
    }
    *sub = sub_copy;
    *access_token = token_copy;
    *token_expiry = expiry;
    sub_copy = NULL;
    token_copy = NULL;

done:
    free(sub_copy);
    free(token_copy);
    if (document != NULL)
        json_decref(document);
    ostrel_i_azure_trace_result(result);
    return result;
}

/* Drops a result's error object; used where a newer error replaces it. */
static ostrel_object_t *ostrel_l_azure_take_error(ostrel_result_t result)
{
    return result != OSTREL_SUCCESS ? ostrel_error_get(result) : NULL;
}

/* Caller holds handle->token_lock. */
static ostrel_result_t ostrel_l_azure_update_token_locked(ostrel_i_azure_handle_t *handle)
{
    ostrel_i_azure_trace_enter();

    time_t now = time(NULL);
    bool renewal = handle->access_token != NULL;
    if (renewal && !ostrel_i_azure_token_needs_renewal(now, handle->token_expiry)) {
        ostrel_i_azure_trace_result(OSTREL_SUCCESS);
        return OSTREL_SUCCESS;
    }

    char *text = NULL;
    ostrel_gridftp_server_get_config_data(handle->op, renewal ? "renew-creds" : "creds", &text);

    char *sub = NULL;
    char *access_token = NULL;
    time_t expiry = 0;
    ostrel_result_t result = OSTREL_SUCCESS;
    if (text != NULL) {
        result = ostrel_i_azure_parse_token_json(text, &sub, &access_token, &expiry);
        free(text);
    }

    bool loaded = text != NULL && result == OSTREL_SUCCESS;
    /* A renewal that is itself expired renews nothing: the service would
     * only answer 403. */
    if (loaded && renewal && expiry <= now) {
        free(access_token);
        free(sub);
        loaded = false;
    }
    if (loaded) {
        free(handle->access_token);
        free(handle->sub);
        handle->access_token = access_token;
        handle->sub = sub;
        handle->token_expiry = expiry;
    } else if (renewal && now < handle->token_expiry) {
        ostrel_object_t *cause = ostrel_l_azure_take_error(result);
        if (cause != NULL)
            ostrel_object_free(cause);
        result = OSTREL_SUCCESS;
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_WARNING,
                           "no usable renewal of the access token for %s; keeping the current "
                           "one, which expires in %ld seconds\n",
                           handle->sub != NULL ? handle->sub : "(unknown)",
                           (long)(handle->token_expiry - now));
    } else if (renewal) {
        result = ostrel_error_put(ostrel_error_construct_error(
            NULL, ostrel_l_azure_take_error(result), OSTREL_ERROR_TYPE_PLUGIN, "token",
            "ostrel_azure_update_token", __LINE__, "%s",
            "Ostrel-Azure-Error: access token expired and the host supplied no renewal"));
    }
    /* A first load without text leaves the session without a token; session
     * start reports that, since only it knows the user. */

    ostrel_i_azure_trace_result(result);
    return result;
}

ostrel_result_t ostrel_azure_update_token(ostrel_i_azure_handle_t *handle)
{
    ostrel_mutex_lock(&handle->token_lock);
    ostrel_result_t result = ostrel_l_azure_update_token_locked(handle);
    ostrel_mutex_unlock(&handle->token_lock);
    return result;
}

ostrel_result_t ostrel_i_azure_token_refresh(ostrel_i_azure_handle_t *handle)
{
    ostrel_i_azure_trace_enter();

    ostrel_mutex_lock(&handle->token_lock);
    ostrel_result_t result = ostrel_l_azure_update_token_locked(handle);
    if (result == OSTREL_SUCCESS && handle->client != NULL && handle->access_token != NULL)
        AZ_update_token(handle->client, handle->access_token);
    ostrel_mutex_unlock(&handle->token_lock);

    ostrel_i_azure_trace_result(result);
    return result;
}
