/* GridFTP paths to container and blob key. */
#include "connector/ostrel_i_azure.h"

#include <string.h>

char *ostrel_i_azure_path_parse(char *path, char **container, char **key)
{
    /* Only one leading separator belongs to the root; a second one ends an
     * empty container name. */
    if (path[0] == '/')
        path++;
    *container = path;
    char *separator = strchr(path, '/');
    if (separator == NULL) {
        *key = NULL;
        return NULL;
    }
    *separator = '\0';
    *key = separator + 1;
    return separator;
}
