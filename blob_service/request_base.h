#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "blob_service/credential.h"
#include "blob_service/http_base.h"
#include "blob_service/storage_account.h"
#include "blob_service/storage_url.h"

namespace azure::blob_service
{

// One REST operation. build_request fills a reset http request completely (method, URL,
// headers, signature) and is called again before every attempt.
class storage_request_base
{
  public:
    virtual ~storage_request_base() = default;

    virtual std::string ms_client_request_id() const { return {}; }
    virtual void build_request(const storage_account &account, http_base &http) const = 0;

    // Whether a 2xx answer may write its body into the caller's stream; called before the
    // first body byte of each attempt.
    virtual bool accept_response(const http_base &) const { return true; }

    // After a failed attempt that delivered `delivered` body bytes in total, prepares the
    // request to fetch only the rest of the body of the entity tagged `etag`. False when the
    // request cannot continue a body, so it must not be repeated.
    virtual bool resume_after(uint64_t, const std::string &) { return false; }

    // Called before a repeat when an earlier attempt may have done the work although its
    // answer was lost; a commit, for one, may find its blocks committed by then.
    virtual void prepare_repeat_after_lost_answer() {}

    // A failure that such a repeat gets when the lost attempt did the work, so the request
    // succeeded after all: a create that finds the container, a delete that finds none.
    struct done_answer {
        int status;
        const char *code; // the service's error code
    };
    virtual std::vector<done_answer> done_answers() const { return {}; }
};

class blob_request_base : public storage_request_base
{
  public:
    virtual long long timeout() const { return 0; }
    virtual std::string if_modified_since() const { return {}; }
    virtual std::string if_match() const { return {}; }
    virtual std::string if_none_match() const { return {}; }
    virtual std::string if_unmodified_since() const { return {}; }
    virtual std::string ms_lease_id() const { return {}; }
};

// The access conditions a caller puts on a blob request; empty: none.
struct access_conditions {
    std::string if_match;      // an ETag with its quotes
    std::string if_none_match; // "*": only when no blob has the name
};

// A blob request that carries the caller's access conditions.
class conditional_request : public blob_request_base
{
  public:
    void set_conditions(access_conditions conditions) { conditions_ = std::move(conditions); }
    std::string if_match() const override { return conditions_.if_match; }
    std::string if_none_match() const override { return conditions_.if_none_match; }

  protected:
    access_conditions conditions_;
};

// Sends an "x-ms-" header and records it for signing; an optional empty value is skipped.
void add_ms_header(http_base &http, storage_headers &headers, const std::string &name,
                   const std::string &value, bool optional = false);
void add_ms_header(http_base &http, storage_headers &headers, const std::string &name,
                   uint64_t value, bool optional = false);

void add_access_condition_headers(http_base &http, storage_headers &headers,
                                  const blob_request_base &request);

// The address of a blob below `base` (the blob or the data-lake endpoint).
storage_url blob_url(storage_url base, const std::string &container, const std::string &blob);
// The address of a container-level operation.
storage_url container_url(const storage_account &account, const std::string &container);
// The paging parameters every listing takes; an empty or zero value is left out, which the
// service reads as no restriction.
void add_listing_query(storage_url &url, const std::string &prefix, const std::string &delimiter,
                       const std::string &marker, int maxresults);

// Adds the timeout query parameter of `request`, then sets the URL the credential sends.
void set_request_url(const storage_account &account, http_base &http, storage_url &url,
                     const blob_request_base &request);

// A short request that sends no body and no headers of its own.
void build_bodiless_request(const storage_account &account, http_base &http, http_method method,
                            storage_url url, const blob_request_base &request);

// Common end of every builder: access conditions, client request id, lease id, User-Agent,
// x-ms-date, x-ms-version, and the signature, in this order.
void finish_request(const storage_account &account, http_base &http, const storage_url &url,
                    storage_headers &headers, const blob_request_base &request);

} // namespace azure::blob_service
