#include "az/put_blob.h"

#include <algorithm>
#include <istream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "az/blob_options.h"
#include "az/block_id.h"
#include "az/call.h"
#include "az/md5_digest.h"
#include "az/upload_plan.h"
#include "blob_service/encoding.h"

namespace bs = azure::blob_service;
using ostrel_az::az_result;
using ostrel_az::istream_callback;
using ostrel_az::put_blob_commit;
using ostrel_az::put_blob_job;
using ostrel_az::put_blob_refresh;
using ostrel_az::put_blob_source_failed;
using ostrel_az::require;
using ostrel_az::require_name;

constexpr uint64_t ostrel_l_az_single_buffer_size = 1048576; // 1 MiB
constexpr uint64_t ostrel_l_az_block_buffer_size = 4194304;  // 4 MiB

static bs::metadata_list ostrel_l_az_put_blob_metadata(const AZ_put_options *options)
{
    bs::metadata_list metadata;
    if (options == nullptr || options->metadata_count <= 0) {
        return metadata;
    }
    require(options->metadata, "metadata");
    for (int32_t i = 0; i < options->metadata_count; i++) {
        require(options->metadata[i].name, "metadata name");
        require(options->metadata[i].value, "metadata value");
        metadata.emplace_back(options->metadata[i].name, options->metadata[i].value);
    }
    return metadata;
}

// The request never carried the declared length, so nothing was stored or committed.
bool ostrel_az::put_blob_source_failed(const istream_callback &source, uint64_t size,
                                       az_result &result)
{
    if (source.failed() == istream_callback::failure::none) {
        return false;
    }
    std::string delivered =
        std::to_string(size - source.remaining()) + " of " + std::to_string(size) + " bytes";
    switch (source.failed()) {
    case istream_callback::failure::none:
        break;
    case istream_callback::failure::callback_failed:
        result.set_local(AZ_AbortedByCallback, "the data callback failed after " + delivered);
        return true;
    case istream_callback::failure::ended_early:
        result.set_local(AZ_AbortedByCallback, "the data ended after " + delivered);
        return true;
    case istream_callback::failure::overrun:
        result.set_local(AZ_AbortedByCallback,
                         "the data callback returned more bytes than asked for after " + delivered);
        return true;
    }
    return false;
}

void ostrel_az::put_blob_refresh(const AZ_client &client)
{
    if (client.refresh != nullptr) {
        client.refresh(client.refresh_arg);
    }
}

void ostrel_az::put_blob_too_many_blocks(uint64_t size, az_result &result)
{
    result.set_local(AZ_ErrorBlockCountExceedsLimit,
                     std::to_string(size) + " bytes need more than " +
                         std::to_string(max_block_count) + " blocks");
}

std::optional<ostrel_az::md5_digest> ostrel_az::put_blob_digest(const AZ_client &client)
{
    std::optional<md5_digest> digest;
    if (client.store_md5) {
        digest.emplace();
    }
    return digest;
}

std::string ostrel_az::put_blob_finish_digest(std::optional<md5_digest> &digest)
{
    return digest ? digest->finish_base64() : std::string();
}

ostrel_az::block_list ostrel_az::put_blob_block_list(uint64_t count)
{
    std::string upload_id = bs::get_uuid();
    block_list blocks;
    blocks.reserve(count);
    for (uint64_t i = 0; i < count; i++) {
        bs::put_block_list_request_base::block_item item;
        item.id = block_id(upload_id, i);
        item.type = bs::put_block_list_request_base::block_item::uncommitted;
        blocks.push_back(std::move(item));
    }
    return blocks;
}

// The service computes and stores the MD5 of a blob sent in one request.
static void ostrel_l_az_put_blob_single(const put_blob_job &job, bs::blob_version &version,
                                        az_result &result)
{
    size_t capacity = static_cast<size_t>(std::min(job.size, ostrel_l_az_single_buffer_size));
    // Not zero-filled: pages large reads pass by are never touched.
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[capacity]);
    istream_callback source(buffer.get(), capacity, job.size, job.data, job.arg);
    // No bytes to take back: an empty blob (a folder marker) can be sent again after a 503.
    std::istringstream nothing;
    std::istream streamed(&source);
    std::istream &is = job.size == 0 ? static_cast<std::istream &>(nothing) : streamed;
    auto outcome = job.client.blob
                       ->upload_block_blob_from_stream(job.container, job.key, is, job.metadata,
                                                       job.size, job.conditions, &version)
                       .get();
    if (put_blob_source_failed(source, job.size, result)) {
        return;
    }
    result.take_outcome(outcome);
}

// Blocks are staged without conditions: only the commit decides what the key holds.
static void ostrel_l_az_put_blob_blocks(const put_blob_job &job, bs::blob_version &version,
                                        az_result &result)
{
    uint64_t count = ostrel_az::block_count(job.size, ostrel_az::streamed_block_size);
    // Found out now rather than after terabytes were sent.
    if (count > ostrel_az::max_block_count) {
        ostrel_az::put_blob_too_many_blocks(job.size, result);
        return;
    }
    ostrel_az::block_list blocks = ostrel_az::put_blob_block_list(count);
    std::optional<ostrel_az::md5_digest> digest = ostrel_az::put_blob_digest(job.client);

    {
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[ostrel_l_az_block_buffer_size]);
        istream_callback source(buffer.get(), ostrel_l_az_block_buffer_size, job.size, job.data,
                                job.arg);
        source.set_digest(digest ? &*digest : nullptr);
        std::istream is(&source);
        uint64_t left = job.size;
        for (const auto &block : blocks) {
            put_blob_refresh(job.client);
            uint64_t length = std::min(left, ostrel_az::streamed_block_size);
            auto outcome =
                job.client.blob
                    ->upload_block_from_stream(job.container, job.key, block.id, is, length)
                    .get();
            if (put_blob_source_failed(source, job.size, result)) {
                return;
            }
            if (!result.take_outcome(outcome)) {
                return;
            }
            left -= length;
        }
    }

    // Every byte went through the digest once: a streamed block is never sent twice.
    put_blob_commit(job, blocks, ostrel_az::put_blob_finish_digest(digest), version, result);
}

void ostrel_az::put_blob_commit(const put_blob_job &job, const block_list &blocks,
                                const std::string &md5, bs::blob_version &version,
                                az_result &result)
{
    put_blob_refresh(job.client);
    auto outcome = job.client.blob
                       ->put_block_list(job.container, job.key, blocks, job.metadata,
                                        job.conditions, &version, md5)
                       .get();
    version.content_md5 = md5;
    result.take_outcome(outcome);
}

void AZ_put_blob(AZ_client *client, const char *container, const char *key, uint64_t size,
                 const AZ_put_options *options, AZ_put_data_callback data,
                 AZ_complete_callback complete, void *arg)
{
    AZ_put_blob_ex(client, container, key, size, options, nullptr, data, complete, arg);
}

void AZ_put_blob_ex(AZ_client *client, const char *container, const char *key, uint64_t size,
                    const AZ_put_options *options, const AZ_blob_options *blob_options,
                    AZ_put_data_callback data, AZ_complete_callback complete, void *arg)
{
    ostrel_az::run_operation(complete, arg, [&](az_result &result) {
        require(client, "client");
        require_name(container, "container");
        require_name(key, "key");
        require(reinterpret_cast<const void *>(data), "data callback");
        put_blob_job job{*client,
                         container,
                         key,
                         size,
                         ostrel_l_az_put_blob_metadata(options),
                         ostrel_az::conditions_of(blob_options, true),
                         data,
                         arg};
        bs::blob_version version;
        if (client->upload_block_size != 0) {
            ostrel_az::put_blob_staged(job, version, result);
        } else if (size <= ostrel_az::single_request_limit) {
            ostrel_l_az_put_blob_single(job, version, result);
        } else {
            ostrel_l_az_put_blob_blocks(job, version, result);
        }
        if (result.ok()) {
            // The answer to an upload carries no size; what was stored is what was sent.
            version.size = size;
            ostrel_az::report_version(blob_options, key, version, arg);
        }
    });
}
