#include <gtest/gtest.h>

#include <cstring>
#include <istream>
#include <string>
#include <vector>

#include "az/streams.h"

using ostrel_az::istream_callback;
using ostrel_az::stream_callback;

namespace
{

// Hands out "abcdefghij" at most `piece` bytes a call; a call listed in `script` returns the
// scripted value instead.
struct source {
    size_t piece = 1000, offset = 0;
    std::vector<std::pair<size_t, int32_t>> script;
    std::vector<int32_t> asked;
};

int32_t source_read(int32_t max, unsigned char *buffer, void *arg)
{
    auto *s = static_cast<source *>(arg);
    s->asked.push_back(max);
    for (auto [call, value] : s->script) {
        if (call == s->asked.size()) {
            return value;
        }
    }
    size_t n = std::min<size_t>({static_cast<size_t>(max), s->piece, 10 - s->offset});
    memcpy(buffer, "abcdefghij" + s->offset, n);
    s->offset += n;
    return static_cast<int32_t>(n);
}

TEST(istream_callback, reads_the_declared_size_through_small_windows)
{
    source src;
    src.piece = 3;
    unsigned char buffer[4];
    istream_callback sb(buffer, sizeof buffer, 10, source_read, &src);
    ostrel_az::md5_digest digest;
    sb.set_digest(&digest);
    std::istream is(&sb);
    EXPECT_EQ(is.rdbuf()->in_avail(), 10);
    char out[10];
    ASSERT_TRUE(is.read(out, 10));
    EXPECT_EQ(std::string(out, 10), "abcdefghij");
    // each piece digested once, in order, however little the callback gave
    EXPECT_EQ(digest.finish_base64(), "qSVXaULpSy71egZhAbSIdg=="); // md5("abcdefghij")
    // Never asked beyond the staging buffer or the bytes still expected, nor once they came.
    EXPECT_EQ(is.get(), std::char_traits<char>::eof());
    EXPECT_EQ(src.asked, (std::vector<int32_t>{4, 4, 4, 1}));
    EXPECT_EQ(sb.failed(), istream_callback::failure::none);
}

// How a failing callback is classified shows in the upload's status (put_blob_itest); here,
// that a failed stream never asks the callback again.
TEST(istream_callback, failed_callback_is_not_asked_again)
{
    for (int32_t value : {-1, 0, 5}) {
        source src;
        src.script = {{2, value}};
        unsigned char buffer[4];
        istream_callback sb(buffer, sizeof buffer, 10, source_read, &src);
        std::istream is(&sb);
        char out[10];
        EXPECT_FALSE(is.read(out, 10));
        EXPECT_EQ(std::string(out, static_cast<size_t>(is.gcount())), "abcd");
        EXPECT_NE(sb.failed(), istream_callback::failure::none) << value;
        is.clear();
        EXPECT_EQ(is.get(), std::char_traits<char>::eof());
        EXPECT_EQ(src.asked.size(), 2u) << value;
    }
}

int32_t refuse(int32_t count, const unsigned char *, void *calls)
{
    ++*static_cast<int *>(calls);
    return count - 1;
}

// How a refusal ends a download shows in its status (blob_itest); here, that nothing more is
// delivered after it.
TEST(stream_callback, refusal_stops_delivery)
{
    int calls = 0;
    stream_callback sb(refuse, &calls);
    EXPECT_EQ(sb.sputn("ab", 2), 0);
    EXPECT_TRUE(sb.refused());
    EXPECT_EQ(sb.sputn("cd", 2), 0);
    EXPECT_EQ(calls, 1);
}

} // namespace
