/*
 * The process-wide checksum cache: MD5 texts of whole blobs, recorded by
 * checksum commands and transfers of every session, looked up by checksum
 * commands.
 */
#include "connector/ostrel_i_azure.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#define OSTREL_L_AZURE_CHECKSUM_BUCKETS 1024

typedef struct ostrel_l_az_checksum_entry_s {
    char *key; /* owned; the table's key points here */
    char *checksum;
    time_t when;
} ostrel_l_az_checksum_entry_t;

/* Sessions of all accounts and the transfer threads share the table, so every
 * access, including creation and destruction, holds this lock. */
static ostrel_mutex_t ostrel_l_az_checksum_lock = PTHREAD_MUTEX_INITIALIZER;
static ostrel_hashtable_t ostrel_l_az_checksum_table;
static bool ostrel_l_az_checksum_table_ready;

static void ostrel_l_az_checksum_entry_free(void *datum)
{
    ostrel_l_az_checksum_entry_t *entry = (ostrel_l_az_checksum_entry_t *)datum;

    if (entry == NULL)
        return;
    free(entry->key);
    free(entry->checksum);
    free(entry);
}

/* Every part carries its length, so no account, container or key text can
 * make two different blobs share a key. Caller frees. */
static char *ostrel_l_az_checksum_key(const char *account, const char *container, const char *key)
{
    char *text = NULL;

    if (account == NULL)
        account = "";
    if (asprintf(&text, "%zu:%s%zu:%s%s", strlen(account), account, strlen(container), container,
                 key) < 0)
        return NULL;
    return text;
}

ostrel_result_t ostrel_i_az_checksum_cache_init(void)
{
    ostrel_result_t result = OSTREL_SUCCESS;

    ostrel_i_azure_trace_enter();
    ostrel_mutex_lock(&ostrel_l_az_checksum_lock);
    if (!ostrel_l_az_checksum_table_ready) {
        if (ostrel_hashtable_init(&ostrel_l_az_checksum_table, OSTREL_L_AZURE_CHECKSUM_BUCKETS,
                                  ostrel_hashtable_string_hash, ostrel_hashtable_string_keyeq) == 0)
            ostrel_l_az_checksum_table_ready = true;
        else
            result = ostrel_i_azure_system_error("ostrel_hashtable_init", ENOMEM);
    }
    ostrel_mutex_unlock(&ostrel_l_az_checksum_lock);
    ostrel_i_azure_trace_result(result);
    return result;
}

void ostrel_i_az_checksum_cache_destroy(void)
{
    ostrel_i_azure_trace_enter();
    ostrel_mutex_lock(&ostrel_l_az_checksum_lock);
    if (ostrel_l_az_checksum_table_ready) {
        ostrel_hashtable_destroy_all(&ostrel_l_az_checksum_table, ostrel_l_az_checksum_entry_free);
        ostrel_l_az_checksum_table_ready = false;
    }
    ostrel_mutex_unlock(&ostrel_l_az_checksum_lock);
    ostrel_i_azure_trace_exit();
}

int ostrel_i_az_checksum_add(const char *account, const char *container, const char *key,
                             time_t when, const char *checksum)
{
    ostrel_l_az_checksum_entry_t *entry = NULL;
    char *table_key = NULL;
    char *copy = NULL;
    int rc = -1;

    ostrel_i_azure_trace_enter();
    if (container == NULL || key == NULL || checksum == NULL)
        goto out;
    table_key = ostrel_l_az_checksum_key(account, container, key);
    copy = strndup(checksum, 32);
    if (table_key == NULL || copy == NULL)
        goto out;

    ostrel_mutex_lock(&ostrel_l_az_checksum_lock);
    if (!ostrel_l_az_checksum_table_ready) {
        ostrel_mutex_unlock(&ostrel_l_az_checksum_lock);
        goto out;
    }
    entry = (ostrel_l_az_checksum_entry_t *)ostrel_hashtable_remove(&ostrel_l_az_checksum_table,
                                                                    table_key);
    if (entry != NULL) {
        if (strcasecmp(entry->checksum, copy) != 0) {
            free(entry->checksum);
            entry->checksum = copy;
            copy = NULL;
        }
        entry->when = when;
    } else {
        entry = (ostrel_l_az_checksum_entry_t *)calloc(1, sizeof(*entry));
        if (entry == NULL) {
            ostrel_mutex_unlock(&ostrel_l_az_checksum_lock);
            goto out;
        }
        entry->key = table_key;
        entry->checksum = copy;
        entry->when = when;
        table_key = NULL;
        copy = NULL;
    }
    if (ostrel_hashtable_insert(&ostrel_l_az_checksum_table, entry->key, entry) == 0) {
        entry = NULL;
        rc = 0;
    }
    ostrel_mutex_unlock(&ostrel_l_az_checksum_lock);

out:
    ostrel_l_az_checksum_entry_free(entry);
    free(table_key);
    free(copy);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "exit: %d\n", rc);
    return rc;
}

bool ostrel_i_az_checksum_find(const char *account, const char *container, const char *key,
                               time_t last_modified, char checksum[33])
{
    ostrel_l_az_checksum_entry_t *entry;
    char *table_key;
    bool found = false;

    ostrel_i_azure_trace_enter();
    if (container == NULL || key == NULL)
        return false;
    table_key = ostrel_l_az_checksum_key(account, container, key);
    if (table_key == NULL)
        return false;

    ostrel_mutex_lock(&ostrel_l_az_checksum_lock);
    if (ostrel_l_az_checksum_table_ready) {
        entry = (ostrel_l_az_checksum_entry_t *)ostrel_hashtable_lookup(&ostrel_l_az_checksum_table,
                                                                        table_key);
        /* Times have whole seconds: an entry recorded in the second of the
         * blob's last change may describe the content before that change. */
        if (entry != NULL && entry->when > last_modified) {
            snprintf(checksum, 33, "%.32s", entry->checksum);
            found = true;
        }
    }
    ostrel_mutex_unlock(&ostrel_l_az_checksum_lock);

    free(table_key);
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "exit: %d\n", (int)found);
    return found;
}
