/* Downloads and uploads of a session: each hands one transfer to the
 * plug-in's send or recv slot over a fresh data channel and waits for its
 * finish call. */
#include "host/operation.h"

#include <utility>

namespace ostrel_host
{

namespace
{

/* Why a transfer cannot start, or "" when it can. */
std::string transfer_refusal(const session::state *st, ostrel_gfs_transfer_func_t slot,
                             bool has_endpoint)
{
    const session_options &o = st->options;
    if (!st->started)
        return "session not started";
    if (slot == nullptr)
        return "operation not supported by the storage interface";
    if (!has_endpoint)
        return "transfer without a sink or source";
    if (o.streams < 1 || o.streams > max_streams)
        return "streams must be 1 to " + std::to_string(max_streams) + ", not " +
               std::to_string(o.streams);
    if (o.block_size < 1 || o.block_size > max_block_size)
        return "block size must be 1 to " + std::to_string(max_block_size) + " bytes, not " +
               std::to_string(o.block_size);
    return "";
}

std::string range_refusal(const std::vector<byte_range> &ranges)
{
    for (const byte_range &r : ranges) {
        if (r.offset < 0 || r.length == 0 || r.length < -1)
            return "invalid range: offset " + std::to_string(r.offset) + ", length " +
                   std::to_string(r.length) + " (offset 0 or more, length above 0 or -1)";
    }
    return "";
}

/* The failure of the sink or source is the root cause and comes first;
 * the plug-in's own report follows unless it already carries it. */
error_info transfer_outcome(const error_info &plugin, const error_info &channel)
{
    if (channel.ok)
        return plugin;
    if (plugin.ok)
        return channel;
    size_t cause = channel.text.find('\n');
    std::string cause_line =
        cause == std::string::npos ? channel.text : channel.text.substr(cause + 1);
    if (plugin.text.find(cause_line) != std::string::npos)
        return plugin;
    error_info both = channel;
    both.text += "\n" + plugin.text;
    return both;
}

/* Everything a send and a recv share; `prepare` fills what differs in the
 * record before the plug-in sees it. */
template <typename Prepare>
transfer_result run_transfer(session::state *st, ostrel_gfs_transfer_func_t slot,
                             const std::string &path, sink *to, source *from,
                             const progress_callback &on_progress, Prepare &&prepare)
{
    transfer_result result;
    std::string refusal = transfer_refusal(st, slot, to != nullptr || from != nullptr);
    if (!refusal.empty()) {
        result.error = host_failure(refusal);
        return result;
    }
    ostrel_gfs_operation_s *op = operation_create(st, operation_kind::transfer);
    try {
        op->progress = std::make_unique<progress_meter>(on_progress);
        op->channel = std::make_unique<data_channel>(op, st->options, to, from, op->progress.get());
    } catch (const std::exception &e) {
        result.error = host_failure(std::string("cannot open the data channel: ") + e.what());
        operation_retire(st, op);
        return result;
    }
    ostrel_gfs_transfer_info_t &info = op->transfer_info;
    info.pathname = kept(&op->path, path.c_str());
    info.partial_offset = 0;
    info.partial_length = -1;
    info.nstreams = st->options.streams;
    info.node_ndx = 0;
    info.node_count = 1;
    prepare(op);

    slot(op, &op->transfer_info, st->session_arg);
    operation_wait(op);
    error_info plugin;
    {
        std::lock_guard<std::mutex> guard(op->lock);
        plugin = op->error;
        if (op->modification_time_asked)
            result.modification_time = op->modification_time;
    }
    op->channel->close(plugin.ok);
    result.error = transfer_outcome(plugin, op->channel->failure());
    result.bytes = op->channel->bytes();
    op->channel->release_results();
    operation_retire(st, op);
    return result;
}

} // namespace

transfer_result session::send(const send_request &request)
{
    std::string refusal = range_refusal(request.ranges);
    if (!refusal.empty()) {
        transfer_result result;
        result.error = host_failure(refusal);
        return result;
    }
    return run_transfer(st.get(), dsi->send_func, request.path, request.to, nullptr,
                        request.on_progress, [&](ostrel_gfs_operation_s *op) {
                            op->ranges = request.ranges;
                            if (op->ranges.empty())
                                op->ranges.push_back(byte_range());
                            if (op->ranges.size() == 1) {
                                op->transfer_info.partial_offset = op->ranges[0].offset;
                                op->transfer_info.partial_length = op->ranges[0].length;
                            }
                            op->transfer_info.truncate = false;
                            op->transfer_info.alloc_size = 0;
                        });
}

transfer_result session::recv(const recv_request &request)
{
    return run_transfer(st.get(), dsi->recv_func, request.path, nullptr, request.from,
                        request.on_progress, [&](ostrel_gfs_operation_s *op) {
                            op->modification_time = request.modification_time;
                            op->transfer_info.truncate = true;
                            op->transfer_info.alloc_size = request.from->announced_size();
                        });
}

} // namespace ostrel_host
