#include "blob_service/date.h"

#include <stdexcept>

#include "blob_service/constants.h"

namespace azure::blob_service
{

namespace
{

const char *const day_names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const month_names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string replace_once(std::string text, const std::string &from, const std::string &to)
{
    size_t pos = text.find(from);
    if (pos != std::string::npos) {
        text.replace(pos, from.size(), to);
    }
    return text;
}

} // namespace

std::string format_ms_date(time_t when, date_format format)
{
    struct tm parts;
    if (!gmtime_r(&when, &parts)) {
        throw std::runtime_error("time out of range");
    }
    std::string pattern;
    switch (format) {
    case date_format::iso_8601:
        pattern = constants::date_format_iso_8601;
        break;
    case date_format::rfc_1123:
        // %a and %b follow the process locale, and the protocol wants English.
        pattern = replace_once(constants::date_format_rfc_1123, "%a", day_names[parts.tm_wday]);
        pattern = replace_once(pattern, "%b", month_names[parts.tm_mon]);
        break;
    default:
        throw std::runtime_error("unknown datetime format");
    }
    char buf[32];
    size_t len = strftime(buf, sizeof(buf), pattern.c_str(), &parts);
    // A year too long for the buffer leaves nothing, and an empty date is no date.
    if (len == 0) {
        throw std::runtime_error("time out of range");
    }
    return std::string(buf, len);
}

std::string get_ms_date(date_format format)
{
    return format_ms_date(time(nullptr), format);
}

} // namespace azure::blob_service
