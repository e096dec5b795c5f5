/* Error objects: construction, accessors and the text a user reads. */
#include "host/error_object.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

std::string ostrel_host::format_text(const char *fmt, va_list args)
{
    if (fmt == nullptr)
        return std::string();
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0)
        return std::string();
    std::vector<char> buf((size_t)n + 1);
    vsnprintf(buf.data(), buf.size(), fmt, args);
    return std::string(buf.data(), (size_t)n);
}

static ostrel_object_t *ostrel_l_error_create(const ostrel_module_t *source,
                                              ostrel_object_t *cause) noexcept
{
    ostrel_object_t *error = new (std::nothrow) ostrel_object_s();
    if (error == nullptr) {
        /* cause was handed to us; do not leak it */
        ostrel_object_free(cause);
        return nullptr;
    }
    error->source = source;
    error->cause = cause;
    return error;
}

/* The text is formatted first, so `fill` may add to it. If anything throws,
 * the half-built error is freed together with the cause handed to us. */
template <typename Fill>
static ostrel_object_t *ostrel_l_error_build(const ostrel_module_t *source, ostrel_object_t *cause,
                                             const char *fmt, va_list args, Fill &&fill) noexcept
{
    ostrel_object_t *error = ostrel_l_error_create(source, cause);
    if (error == nullptr)
        return nullptr;
    try {
        error->text = ostrel_host::format_text(fmt, args);
        fill(error);
    } catch (...) {
        ostrel_object_free(error);
        return nullptr;
    }
    return error;
}

ostrel_object_t *ostrel_error_construct_error(const ostrel_module_t *base_source,
                                              ostrel_object_t *base_cause, int type,
                                              const char *source_file, const char *source_func,
                                              int source_line, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    ostrel_object_t *error =
        ostrel_l_error_build(base_source, base_cause, fmt, args, [&](ostrel_object_t *e) {
            e->type = type;
            e->source_file = source_file ? source_file : "";
            e->source_func = source_func ? source_func : "";
            e->source_line = source_line;
        });
    va_end(args);
    return error;
}

ostrel_object_t *ostrel_gfs_ftp_response_error_construct(const ostrel_module_t *base_source,
                                                         ostrel_object_t *base_cause,
                                                         int response_code,
                                                         const char *response_error_code,
                                                         const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    ostrel_object_t *error =
        ostrel_l_error_build(base_source, base_cause, fmt, args, [&](ostrel_object_t *e) {
            e->kind = ostrel_l_error_kind::ftp_response;
            e->response_code = response_code;
            if (response_error_code != nullptr) {
                e->has_response_error_code = true;
                e->response_error_code = response_error_code;
            }
        });
    va_end(args);
    return error;
}

ostrel_result_t ostrel_i_gfs_error_system(int ftp_code, int system_errno, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    ostrel_object_t *error =
        ostrel_l_error_build(nullptr, nullptr, fmt, args, [&](ostrel_object_t *e) {
            e->kind = ostrel_l_error_kind::system;
            e->system_errno = system_errno;
            if (system_errno != 0) {
                char buf[256];
                const char *reason = strerror_r(system_errno, buf, sizeof buf);
                e->text += e->text.empty() ? "" : ": ";
                e->text += reason;
            }
        });
    va_end(args);
    if (error == nullptr)
        return OSTREL_FAILURE;
    if (ftp_code != 0) {
        ostrel_object_t *reply =
            ostrel_gfs_ftp_response_error_construct(nullptr, error, ftp_code, nullptr, nullptr);
        if (reply == nullptr)
            return OSTREL_FAILURE;
        error = reply;
    }
    return ostrel_error_put(error);
}

void ostrel_object_free(ostrel_object_t *object)
{
    while (object != nullptr) {
        ostrel_object_t *cause = object->cause;
        delete object;
        object = cause;
    }
}

/* One line of the friendly text: reply code and response error code first,
 * since those are what a client acts on. */
static std::string ostrel_l_error_line(const ostrel_object_t *error)
{
    std::string line;
    if (error->kind == ostrel_l_error_kind::ftp_response) {
        if (error->response_code != 0)
            line = std::to_string(error->response_code);
        if (error->has_response_error_code && !error->response_error_code.empty())
            line += (line.empty() ? "" : " ") + error->response_error_code;
    }
    std::string text = error->text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (!text.empty())
        line += (line.empty() ? "" : ": ") + text;
    return line;
}

char *ostrel_error_print_friendly(ostrel_object_t *error)
{
    try {
        std::string all;
        for (const ostrel_object_t *e = error; e != nullptr; e = e->cause) {
            std::string line = ostrel_l_error_line(e);
            if (line.empty())
                continue;
            all += (all.empty() ? "" : "\n") + line;
        }
        if (all.empty())
            all = error == nullptr ? "unknown error (no error object)" : "unknown error";
        return strdup(all.c_str());
    } catch (...) {
        return nullptr;
    }
}

int ostrel_error_get_type(const ostrel_object_t *error)
{
    return error ? error->type : 0;
}

const char *ostrel_error_get_text(const ostrel_object_t *error)
{
    return error ? error->text.c_str() : nullptr;
}

const ostrel_module_t *ostrel_error_get_source(const ostrel_object_t *error)
{
    return error ? error->source : nullptr;
}

const char *ostrel_error_get_source_file(const ostrel_object_t *error)
{
    return error ? error->source_file.c_str() : nullptr;
}

const char *ostrel_error_get_source_func(const ostrel_object_t *error)
{
    return error ? error->source_func.c_str() : nullptr;
}

ostrel_object_t *ostrel_error_get_cause(const ostrel_object_t *error)
{
    return error ? error->cause : nullptr;
}

int ostrel_error_ftp_response_code(const ostrel_object_t *error)
{
    if (error == nullptr || error->kind != ostrel_l_error_kind::ftp_response)
        return 0;
    return error->response_code;
}

const char *ostrel_error_ftp_response_error_code(const ostrel_object_t *error)
{
    if (error == nullptr || error->kind != ostrel_l_error_kind::ftp_response ||
        !error->has_response_error_code)
        return nullptr;
    return error->response_error_code.c_str();
}

int ostrel_error_system_errno(const ostrel_object_t *error)
{
    if (error == nullptr || error->kind != ostrel_l_error_kind::system)
        return 0;
    return error->system_errno;
}
