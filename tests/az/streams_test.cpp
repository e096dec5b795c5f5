#include <gtest/gtest.h>

#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "az/streams.h"

using ostrel_az::istream_callback;
using ostrel_az::stream_callback;

namespace
{

// A data source that hands out `text` in pieces of at most `piece` bytes, then follows
// `script` for calls beyond the text (each entry is returned as is).
struct source {
    std::string text;
    size_t piece = 1000;
    size_t offset = 0;
    std::vector<int32_t> script;
    std::vector<int32_t> asked;
};

int32_t source_read(int32_t max, unsigned char *buffer, void *arg)
{
    auto *s = static_cast<source *>(arg);
    s->asked.push_back(max);
    size_t call = s->asked.size() - 1;
    if (call < s->script.size() && s->script[call] != 0x7fffffff) {
        return s->script[call];
    }
    size_t n = std::min<size_t>({static_cast<size_t>(max), s->piece, s->text.size() - s->offset});
    memcpy(buffer, s->text.data() + s->offset, n);
    s->offset += n;
    return static_cast<int32_t>(n);
}

constexpr int32_t pass = 0x7fffffff;

TEST(istream_callback, reads_the_declared_size_through_small_windows)
{
    source src;
    src.text = "abcdefghij";
    src.piece = 3;
    unsigned char buffer[4];
    istream_callback sb(buffer, sizeof buffer, 10, source_read, &src);
    std::istream is(&sb);
    EXPECT_EQ(is.rdbuf()->in_avail(), 10);
    char out[10];
    ASSERT_TRUE(is.read(out, 10));
    EXPECT_EQ(std::string(out, 10), "abcdefghij");
    // Never asked beyond the staging buffer or beyond the bytes still expected.
    EXPECT_EQ(src.asked, (std::vector<int32_t>{4, 4, 4, 1}));
    EXPECT_EQ(sb.remaining(), 0u);
    EXPECT_EQ(sb.failed(), istream_callback::failure::none);
    // The declared size is reached: no further call.
    EXPECT_EQ(is.get(), std::char_traits<char>::eof());
    EXPECT_EQ(src.asked.size(), 4u);
}

TEST(istream_callback, callback_failures_end_the_stream)
{
    struct {
        std::vector<int32_t> script;
        istream_callback::failure expected;
    } cases[] = {
        {{pass, -1}, istream_callback::failure::callback_failed},
        {{pass, 0}, istream_callback::failure::ended_early},
        {{pass, 5}, istream_callback::failure::overrun},
        {{pass, -2147483647 - 1}, istream_callback::failure::callback_failed},
    };
    for (const auto &c : cases) {
        source src;
        src.text = "abcdefghij";
        src.script = c.script;
        unsigned char buffer[4];
        istream_callback sb(buffer, sizeof buffer, 10, source_read, &src);
        std::istream is(&sb);
        char out[10];
        is.read(out, 10);
        EXPECT_TRUE(is.fail());
        EXPECT_EQ(is.gcount(), 4);
        EXPECT_EQ(std::string(out, 4), "abcd");
        EXPECT_EQ(sb.failed(), c.expected);
        // Once failed, the callback is not asked again.
        is.clear();
        EXPECT_EQ(is.get(), std::char_traits<char>::eof());
        EXPECT_EQ(src.asked.size(), 2u);
    }
}

struct sink {
    std::string data;
    int32_t refuse_after = -1; // calls accepted before refusing
    int calls = 0;
};

int32_t sink_write(int32_t count, const unsigned char *data, void *arg)
{
    auto *s = static_cast<sink *>(arg);
    s->calls++;
    if (s->refuse_after >= 0 && s->calls > s->refuse_after) {
        return count - 1;
    }
    s->data.append(reinterpret_cast<const char *>(data), static_cast<size_t>(count));
    return count;
}

TEST(stream_callback, refusal_fails_the_stream_and_stops_delivery)
{
    sink s;
    s.refuse_after = 1;
    stream_callback sb(sink_write, &s);
    std::ostream os(&sb);
    os.write("abc", 3);
    os.write("def", 3);
    EXPECT_TRUE(os.bad());
    EXPECT_TRUE(sb.refused());
    os.clear();
    os.write("ghi", 3);
    os.put('j');
    EXPECT_EQ(s.calls, 2);
    EXPECT_EQ(s.data, "abc");

    // A single byte goes through overflow, and is refused the same way.
    sink one;
    one.refuse_after = 0;
    stream_callback single(sink_write, &one);
    std::ostream single_os(&single);
    single_os.put('a');
    EXPECT_TRUE(single_os.bad());
    EXPECT_TRUE(single.refused());
}

} // namespace
