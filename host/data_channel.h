/*
 * One transfer's data channel: the stream threads that carry out the reads
 * and writes a plug-in registers, and call it back when each is done.
 * Internal to the host; the rules are in host/README.md.
 */
#ifndef OSTREL_HOST_DATA_CHANNEL_H
#define OSTREL_HOST_DATA_CHANNEL_H

#include "host/ostrel_host_runtime.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace ostrel_host
{

/* Bytes done so far, reported from any thread and always increasing. */
class progress_meter
{
  public:
    explicit progress_meter(progress_callback callback) : callback(std::move(callback)) {}
    void add(uint64_t bytes);

  private:
    std::mutex lock;
    progress_callback callback;
    uint64_t done = 0;
};

class data_channel
{
  public:
    /* A download channel has `to`, an upload channel `from`. The streams
     * start at once; throws std::system_error when they cannot. */
    data_channel(ostrel_gfs_operation_t op, const session_options &settings, sink *to, source *from,
                 progress_meter *written);
    ~data_channel();

    /* Queue a request; 0, or an error result when it is refused. Never
     * calls back before returning, so the plug-in may hold its own lock. */
    ostrel_result_t register_write(unsigned char *buffer, size_t length, int64_t offset,
                                   ostrel_gfs_write_cb_t callback, void *user_arg);
    ostrel_result_t register_read(unsigned char *buffer, size_t length,
                                  ostrel_gfs_read_cb_t callback, void *user_arg);

    /* The plug-in has finished: later registrations fail and no callback
     * reaches it any more. Safe to call with the operation's lock held. */
    void refuse();
    /* refuse(), then wait for the streams to end. Requests still queued are
     * dropped and logged as a plug-in fault. With check_sink, the sink's
     * finish() runs last and its failure becomes the channel's. */
    void close(bool check_sink);

    uint64_t bytes() const; /* bytes written to the sink or delivered to the plug-in */
    /* The first failure of the sink or source (ok when none). */
    error_info failure() const;
    /* Error results handed to the plug-in that it never passed on. */
    void release_results();

    data_channel(const data_channel &) = delete;
    data_channel &operator=(const data_channel &) = delete;

  private:
    struct request;

    void run_stream(size_t index);
    void run_reversed();
    bool batch_ready(std::chrono::steady_clock::time_point &wake) const;
    void pause(unsigned seed_state);
    void perform(request &r);
    void perform_write(request &r);
    void perform_read(request &r);
    void complete(request &r);
    void complete_read_locked(request &r, std::vector<request> &released, size_t &nbytes, bool &eof,
                              bool &hold);
    void record_failure();
    ostrel_result_t failure_result(bool handed) const;
    ostrel_result_t admit(const char *call, bool right_direction, bool valid) const;
    ostrel_result_t enqueue(request r, size_t stream);

    ostrel_gfs_operation_t op;
    size_t streams;
    size_t block_size;
    stream_order order;
    unsigned jitter_us;
    sink *to;
    source *from;
    progress_meter *written;

    mutable std::mutex lock;
    std::condition_variable work;
    std::vector<std::deque<request>> queues; /* one per stream; reverse mode uses the first */
    uint64_t writes_registered = 0;
    std::chrono::steady_clock::time_point last_registration;
    bool finished = false;

    /* reads: the source is cut into pieces as reads are registered */
    int64_t cursor = 0;                /* where the next piece starts */
    int64_t end = -1;                  /* where the source ends, once known */
    int64_t turn = 0;                  /* sequential source: the next piece to read */
    std::multiset<int64_t> unfinished; /* pieces handed out and not completed */
    bool eof_reported = false;
    std::vector<request> held; /* empty reads waiting until the data is all delivered */

    bool failed = false;
    int failed_errno = 0;
    std::string failed_text;
    mutable std::vector<ostrel_result_t> handed;
    uint64_t moved = 0;
    size_t dropped = 0;

    std::mutex completion; /* one callback at a time, so eof really comes last */
    std::vector<std::thread> threads;
};

} // namespace ostrel_host

#endif
