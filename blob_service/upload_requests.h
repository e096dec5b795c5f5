#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "blob_service/request_base.h"
#include "blob_service/responses.h"

namespace azure::blob_service
{

// The body comes from the stream the blob client sets on the http request.
class put_block_request final : public blob_request_base
{
  public:
    put_block_request(std::string container, std::string blob, std::string blockid,
                      uint64_t content_length)
        : container_(std::move(container)), blob_(std::move(blob)), blockid_(std::move(blockid)),
          content_length_(content_length)
    {
    }
    void build_request(const storage_account &account, http_base &http) const override;

  private:
    std::string container_;
    std::string blob_;
    std::string blockid_;
    uint64_t content_length_;
};

class put_block_list_request_base : public conditional_request
{
  public:
    struct block_item {
        enum block_type { committed = 0, uncommitted = 1, latest = 2 };
        std::string id;
        block_type type = uncommitted;
    };
};

// Builds its own XML body on every attempt.
class put_block_list_request final : public put_block_list_request_base
{
  public:
    put_block_list_request(std::string container, std::string blob, std::vector<block_item> blocks,
                           metadata_list metadata)
        : container_(std::move(container)), blob_(std::move(blob)), blocks_(std::move(blocks)),
          metadata_(std::move(metadata))
    {
    }
    void build_request(const storage_account &account, http_base &http) const override;
    // Stores `base64` as the blob's Content-MD5.
    void set_blob_content_md5(std::string base64) { blob_content_md5_ = std::move(base64); }
    // A lost commit may have committed the blocks already; Latest takes a block whether it
    // is still uncommitted or committed by now, so the repeat stores the same blob again.
    void prepare_repeat_after_lost_answer() override;

    std::string body() const;

  private:
    std::string container_;
    std::string blob_;
    std::vector<block_item> blocks_;
    metadata_list metadata_;
    std::string blob_content_md5_;
};

// The body comes from the stream the blob client sets on the http request.
class create_block_blob_request final : public conditional_request
{
  public:
    create_block_blob_request(std::string container, std::string blob, uint64_t content_length,
                              metadata_list metadata)
        : container_(std::move(container)), blob_(std::move(blob)), content_length_(content_length),
          metadata_(std::move(metadata))
    {
    }
    void build_request(const storage_account &account, http_base &http) const override;
    // Stores `base64` as the blob's Content-MD5.
    void set_blob_content_md5(std::string base64) { blob_content_md5_ = std::move(base64); }

  private:
    std::string container_;
    std::string blob_;
    uint64_t content_length_;
    metadata_list metadata_;
    std::string blob_content_md5_;
};

} // namespace azure::blob_service
