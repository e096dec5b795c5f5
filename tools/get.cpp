/* get: a blob or a range of it into a local file or standard output. A file
 * is written as NAME.part and renamed only when every byte is in place, so
 * nothing that looks complete is ever a cut download. */
#include "tools/cli.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace ostrel_cli
{

namespace
{

/* The last component of a storage path. */
std::string base_name(const std::string &path)
{
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return "";
    size_t start = path.rfind('/', end);
    return path.substr(start + 1, end - start);
}

/* LOCAL, or the blob's name inside it when it is a directory. */
std::string local_target(const std::string &local, const std::string &remote)
{
    struct stat info;
    bool directory =
        local.back() == '/' || (stat(local.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
    if (!directory)
        return local;
    return local + (local.back() == '/' ? "" : "/") + base_name(remote);
}

int fail(const request &req, const std::string &message)
{
    fprintf(stderr, "%s: get %s: %s\n", program_name, escape_name(req.path).c_str(),
            message.c_str());
    return 1;
}

std::string system_text(const std::string &what)
{
    return what + ": " + strerror(errno);
}

/* The blob's size and time; a directory or a failed stat is reported. */
bool remote_entry(const request &req, ostrel_host::session &session, ostrel_gfs_stat_t &entry)
{
    ostrel_host::stat_result result = session.stat(req.path, true);
    if (!result.error.ok) {
        print_failure(req, result.error);
        return false;
    }
    if (result.entries.empty()) {
        fail(req, "the storage interface described nothing");
        return false;
    }
    entry = result.entries[0];
    entry.name = nullptr;
    entry.symlink_target = nullptr;
    if ((entry.mode & S_IFMT) == S_IFDIR) {
        fail(req, "is a directory");
        return false;
    }
    return true;
}

/* Runs the download of [start, start + length) into to; length 0 needs no
 * transfer at all (an empty blob, or a resume at its very end). */
ostrel_host::transfer_result download(const request &req, ostrel_host::session &session,
                                      ostrel_host::sink &to, int64_t start, int64_t length,
                                      progress_display &progress, uint64_t already)
{
    ostrel_host::transfer_result result;
    if (length == 0)
        return result;
    ostrel_host::send_request send;
    send.path = req.path;
    send.ranges = {{start, length}};
    send.to = &to;
    send.on_progress = [&progress, already](uint64_t done) { progress.update(already + done); };
    return session.send(send);
}

int get_to_stdout(const request &req, ostrel_host::session &session, int64_t start, int64_t length)
{
    /* what earlier batch lines printed must come first */
    fflush(stdout);
    ostrel_host::in_order_sink out(STDOUT_FILENO, start);
    progress_display progress(req, "get " + escape_name(req.path), length);
    ostrel_host::transfer_result result = download(req, session, out, start, length, progress, 0);
    progress.finish(result.error.ok, result.bytes);
    if (!result.error.ok) {
        print_failure(req, result.error);
        return 1;
    }
    if ((int64_t)result.bytes != length)
        return fail(req, "received " + std::to_string(result.bytes) + " of " +
                             std::to_string(length) + " bytes");
    return 0;
}

/* Keeps the .part cut back to its whole bytes, and says so. */
int keep_part(const request &req, part_sink &sink, const std::string &part)
{
    if (!sink.trim()) {
        fprintf(stderr, "%s: %s could not be cut back to its complete bytes; remove it\n",
                program_name, escape_name(part).c_str());
        return 1;
    }
    if (!req.quiet)
        fprintf(stderr, "%s: %s keeps the first %lld bytes; get --continue resumes\n", program_name,
                escape_name(part).c_str(), (long long)sink.contiguous());
    return 1;
}

/* Makes the finished .part durable, timed and named LOCAL. */
int complete_part(const request &req, int fd, const std::string &part, const std::string &target,
                  int64_t mtime)
{
    if (fsync(fd) != 0)
        return fail(req, system_text("cannot write " + escape_name(part)));
    if (mtime >= 0) {
        struct timespec times[2] = {{0, UTIME_NOW}, {(time_t)mtime, 0}};
        if (futimens(fd, times) != 0)
            fprintf(stderr, "%s: %s\n", program_name,
                    system_text("cannot set the time of " + escape_name(part)).c_str());
    }
    if (rename(part.c_str(), target.c_str()) != 0)
        return fail(
            req, system_text("cannot rename " + escape_name(part) + " to " + escape_name(target)));
    return 0;
}

int get_to_file(const request &req, ostrel_host::session &session, const ostrel_gfs_stat_t &blob,
                int64_t start, int64_t length)
{
    std::string target = local_target(req.local, req.path);
    std::string part = target + ".part";
    fd_guard file{open(part.c_str(),
                       O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (req.resume ? 0 : O_TRUNC),
                       0666)};
    if (file.fd < 0)
        return fail(req, system_text("cannot write " + escape_name(part)));
    struct stat info;
    if (fstat(file.fd, &info) != 0)
        return fail(req, system_text("cannot write " + escape_name(part)));
    if (!S_ISREG(info.st_mode))
        return fail(req, escape_name(part) + " is not a regular file");
    int64_t present = req.resume ? (int64_t)info.st_size : 0;
    if (present > length)
        return fail(req, escape_name(part) + " holds " + std::to_string(present) +
                             " bytes, more than the " + std::to_string(length) +
                             " to download; remove it or start without --continue");

    part_sink sink(file.fd, start, present);
    progress_display progress(req, "get " + escape_name(req.path), length);
    progress.update((uint64_t)present);
    interrupt_set_stop_action([&sink] { sink.trim(); });
    ostrel_host::transfer_result result = download(req, session, sink, start + present,
                                                   length - present, progress, (uint64_t)present);
    interrupt_set_stop_action(nullptr);
    progress.stop();
    if (!result.error.ok) {
        print_failure(req, result.error);
        return keep_part(req, sink, part);
    }
    if (sink.contiguous() != length) {
        fail(req, "the storage interface delivered " + std::to_string(sink.contiguous() - present) +
                      " of the " + std::to_string(length - present) + " bytes asked for");
        return keep_part(req, sink, part);
    }
    bool whole_blob = start == 0 && start + length == blob.size;
    if (complete_part(req, file.fd, part, target, whole_blob ? blob.mtime : -1) != 0)
        return 1;
    if (close(file.fd) != 0) {
        file.fd = -1;
        return fail(req, system_text("cannot write " + escape_name(target)));
    }
    file.fd = -1;
    progress.finish(true, result.bytes);
    return 0;
}

} // namespace

void check_get(const request &req)
{
    if (req.resume && req.local == "-")
        throw usage_error("get --continue needs a LOCAL file, not standard output");
    if (req.length > 0 && req.offset > INT64_MAX - req.length)
        throw usage_error("get --offset plus --length is beyond the largest file offset");
    if (req.local.empty())
        throw usage_error("get needs a LOCAL file name or -");
}

int run_get(const request &req, ostrel_host::session &session, documents &)
{
    ostrel_gfs_stat_t blob;
    if (!remote_entry(req, session, blob))
        return 1;
    if (req.offset > blob.size)
        return fail(req, "--offset " + std::to_string(req.offset) + " is beyond the end (" +
                             std::to_string(blob.size) + " bytes)");
    int64_t end =
        req.length < 0 ? blob.size : std::min<int64_t>(blob.size, req.offset + req.length);
    if (req.local == "-")
        return get_to_stdout(req, session, req.offset, end - req.offset);
    return get_to_file(req, session, blob, req.offset, end - req.offset);
}

} // namespace ostrel_cli
