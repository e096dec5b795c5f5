#include "az/upload_plan.h"

#include <algorithm>

namespace ostrel_az
{

uint64_t staged_block_size(uint64_t size, uint64_t block)
{
    block = std::max<uint64_t>(block, 1);
    uint64_t needed = block_count(size, max_block_count);
    if (needed > block) {
        block = block_count(needed, upload_mib) * upload_mib;
    }
    block = std::min(block, streamed_block_size);
    return block_count(size, block) > max_block_count ? 0 : block;
}

} // namespace ostrel_az
