/* Client sessions: each call hands one operation to the plug-in's table and
 * waits for its finish call. */
#include "host/operation.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace
{

const char *const unsupported = "operation not supported by the storage interface";

} // namespace

namespace ostrel_host
{

stat_result::~stat_result()
{
    for (ostrel_gfs_stat_t &entry : entries) {
        free(entry.name);
        free(entry.symlink_target);
    }
}

stat_result::stat_result(stat_result &&other) noexcept
    : error(std::move(other.error)), entries(std::move(other.entries)),
      batches(std::move(other.batches))
{
    other.entries.clear();
}

session::session(const ostrel_gfs_storage_iface_t *dsi, session_options options)
    : dsi(dsi), st(new state())
{
    st->options = std::move(options);
}

session::~session()
{
    end();
}

error_info host_failure(const std::string &text)
{
    error_info info;
    info.ok = false;
    info.text = text;
    return info;
}

char *kept(std::string *store, const char *text)
{
    if (text == nullptr)
        return nullptr;
    *store = text;
    return &(*store)[0];
}

ostrel_gfs_operation_s *operation_create(session::state *st, operation_kind kind)
{
    auto record = std::make_unique<ostrel_gfs_operation_s>(kind);
    ostrel_gfs_operation_s *op = record.get();
    op->session = st;
    std::lock_guard<std::mutex> guard(st->operations_lock);
    st->running.push_back(std::move(record));
    return op;
}

/* A finished record may go once the plug-in thread that finished it has
 * ended, and every plug-in thread that ran when it finished has ended too
 * or newer records fill the window. */
static bool may_free(const plugin_threads_view &threads, uint64_t threads_at_finish,
                     const ostrel_gfs_operation_s *op, bool in_window)
{
    if (op->finisher != 0 &&
        std::binary_search(threads.running.begin(), threads.running.end(), op->finisher))
        return false;
    return threads.oldest_epoch >= threads_at_finish || !in_window;
}

void operation_retire(session::state *st, ostrel_gfs_operation_s *op)
{
    plugin_threads_view threads = plugin_threads_now();
    std::lock_guard<std::mutex> guard(st->operations_lock);
    for (auto it = st->running.begin(); it != st->running.end(); ++it) {
        if (it->get() == op) {
            st->finished.emplace_back(threads.next, std::move(*it));
            st->running.erase(it);
            break;
        }
    }
    size_t newer = st->finished.size();
    for (auto it = st->finished.begin(); it != st->finished.end();) {
        newer--;
        if (may_free(threads, it->first, it->second.get(), newer < finished_records_window))
            it = st->finished.erase(it);
        else
            ++it;
    }
}

size_t session::kept_operations() const
{
    std::lock_guard<std::mutex> guard(st->operations_lock);
    return st->running.size() + st->finished.size();
}

error_info session::start(const std::string &username)
{
    if (st->started)
        return host_failure("session already started");
    if (dsi == nullptr || dsi->init_func == nullptr)
        return host_failure(unsupported);
    ostrel_gfs_operation_s *op = operation_create(st.get(), operation_kind::session_start);
    op->session_info.username = kept(&op->path, username.c_str());
    op->session_info.host_id = kept(&op->from_path, "localhost");
    dsi->init_func(op, &op->session_info);
    operation_wait(op);
    error_info result;
    {
        std::lock_guard<std::mutex> guard(op->lock);
        if (op->error.ok) {
            st->session_arg = op->session_arg;
            st->started = true;
        }
        result = op->error;
    }
    operation_retire(st.get(), op);
    return result;
}

void session::end()
{
    if (!st || !st->started)
        return;
    st->started = false;
    if (dsi->destroy_func != nullptr)
        dsi->destroy_func(st->session_arg);
    st->session_arg = nullptr;
}

/* Hands one operation to the plug-in and waits for its finish call;
 * `hand_over` points the record at `result`, fills its arguments and makes the
 * table call. The record outlives `result`, so it lets go of it afterwards. */
template <typename Result, typename HandOver>
static Result run_operation(session::state *st, bool supported, operation_kind kind,
                            HandOver &&hand_over)
{
    Result result;
    if (!st->started) {
        result.error = host_failure("session not started");
        return result;
    }
    if (!supported) {
        result.error = host_failure(unsupported);
        return result;
    }
    ostrel_gfs_operation_s *op = operation_create(st, kind);
    hand_over(op, &result);
    operation_wait(op);
    {
        std::lock_guard<std::mutex> guard(op->lock);
        result.error = op->error;
        op->stat = nullptr;
        op->on_partial = nullptr;
        op->command = nullptr;
        op->on_intermediate = nullptr;
    }
    operation_retire(st, op);
    return result;
}

stat_result session::stat(const std::string &path, bool file_only,
                          const std::function<void(const ostrel_gfs_stat_t *, int)> &on_partial)
{
    return run_operation<stat_result>(st.get(), dsi->stat_func != nullptr, operation_kind::stat,
                                      [&](ostrel_gfs_operation_s *op, stat_result *result) {
                                          op->stat = result;
                                          op->on_partial = on_partial;
                                          op->stat_info.file_only = file_only ? 1 : 0;
                                          op->stat_info.pathname = kept(&op->path, path.c_str());
                                          dsi->stat_func(op, &op->stat_info, st->session_arg);
                                      });
}

command_result session::command(const ostrel_gfs_command_info_t &command_info,
                                const std::function<void(const std::string &)> &on_intermediate)
{
    return run_operation<command_result>(
        st.get(), dsi->command_func != nullptr, operation_kind::command,
        [&](ostrel_gfs_operation_s *op, command_result *result) {
            op->command = result;
            op->on_intermediate = on_intermediate;
            op->command_info = command_info;
            op->command_info.pathname = kept(&op->path, command_info.pathname);
            op->command_info.cksm_alg = kept(&op->cksm_alg, command_info.cksm_alg);
            op->command_info.rnfr_pathname = kept(&op->rnfr_path, command_info.rnfr_pathname);
            op->command_info.from_pathname = kept(&op->from_path, command_info.from_pathname);
            dsi->command_func(op, &op->command_info, st->session_arg);
        });
}

} // namespace ostrel_host
