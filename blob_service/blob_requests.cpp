#include "blob_service/blob_requests.h"

#include "blob_service/encoding.h"

namespace azure::blob_service
{

void list_blobs_segmented_request::build_request(const storage_account &account,
                                                 http_base &http) const
{
    storage_headers headers;
    http.set_absolute_timeout(30);
    http.set_method(http_method::get);
    storage_url url = container_url(account, container_);
    url.add_query("comp", "list");
    add_listing_query(url, prefix_, delimiter_, marker_, maxresults_);
    std::string include;
    for (auto [bit, name] : {std::pair<unsigned, const char *>{snapshots, "snapshots"},
                             {metadata, "metadata"},
                             {uncommittedblobs, "uncommittedblobs"},
                             {copy, "copy"}}) {
        if (includes_ & bit) {
            include += include.empty() ? "" : ",";
            include += name;
        }
    }
    if (!include.empty()) {
        url.add_query("include", include);
    }
    set_request_url(account, http, url, *this);
    finish_request(account, http, url, headers, *this);
}

void get_blob_property_request::build_request(const storage_account &account, http_base &http) const
{
    build_bodiless_request(account, http, http_method::head,
                           blob_url(account.get_url_blob(), container_, blob_), *this);
}

void get_block_list_request::build_request(const storage_account &account, http_base &http) const
{
    storage_headers headers;
    // A list of up to 50,000 blocks takes as long as a listing page.
    http.set_absolute_timeout(30);
    http.set_method(http_method::get);
    storage_url url = blob_url(account.get_url_blob(), container_, blob_);
    url.add_query("comp", "blocklist");
    url.add_query("blocklisttype", "committed");
    set_request_url(account, http, url, *this);
    finish_request(account, http, url, headers, *this);
}

std::string download_blob_request::range() const
{
    if (!ranged()) {
        return {};
    }
    return format_ms_range(start_byte_ + delivered_, end_byte_);
}

void download_blob_request::build_request(const storage_account &account, http_base &http) const
{
    storage_headers headers;
    http.set_data_rate_timeout();
    http.set_method(http_method::get);
    storage_url url = blob_url(account.get_url_blob(), container_, blob_);
    set_request_url(account, http, url, *this);
    // Signed like every other x-ms- header, or a shared-key signature would not match.
    add_ms_header(http, headers, "x-ms-range", range(), true);
    finish_request(account, http, url, headers, *this);
}

bool download_blob_request::accept_response(const http_base &http) const
{
    if (!ranged()) {
        return true;
    }
    // Anything but the requested first byte would put foreign bytes into the caller's stream.
    if (http.status_code() != 206) {
        return false;
    }
    std::string expected = "bytes " + std::to_string(start_byte_ + delivered_) + "-";
    return http.get_response_header("Content-Range").compare(0, expected.size(), expected) == 0;
}

bool download_blob_request::resume_after(uint64_t delivered, const std::string &etag)
{
    // The version the caller named stays the pin; an answer of another one cannot continue it.
    std::string pin = conditions_.if_match.empty() ? etag : conditions_.if_match;
    if (pin.empty() || (!etag.empty() && etag != pin)) {
        return false;
    }
    if (end_byte_ && start_byte_ + delivered > *end_byte_) {
        return false;
    }
    delivered_ = delivered;
    conditions_.if_match = std::move(pin);
    return true;
}

void delete_blob_request::build_request(const storage_account &account, http_base &http) const
{
    storage_headers headers;
    http.set_absolute_timeout(5);
    http.set_method(http_method::del);
    storage_url url = blob_url(account.adls() ? account.get_url_dfs() : account.get_url_blob(),
                               container_, blob_);
    if (account.adls()) {
        url.add_query("recursive", "false");
    }
    set_request_url(account, http, url, *this);
    add_ms_header(http, headers, "x-ms-delete-snapshots",
                  delete_snapshots_only_ ? "only" : "include");
    finish_request(account, http, url, headers, *this);
}

} // namespace azure::blob_service
