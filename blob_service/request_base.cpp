#include "blob_service/request_base.h"

#include <utility>

#include "blob_service/constants.h"
#include "blob_service/date.h"

namespace azure::blob_service
{

void add_ms_header(http_base &http, storage_headers &headers, const std::string &name,
                   const std::string &value, bool optional)
{
    if (optional && value.empty()) {
        return;
    }
    http.add_header(name, value);
    headers.ms_headers[name] = value;
}

void add_ms_header(http_base &http, storage_headers &headers, const std::string &name,
                   uint64_t value, bool optional)
{
    if (optional && value == 0) {
        return;
    }
    add_ms_header(http, headers, name, std::to_string(value), false);
}

void add_access_condition_headers(http_base &http, storage_headers &headers,
                                  const blob_request_base &request)
{
    struct condition {
        const char *name;
        std::string value;
        std::string *field;
    } conditions[] = {
        {"If-Modified-Since", request.if_modified_since(), &headers.if_modified_since},
        {"If-Match", request.if_match(), &headers.if_match},
        {"If-None-Match", request.if_none_match(), &headers.if_none_match},
        {"If-Unmodified-Since", request.if_unmodified_since(), &headers.if_unmodified_since},
    };
    for (const auto &c : conditions) {
        if (c.value.empty()) {
            continue;
        }
        http.add_header(c.name, c.value);
        *c.field = c.value;
    }
}

storage_url blob_url(storage_url base, const std::string &container, const std::string &blob)
{
    base.append_path(container);
    base.append_path(blob);
    return base;
}

storage_url container_url(const storage_account &account, const std::string &container)
{
    storage_url url = account.get_url_blob();
    url.append_path(container);
    url.add_query("restype", "container");
    return url;
}

void add_listing_query(storage_url &url, const std::string &prefix, const std::string &delimiter,
                       const std::string &marker, int maxresults)
{
    for (auto [name, value] : {std::pair<const char *, const std::string &>{"prefix", prefix},
                               {"delimiter", delimiter},
                               {"marker", marker}}) {
        if (!value.empty()) {
            url.add_query(name, value);
        }
    }
    if (maxresults != 0) {
        url.add_query("maxresults", std::to_string(maxresults));
    }
}

void set_request_url(const storage_account &account, http_base &http, storage_url &url,
                     const blob_request_base &request)
{
    if (request.timeout() > 0) {
        url.add_query("timeout", std::to_string(request.timeout()));
    }
    http.set_url(account.credential()->transform_url(url.to_string()));
}

void finish_request(const storage_account &account, http_base &http, const storage_url &url,
                    storage_headers &headers, const blob_request_base &request)
{
    add_access_condition_headers(http, headers, request);
    add_ms_header(http, headers, "x-ms-client-request-id", request.ms_client_request_id(), true);
    add_ms_header(http, headers, "x-ms-lease-id", request.ms_lease_id(), true);
    http.add_header("User-Agent", constants::user_agent);
    add_ms_header(http, headers, "x-ms-date", get_ms_date(date_format::rfc_1123));
    add_ms_header(http, headers, "x-ms-version", constants::api_version);
    account.credential()->sign_request(request, http, url, headers);
}

void build_bodiless_request(const storage_account &account, http_base &http, http_method method,
                            storage_url url, const blob_request_base &request)
{
    storage_headers headers;
    http.set_absolute_timeout(5);
    http.set_method(method);
    set_request_url(account, http, url, request);
    finish_request(account, http, url, headers, request);
}

} // namespace azure::blob_service
