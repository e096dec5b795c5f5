#include "blob_service/container_requests.h"

namespace azure::blob_service
{

namespace
{

storage_url container_url(const storage_account &account, const std::string &container)
{
    storage_url url = account.get_url_blob();
    url.append_path(container);
    url.add_query("restype", "container");
    return url;
}

} // namespace

void create_container_request::build_request(const storage_account &account, http_base &http) const
{
    storage_headers headers;
    http.set_absolute_timeout(5);
    http.set_method(http_method::put);
    storage_url url = container_url(account, container_);
    set_request_url(account, http, url, *this);
    http.add_header("Content-Length", "0");
    add_ms_header(http, headers, "x-ms-blob-public-access", public_access_, true);
    finish_request(account, http, url, headers, *this);
}

void delete_container_request::build_request(const storage_account &account, http_base &http) const
{
    storage_headers headers;
    http.set_absolute_timeout(5);
    http.set_method(http_method::del);
    storage_url url = container_url(account, container_);
    set_request_url(account, http, url, *this);
    finish_request(account, http, url, headers, *this);
}

void get_container_property_request::build_request(const storage_account &account,
                                                   http_base &http) const
{
    storage_headers headers;
    http.set_absolute_timeout(5);
    http.set_method(http_method::head);
    storage_url url = container_url(account, container_);
    set_request_url(account, http, url, *this);
    finish_request(account, http, url, headers, *this);
}

void list_containers_request::build_request(const storage_account &account, http_base &http) const
{
    storage_headers headers;
    http.set_absolute_timeout(30);
    http.set_method(http_method::get);
    storage_url url = account.get_url_blob();
    url.append_path("");
    url.add_query("comp", "list");
    if (!prefix_.empty()) {
        url.add_query("prefix", prefix_);
    }
    if (!marker_.empty()) {
        url.add_query("marker", marker_);
    }
    if (maxresults_ != 0) {
        url.add_query("maxresults", std::to_string(maxresults_));
    }
    if (include_metadata_) {
        url.add_query("include", "metadata");
    }
    set_request_url(account, http, url, *this);
    finish_request(account, http, url, headers, *this);
}

} // namespace azure::blob_service
