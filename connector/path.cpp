/* GridFTP paths to container and blob key, and which names mean what they say. */
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

const char *ostrel_i_azure_name_error(const char *name)
{
    /* "." and ".." are resolved away on the way to the service and would
     * reach another blob or container */
    const char *reason = AZ_key_error(name);
    if (reason != NULL)
        return reason;
    /* "a//b" is a blob of its own at the service, but no client can tell it
     * from "a/b"; one trailing separator only marks a directory */
    for (const char *p = name; *p != '\0'; p++)
        if (*p == '/' && (p == name || p[1] == '/'))
            return "has an empty name component";
    return NULL;
}

ostrel_result_t ostrel_i_azure_path_check(const char *pathname, const char *container,
                                          const char *key)
{
    const char *reason = ostrel_i_azure_name_error(container);

    if (reason == NULL && key != NULL)
        reason =
            container[0] == '\0' ? "has an empty name component" : ostrel_i_azure_name_error(key);
    if (reason == NULL)
        return OSTREL_SUCCESS;

    return ostrel_i_azure_path_error(553, "INVALID_PATH", pathname, "the path \"%s\" %s", pathname,
                                     reason);
}
