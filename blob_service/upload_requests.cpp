#include "blob_service/upload_requests.h"

#include <sstream>

namespace azure::blob_service
{

namespace
{

void add_content_length(http_base &http, storage_headers &headers, uint64_t length)
{
    http.add_header("Content-Length", std::to_string(length));
    // A zero length is signed as an empty line since service version 2015-02-21.
    if (length != 0) {
        headers.content_length = std::to_string(length);
    }
}

// Metadata headers are signed like every other x-ms- header.
void add_metadata(http_base &http, storage_headers &headers, const metadata_list &metadata)
{
    for (const auto &[name, value] : metadata) {
        add_ms_header(http, headers, "x-ms-meta-" + name, value);
    }
}

void add_blob_content_md5(http_base &http, storage_headers &headers, const std::string &base64)
{
    if (!base64.empty()) {
        add_ms_header(http, headers, "x-ms-blob-content-md5", base64);
    }
}

} // namespace

void put_block_request::build_request(const storage_account &account, http_base &http) const
{
    storage_headers headers;
    http.set_data_rate_timeout();
    http.set_method(http_method::put);
    storage_url url = blob_url(account.get_url_blob(), container_, blob_);
    url.add_query("comp", "block");
    url.add_query("blockid", blockid_);
    set_request_url(account, http, url, *this);
    add_content_length(http, headers, content_length_);
    finish_request(account, http, url, headers, *this);
}

std::string put_block_list_request::body() const
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><BlockList>";
    for (const auto &block : blocks_) {
        const char *tag = block.type == block_item::committed     ? "Committed"
                          : block.type == block_item::uncommitted ? "Uncommitted"
                                                                  : "Latest";
        xml += std::string("<") + tag + ">" + block.id + "</" + tag + ">";
    }
    xml += "</BlockList>";
    return xml;
}

void put_block_list_request::prepare_repeat_after_lost_answer()
{
    for (auto &block : blocks_) {
        if (block.type == block_item::uncommitted) {
            block.type = block_item::latest;
        }
    }
}

void put_block_list_request::build_request(const storage_account &account, http_base &http) const
{
    storage_headers headers;
    http.set_absolute_timeout(30);
    http.set_method(http_method::put);
    storage_url url = blob_url(account.get_url_blob(), container_, blob_);
    url.add_query("comp", "blocklist");
    set_request_url(account, http, url, *this);
    std::string xml = body();
    add_content_length(http, headers, xml.size());
    add_metadata(http, headers, metadata_);
    add_blob_content_md5(http, headers, blob_content_md5_);
    http.set_input_stream(storage_istream(std::make_shared<std::istringstream>(xml)));
    http.set_input_content_length(xml.size());
    finish_request(account, http, url, headers, *this);
}

void create_block_blob_request::build_request(const storage_account &account, http_base &http) const
{
    storage_headers headers;
    http.set_data_rate_timeout();
    http.set_method(http_method::put);
    storage_url url = blob_url(account.get_url_blob(), container_, blob_);
    set_request_url(account, http, url, *this);
    add_content_length(http, headers, content_length_);
    add_ms_header(http, headers, "x-ms-blob-type", "BlockBlob");
    add_metadata(http, headers, metadata_);
    add_blob_content_md5(http, headers, blob_content_md5_);
    finish_request(account, http, url, headers, *this);
}

} // namespace azure::blob_service
