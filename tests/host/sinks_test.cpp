// The sinks on their own: where bytes land, and what an in-order output
// refuses.
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <unistd.h>

namespace
{

struct write_step {
    int64_t offset;
    const char *bytes;
    int error; /* 0: accepted */
};

/* Runs the writes against a fresh sink on a temporary file; returns the file. */
template <typename MakeSink>
std::string run(MakeSink &&make, const std::vector<write_step> &steps, int finish_error)
{
    FILE *file = tmpfile();
    int fd = fileno(file);
    auto sink = make(fd);
    for (const write_step &step : steps) {
        SCOPED_TRACE("write at " + std::to_string(step.offset));
        int error = 0;
        try {
            sink->write(reinterpret_cast<const unsigned char *>(step.bytes),
                        std::string(step.bytes).size(), step.offset);
        } catch (const std::system_error &e) {
            error = e.code().value();
        }
        EXPECT_EQ(error, step.error);
    }
    int error = 0;
    try {
        sink->finish();
    } catch (const std::system_error &e) {
        error = e.code().value();
    }
    EXPECT_EQ(error, finish_error);
    std::string content(1024, '\0');
    content.resize((size_t)pread(fd, &content[0], content.size(), 0));
    fclose(file);
    return content;
}

TEST(InOrderSink, WritesOutInOffsetOrderWithinItsLimit)
{
    struct {
        const char *name;
        int64_t start;
        size_t max_held;
        std::vector<write_step> steps;
        int finish_error;
        std::string output;
    } cases[] = {
        {"held exactly to the limit",
         0,
         4,
         {{2, "cd", 0}, {4, "ef", 0}, {0, "ab", 0}},
         0,
         "abcdef"},
        {"one byte over the limit", 0, 3, {{2, "cd", 0}, {4, "ef", ENOBUFS}}, EIO, ""},
        {"before the start", 10, 4, {{9, "ab", EINVAL}}, 0, ""},
        {"again after written", 0, 4, {{0, "ab", 0}, {1, "x", EINVAL}}, 0, "ab"},
        {"overlapping held data before", 0, 8, {{2, "cd", 0}, {3, "xy", EINVAL}}, EIO, ""},
        {"overlapping held data after", 0, 8, {{4, "ef", 0}, {3, "xy", EINVAL}}, EIO, ""},
        {"gap never filled", 0, 8, {{0, "ab", 0}, {4, "ef", 0}}, EIO, "ab"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string output = run(
            [&](int fd) {
                return std::make_unique<ostrel_host::in_order_sink>(fd, c.start, c.max_held);
            },
            c.steps, c.finish_error);
        EXPECT_EQ(output, c.output);
    }
}

TEST(FileSink, WritesAtOffsetMinusBase)
{
    auto at = [](int64_t base) {
        return [base](int fd) { return std::make_unique<ostrel_host::file_sink>(fd, base); };
    };
    EXPECT_EQ(run(at(0), {{2, "cd", 0}, {0, "ab", 0}}, 0), "abcd");
    EXPECT_EQ(run(at(100), {{102, "cd", 0}, {100, "ab", 0}, {99, "z", EINVAL}}, 0), "abcd");
}

} // namespace
