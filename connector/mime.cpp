/* File-name extension to MIME type, loaded once from a mime.types file. */
#include "connector/ostrel_i_azure.h"

#include <stdio.h>
#include <string.h>

enum {
    OSTREL_L_AZURE_MIME_BUCKETS = 1549,
    OSTREL_L_AZURE_MIME_LINE = 256,
    OSTREL_L_AZURE_MIME_EXTENSION_FIELD = 32,
    OSTREL_L_AZURE_MIME_EXTENSION_MAX = 30,
};

ostrel_hashtable_t ostrel_i_azure_mime_extensions;
/* Set by the embedding process before activation; NULL: no types. */
const char *ostrel_i_azure_mime_type_file = NULL;

/* An entry is one allocation: the extension (the table's key) in a fixed
 * field, the type right after it; released with free(). */
static char *ostrel_l_azure_mime_entry_type(char *entry)
{
    return entry + OSTREL_L_AZURE_MIME_EXTENSION_FIELD;
}

void ostrel_i_azure_mime_types_destroy(void)
{
    if (ostrel_i_azure_mime_extensions == NULL)
        return;
    ostrel_hashtable_destroy_all(&ostrel_i_azure_mime_extensions, free);
    ostrel_i_azure_mime_extensions = NULL;
}

/* 0 when added or refused as a duplicate (the first line wins), -1 when out of memory. */
static int ostrel_l_azure_mime_type_add(const char *extension, size_t length, const char *type)
{
    size_t type_length = strlen(type);
    char *entry = (char *)malloc(OSTREL_L_AZURE_MIME_EXTENSION_FIELD + type_length + 1);
    if (entry == NULL)
        return -1;
    memcpy(entry, extension, length);
    entry[length] = '\0';
    memcpy(ostrel_l_azure_mime_entry_type(entry), type, type_length + 1);
    if (ostrel_hashtable_insert(&ostrel_i_azure_mime_extensions, entry, entry) != 0)
        free(entry);
    return 0;
}

/* Adds every extension of one line; -1 when out of memory. */
static int ostrel_l_azure_mime_line_load(char *line)
{
    char *comment = strchr(line, '#');
    if (comment != NULL)
        *comment = '\0';

    char type[OSTREL_L_AZURE_MIME_LINE];
    char extensions[OSTREL_L_AZURE_MIME_LINE];
    if (sscanf(line, "%255s %255[^\n]", type, extensions) != 2)
        return 0;

    const char *separators = " \t\n\r";
    for (char *token = extensions + strspn(extensions, separators); *token != '\0';) {
        size_t length = strcspn(token, separators);
        if (length <= OSTREL_L_AZURE_MIME_EXTENSION_MAX &&
            ostrel_l_azure_mime_type_add(token, length, type) != 0)
            return -1;
        token += length;
        token += strspn(token, separators);
    }
    return 0;
}

static ostrel_result_t ostrel_l_azure_mime_types_load(const char *path)
{
    ostrel_i_azure_trace_enter();
    if (path == NULL) {
        ostrel_i_azure_trace_result(OSTREL_SUCCESS);
        return OSTREL_SUCCESS;
    }

    FILE *file = fopen(path, "r");
    if (file == NULL) {
        ostrel_i_azure_mime_types_destroy();
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_ERROR, "cannot open %s\n", path);
        return (ostrel_result_t)-1;
    }
    char line[OSTREL_L_AZURE_MIME_LINE];
    while (fgets(line, sizeof(line), file) != NULL) {
        if (ostrel_l_azure_mime_line_load(line) != 0) {
            fclose(file);
            ostrel_i_azure_mime_types_destroy();
            ostrel_i_azure_log(OSTREL_AZURE_DEBUG_ERROR, "out of memory reading %s\n", path);
            return (ostrel_result_t)-1;
        }
    }
    fclose(file);
    ostrel_i_azure_trace_result(OSTREL_SUCCESS);
    return OSTREL_SUCCESS;
}

ostrel_result_t ostrel_i_azure_mime_types_parse(const char *path)
{
    ostrel_i_azure_trace_enter();
    /* A second activation must not leak the first table. */
    ostrel_i_azure_mime_types_destroy();
    int rc = ostrel_hashtable_init(&ostrel_i_azure_mime_extensions, OSTREL_L_AZURE_MIME_BUCKETS,
                                   ostrel_hashtable_string_hash, ostrel_hashtable_string_keyeq);
    if (rc != 0) {
        ostrel_i_azure_mime_extensions = NULL;
        return (ostrel_result_t)rc;
    }
    return ostrel_l_azure_mime_types_load(path);
}

const char *ostrel_i_azure_mime_type_get(const char *name)
{
    const char *dot = strrchr(name, '.');
    if (dot == NULL || dot[1] == '\0' || ostrel_i_azure_mime_extensions == NULL)
        return NULL;
    char *entry =
        (char *)ostrel_hashtable_lookup(&ostrel_i_azure_mime_extensions, (void *)(dot + 1));
    return entry != NULL ? ostrel_l_azure_mime_entry_type(entry) : NULL;
}
