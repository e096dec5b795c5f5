#pragma once

#include <cstddef>
#include <string>

namespace azure::blob_service
{

// One line of an answer's header block as the transport hands it over, line end included.
struct header_line {
    // A status line starts a new response (after an interim one).
    bool is_status = false;
    // Of a status line; 0 when its status is not three digits.
    int status = 0;
    // Of a field line; `name` is empty when the line is no field (no colon, the blank end).
    std::string name;
    std::string value;
};

header_line parse_header_line(const char *data, size_t len);

} // namespace azure::blob_service
