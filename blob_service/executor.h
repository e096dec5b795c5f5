#pragma once

#include <future>
#include <memory>
#include <string>
#include <type_traits>

#include "blob_service/http_base.h"
#include "blob_service/request_base.h"
#include "blob_service/responses.h"
#include "blob_service/retry.h"
#include "blob_service/storage_account.h"
#include "blob_service/storage_outcome.h"
#include "blob_service/xml_parser.h"

namespace azure::blob_service
{

// Parsers and policy shared by every request of a client; none of them holds mutable state.
struct executor_context {
    std::shared_ptr<xml_parser_base> xml_parser;
    std::shared_ptr<void> json_parser; // this system reads no JSON answers
    std::shared_ptr<retry_policy_base> retry_policy;
    // The most an answer may bring in headers, and in a body that is collected rather than
    // streamed (listings, errors): far above any real page, so only a broken or hostile
    // server reaches it.
    uint64_t max_buffered_bytes = 64 * 1024 * 1024;

    static std::shared_ptr<executor_context> create_default(const retry_settings &retry = {});
};

// Where the body of a successful answer goes.
enum class body_destination {
    output_stream, // the caller's stream set on the http request (or nowhere)
    parser         // collected for the caller to parse
};

struct execution_result {
    bool success = false;
    storage_error error; // when !success
    int status = 0;      // of the last attempt
    std::string body;    // with body_destination::parser, on success
};

// Runs `request` over `http` under the context's retry policy, on the calling thread. Bytes
// already handed to the caller's output stream are never rewound or repeated: a repeated
// attempt continues after them when the request can, and the request fails otherwise. A
// success answer is trusted only when it carries the service's request id.
execution_result execute_request(const storage_account &account, storage_request_base &request,
                                 http_base &http, const executor_context &context,
                                 body_destination destination);

// Turns a parser-destination body into a listing; failures get the answer's status as code.
storage_outcome<list_containers_segmented_response>
parse_listing_body(const executor_context &context, const http_base &http, int status,
                   const std::string &body, const list_containers_segmented_response *);
storage_outcome<list_blobs_segmented_response>
parse_listing_body(const executor_context &context, const http_base &http, int status,
                   const std::string &body, const list_blobs_segmented_response *);
storage_outcome<block_list_response> parse_listing_body(const executor_context &context,
                                                        const http_base &http, int status,
                                                        const std::string &body,
                                                        const block_list_response *);

// The returned future is already satisfied: everything runs on the calling thread. A listing
// is collected and parsed; any other answer's body goes to the request's output stream.
template <typename T> class async_executor
{
  public:
    static std::future<storage_outcome<T>> submit(std::shared_ptr<storage_account> account,
                                                  std::shared_ptr<storage_request_base> request,
                                                  std::shared_ptr<http_base> http,
                                                  std::shared_ptr<executor_context> context)
    {
        constexpr bool listing = !std::is_void_v<T>;
        std::promise<storage_outcome<T>> promise;
        execution_result result =
            execute_request(*account, *request, *http, *context,
                            listing ? body_destination::parser : body_destination::output_stream);
        if (!result.success) {
            promise.set_value(storage_outcome<T>(std::move(result.error)));
        } else if constexpr (listing) {
            promise.set_value(parse_listing_body(*context, *http, result.status, result.body,
                                                 static_cast<const T *>(nullptr)));
        } else {
            promise.set_value(storage_outcome<void>::succeeded());
        }
        return promise.get_future();
    }
};

} // namespace azure::blob_service
