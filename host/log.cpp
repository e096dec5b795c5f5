/* The host's own log: one line per message on stderr. */
#include "host/error_object.h"

#include <cstdio>

void ostrel_gfs_log_message(int type, const char *fmt, ...)
{
    const char *level = "info";
    if (type & OSTREL_GFS_LOG_ERR)
        level = "error";
    else if (type & OSTREL_GFS_LOG_WARN)
        level = "warning";
    std::string line;
    try {
        va_list args;
        va_start(args, fmt);
        line = ostrel_host::format_text(fmt, args);
        va_end(args);
    } catch (...) {
        line = fmt ? fmt : "";
    }
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    /* one write, so lines of concurrent threads do not mix */
    fprintf(stderr, "ostrel: %s: %s\n", level, line.c_str());
}
