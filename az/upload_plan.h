/*
 * How an upload is cut into requests: the service's limits, and the block size of a staged
 * upload.
 */
#ifndef OSTREL_AZ_UPLOAD_PLAN_H
#define OSTREL_AZ_UPLOAD_PLAN_H

#include <cstdint>

namespace ostrel_az
{

constexpr uint64_t upload_mib = 1048576;
constexpr uint64_t single_request_limit = 134217728; // 128 MiB: sizes up to it in one request
constexpr uint64_t streamed_block_size = 104857600;  // 100 MiB, also the largest block
constexpr uint64_t max_block_count = 50000;          // committed blocks of one blob

// The block of a staged upload of `size` bytes asked to use blocks of `block` bytes: grown to
// the next whole MiB that keeps the count within max_block_count, and at most
// streamed_block_size. 0 when even that makes too many blocks.
uint64_t staged_block_size(uint64_t size, uint64_t block);

// Number of blocks of `block` bytes that hold `size` bytes; the last holds the rest.
inline uint64_t block_count(uint64_t size, uint64_t block)
{
    return size / block + (size % block != 0 ? 1 : 0);
}

} // namespace ostrel_az

#endif
