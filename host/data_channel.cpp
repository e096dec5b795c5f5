/*
 * The data channel of one transfer, as a GridFTP server with parallel
 * streams has it. Writes are spread over the streams in the order they are
 * registered; reads are handed the source's next piece when registered, and
 * block k of the source travels on stream k mod N. Each stream works through
 * its own queue in order, so completions arrive out of order between
 * streams but never within one.
 *
 * A request goes through two steps: perform (the I/O, straight between the
 * plug-in's buffer and the sink or source) and complete (the callback). Only
 * one callback runs at a time, which keeps "end of data" truthful: the read
 * that reports it is the last one to deliver data.
 */
#include "host/data_channel.h"

#include "host/operation.h"

#include <algorithm>
#include <random>
#include <system_error>

namespace ostrel_host
{

namespace
{

/* In reverse mode a batch is what the plug-in registered before it paused
 * this long; it normally fills up to the number of streams first. */
const std::chrono::milliseconds reverse_quiet_period(20);

/* A registration the channel cannot take: a plug-in fault, told to the plug-in. */
ostrel_result_t refusal(const char *call, const void *op, const char *why)
{
    return ostrel_error_put(ostrel_error_construct_error(nullptr, nullptr, OSTREL_ERROR_TYPE_PLUGIN,
                                                         "data_channel", call, 0,
                                                         "%s called for op=%p %s", call, op, why));
}

void forget_piece(std::multiset<int64_t> &pieces, int64_t offset)
{
    auto it = pieces.find(offset);
    if (it != pieces.end())
        pieces.erase(it);
}

} // namespace

void progress_meter::add(uint64_t bytes)
{
    std::lock_guard<std::mutex> guard(lock);
    done += bytes;
    if (callback)
        callback(done);
}

struct data_channel::request {
    unsigned char *buffer = nullptr;
    size_t length = 0; /* write: bytes to write; read: the piece to fill (0: past the end) */
    int64_t offset = 0;
    ostrel_gfs_write_cb_t write_done = nullptr;
    ostrel_gfs_read_cb_t read_done = nullptr;
    void *user_arg = nullptr;
    size_t moved = 0; /* what perform() wrote or read */
};

data_channel::data_channel(ostrel_gfs_operation_t op, const session_options &settings, sink *to,
                           source *from, progress_meter *written)
    : op(op), streams((size_t)settings.streams), block_size(settings.block_size),
      order(settings.order), jitter_us(settings.jitter_us), to(to), from(from), written(written),
      queues(streams)
{
    try {
        if (order == stream_order::reverse) {
            threads.emplace_back(&data_channel::run_reversed, this);
        } else {
            for (size_t i = 0; i < streams; i++)
                threads.emplace_back(&data_channel::run_stream, this, i);
        }
    } catch (...) {
        close(false);
        throw;
    }
}

data_channel::~data_channel()
{
    close(false);
}

ostrel_result_t data_channel::enqueue(request r, size_t stream)
{
    /* the caller holds the lock */
    queues[order == stream_order::reverse ? 0 : stream % streams].push_back(r);
    last_registration = std::chrono::steady_clock::now();
    work.notify_all();
    return OSTREL_SUCCESS;
}

/* The checks every registration passes; the caller holds the lock. */
ostrel_result_t data_channel::admit(const char *call, bool right_direction, bool valid) const
{
    if (!right_direction)
        return refusal(call, op, "on a transfer that moves data the other way");
    if (!valid)
        return refusal(call, op, "without a callback, a buffer or a valid offset");
    if (finished)
        return refusal(call, op, "after it was finished");
    return OSTREL_SUCCESS;
}

ostrel_result_t data_channel::register_write(unsigned char *buffer, size_t length, int64_t offset,
                                             ostrel_gfs_write_cb_t callback, void *user_arg)
{
    std::lock_guard<std::mutex> guard(lock);
    /* the end of the bytes must be a file offset as well */
    bool in_range = offset >= 0 && length <= (uint64_t)(INT64_MAX - offset);
    ostrel_result_t refused =
        admit(__func__, to != nullptr,
              callback != nullptr && (buffer != nullptr || length == 0) && in_range);
    if (refused != OSTREL_SUCCESS)
        return refused;
    request r{buffer, length, offset, callback, nullptr, user_arg};
    return enqueue(r, (size_t)(writes_registered++ % streams));
}

ostrel_result_t data_channel::register_read(unsigned char *buffer, size_t length,
                                            ostrel_gfs_read_cb_t callback, void *user_arg)
{
    std::lock_guard<std::mutex> guard(lock);
    ostrel_result_t refused =
        admit(__func__, from != nullptr, callback != nullptr && buffer != nullptr && length > 0);
    if (refused != OSTREL_SUCCESS)
        return refused;
    request r{buffer, 0, cursor, nullptr, callback, user_arg};
    if (end < 0 || cursor < end) {
        /* never across a block boundary: the rest of a block stays on its stream */
        r.length = std::min(length, block_size - (size_t)(cursor % (int64_t)block_size));
        cursor += (int64_t)r.length;
        unfinished.insert(r.offset);
    }
    return enqueue(r, (size_t)(r.offset / (int64_t)block_size));
}

void data_channel::refuse()
{
    std::lock_guard<std::mutex> guard(lock);
    finished = true;
    work.notify_all();
}

void data_channel::close(bool check_sink)
{
    refuse();
    for (std::thread &thread : threads) {
        if (thread.joinable())
            thread.join();
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        for (std::deque<request> &queue : queues) {
            dropped += queue.size();
            queue.clear();
        }
        dropped += held.size();
        held.clear();
        if (dropped > 0) {
            ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR,
                                   "op=%p finished with %zu reads or writes outstanding; dropped",
                                   (void *)op, dropped);
            dropped = 0;
        }
        if (!check_sink || to == nullptr || failed)
            return;
    }
    try {
        to->finish();
    } catch (...) {
        record_failure();
    }
}

uint64_t data_channel::bytes() const
{
    std::lock_guard<std::mutex> guard(lock);
    return moved;
}

/* Stream threads ---------------------------------------------------------- */

void data_channel::pause(unsigned seed_state)
{
    if (jitter_us == 0)
        return;
    thread_local std::minstd_rand random(seed_state + 1);
    std::uniform_int_distribution<unsigned> wait(0, jitter_us);
    std::this_thread::sleep_for(std::chrono::microseconds(wait(random)));
}

void data_channel::run_stream(size_t index)
{
    for (;;) {
        request r;
        {
            std::unique_lock<std::mutex> guard(lock);
            work.wait(guard, [&] { return finished || !queues[index].empty(); });
            if (finished)
                return;
            r = queues[index].front();
            queues[index].pop_front();
        }
        /* the pace shows where the data lands: in the sink, or at the plug-in */
        bool to_plugin = r.read_done != nullptr;
        if (!to_plugin)
            pause((unsigned)index);
        perform(r);
        if (to_plugin)
            pause((unsigned)index);
        complete(r);
    }
}

/* Whether to take the queue as a batch now; otherwise `wake` says until when
 * to wait (a default time point: until the next registration). */
bool data_channel::batch_ready(std::chrono::steady_clock::time_point &wake) const
{
    const std::deque<request> &queue = queues[0];
    wake = std::chrono::steady_clock::time_point();
    if (queue.empty())
        return false;
    /* once the source's end is known every piece is handed out */
    if (queue.size() >= streams || failed || end >= 0)
        return true;
    wake = last_registration + reverse_quiet_period;
    return std::chrono::steady_clock::now() >= wake;
}

void data_channel::run_reversed()
{
    for (;;) {
        std::deque<request> batch;
        {
            std::unique_lock<std::mutex> guard(lock);
            std::chrono::steady_clock::time_point wake;
            while (!finished && !batch_ready(wake)) {
                if (wake == std::chrono::steady_clock::time_point())
                    work.wait(guard);
                else
                    work.wait_until(guard, wake);
            }
            if (finished)
                return;
            batch.swap(queues[0]);
        }
        std::stable_sort(batch.begin(), batch.end(),
                         [](const request &a, const request &b) { return a.offset > b.offset; });
        /* a pipe can only be read in order; what the plug-in sees is reversed anyway */
        if (from != nullptr) {
            for (auto it = batch.rbegin(); it != batch.rend(); ++it)
                perform(*it);
        } else {
            for (request &r : batch)
                perform(r);
        }
        for (request &r : batch)
            complete(r);
    }
}

/* Perform ----------------------------------------------------------------- */

void data_channel::record_failure()
{
    int error = 0;
    std::string text;
    try {
        throw;
    } catch (const std::system_error &e) {
        error = e.code().value();
        text = e.what();
        /* the error object adds the reason itself */
        std::string reason = ": " + e.code().message();
        if (text.size() > reason.size() &&
            text.compare(text.size() - reason.size(), reason.size(), reason) == 0)
            text.resize(text.size() - reason.size());
    } catch (const std::exception &e) {
        text = e.what();
    } catch (...) {
        text = "unknown failure";
    }
    std::lock_guard<std::mutex> guard(lock);
    if (!failed) {
        failed = true;
        failed_errno = error;
        failed_text = text;
    }
    work.notify_all();
}

void data_channel::perform(request &r)
{
    try {
        if (r.write_done != nullptr)
            perform_write(r);
        else
            perform_read(r);
    } catch (...) {
        record_failure();
    }
}

void data_channel::perform_write(request &r)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (failed || finished || r.length == 0)
            return;
    }
    to->write(r.buffer, r.length, r.offset);
    r.moved = r.length;
    if (written != nullptr)
        written->add(r.length);
}

void data_channel::perform_read(request &r)
{
    bool sequential = from->sequential();
    {
        std::unique_lock<std::mutex> guard(lock);
        auto needless = [&] {
            return failed || finished || r.length == 0 || (end >= 0 && r.offset >= end);
        };
        if (sequential)
            work.wait(guard, [&] { return needless() || turn == r.offset; });
        if (needless())
            return;
    }
    bool at_end = false;
    size_t n = from->read(r.buffer, r.length, r.offset, at_end);
    std::lock_guard<std::mutex> guard(lock);
    r.moved = std::min(n, r.length);
    if (at_end || r.moved < r.length) {
        int64_t here = r.offset + (int64_t)r.moved;
        if (end < 0 || here < end)
            end = here;
    }
    turn = r.offset + (int64_t)r.moved;
    work.notify_all();
}

/* Complete ---------------------------------------------------------------- */

ostrel_result_t data_channel::failure_result(bool hand) const
{
    /* the caller holds the lock */
    ostrel_object_t *cause =
        ostrel_error_get(ostrel_i_gfs_error_system(0, failed_errno, "%s", failed_text.c_str()));
    ostrel_result_t result = ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
        nullptr, cause, 451, nullptr, "%s", "local data channel failure"));
    if (hand)
        handed.push_back(result);
    return result;
}

error_info data_channel::failure() const
{
    std::lock_guard<std::mutex> guard(lock);
    if (!failed)
        return error_info();
    return take_error(failure_result(false));
}

void data_channel::release_results()
{
    std::lock_guard<std::mutex> guard(lock);
    for (ostrel_result_t result : handed)
        ostrel_object_free(ostrel_error_get(result));
    handed.clear();
}

/* Decides what a finished read tells the plug-in; the caller holds the lock.
 * End of data rides on the completion that delivers the last data, or on an
 * empty read when the last data went out before the end was known; empty
 * reads before that point are held back so they cannot claim it early. */
void data_channel::complete_read_locked(request &r, std::vector<request> &released, size_t &nbytes,
                                        bool &eof, bool &hold)
{
    if (r.length > 0)
        forget_piece(unfinished, r.offset);
    bool data = r.moved > 0 && (end < 0 || r.offset < end);
    nbytes = data ? r.moved : 0;
    bool all_delivered = end >= 0 && (unfinished.empty() || *unfinished.begin() >= end);
    if (all_delivered && !eof_reported) {
        eof_reported = true;
        released.swap(held);
    }
    eof = eof_reported;
    hold = !data && !eof;
    if (hold)
        held.push_back(r);
}

void data_channel::complete(request &r)
{
    std::lock_guard<std::mutex> serial(completion);
    std::vector<request> released;
    ostrel_result_t result = OSTREL_SUCCESS;
    size_t nbytes = r.moved;
    bool eof = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (finished) {
            dropped++;
            return;
        }
        if (r.read_done != nullptr) {
            bool hold = false;
            if (failed) {
                if (r.length > 0)
                    forget_piece(unfinished, r.offset);
                released.swap(held);
                nbytes = 0;
                eof = true;
            } else {
                complete_read_locked(r, released, nbytes, eof, hold);
            }
            if (hold)
                return;
        } else if (failed && r.moved < r.length) {
            nbytes = 0;
        }
        if (failed && nbytes == 0)
            result = failure_result(true);
        moved += nbytes;
    }
    if (r.read_done != nullptr)
        r.read_done(op, result, r.buffer, nbytes, r.offset, eof, r.user_arg);
    else
        r.write_done(op, result, r.buffer, nbytes, r.user_arg);
    for (request &later : released) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (finished) {
                dropped++;
                continue;
            }
            result = failed ? failure_result(true) : OSTREL_SUCCESS;
        }
        later.read_done(op, result, later.buffer, 0, later.offset, true, later.user_arg);
    }
}

} // namespace ostrel_host
