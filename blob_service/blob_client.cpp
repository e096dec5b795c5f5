#include "blob_service/blob_client.h"

#include <algorithm>
#include <limits>
#include <strings.h>

#include "blob_service/blob_requests.h"
#include "blob_service/container_requests.h"
#include "blob_service/properties.h"

namespace azure::blob_service
{

namespace
{

template <typename T> std::future<storage_outcome<T>> ready(storage_outcome<T> outcome)
{
    std::promise<storage_outcome<T>> promise;
    promise.set_value(std::move(outcome));
    return promise.get_future();
}

} // namespace

blob_client::blob_client(std::shared_ptr<storage_account> account, int max_concurrency,
                         const std::string &ca_file, const std::string &proxy,
                         const retry_settings &retry)
    : account_(std::move(account)),
      client_(std::make_shared<CurlEasyClient>(max_concurrency, ca_file, proxy)),
      context_(executor_context::create_default(retry))
{
}

std::future<storage_outcome<void>> blob_client::run(std::shared_ptr<storage_request_base> request,
                                                    std::shared_ptr<http_base> http,
                                                    blob_version *version)
{
    if (!http) {
        http = client_->get_handle();
    }
    storage_outcome<void> outcome =
        async_executor<void>::submit(account_, std::move(request), http, context_).get();
    if (version != nullptr && outcome.success()) {
        *version = parse_blob_version(http->get_response_headers());
    }
    return ready(std::move(outcome));
}

std::future<storage_outcome<void>> blob_client::create_container(const std::string &container)
{
    return run(std::make_shared<create_container_request>(container));
}

std::future<storage_outcome<void>> blob_client::delete_container(const std::string &container)
{
    return run(std::make_shared<delete_container_request>(container));
}

std::future<storage_outcome<container_property>>
blob_client::get_container_properties(const std::string &container)
{
    auto http = client_->get_handle();
    auto request = std::make_shared<get_container_property_request>(container);
    storage_outcome<void> outcome = run(request, http).get();
    if (!outcome.success()) {
        return ready(storage_outcome<container_property>(outcome.error()));
    }
    return ready(storage_outcome<container_property>(
        parse_container_property(http->get_response_headers())));
}

std::future<storage_outcome<list_containers_segmented_response>>
blob_client::list_containers_segmented(const std::string &prefix,
                                       const std::string &continuation_token, int max_results,
                                       bool include_metadata)
{
    auto request = std::make_shared<list_containers_request>(prefix, continuation_token,
                                                             max_results, include_metadata);
    return async_executor<list_containers_segmented_response>::submit(
        account_, request, client_->get_handle(), context_);
}

std::future<storage_outcome<list_blobs_segmented_response>>
blob_client::list_blobs_segmented(const std::string &container, const std::string &delimiter,
                                  const std::string &continuation_token, const std::string &prefix,
                                  int max_results)
{
    auto request = std::make_shared<list_blobs_segmented_request>(
        container, delimiter, continuation_token, prefix, max_results,
        list_blobs_segmented_request::metadata);
    return async_executor<list_blobs_segmented_response>::submit(account_, request,
                                                                 client_->get_handle(), context_);
}

std::future<storage_outcome<blob_property>>
blob_client::get_blob_properties(const std::string &container, const std::string &blob)
{
    auto http = client_->get_handle();
    auto request = std::make_shared<get_blob_property_request>(container, blob);
    storage_outcome<void> outcome = run(request, http).get();
    if (!outcome.success()) {
        return ready(storage_outcome<blob_property>(outcome.error()));
    }
    storage_outcome<blob_property> property = parse_blob_property(http->get_response_headers());
    if (!property.success()) {
        storage_error error = property.error();
        error.code = std::to_string(http->status_code());
        return ready(storage_outcome<blob_property>(std::move(error)));
    }
    return ready(std::move(property));
}

std::future<storage_outcome<void>>
blob_client::download_blob_to_stream(const std::string &container, const std::string &blob,
                                     uint64_t offset, uint64_t size, std::ostream &os,
                                     const access_conditions &conditions, blob_version *version)
{
    std::shared_ptr<download_blob_request> request;
    if (offset == 0 && size == 0) {
        request = std::make_shared<download_blob_request>(container, blob);
    } else if (size == 0 || size - 1 > std::numeric_limits<uint64_t>::max() - offset) {
        request = std::make_shared<download_blob_request>(container, blob, offset, std::nullopt);
    } else {
        request =
            std::make_shared<download_blob_request>(container, blob, offset, offset + size - 1);
    }
    request->set_conditions(conditions);
    auto http = client_->get_handle();
    http->set_output_stream(storage_ostream(os));
    return run(std::move(request), std::move(http), version);
}

std::future<storage_outcome<void>> blob_client::delete_blob(const std::string &container,
                                                            const std::string &blob,
                                                            bool delete_snapshots_only,
                                                            const access_conditions &conditions)
{
    auto request = std::make_shared<delete_blob_request>(container, blob, delete_snapshots_only);
    request->set_conditions(conditions);
    return run(std::move(request));
}

std::future<storage_outcome<void>>
blob_client::upload_block_from_stream(const std::string &container, const std::string &blob,
                                      const std::string &blockid, std::istream &is,
                                      uint64_t streamlen)
{
    auto request = std::make_shared<put_block_request>(container, blob, blockid, streamlen);
    auto http = client_->get_handle();
    http->set_input_stream(storage_istream(is));
    http->set_input_content_length(streamlen);
    return run(std::move(request), std::move(http));
}

std::future<storage_outcome<void>>
blob_client::put_block_list(const std::string &container, const std::string &blob,
                            const std::vector<put_block_list_request_base::block_item> &block_list,
                            const metadata_list &metadata, const access_conditions &conditions,
                            blob_version *version, const std::string &content_md5)
{
    auto request = std::make_shared<put_block_list_request>(container, blob, block_list, metadata);
    request->set_conditions(conditions);
    request->set_blob_content_md5(content_md5);
    auto http = client_->get_handle();
    storage_outcome<void> outcome = run(std::move(request), http, version).get();
    // A repeat that failed its condition may have met the lost attempt's own commit.
    if (!outcome.success() && outcome.error().earlier_attempt_unanswered &&
        holds_exactly(container, blob, block_list, http, version)) {
        return ready(storage_outcome<void>::succeeded());
    }
    return ready(std::move(outcome));
}

bool blob_client::holds_exactly(const std::string &container, const std::string &blob,
                                const std::vector<put_block_list_request_base::block_item> &blocks,
                                const std::shared_ptr<http_base> &http, blob_version *version)
{
    auto request = std::make_shared<get_block_list_request>(container, blob);
    auto listed =
        async_executor<block_list_response>::submit(account_, request, http, context_).get();
    if (!listed.success() || listed.response().committed.size() != blocks.size()) {
        return false;
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (listed.response().committed[i] != blocks[i].id) {
            return false;
        }
    }
    if (version != nullptr) {
        // The list's own length is no size of the blob.
        *version = parse_blob_version(http->get_response_headers());
        version->size = 0;
    }
    return true;
}

std::future<storage_outcome<void>>
blob_client::upload_block_blob_from_stream(const std::string &container, const std::string &blob,
                                           std::istream &is, const metadata_list &metadata,
                                           uint64_t streamlen, const access_conditions &conditions,
                                           blob_version *version, const std::string &content_md5)
{
    auto request =
        std::make_shared<create_block_blob_request>(container, blob, streamlen, metadata);
    request->set_conditions(conditions);
    request->set_blob_content_md5(content_md5);
    auto http = client_->get_handle();
    http->set_input_stream(storage_istream(is));
    http->set_input_content_length(streamlen);
    storage_outcome<void> outcome = run(std::move(request), std::move(http), version).get();
    // A folder marker made by an attempt whose answer was lost is no reason to fail.
    if (!outcome.success() && outcome.error().earlier_attempt_unanswered && streamlen == 0 &&
        !conditions.if_none_match.empty() && holds_empty(container, blob, metadata, version)) {
        return ready(storage_outcome<void>::succeeded());
    }
    return ready(std::move(outcome));
}

bool blob_client::holds_empty(const std::string &container, const std::string &blob,
                              const metadata_list &metadata, blob_version *version)
{
    auto found = get_blob_properties(container, blob).get();
    if (!found.success() || found.response().size != 0) {
        return false;
    }
    const metadata_list &held = found.response().metadata;
    for (const auto &sent : metadata) {
        auto same = [&sent](const std::pair<std::string, std::string> &pair) {
            return strcasecmp(pair.first.c_str(), sent.first.c_str()) == 0 &&
                   pair.second == sent.second;
        };
        if (std::find_if(held.begin(), held.end(), same) == held.end()) {
            return false;
        }
    }
    if (version != nullptr) {
        version->etag = found.response().etag;
        version->last_modified = found.response().last_modified;
        version->size = 0;
    }
    return true;
}

} // namespace azure::blob_service
