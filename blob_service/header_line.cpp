#include "blob_service/header_line.h"

namespace azure::blob_service
{

namespace
{

// "HTTP/1.1 404 Not Found" gives 404; a line whose status is not three digits gives 0.
int status_of(const std::string &line)
{
    size_t space = line.find(' ');
    if (space == std::string::npos || line.size() < space + 4) {
        return 0;
    }
    int code = 0;
    for (size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return 0;
        }
        code = code * 10 + (line[i] - '0');
    }
    return line.size() == space + 4 || line[space + 4] == ' ' ? code : 0;
}

} // namespace

header_line parse_header_line(const char *data, size_t len)
{
    header_line parsed;
    std::string line(data, len);
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    // A reason phrase may hold a ":", so the status line is known by its start alone.
    if (line.compare(0, 5, "HTTP/") == 0) {
        parsed.is_status = true;
        parsed.status = status_of(line);
        return parsed;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return parsed;
    }
    parsed.name = line.substr(0, colon);
    parsed.value = line.substr(colon + 1);
    if (!parsed.value.empty() && parsed.value.front() == ' ') {
        parsed.value.erase(0, 1);
    }
    return parsed;
}

} // namespace azure::blob_service
