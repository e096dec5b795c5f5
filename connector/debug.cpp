/* The connector's debug output: level names and the print functions behind
 * the ostrel_i_azure_log() family. */
#include "connector/ostrel_i_azure.h"

#include <stdarg.h>
#include <stdio.h>
#include <sys/time.h>

enum { OSTREL_L_AZURE_DEBUG_FORMAT_MAX = 4096 };

ostrel_debug_handle_t ostrel_i_OSTREL_AZURE_debug_handle;

/* Indexed by level bit value; WARNING prints as "WARN" to fit five columns. */
const char *ostrel_i_azure_debug_level_names[17] = {
    NULL, "TRACE", "INFO", NULL, "DEBUG", NULL, NULL, NULL,    "WARN",
    NULL, NULL,    NULL,   NULL, NULL,    NULL, NULL, "ERROR",
};

void ostrel_i_OSTREL_AZURE_debug_printf(const char *fmt, ...)
{
    FILE *file = ostrel_i_OSTREL_AZURE_debug_handle.file;
    if (file == NULL)
        return;

    va_list args;
    va_start(args, fmt);
    if (ostrel_i_OSTREL_AZURE_debug_handle.thread_ids) {
        char combined[OSTREL_L_AZURE_DEBUG_FORMAT_MAX];
        snprintf(combined, sizeof(combined), "%lu::%s", (unsigned long)ostrel_thread_self(), fmt);
        vfprintf(file, combined, args);
    } else {
        vfprintf(file, fmt, args);
    }
    va_end(args);
}

void ostrel_i_OSTREL_AZURE_debug_time_printf(const char *fmt, ...)
{
    FILE *file = ostrel_i_OSTREL_AZURE_debug_handle.file;
    if (file == NULL)
        return;

    struct timeval now;
    gettimeofday(&now, NULL);
    unsigned long seconds = (unsigned long)now.tv_sec;
    unsigned long nanoseconds = (unsigned long)now.tv_usec * 1000;

    char combined[OSTREL_L_AZURE_DEBUG_FORMAT_MAX];
    if (ostrel_i_OSTREL_AZURE_debug_handle.thread_ids)
        snprintf(combined, sizeof(combined), "%lu:%lu.%.9lu::%s",
                 (unsigned long)ostrel_thread_self(), seconds, nanoseconds, fmt);
    else
        snprintf(combined, sizeof(combined), "%lu.%.9lu::%s", seconds, nanoseconds, fmt);

    va_list args;
    va_start(args, fmt);
    vfprintf(file, combined, args);
    va_end(args);
}

void ostrel_i_OSTREL_AZURE_debug_fwrite(const void *buffer, size_t size, size_t count)
{
    FILE *file = ostrel_i_OSTREL_AZURE_debug_handle.file;
    if (file != NULL)
        fwrite(buffer, size, count, file);
}
