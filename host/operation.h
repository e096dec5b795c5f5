/*
 * The host-side record behind an ostrel_gfs_operation_t, shared by the
 * session runtime (which creates and waits on it) and the finish calls (which
 * plug-ins make from any thread).
 */
#ifndef OSTREL_HOST_OPERATION_H
#define OSTREL_HOST_OPERATION_H

#include "host/data_channel.h"
#include "host/ostrel_host_runtime.h"

#include <condition_variable>
#include <list>
#include <mutex>

namespace ostrel_host
{

enum class operation_kind { session_start, stat, command, transfer };

struct session::state {
    session_options options;
    void *session_arg = nullptr;
    bool started = false;
    /* Records of running operations, and of finished ones until no plug-in
     * thread that existed when they finished still runs: a late or repeated
     * finish call from a faulty plug-in, or a worker still unwinding from its
     * finish call, must find a record instead of freed memory. Several
     * threads may run operations of one session at once, hence the lock. */
    mutable std::mutex operations_lock;
    std::vector<std::unique_ptr<ostrel_gfs_operation_s>> running;
    /* with the number the next plug-in thread got when each finished; oldest first */
    std::list<std::pair<uint64_t, std::unique_ptr<ostrel_gfs_operation_s>>> finished;
};

/* Finished records kept however long older plug-in threads run, so that
 * memory stays bounded while a late call still finds a recent record. */
constexpr size_t finished_records_window = 64;

} // namespace ostrel_host

struct ostrel_gfs_operation_s {
    ostrel_host::session::state *session = nullptr;
    ostrel_host::operation_kind kind;

    std::mutex lock;
    std::condition_variable done_cond;
    bool done = false;
    uint64_t finisher = 0; /* the plug-in thread that finished it, 0: a host thread */

    /* the answers, written by the finish calls */
    ostrel_host::error_info error;
    void *session_arg = nullptr;
    ostrel_host::stat_result *stat = nullptr;
    std::function<void(const ostrel_gfs_stat_t *, int)> on_partial;
    ostrel_host::command_result *command = nullptr;
    std::function<void(const std::string &)> on_intermediate;

    /* arguments the plug-in may keep pointers to until it finishes */
    std::string path;
    std::string cksm_alg;
    std::string rnfr_path;
    std::string from_path;
    ostrel_gfs_session_info_t session_info{};
    ostrel_gfs_stat_info_t stat_info{};
    ostrel_gfs_command_info_t command_info{};

    /* transfers */
    ostrel_gfs_transfer_info_t transfer_info{};
    std::vector<ostrel_host::byte_range> ranges; /* what get_read_range hands out */
    size_t next_range = 0;
    std::optional<time_t> modification_time;
    bool modification_time_asked = false;
    std::unique_ptr<ostrel_host::progress_meter> progress;
    std::unique_ptr<ostrel_host::data_channel> channel;

    explicit ostrel_gfs_operation_s(ostrel_host::operation_kind k) : kind(k) {}
};

namespace ostrel_host
{
/* Blocks until the operation's finish call has been made. */
void operation_wait(ostrel_gfs_operation_s *op);

/* A new record among the session's running operations. */
ostrel_gfs_operation_s *operation_create(session::state *st, operation_kind kind);
/* The caller is done with a finished record: it is freed once no plug-in
 * thread that may still hold it runs. */
void operation_retire(session::state *st, ostrel_gfs_operation_s *op);

/* Plug-in threads are numbered as they start. Each has an epoch: its own
 * number, or its creator's epoch when a plug-in thread starts it (it may
 * have been handed what its creator held). */
struct plugin_threads_view {
    uint64_t next = 0;                  /* the number the next thread gets */
    uint64_t oldest_epoch = UINT64_MAX; /* the smallest epoch still running */
    std::vector<uint64_t> running;      /* numbers of the threads running, ascending */
};
plugin_threads_view plugin_threads_now();
/* The calling thread's number if it is a plug-in thread, else 0. */
uint64_t current_plugin_thread_number();

/* A failure the host itself reports. */
error_info host_failure(const std::string &text);
/* A C string the plug-in may read until it finishes: NULL stays NULL. */
char *kept(std::string *store, const char *text);
} // namespace ostrel_host

#endif
