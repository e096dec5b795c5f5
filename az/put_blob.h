/*
 * What the streamed and the staged upload share.
 */
#ifndef OSTREL_AZ_PUT_BLOB_H
#define OSTREL_AZ_PUT_BLOB_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "az/client.h"
#include "az/status.h"
#include "az/streams.h"
#include "blob_service/responses.h"
#include "blob_service/upload_requests.h"

namespace ostrel_az
{

// Everything one upload sends.
struct put_blob_job {
    AZ_client &client;
    const char *container;
    const char *key;
    uint64_t size;
    azure::blob_service::metadata_list metadata;
    azure::blob_service::access_conditions conditions;
    AZ_put_data_callback data;
    void *arg;
};

using block_list = std::vector<azure::blob_service::put_block_list_request_base::block_item>;

// The identifiers of `count` blocks of a new upload, in order, all Uncommitted.
block_list put_blob_block_list(uint64_t count);

// Whether the data source gave up or misbehaved; if so, says so in `result`: that, not the
// aborted request, is the cause.
bool put_blob_source_failed(const istream_callback &source, uint64_t size, az_result &result);

// Says in `result` that `size` bytes need more blocks than the service takes.
void put_blob_too_many_blocks(uint64_t size, az_result &result);

// A digest of the bytes sent when the client stores one as Content-MD5, else none.
std::optional<md5_digest> put_blob_digest(const AZ_client &client);

// Base64 of the digest, which it ends; empty when there is none.
std::string put_blob_finish_digest(std::optional<md5_digest> &digest);

// Asks the session for a fresh token before a request of a long upload.
void put_blob_refresh(const AZ_client &client);

// Commits the uploaded blocks, with md5 (base64, may be empty) as the blob's Content-MD5.
void put_blob_commit(const put_blob_job &job, const block_list &blocks, const std::string &md5,
                     azure::blob_service::blob_version &version, az_result &result);

// Stages the upload in memory, block by block, so that a failed request is sent again.
void put_blob_staged(const put_blob_job &job, azure::blob_service::blob_version &version,
                     az_result &result);

} // namespace ostrel_az

#endif
