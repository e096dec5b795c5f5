/* What the test plug-in records of its last transfer, for the host's
 * transfer tests to look behind the data channel. */
#ifndef OSTREL_TEST_DSI_H
#define OSTREL_TEST_DSI_H

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

/* One read or write callback, in the order the plug-in received them. */
struct test_dsi_completion {
    int64_t offset;
    int64_t bytes;
    bool eof;
    bool failed;
};

struct test_dsi_transfer {
    std::string path;
    int concurrency = 0;
    size_t block_size = 0;
    int modtime_rc = 0;
    time_t modtime = 0;
    std::vector<test_dsi_completion> completions;
    std::string data;       /* upload: the bytes received, each at its offset */
    int late_callbacks = 0; /* callbacks after the plug-in finished */
};

/* The bytes the plug-in sends for "/gen/SIZE": no period a block size could hide. */
inline unsigned char test_dsi_byte(int64_t i)
{
    return (unsigned char)(i ^ (i >> 8) * 7 ^ (i >> 16) * 31);
}

#endif
