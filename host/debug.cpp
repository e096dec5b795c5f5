/* The debug facility: reads a module's debug variable into its handle.
 * The syntax is described in host/README.md. */
#include "host/ostrel_host.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

namespace
{

std::string trim(const std::string &text)
{
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(trim(text.substr(start, end - start)));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

/* A whole-text unsigned number (decimal or 0x hex) that fits 32 bits. */
bool parse_number(const std::string &text, uint32_t *value)
{
    if (text.empty() || !isdigit((unsigned char)text[0]))
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long n = strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || n > 0xFFFFFFFFull)
        return false;
    *value = (uint32_t)n;
    return true;
}

bool parse_levels(const std::string &text, const std::vector<std::string> &names, uint32_t *mask,
                  std::string *why)
{
    *mask = 0;
    if (text.empty())
        return true;
    if (isdigit((unsigned char)text[0])) {
        if (parse_number(text, mask))
            return true;
        *why = "\"" + text + "\" is not a 32-bit level mask";
        return false;
    }
    for (const std::string &word : split(text, '|')) {
        if (strcasecmp(word.c_str(), "ALL") == 0) {
            for (size_t bit = 0; bit < names.size(); bit++)
                *mask |= 1u << bit;
            continue;
        }
        size_t bit = 0;
        while (bit < names.size() && strcasecmp(word.c_str(), names[bit].c_str()) != 0)
            bit++;
        if (bit == names.size()) {
            std::string known;
            for (const std::string &name : names)
                known += " " + name;
            *why = "unknown level \"" + word + "\" (known:" + known + " ALL)";
            return false;
        }
        *mask |= 1u << bit;
    }
    return true;
}

bool parse_options(const std::string &text, bool *thread_ids, std::string *why)
{
    *thread_ids = false;
    if (text.empty())
        return true;
    uint32_t bits;
    if (isdigit((unsigned char)text[0])) {
        if (!parse_number(text, &bits)) {
            *why = "\"" + text + "\" is not an option number";
            return false;
        }
        *thread_ids = (bits & 1) != 0;
        return true;
    }
    for (const std::string &word : split(text, '|')) {
        if (strcasecmp(word.c_str(), "thread_ids") != 0) {
            *why = "unknown option \"" + word + "\" (known: thread_ids)";
            return false;
        }
        *thread_ids = true;
    }
    return true;
}

/* Fills handle from text; on failure the handle stays off and why says why. */
bool parse_setting(const std::string &text, const std::vector<std::string> &names,
                   ostrel_debug_handle_t *handle, std::string *why)
{
    std::vector<std::string> fields = split(text, ',');
    if (fields.size() > 4) {
        *why = "too many fields (LEVELS[,FILE[,OPTIONS[,TIMESTAMP_LEVELS]]])";
        return false;
    }
    fields.resize(4);
    uint32_t levels, timestamp_levels;
    bool thread_ids;
    if (!parse_levels(fields[0], names, &levels, why) ||
        !parse_options(fields[2], &thread_ids, why) ||
        !parse_levels(fields[3], names, &timestamp_levels, why))
        return false;
    /* nothing to write: open no file */
    if (levels == 0)
        return true;
    FILE *file = stderr;
    bool using_file = false;
    if (!fields[1].empty() && fields[1] != "-") {
        file = fopen(fields[1].c_str(), "a");
        if (file == nullptr) {
            *why = "cannot open \"" + fields[1] + "\": " + strerror(errno);
            return false;
        }
        /* a trace is read while it grows and must survive a crash */
        setvbuf(file, nullptr, _IOLBF, 0);
        using_file = true;
    }
    handle->levels = levels;
    handle->timestamp_levels = timestamp_levels;
    handle->file = file;
    handle->thread_ids = thread_ids;
    handle->using_file = using_file;
    return true;
}

} // namespace

void ostrel_debug_init(const char *env_name, const char *level_names, ostrel_debug_handle_t *handle)
{
    if (handle == nullptr)
        return;
    *handle = ostrel_debug_handle_t{0, 0, nullptr, false, false};
    const char *value = env_name ? getenv(env_name) : nullptr;
    if (value == nullptr || *trim(value).c_str() == '\0')
        return;
    try {
        std::vector<std::string> names;
        for (const std::string &name : split(level_names ? level_names : "", ' ')) {
            if (!name.empty() && names.size() < 32)
                names.push_back(name);
        }
        std::string why;
        if (!parse_setting(value, names, handle, &why)) {
            *handle = ostrel_debug_handle_t{0, 0, nullptr, false, false};
            ostrel_gfs_log_message(OSTREL_GFS_LOG_WARN, "%s=\"%s\": %s; debug log off", env_name,
                                   value, why.c_str());
        }
    } catch (...) {
        *handle = ostrel_debug_handle_t{0, 0, nullptr, false, false};
    }
}
