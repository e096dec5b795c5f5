// The debug variable: levels, output file, options and timestamp levels.
#include "host/ostrel_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace
{

const char *const var = "OSTREL_HOST_TEST_DEBUG";
const char *const names = "TRACE INFO DEBUG WARNING ERROR";

struct debug_fixture : ::testing::Test {
    ostrel_debug_handle_t handle{};
    std::string warning;

    void init(const char *value)
    {
        if (value)
            setenv(var, value, 1);
        else
            unsetenv(var);
        ::testing::internal::CaptureStderr();
        ostrel_debug_init(var, names, &handle);
        warning = ::testing::internal::GetCapturedStderr();
    }
    void TearDown() override
    {
        if (handle.using_file && handle.file)
            fclose(handle.file);
        unsetenv(var);
    }
};

TEST_F(debug_fixture, LevelsOptionsAndTimestampLevels)
{
    struct {
        const char *value;
        uint32_t levels;
        bool thread_ids;
        uint32_t timestamp_levels;
    } cases[] = {
        {"ERROR", 16, false, 0},
        {"error|Warning", 24, false, 0},
        {"TRACE | INFO", 3, false, 0},
        {"all|ERROR", 31, false, 0},
        {"16", 16, false, 0},
        {"0x80000001", 0x80000001u, false, 0},
        {"ERROR,-,thread_ids", 16, true, 0},
        {"ERROR,,1", 16, true, 0},
        {"ERROR,,0", 16, false, 0},
        {"ALL,,,TRACE", 31, false, 1},
        {"ALL,,THREAD_IDS,0x18", 31, true, 24},
    };
    for (const auto &c : cases) {
        init(c.value);
        EXPECT_EQ(handle.levels, c.levels) << c.value;
        EXPECT_EQ(handle.file, stderr) << c.value;
        EXPECT_FALSE(handle.using_file);
        EXPECT_EQ(handle.thread_ids, c.thread_ids) << c.value;
        EXPECT_EQ(handle.timestamp_levels, c.timestamp_levels) << c.value;
        EXPECT_EQ(warning, "") << c.value;
    }
    for (const char *off : {(const char *)nullptr, ""}) {
        init(off);
        EXPECT_EQ(handle.levels, 0u);
        EXPECT_EQ(handle.file, nullptr);
        EXPECT_EQ(warning, "");
    }
}

TEST_F(debug_fixture, FileIsOpenedForAppendingOnlyWithLevels)
{
    char path[] = "/tmp/ostrel-debug-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "old\n", 4), 4);
    close(fd);
    std::string never = std::string(path) + ".never";
    init(("0," + never).c_str());
    EXPECT_EQ(handle.file, nullptr);
    EXPECT_NE(access(never.c_str(), F_OK), 0);

    init(("ERROR," + std::string(path)).c_str());
    ASSERT_NE(handle.file, nullptr);
    EXPECT_NE(handle.file, stderr);
    EXPECT_TRUE(handle.using_file);
    fputs("new\n", handle.file);
    fclose(handle.file);
    handle.file = nullptr;
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "old\nnew\n");
    unlink(path);
}

TEST_F(debug_fixture, BadTextTurnsLoggingOffWithOneWarning)
{
    const char *bad[] = {
        "BOGUS",       "ERROR|", "ERROR,,frobnicate", "1,-,0,2,5",
        "0x1ffffffff", "12abc",  "ERROR,,,NOPE",      "ERROR,/nonexistent-dir/x/trace.log",
    };
    for (const char *value : bad) {
        init(value);
        EXPECT_EQ(handle.levels, 0u) << value;
        EXPECT_EQ(handle.file, nullptr) << value;
        EXPECT_FALSE(handle.using_file) << value;
        EXPECT_NE(warning.find(var), std::string::npos) << value << ": " << warning;
        EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), 1) << warning;
    }
    init("WARN");
    // the warning names what was wrong and what would have been right
    EXPECT_NE(warning.find("\"WARN\""), std::string::npos) << warning;
    EXPECT_NE(warning.find("WARNING"), std::string::npos) << warning;
}

} // namespace
