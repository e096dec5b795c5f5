#include "blob_service/container_requests.h"

namespace azure::blob_service
{

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
    build_bodiless_request(account, http, http_method::del, container_url(account, container_),
                           *this);
}

void get_container_property_request::build_request(const storage_account &account,
                                                   http_base &http) const
{
    build_bodiless_request(account, http, http_method::head, container_url(account, container_),
                           *this);
}

void list_containers_request::build_request(const storage_account &account, http_base &http) const
{
    storage_headers headers;
    http.set_absolute_timeout(30);
    http.set_method(http_method::get);
    storage_url url = account.get_url_blob();
    url.append_path("");
    url.add_query("comp", "list");
    add_listing_query(url, prefix_, "", marker_, maxresults_);
    if (include_metadata_) {
        url.add_query("include", "metadata");
    }
    set_request_url(account, http, url, *this);
    finish_request(account, http, url, headers, *this);
}

} // namespace azure::blob_service
