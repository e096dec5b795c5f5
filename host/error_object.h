/*
 * The host's error object, shared by the files that build, register and
 * describe errors. Plug-ins only ever see the opaque pointer.
 */
#ifndef OSTREL_HOST_ERROR_OBJECT_H
#define OSTREL_HOST_ERROR_OBJECT_H

#include "host/ostrel_host.h"

#include <cstdarg>
#include <string>

enum class ostrel_l_error_kind { generic, ftp_response, system };

struct ostrel_object_s {
    ostrel_l_error_kind kind = ostrel_l_error_kind::generic;
    const ostrel_module_t *source = nullptr;
    ostrel_object_t *cause = nullptr; /* owned */
    int type = 0;
    std::string source_file;
    std::string source_func;
    int source_line = 0;
    std::string text;
    int response_code = 0;
    bool has_response_error_code = false;
    std::string response_error_code;
    int system_errno = 0;
};

namespace ostrel_host
{
/* printf into a std::string; a NULL format gives "". */
std::string format_text(const char *fmt, va_list args);
} // namespace ostrel_host

#endif
