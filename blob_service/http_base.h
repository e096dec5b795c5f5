#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include <curl/curl.h>
#include <strings.h>

#include "blob_service/http_method.h"
#include "blob_service/storage_stream.h"

namespace azure::blob_service
{

struct case_insensitive_compare {
    bool operator()(const std::string &a, const std::string &b) const
    {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

using header_map = std::map<std::string, std::string, case_insensitive_compare>;

// What happened to the answer's body during one attempt.
enum class output_state {
    ok,
    rejected,    // the output check refused this response before any byte was written
    sink_failed, // the caller's stream failed; nothing more was written to it
    too_large    // headers or a buffered body passed the buffer limit; the transfer stopped
};

// One HTTP exchange. Request builders and credentials write into it; the executor runs it.
// Used by one thread at a time.
class http_base
{
  public:
    using completion = std::function<void(int, storage_istream, CURLcode)>;
    using output_check = std::function<bool(const http_base &)>;

    virtual ~http_base() = default;

    virtual void set_method(http_method method) = 0;
    virtual http_method get_method() const = 0;
    virtual void set_url(const std::string &url) = 0;
    virtual std::string get_url() const = 0;
    virtual void add_header(const std::string &name, const std::string &value) = 0;
    virtual const header_map &get_request_headers() const = 0;
    virtual std::string get_response_header(const std::string &name) const = 0;
    virtual const header_map &get_response_headers() const = 0;

    // Runs the exchange on the calling thread and returns libcurl's result. An exception
    // thrown inside the exchange (by a stream, or for memory) stops it and is rethrown here.
    virtual CURLcode perform() = 0;
    // Waits `delay`, performs, then calls `cb` with the status, the error stream and the
    // result, all on the calling thread.
    virtual void submit(completion cb, std::chrono::milliseconds delay) = 0;

    // Forgets headers of both directions; streams and callbacks stay.
    virtual void reset() = 0;
    // The status of the final answer; 0 when none arrived.
    virtual int status_code() const = 0;
    // How often the last perform put the request on the wire: 0 when it never left, 2 when
    // libcurl sent it again on a fresh connection after a reused one died unanswered.
    virtual int requests_sent() const = 0;

    virtual void set_input_stream(storage_istream stream) = 0;
    // Exactly `length` bytes are sent from the input stream.
    virtual void set_input_content_length(uint64_t length) = 0;
    // False when the body cannot be sent again from its start.
    virtual bool reset_input_stream() = 0;

    virtual void set_output_stream(storage_ostream stream) = 0;
    // Called once per attempt before the first byte of a body reaches the output stream;
    // returning false refuses the response and aborts the transfer.
    virtual void set_output_check(output_check check) = 0;
    // Bytes written to the output stream during the last attempt.
    virtual uint64_t output_written() const = 0;
    virtual output_state get_output_state() const = 0;

    // Bodies of responses for which `switch_error` returns true go to `stream` instead of
    // the output stream; so does the body of any answer that is not a success.
    virtual void set_error_stream(std::function<bool(int)> switch_error,
                                  storage_iostream stream) = 0;
    // The most bytes of headers, and of a body for the error stream, one answer may bring.
    virtual void set_buffer_limit(uint64_t bytes) = 0;
    virtual storage_istream get_input_stream() const = 0;
    virtual storage_ostream get_output_stream() const = 0;
    virtual storage_iostream get_error_stream() const = 0;

    virtual void set_absolute_timeout(long long seconds) = 0;
    // Aborts a transfer slower than 17 KiB/s for a whole minute.
    virtual void set_data_rate_timeout() = 0;
};

} // namespace azure::blob_service
