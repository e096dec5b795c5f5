#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "blob_service/request_base.h"

namespace azure::blob_service
{

class list_blobs_segmented_request final : public blob_request_base
{
  public:
    enum include : unsigned { snapshots = 1, metadata = 2, uncommittedblobs = 4, copy = 8 };

    list_blobs_segmented_request(std::string container, std::string delimiter, std::string marker,
                                 std::string prefix, int maxresults, unsigned includes)
        : container_(std::move(container)), prefix_(std::move(prefix)),
          delimiter_(std::move(delimiter)), marker_(std::move(marker)), maxresults_(maxresults),
          includes_(includes)
    {
    }
    void build_request(const storage_account &account, http_base &http) const override;

  private:
    std::string container_;
    std::string prefix_;
    std::string delimiter_;
    std::string marker_;
    int maxresults_;
    unsigned includes_;
};

class get_blob_property_request final : public blob_request_base
{
  public:
    get_blob_property_request(std::string container, std::string blob)
        : container_(std::move(container)), blob_(std::move(blob))
    {
    }
    void build_request(const storage_account &account, http_base &http) const override;

  private:
    std::string container_;
    std::string blob_;
};

// The committed block list of a blob: how a commit whose answer was lost is recognised.
class get_block_list_request final : public blob_request_base
{
  public:
    get_block_list_request(std::string container, std::string blob)
        : container_(std::move(container)), blob_(std::move(blob))
    {
    }
    void build_request(const storage_account &account, http_base &http) const override;

  private:
    std::string container_;
    std::string blob_;
};

// Reads a blob, or the bytes [start, end] of it (to its end when `end` is absent). After an
// interrupted attempt it asks only for the bytes not yet delivered, and only from the same
// version of the blob: the one an If-Match condition names, else the first answer's.
class download_blob_request final : public conditional_request
{
  public:
    download_blob_request(std::string container, std::string blob)
        : container_(std::move(container)), blob_(std::move(blob))
    {
    }
    download_blob_request(std::string container, std::string blob, uint64_t start,
                          std::optional<uint64_t> end)
        : container_(std::move(container)), blob_(std::move(blob)), has_range_(true),
          start_byte_(start), end_byte_(end)
    {
    }

    void build_request(const storage_account &account, http_base &http) const override;
    bool accept_response(const http_base &http) const override;
    bool resume_after(uint64_t delivered, const std::string &etag) override;

    // The x-ms-range value of the next attempt; empty for a whole-blob read.
    std::string range() const;

  private:
    bool ranged() const { return has_range_ || delivered_ > 0; }

    std::string container_;
    std::string blob_;
    bool has_range_ = false;
    uint64_t start_byte_ = 0;
    std::optional<uint64_t> end_byte_;
    uint64_t delivered_ = 0;
};

class delete_blob_request final : public conditional_request
{
  public:
    delete_blob_request(std::string container, std::string blob, bool delete_snapshots_only)
        : container_(std::move(container)), blob_(std::move(blob)),
          delete_snapshots_only_(delete_snapshots_only)
    {
    }
    void build_request(const storage_account &account, http_base &http) const override;
    // The data-lake endpoint names a missing path its own way.
    std::vector<done_answer> done_answers() const override
    {
        return {{404, "BlobNotFound"}, {404, "PathNotFound"}};
    }

  private:
    std::string container_;
    std::string blob_;
    bool delete_snapshots_only_;
};

} // namespace azure::blob_service
