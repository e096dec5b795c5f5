#pragma once

#include <cstdint>
#include <future>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "blob_service/curl_transport.h"
#include "blob_service/executor.h"
#include "blob_service/responses.h"
#include "blob_service/storage_account.h"
#include "blob_service/storage_outcome.h"
#include "blob_service/upload_requests.h"

namespace azure::blob_service
{

// The operations the storage layer uses. Every call runs all its attempts on the calling
// thread and returns a future that is already satisfied; several threads may share one client,
// at most `max_concurrency` of them in an exchange at once (the others wait for a handle).
class blob_client
{
  public:
    // `ca_file`: CA bundle used to verify the service (empty: libcurl's default);
    // `proxy`: libcurl proxy string (empty: none configured); `retry`: how every request is
    // repeated.
    blob_client(std::shared_ptr<storage_account> account, int max_concurrency,
                const std::string &ca_file = {}, const std::string &proxy = {},
                const retry_settings &retry = {});

    std::shared_ptr<storage_account> account() const { return account_; }
    std::shared_ptr<CurlEasyClient> client() const { return client_; }
    std::shared_ptr<executor_context> context() const { return context_; }

    std::future<storage_outcome<void>> create_container(const std::string &container);
    std::future<storage_outcome<void>> delete_container(const std::string &container);
    std::future<storage_outcome<container_property>>
    get_container_properties(const std::string &container);
    std::future<storage_outcome<list_containers_segmented_response>>
    list_containers_segmented(const std::string &prefix, const std::string &continuation_token,
                              int max_results = 5000, bool include_metadata = false);
    std::future<storage_outcome<list_blobs_segmented_response>>
    list_blobs_segmented(const std::string &container, const std::string &delimiter,
                         const std::string &continuation_token, const std::string &prefix,
                         int max_results = 5000);
    std::future<storage_outcome<blob_property>> get_blob_properties(const std::string &container,
                                                                    const std::string &blob);

    // The calls below that take `conditions` send them with their request; those that take
    // `version` fill it, on success, from the answer that read or stored the blob.

    // Writes bytes [offset, offset + size) to `os`; size 0 reads to the end of the blob. An
    // interrupted body is continued from the first byte not yet written, from the same blob
    // version; `os` is never rewound. The outcome is a success only when every byte arrived.
    std::future<storage_outcome<void>>
    download_blob_to_stream(const std::string &container, const std::string &blob, uint64_t offset,
                            uint64_t size, std::ostream &os,
                            const access_conditions &conditions = {},
                            blob_version *version = nullptr);
    std::future<storage_outcome<void>> delete_blob(const std::string &container,
                                                   const std::string &blob,
                                                   bool delete_snapshots_only = false,
                                                   const access_conditions &conditions = {});
    // Sends exactly `streamlen` bytes from the current position of `is`. A failed attempt is
    // repeated only when `is` can seek back to that position.
    std::future<storage_outcome<void>>
    upload_block_from_stream(const std::string &container, const std::string &blob,
                             const std::string &blockid, std::istream &is, uint64_t streamlen);
    std::future<storage_outcome<void>>
    put_block_list(const std::string &container, const std::string &blob,
                   const std::vector<put_block_list_request_base::block_item> &block_list,
                   const metadata_list &metadata, const access_conditions &conditions = {},
                   blob_version *version = nullptr, const std::string &content_md5 = {});
    // `content_md5` (base64, may be empty) is stored as the blob's Content-MD5.
    std::future<storage_outcome<void>> upload_block_blob_from_stream(
        const std::string &container, const std::string &blob, std::istream &is,
        const metadata_list &metadata, uint64_t streamlen, const access_conditions &conditions = {},
        blob_version *version = nullptr, const std::string &content_md5 = {});

  private:
    // Whether the blob's committed blocks are exactly `blocks`, whose identifiers are unique to
    // one upload: then its commit is stored. Fills `version` (but its size) when so.
    bool holds_exactly(const std::string &container, const std::string &blob,
                       const std::vector<put_block_list_request_base::block_item> &blocks,
                       const std::shared_ptr<http_base> &http, blob_version *version);

    // Whether the blob is empty and carries `metadata`: then an empty upload whose repeat
    // failed its condition met its own lost attempt (or an identical one). Fills `version`.
    bool holds_empty(const std::string &container, const std::string &blob,
                     const metadata_list &metadata, blob_version *version);

    std::future<storage_outcome<void>> run(std::shared_ptr<storage_request_base> request,
                                           std::shared_ptr<http_base> http = nullptr,
                                           blob_version *version = nullptr);

    std::shared_ptr<storage_account> account_;
    std::shared_ptr<CurlEasyClient> client_;
    std::shared_ptr<executor_context> context_;
};

} // namespace azure::blob_service
