#pragma once

#include <string>
#include <utility>
#include <vector>

namespace azure::blob_service
{

enum class error_kind {
    none,
    service,     // the service answered with a failure status (and maybe an XML error body)
    transport,   // libcurl failed: no complete answer arrived
    parse,       // an answer arrived but its body or headers could not be understood
    not_service, // a success answer without the service's request id: a gateway or portal
    too_large    // the answer's headers or a body to be parsed passed the buffer limit
};

// Why a request failed. `code` is the HTTP status in decimal (service, parse) or libcurl's
// result code in decimal (transport); `code_name` is the service's error code or libcurl's
// text for its code; `message` is the service's message, or for the client's own findings
// (parse, not_service, too_large) what was wrong. Never holds a token or key.
struct storage_error {
    std::string code;
    std::string code_name;
    std::string message;
    error_kind kind = error_kind::none;
    // Children of <Error> other than Code and Message, in document order; then
    // ("Content-Range", value) when the answer had one, then ("x-ms-range", value) when the
    // request sent a range.
    std::vector<std::pair<std::string, std::string>> details;
    // An earlier attempt may have done the work: it was sent and its answer was lost. A
    // caller that can tell its own work from the service's state may check.
    bool earlier_attempt_unanswered = false;
};

} // namespace azure::blob_service
