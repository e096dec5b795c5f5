// Sessions, operations and transfers against the test plug-in, which
// answers from its own threads and moves data the way storage plug-ins do,
// recording what it saw.
#include "host/operation.h"
#include "host/ostrel_host_runtime.h"
#include "tests/host/test_dsi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace
{

/* An unlinked temporary file, closed with the object. */
struct temp_file {
    FILE *file = tmpfile();
    int fd = fileno(file);
    explicit temp_file(const std::string &content = "")
    {
        EXPECT_EQ(write(fd, content.data(), content.size()), (ssize_t)content.size());
    }
    ~temp_file() { fclose(file); }
    std::string content() const
    {
        struct stat info;
        fstat(fd, &info);
        std::string s((size_t)info.st_size, '\0');
        EXPECT_EQ(pread(fd, &s[0], s.size(), 0), (ssize_t)s.size());
        return s;
    }
};

struct session_fixture : ::testing::Test {
    std::unique_ptr<ostrel_host::loaded_module> module;
    const ostrel_gfs_storage_iface_t *dsi = nullptr;
    std::string config = "alpha";
    std::unique_ptr<ostrel_host::session> session;

    void SetUp() override
    {
        setenv("OSTREL_MODULE_PATH", OSTREL_TEST_MODULE_DIR, 1);
        module = ostrel_host::loaded_module::load("ostrel_test_dsi");
        dsi = module->dsi("test_dsi");
        ASSERT_NE(dsi, nullptr);
    }

    ostrel_host::error_info start(ostrel_host::session_options o = {})
    {
        o.documents = [this](const std::string &key) {
            return key == "config" ? std::optional<std::string>(config) : std::nullopt;
        };
        session = std::make_unique<ostrel_host::session>(dsi, o);
        return session->start();
    }

    template <typename T> T exported(const char *name)
    {
        return *static_cast<T *>(module->symbol(name));
    }

    ostrel_host::command_result command(int number, const char *path = "/c/d",
                                        std::function<void(const std::string &)> progress = {})
    {
        ostrel_gfs_command_info_t info = {};
        info.command = number;
        info.pathname = const_cast<char *>(path);
        info.cksm_length = -1;
        return session->command(info, progress);
    }
};

TEST_F(session_fixture, SessionEndRunsOnceAndNeverForARefusedStart)
{
    int before = exported<int>("ostrel_test_dsi_destroyed");
    ASSERT_TRUE(start().ok);
    EXPECT_FALSE(session->start().ok);
    session->end();
    session->end();
    session.reset();
    EXPECT_EQ(exported<int>("ostrel_test_dsi_destroyed"), before + 1);

    config = "refuse";
    EXPECT_EQ(start().text, "530 LOGIN_DENIED");
    EXPECT_NE(session->stat("/c", true).error.text.find("not started"), std::string::npos);
    session.reset();
    EXPECT_EQ(exported<int>("ostrel_test_dsi_destroyed"), before + 1);

    ostrel_gfs_storage_iface_t empty = {};
    ostrel_host::session none(&empty, {});
    EXPECT_NE(none.start().text.find("not supported"), std::string::npos);
}

TEST_F(session_fixture, CommandProgressAndASecondFinish)
{
    ASSERT_TRUE(start().ok);
    std::vector<std::string> progress;
    auto cksum = command(OSTREL_GFS_CMD_CKSM, "/c/f",
                         [&](const std::string &text) { progress.push_back(text); });
    EXPECT_TRUE(cksum.error.ok);
    EXPECT_EQ(progress, (std::vector<std::string>{"100", "200"}));
    EXPECT_EQ(cksum.intermediate, progress);

    // a second finish is ignored and its error released
    ::testing::internal::CaptureStderr();
    auto twice = command(OSTREL_GFS_CMD_RMD);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(twice.error.ok) << twice.error.text;
    EXPECT_NE(log.find("after it was finished"), std::string::npos) << log;
    EXPECT_EQ(ostrel_error_peek(exported<ostrel_result_t>("ostrel_test_dsi_second_result")),
              nullptr);
}

TEST_F(session_fixture, LongSessionKeepsFewOperationRecords)
{
    ASSERT_TRUE(start().ok);
    temp_file file("some bytes");
    size_t peak = 0;
    for (int i = 0; i < 10000; i++) {
        if (i % 200 == 0) {
            ostrel_host::file_source source(file.fd);
            ostrel_host::recv_request upload;
            upload.path = "/c/f";
            upload.from = &source;
            ASSERT_TRUE(session->recv(upload).error.ok);
        } else if (i % 2 == 0) {
            ASSERT_TRUE(session->stat("/c/d", false).error.ok);
        } else {
            ASSERT_TRUE(command(OSTREL_GFS_CMD_MKD).error.ok);
        }
        peak = std::max(peak, session->kept_operations());
    }
    // a record waits only for plug-in threads that were running when it finished
    EXPECT_LE(peak, 100u);
    ostrel_host::join_plugin_threads();
    ASSERT_TRUE(command(OSTREL_GFS_CMD_MKD).error.ok);
    EXPECT_EQ(session->kept_operations(), 0u);
}

const size_t B = 4096;

std::string pattern(int64_t offset, size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = (char)test_dsi_byte(offset + (int64_t)i);
    return s;
}

/* A pipe already holding content (at most 1 MiB), its writing end closed. */
struct filled_pipe {
    int fds[2];
    explicit filled_pipe(const std::string &content)
    {
        EXPECT_EQ(pipe(fds), 0);
        fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
        EXPECT_EQ(write(fds[1], content.data(), content.size()), (ssize_t)content.size());
        close(fds[1]);
    }
    ~filled_pipe() { close(fds[0]); }
};

/* Fails every read or write that touches `at` or beyond. */
struct failing_source : ostrel_host::file_source {
    int64_t at;
    failing_source(int fd, int64_t at) : file_source(fd), at(at) {}
    size_t read(unsigned char *b, size_t n, int64_t offset, bool &at_end) override
    {
        if (offset + (int64_t)n > at)
            throw std::system_error(EIO, std::generic_category(), "reading the test source");
        return file_source::read(b, n, offset, at_end);
    }
};

struct failing_sink : ostrel_host::file_sink {
    int64_t at;
    failing_sink(int fd, int64_t at) : file_sink(fd), at(at) {}
    void write(const unsigned char *d, size_t n, int64_t offset) override
    {
        if (offset + (int64_t)n > at)
            throw std::system_error(ENOSPC, std::generic_category(), "writing the test sink");
        file_sink::write(d, n, offset);
    }
};

struct transfer_fixture : session_fixture {
    std::vector<uint64_t> progress;

    void SetUp() override
    {
        session_fixture::SetUp();
        open_session(ostrel_host::stream_order::parallel, 0);
    }

    void open_session(ostrel_host::stream_order order, unsigned jitter_us, int streams = 4)
    {
        ostrel_host::session_options o;
        o.block_size = B;
        o.streams = streams;
        o.order = order;
        o.jitter_us = jitter_us;
        ASSERT_TRUE(start(o).ok);
    }

    std::shared_ptr<test_dsi_transfer> seen()
    {
        return exported<std::shared_ptr<test_dsi_transfer>>("ostrel_test_dsi_last_transfer");
    }

    ostrel_host::transfer_result upload(ostrel_host::source &from, const std::string &path = "/c/f",
                                        std::optional<time_t> modtime = std::nullopt)
    {
        progress.clear();
        ostrel_host::recv_request request;
        request.path = path;
        request.from = &from;
        request.modification_time = modtime;
        request.on_progress = [this](uint64_t done) { progress.push_back(done); };
        return session->recv(request);
    }

    ostrel_host::transfer_result download(ostrel_host::sink &to, int64_t size,
                                          std::vector<ostrel_host::byte_range> ranges = {},
                                          const std::string &suffix = "")
    {
        progress.clear();
        ostrel_host::send_request request;
        request.path = "/gen/" + std::to_string(size) + suffix;
        request.ranges = std::move(ranges);
        request.to = &to;
        request.on_progress = [this](uint64_t done) { progress.push_back(done); };
        return session->send(request);
    }
};

std::vector<test_dsi_completion> with_data(const test_dsi_transfer &t)
{
    std::vector<test_dsi_completion> data;
    std::copy_if(t.completions.begin(), t.completions.end(), std::back_inserter(data),
                 [](const test_dsi_completion &c) { return c.bytes > 0; });
    return data;
}

bool out_of_order(const test_dsi_transfer &t)
{
    auto data = with_data(t);
    return !std::is_sorted(data.begin(), data.end(),
                           [](const test_dsi_completion &a, const test_dsi_completion &b) {
                               return a.offset < b.offset;
                           });
}

/* Every byte exactly once, no read across a block, and end of data on the
 * read that delivers the last data, then only empty reads with it. */
void expect_read_rules(const test_dsi_transfer &t, const std::string &content)
{
    EXPECT_TRUE(t.data == content) << "received " << t.data.size() << " of " << content.size();
    std::vector<test_dsi_completion> data = with_data(t);
    std::sort(data.begin(), data.end(),
              [](const test_dsi_completion &a, const test_dsi_completion &b) {
                  return a.offset < b.offset;
              });
    int64_t next = 0;
    for (const test_dsi_completion &c : data) {
        EXPECT_EQ(c.offset, next);
        EXPECT_EQ(c.offset / (int64_t)B, (c.offset + c.bytes - 1) / (int64_t)B) << c.offset;
        next = c.offset + c.bytes;
    }
    EXPECT_EQ(next, (int64_t)content.size());
    auto first_eof = std::find_if(t.completions.begin(), t.completions.end(),
                                  [](const test_dsi_completion &c) { return c.eof; });
    ASSERT_NE(first_eof, t.completions.end());
    if (!content.empty()) {
        EXPECT_GT(first_eof->bytes, 0) << "end of data came on an empty read";
    }
    for (auto it = first_eof + 1; it != t.completions.end(); ++it)
        EXPECT_TRUE(it->eof && it->bytes == 0) << "read after the end at " << it->offset;
}

// Reverse mode completes each batch highest offset first.
TEST_F(transfer_fixture, UploadsDeliverEveryBlockOnceInEveryOrderingMode)
{
    struct {
        ostrel_host::stream_order order;
        unsigned jitter_us;
        bool pipe;
        size_t size;
        const char *path;
        std::optional<time_t> modtime;
    } cases[] = {
        {ostrel_host::stream_order::reverse, 0, false, 9 * B + 100, "/c/f", {}},
        {ostrel_host::stream_order::parallel, 1000, false, 40 * B + 17, "/c/f", 1234567890},
        {ostrel_host::stream_order::parallel, 1000, true, 12 * B + 5, "/c/f", {}},
        {ostrel_host::stream_order::parallel, 300, false, 7 * B + 1, "/c/small", {}},
        {ostrel_host::stream_order::reverse, 0, true, 9 * B + 100, "/c/f", 0},
        {ostrel_host::stream_order::reverse, 0, true, 8 * B, "/c/f", {}},
        {ostrel_host::stream_order::reverse, 0, true, 0, "/c/f", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.pipe ? "pipe " : "file ") + std::to_string(c.size) + " " +
                     c.path + (c.order == ostrel_host::stream_order::reverse ? " reverse" : ""));
        open_session(c.order, c.jitter_us);
        std::string content = pattern(0, c.size);
        temp_file file(content);
        filled_pipe pipe(content);
        ostrel_host::file_source from_file(file.fd);
        ostrel_host::stream_source from_pipe(pipe.fds[0], (int64_t)c.size);
        auto result =
            c.pipe ? upload(from_pipe, c.path, c.modtime) : upload(from_file, c.path, c.modtime);
        EXPECT_TRUE(result.error.ok) << result.error.text;
        EXPECT_EQ(result.bytes, c.size);
        auto t = seen();
        expect_read_rules(*t, content);
        // the time only when given, and 0 is a time
        EXPECT_EQ(t->modtime_rc == 0, c.modtime.has_value());
        EXPECT_EQ(t->modtime, c.modtime.value_or(-1));
        EXPECT_EQ(result.modification_time, c.modtime);
        EXPECT_EQ(progress.empty() ? 0 : progress.back(), c.size);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        if (c.jitter_us > 0 && c.size > 8 * B) {
            EXPECT_TRUE(out_of_order(*t));
        }
        if (c.order == ostrel_host::stream_order::reverse && !c.pipe && c.size > 0) {
            // four streams: the plug-in keeps four reads out, re-registering in each callback
            std::vector<int64_t> blocks;
            for (const test_dsi_completion &d : with_data(*t))
                blocks.push_back(d.offset / (int64_t)B);
            EXPECT_EQ(blocks, (std::vector<int64_t>{3, 2, 1, 0, 7, 6, 5, 4, 9, 8}));
        }
    }
}

/* Holds the read of the block just past the end until the plug-in has been
 * told all the data arrived, and the last block's read until that one has
 * started: end of data must not wait for a read that can bring nothing. */
struct gated_source : ostrel_host::file_source {
    int64_t size;
    std::mutex lock;
    std::condition_variable changed;
    bool past_end_started = false, released = false;
    gated_source(int fd, int64_t size) : file_source(fd), size(size) {}
    size_t read(unsigned char *b, size_t n, int64_t offset, bool &at_end) override
    {
        std::unique_lock<std::mutex> guard(lock);
        auto limit = std::chrono::seconds(5);
        if (offset >= size) {
            past_end_started = true;
            changed.notify_all();
            changed.wait_for(guard, limit, [&] { return released; });
        } else if (offset + (int64_t)n >= size) {
            EXPECT_TRUE(changed.wait_for(guard, limit, [&] { return past_end_started; }));
        }
        guard.unlock();
        return file_source::read(b, n, offset, at_end);
    }
    void release()
    {
        std::lock_guard<std::mutex> guard(lock);
        released = true;
        changed.notify_all();
    }
};

TEST_F(transfer_fixture, EndOfDataDoesNotWaitForAReadPastTheEnd)
{
    std::string content = pattern(0, 4 * B);
    temp_file file(content);
    gated_source from(file.fd, 4 * B);
    ostrel_host::recv_request request;
    request.path = "/c/f";
    request.from = &from;
    request.on_progress = [&](uint64_t done) {
        if (done == content.size())
            from.release();
    };
    ASSERT_TRUE(session->recv(request).error.ok);
    expect_read_rules(*seen(), content);
}

TEST_F(transfer_fixture, SourceOrSinkFailureFailsTheTransferThoughThePluginReportsSuccess)
{
    for (auto order : {ostrel_host::stream_order::parallel, ostrel_host::stream_order::reverse}) {
        open_session(order, 0);
        temp_file in(pattern(0, 10 * B)), out;
        failing_source from(in.fd, 2 * B);
        auto up = upload(from);
        EXPECT_EQ(up.error.reply_code, 451);
        EXPECT_EQ(up.error.system_errno, EIO);
        EXPECT_NE(up.error.text.find("reading the test source: Input/output error"),
                  std::string::npos)
            << up.error.text;
        // every read after the failure fails too, and says the data has ended
        bool failed = false;
        for (const test_dsi_completion &c : seen()->completions) {
            failed = failed || c.failed;
            if (failed) {
                EXPECT_TRUE(c.failed && c.eof && c.bytes == 0) << c.offset;
            }
        }
        EXPECT_TRUE(failed);

        failing_sink to(out.fd, 2 * B);
        auto down = download(to, 10 * B);
        EXPECT_EQ(down.error.system_errno, ENOSPC);
        EXPECT_NE(down.error.text.find("writing the test sink: No space left on device"),
                  std::string::npos)
            << down.error.text;
    }
    // the in-order output checks at the end that nothing is missing
    temp_file file;
    ostrel_host::in_order_sink gap(file.fd, 0);
    auto result = download(gap, 1000, {{100, 50}});
    EXPECT_EQ(result.error.system_errno, EIO);
    EXPECT_NE(result.error.text.find("the output stops at offset 0: 100 bytes never arrived"),
              std::string::npos)
        << result.error.text;
}

TEST_F(transfer_fixture, ExactlyOneFinishAndNoCallbackAfterIt)
{
    temp_file file;
    ostrel_host::file_sink to(file.fd);
    // a finish long after the first: the record waits for the thread that made it
    auto *release =
        static_cast<std::atomic<bool> *>(module->symbol("ostrel_test_dsi_release_late"));
    *release = false;
    ASSERT_TRUE(download(to, 100, {}, "/late").error.ok);
    EXPECT_EQ(progress, (std::vector<uint64_t>{100}));
    for (int i = 0; i < 100; i++)
        command(OSTREL_GFS_CMD_MKD);
    // the window of newest records, and the late one beyond it
    EXPECT_EQ(session->kept_operations(), ostrel_host::finished_records_window + 1);
    ::testing::internal::CaptureStderr();
    *release = true;
    ostrel_host::join_plugin_threads();
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("finished_transfer called for op="), std::string::npos) << log;
    command(OSTREL_GFS_CMD_MKD);
    EXPECT_EQ(session->kept_operations(), 0u);

    open_session(ostrel_host::stream_order::parallel, 200);
    ::testing::internal::CaptureStderr();
    auto early = download(to, 64 * B, {}, "/early");
    log = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(early.error.ok);
    EXPECT_NE(log.find("outstanding; dropped"), std::string::npos) << log;
    EXPECT_EQ(seen()->completions.size(), 1u);
    EXPECT_EQ(seen()->late_callbacks, 0);
}

TEST_F(transfer_fixture, BadSettingsAndRequestsAreRefusedBeforeThePluginRuns)
{
    temp_file file;
    ostrel_host::file_sink to(file.fd);
    for (auto ranges :
         std::vector<std::vector<ostrel_host::byte_range>>{{{-1, 10}}, {{0, 10}, {20, 0}}})
        EXPECT_NE(download(to, 100, ranges).error.text.find("invalid range"), std::string::npos);
    for (int streams : {0, ostrel_host::max_streams + 1}) {
        open_session(ostrel_host::stream_order::parallel, 0, streams);
        auto refused = download(to, 100);
        EXPECT_NE(refused.error.text.find("streams must be 1 to 64"), std::string::npos);
    }
    ostrel_host::recv_request nothing;
    nothing.path = "/c/f";
    EXPECT_FALSE(session->recv(nothing).error.ok);
    filled_pipe pipe("x");
    EXPECT_THROW(ostrel_host::file_source from(pipe.fds[0]), std::system_error);
}

// The sinks on their own: where bytes land, and what an in-order output refuses.

struct write_step {
    int64_t offset;
    const char *bytes;
    int error; /* 0: accepted */
};

/* The errno a step threw, or 0. */
template <typename Step> int error_of(Step &&step)
{
    try {
        step();
    } catch (const std::system_error &e) {
        return e.code().value();
    }
    return 0;
}

/* Runs the writes against a fresh sink on a temporary file; returns the file. */
template <typename MakeSink>
std::string run(MakeSink &&make, const std::vector<write_step> &steps, int finish_error)
{
    temp_file file;
    auto sink = make(file.fd);
    for (const write_step &step : steps) {
        auto write = [&] {
            sink->write((const unsigned char *)step.bytes, strlen(step.bytes), step.offset);
        };
        EXPECT_EQ(error_of(write), step.error) << "write at " << step.offset;
    }
    EXPECT_EQ(error_of([&] { sink->finish(); }), finish_error);
    return file.content();
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
