#include <gtest/gtest.h>

#include <cstdint>

#include "az/upload_plan.h"

namespace
{

constexpr uint64_t mib = 1048576;

TEST(upload_plan, staged_block_grows_to_stay_within_the_block_count)
{
    struct {
        uint64_t size, block, expected;
    } cases[] = {
        {0, 4 * mib, 4 * mib},
        {3 * mib + 1, mib, mib},
        {50000 * mib, mib, mib},             // exactly the most blocks
        {50000 * mib + 1, mib, 2 * mib},     // one byte more: the next whole MiB
        {120000 * mib, mib, 3 * mib},        // 2.4 MiB rounded up
        {120000 * mib, 8 * mib, 8 * mib},    // large enough already
        {50000 * 100 * mib, mib, 100 * mib}, // the largest blob
        {50000 * 100 * mib + 1, mib, 0},     // too many even of the largest block
        {50000 * 99 * mib + 1, 100 * mib, 100 * mib},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ostrel_az::staged_block_size(c.size, c.block), c.expected)
            << c.size << " " << c.block;
        if (c.expected != 0) {
            EXPECT_LE(ostrel_az::block_count(c.size, c.expected), ostrel_az::max_block_count);
        }
    }
    EXPECT_EQ(ostrel_az::block_count(0, mib), 0u);
    EXPECT_EQ(ostrel_az::block_count(mib, mib), 1u);
    EXPECT_EQ(ostrel_az::block_count(mib + 1, mib), 2u);
}

} // namespace
