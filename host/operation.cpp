/* The calls a plug-in makes to answer an operation: configuration look-ups,
 * partial and final answers, progress, the start and end of a transfer. Any
 * thread may make them. */
#include "host/operation.h"

#include <cstdlib>
#include <cstring>

namespace
{

const char *kind_name(ostrel_host::operation_kind kind)
{
    switch (kind) {
    case ostrel_host::operation_kind::session_start:
        return "session start";
    case ostrel_host::operation_kind::stat:
        return "stat";
    case ostrel_host::operation_kind::command:
        return "command";
    case ostrel_host::operation_kind::transfer:
        return "transfer";
    }
    return "operation";
}

/* A finish call that does not fit its operation is a plug-in fault: report
 * it and keep the host's state as it was. */
bool answer_fits(ostrel_gfs_operation_t op, ostrel_host::operation_kind kind, const char *call)
{
    if (op == nullptr) {
        ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR, "%s called without an operation", call);
        return false;
    }
    if (op->kind != kind) {
        ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR, "%s called for a %s operation (op=%p); ignored",
                               call, kind_name(op->kind), (void *)op);
        return false;
    }
    if (op->done) {
        ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR,
                               "%s called for op=%p after it was finished; ignored", call,
                               (void *)op);
        return false;
    }
    return true;
}

/* The opening every answer shares: the result is taken even when the call
 * does not fit, so its error object never leaks; `apply` runs under the
 * operation's lock only when the call fits. */
template <typename Apply>
void answer(ostrel_gfs_operation_t op, ostrel_result_t result, ostrel_host::operation_kind kind,
            const char *call, Apply &&apply)
{
    ostrel_host::error_info info = ostrel_host::take_error(result);
    if (op == nullptr) {
        answer_fits(op, kind, call);
        return;
    }
    std::lock_guard<std::mutex> guard(op->lock);
    if (!answer_fits(op, kind, call))
        return;
    apply(info);
}

void finish_locked(ostrel_gfs_operation_t op)
{
    op->finisher = ostrel_host::current_plugin_thread_number();
    op->done = true;
    op->done_cond.notify_all();
}

void copy_entries(ostrel_host::stat_result *out, const ostrel_gfs_stat_t *entries, int count)
{
    for (int i = 0; i < count; i++) {
        ostrel_gfs_stat_t copy = entries[i];
        copy.name = entries[i].name ? strdup(entries[i].name) : nullptr;
        copy.symlink_target =
            entries[i].symlink_target ? strdup(entries[i].symlink_target) : nullptr;
        out->entries.push_back(copy);
    }
}

int checked_count(const ostrel_gfs_stat_t *entries, int count, const char *call)
{
    if (count > 0 && entries == nullptr) {
        ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR, "%s: %d entries but no array; none taken", call,
                               count);
        return 0;
    }
    return count < 0 ? 0 : count;
}

} // namespace

void ostrel_host::operation_wait(ostrel_gfs_operation_s *op)
{
    std::unique_lock<std::mutex> guard(op->lock);
    op->done_cond.wait(guard, [op] { return op->done; });
}

void ostrel_gridftp_server_get_config_data(ostrel_gfs_operation_t op, const char *key, char **data)
{
    if (data == nullptr)
        return;
    *data = nullptr;
    if (op == nullptr || op->session == nullptr || key == nullptr ||
        !op->session->options.documents)
        return;
    try {
        std::optional<std::string> text = op->session->options.documents(key);
        if (text)
            *data = strdup(text->c_str());
    } catch (const std::exception &e) {
        ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR, "document \"%s\": %s", key, e.what());
    } catch (...) {
        ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR, "document \"%s\" is not available", key);
    }
}

void ostrel_gridftp_server_finished_session_start(ostrel_gfs_operation_t op, ostrel_result_t result,
                                                  void *session_arg, char *username, char *home_dir)
{
    (void)username;
    (void)home_dir;
    answer(op, result, ostrel_host::operation_kind::session_start, __func__,
           [&](const ostrel_host::error_info &info) {
               op->error = info;
               /* a failed start hands over no session, whatever the pointer says */
               op->session_arg = info.ok ? session_arg : nullptr;
               finish_locked(op);
           });
}

void ostrel_gridftp_server_finished_stat_partial(ostrel_gfs_operation_t op, ostrel_result_t result,
                                                 ostrel_gfs_stat_t *stat_array, int stat_count)
{
    answer(op, result, ostrel_host::operation_kind::stat, __func__,
           [&, call = __func__](const ostrel_host::error_info &info) {
               int count = checked_count(stat_array, stat_count, call);
               /* the final answer may report success; a failed batch must not vanish */
               if (!info.ok && op->error.ok)
                   op->error = info;
               try {
                   copy_entries(op->stat, stat_array, count);
                   op->stat->batches.push_back(count);
                   /* called under the lock, so the waiter cannot return while it runs */
                   if (op->on_partial && count > 0)
                       op->on_partial(stat_array, count);
               } catch (...) {
                   ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR, "stat entries of op=%p lost",
                                          (void *)op);
               }
           });
}

void ostrel_gridftp_server_finished_stat(ostrel_gfs_operation_t op, ostrel_result_t result,
                                         ostrel_gfs_stat_t *stat_array, int stat_count)
{
    answer(op, result, ostrel_host::operation_kind::stat, __func__,
           [&, call = __func__](const ostrel_host::error_info &info) {
               int count = checked_count(stat_array, stat_count, call);
               try {
                   copy_entries(op->stat, stat_array, count);
               } catch (...) {
                   ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR, "out of memory keeping stat entries");
               }
               if (!info.ok)
                   op->error = info;
               finish_locked(op);
           });
}

void ostrel_gridftp_server_finished_command(ostrel_gfs_operation_t op, ostrel_result_t result,
                                            char *command_response)
{
    answer(op, result, ostrel_host::operation_kind::command, __func__,
           [&](const ostrel_host::error_info &info) {
               op->error = info;
               try {
                   op->command->response = command_response ? command_response : "";
               } catch (...) {
                   ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR,
                                          "out of memory keeping a command reply");
               }
               finish_locked(op);
           });
}

void ostrel_gridftp_server_intermediate_command(ostrel_gfs_operation_t op, ostrel_result_t result,
                                                char *command_response)
{
    answer(op, result, ostrel_host::operation_kind::command, __func__,
           [&](const ostrel_host::error_info &info) {
               if (!info.ok) {
                   ostrel_gfs_log_message(OSTREL_GFS_LOG_WARN, "progress reply of op=%p failed: %s",
                                          (void *)op, info.text.c_str());
                   return;
               }
               std::string text = command_response ? command_response : "";
               try {
                   op->command->intermediate.push_back(text);
                   if (op->on_intermediate)
                       op->on_intermediate(text);
               } catch (...) {
                   ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR,
                                          "out of memory keeping a progress reply");
               }
           });
}

ostrel_result_t ostrel_gridftp_server_get_update_interval(ostrel_gfs_operation_t op, int *interval)
{
    if (interval == nullptr)
        return OSTREL_FAILURE;
    *interval = 0;
    if (op != nullptr && op->session != nullptr)
        *interval = op->session->options.update_interval;
    return OSTREL_SUCCESS;
}

void ostrel_gridftp_server_begin_transfer(ostrel_gfs_operation_t op, int event_mask,
                                          void *event_arg)
{
    (void)event_mask;
    (void)event_arg;
    /* nothing to prepare: the streams are up before the plug-in is called */
    answer(op, OSTREL_SUCCESS, ostrel_host::operation_kind::transfer, __func__,
           [](const ostrel_host::error_info &) {});
}

void ostrel_gridftp_server_finished_transfer(ostrel_gfs_operation_t op, ostrel_result_t result)
{
    answer(op, result, ostrel_host::operation_kind::transfer, __func__,
           [&](const ostrel_host::error_info &info) {
               op->error = info;
               /* from here on nothing may call back into the plug-in */
               if (op->channel)
                   op->channel->refuse();
               finish_locked(op);
           });
}
