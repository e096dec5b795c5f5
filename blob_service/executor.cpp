#include "blob_service/executor.h"

#include "blob_service/encoding.h"
#include "blob_service/properties.h"

namespace azure::blob_service
{

namespace
{

storage_error transport_error(CURLcode result)
{
    storage_error error;
    error.kind = error_kind::transport;
    error.code = std::to_string(static_cast<int>(result));
    error.code_name = curl_easy_strerror(result);
    // libcurl's own words do not say what the user can do about it
    if (result == CURLE_SEND_FAIL_REWIND)
        error.message = "the connection failed while the body was sent, and a body streamed "
                        "from its source cannot be sent again (\"upload_block_mib\" stages "
                        "uploads so that they can)";
    return error;
}

storage_error service_error(const executor_context &context, const http_base &http, int status,
                            const std::string &body)
{
    storage_error error = context.xml_parser->parse_storage_error(body);
    error.kind = error_kind::service;
    error.code = std::to_string(status);
    std::string content_range = http.get_response_header("Content-Range");
    if (!content_range.empty()) {
        error.details.emplace_back("Content-Range", content_range);
    }
    const header_map &sent = http.get_request_headers();
    auto range = sent.find("x-ms-range");
    if (range != sent.end()) {
        error.details.emplace_back("x-ms-range", range->second);
    }
    return error;
}

// The body length the answer announces: from Content-Range "bytes A-B/..." when present,
// else Content-Length. False when it announces none.
bool announced_length(const http_base &http, uint64_t &length)
{
    uint64_t first = 0, last = 0;
    if (content_range_span(http.get_response_header("Content-Range"), first, last)) {
        length = last - first + 1;
        return true;
    }
    return parse_decimal_header(http.get_response_header("Content-Length"), length);
}

// A body cut short without a transport error (a proxy that fixed up the framing) is
// reported like the transport failure libcurl gives for a cut connection, and retried so.
storage_error short_body_error(uint64_t received, uint64_t announced)
{
    storage_error error = transport_error(CURLE_PARTIAL_FILE);
    error.message = "body ended after " + std::to_string(received) + " of " +
                    std::to_string(announced) + " bytes";
    return error;
}

// Every answer of the service carries its request id; a gateway or captive portal in the
// way does not, and its success is no success of ours.
bool from_service(const http_base &http)
{
    return !http.get_response_header("x-ms-request-id").empty();
}

storage_error not_service_error(const http_base &http, int status)
{
    storage_error error;
    error.kind = error_kind::not_service;
    error.code = std::to_string(status);
    error.message = "the answer (HTTP " + error.code +
                    ") did not come from the blob service: it has no x-ms-request-id";
    std::string type = http.get_response_header("Content-Type");
    if (!type.empty()) {
        error.message += " (Content-Type: " + type + ")";
    }
    return error;
}

// The attempt stopped because of what happened to the body on our side.
storage_error output_error(const http_base &http, CURLcode code, int status, uint64_t delivered,
                           const executor_context &context)
{
    storage_error error;
    switch (http.get_output_state()) {
    case output_state::ok:
        break;
    case output_state::sink_failed:
        error = transport_error(code);
        error.message = "the receiving stream failed after " + std::to_string(delivered) + " bytes";
        break;
    case output_state::rejected:
        error.kind = error_kind::parse;
        error.code = std::to_string(status);
        error.message = "answer does not continue the requested range (Content-Range: " +
                        http.get_response_header("Content-Range") + ")";
        break;
    case output_state::too_large:
        error.kind = error_kind::too_large;
        error.code = std::to_string(status);
        error.message = "the answer brought more than " +
                        std::to_string(context.max_buffered_bytes) +
                        " bytes of headers or of a body to read";
        break;
    }
    return error;
}

// Whether the attempt may have done the work without our learning of it: the request left
// and no answer came (libcurl also resends by itself when a reused connection dies
// unanswered), or the service or a gateway timed out after taking it.
bool may_have_acted_unanswered(const http_base &http, CURLcode code, int status)
{
    if (http.requests_sent() > 1) {
        return true;
    }
    if (code != CURLE_OK) {
        return http.requests_sent() > 0;
    }
    return status == 500 || status == 502 || status == 504;
}

bool shows_work_done(const storage_request_base &request, const http_base &http, int status,
                     const storage_error &error)
{
    // A HEAD answer has no body; the service also names its code in a header.
    std::string code = error.code_name;
    if (code.empty()) {
        code = http.get_response_header("x-ms-error-code");
    }
    for (const auto &answer : request.done_answers()) {
        if (answer.status == status && code == answer.code) {
            return true;
        }
    }
    return false;
}

} // namespace

std::shared_ptr<executor_context> executor_context::create_default(const retry_settings &retry)
{
    auto context = std::make_shared<executor_context>();
    context->xml_parser = std::make_shared<tinyxml2_parser>();
    context->retry_policy = std::make_shared<azure::blob_service::retry_policy>(retry);
    return context;
}

execution_result execute_request(const storage_account &account, storage_request_base &request,
                                 http_base &http, const executor_context &context,
                                 body_destination destination)
{
    execution_result result;
    retry_context retry;
    std::chrono::milliseconds interval{0};
    uint64_t delivered = 0;
    std::string etag;
    bool acted_unanswered = false;
    auto failure = [&] {
        result.error.earlier_attempt_unanswered = acted_unanswered;
        return result;
    };
    std::function<bool(int)> switch_error;
    if (destination == body_destination::parser) {
        switch_error = [](int) { return true; };
    } else {
        switch_error = unsuccessful;
    }

    for (;;) {
        if (retry.numbers != 0) {
            retry_info info = context.retry_policy->evaluate(retry);
            if (!info.should_retry) {
                return failure();
            }
            // The last error stands when the request cannot be repeated faithfully.
            if (!http.reset_input_stream()) {
                return failure();
            }
            if (delivered > 0 && !request.resume_after(delivered, etag)) {
                return failure();
            }
            if (acted_unanswered) {
                request.prepare_repeat_after_lost_answer();
            }
            interval = info.interval;
        }

        http.reset();
        storage_iostream error_stream = storage_iostream::create_storage_stream();
        http.set_error_stream(switch_error, error_stream);
        http.set_buffer_limit(context.max_buffered_bytes);
        http.set_output_check([&request](const http_base &h) {
            return from_service(h) && request.accept_response(h);
        });
        request.build_request(account, http);

        int status = 0;
        CURLcode code = CURLE_OK;
        http.submit(
            [&](int s, storage_istream, CURLcode c) {
                status = s;
                code = c;
            },
            interval);
        result.status = status;

        uint64_t written = http.output_written();
        delivered += written;
        if (etag.empty() && !unsuccessful(status)) {
            etag = http.get_response_header("ETag");
        }

        if (!unsuccessful(status) && !from_service(http)) {
            result.error = not_service_error(http, status);
            return failure();
        }
        if (http.get_output_state() != output_state::ok) {
            result.error = output_error(http, code, status, delivered, context);
            return failure();
        }

        ++retry.numbers;
        retry.server_delay = code == CURLE_OK ? server_retry_delay(http.get_response_headers())
                                              : std::chrono::milliseconds(-1);
        acted_unanswered = acted_unanswered || may_have_acted_unanswered(http, code, status);
        if (code != CURLE_OK) {
            result.error = transport_error(code);
            retry.result = 503;
            continue;
        }
        if (unsuccessful(status)) {
            result.error = service_error(context, http, status, error_stream.str());
            if (acted_unanswered && shows_work_done(request, http, status, result.error)) {
                result.success = true;
                result.error = storage_error();
                return result;
            }
            retry.result = status;
            continue;
        }
        uint64_t announced = 0;
        if (destination == body_destination::output_stream && http.get_output_stream().valid() &&
            http.get_method() != http_method::head && announced_length(http, announced) &&
            written < announced) {
            result.error = short_body_error(written, announced);
            retry.result = 503;
            continue;
        }
        result.success = true;
        result.error = storage_error();
        if (destination == body_destination::parser) {
            result.body = error_stream.str();
        }
        return result;
    }
}

namespace
{

template <typename T> storage_outcome<T> listing_failure(int status, storage_outcome<T> parsed)
{
    storage_error error = parsed.error();
    error.code = std::to_string(status);
    return storage_outcome<T>(std::move(error));
}

bool is_json(const http_base &http)
{
    return http.get_response_header("Content-Type").find("application/json") != std::string::npos;
}

storage_error json_listing_error(int status)
{
    storage_error error;
    error.kind = error_kind::parse;
    error.code = std::to_string(status);
    error.message = "listing answered as JSON, which this client does not read";
    return error;
}

// A JSON answer is refused before parsing; either failure carries the answer's status as code.
template <typename T>
storage_outcome<T> parse_listing(const http_base &http, int status, const std::string &body,
                                 const xml_parser_base &parser,
                                 storage_outcome<T> (xml_parser_base::*parse)(const std::string &)
                                     const)
{
    if (is_json(http)) {
        return storage_outcome<T>(json_listing_error(status));
    }
    auto parsed = (parser.*parse)(body);
    return parsed.success() ? parsed : listing_failure(status, std::move(parsed));
}

} // namespace

storage_outcome<list_containers_segmented_response>
parse_listing_body(const executor_context &context, const http_base &http, int status,
                   const std::string &body, const list_containers_segmented_response *)
{
    return parse_listing(http, status, body, *context.xml_parser,
                         &xml_parser_base::parse_list_containers_segmented_response);
}

storage_outcome<list_blobs_segmented_response>
parse_listing_body(const executor_context &context, const http_base &http, int status,
                   const std::string &body, const list_blobs_segmented_response *)
{
    return parse_listing(http, status, body, *context.xml_parser,
                         &xml_parser_base::parse_list_blobs_segmented_response);
}

storage_outcome<block_list_response> parse_listing_body(const executor_context &context,
                                                        const http_base &http, int status,
                                                        const std::string &body,
                                                        const block_list_response *)
{
    return parse_listing(http, status, body, *context.xml_parser,
                         &xml_parser_base::parse_block_list_response);
}

} // namespace azure::blob_service
