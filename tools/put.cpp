/* put: a local file, or standard input of a size given, into a blob. */
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

struct fd_closer {
    int fd;
    ~fd_closer()
    {
        if (fd >= 0)
            close(fd);
    }
};

int fail(const std::string &what, const std::string &message)
{
    fprintf(stderr, "%s: put %s: %s\n", program_name, what.c_str(), message.c_str());
    return 1;
}

/* REMOTE, or LOCAL's name under it when it ends in "/". */
std::string remote_target(const std::string &remote, const std::string &local)
{
    if (remote.back() != '/')
        return remote;
    size_t end = local.find_last_not_of('/');
    size_t start = end == std::string::npos ? std::string::npos : local.rfind('/', end);
    std::string name = end == std::string::npos ? local : local.substr(start + 1, end - start);
    return remote + name;
}

bool same_file_state(const struct stat &before, const struct stat &after)
{
    return before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
           before.st_mtim.tv_nsec == after.st_mtim.tv_nsec;
}

int upload(const request &req, ostrel_host::session &session, ostrel_host::source &data,
           std::optional<time_t> mtime)
{
    ostrel_host::recv_request recv;
    recv.path = req.path;
    recv.from = &data;
    recv.modification_time = mtime;
    progress_display progress(req, "put " + escape_name(req.path), data.announced_size());
    recv.on_progress = [&progress](uint64_t done) { progress.update(done); };
    ostrel_host::transfer_result result = session.recv(recv);
    progress.stop();
    if (!result.error.ok) {
        print_failure(req, result.error);
        return 1;
    }
    if ((int64_t)result.bytes != data.announced_size())
        return fail(escape_name(req.path), "the storage interface took " +
                                               std::to_string(result.bytes) + " of the " +
                                               std::to_string(data.announced_size()) + " bytes");
    progress.finish(true, result.bytes);
    return 0;
}

std::optional<time_t> chosen_mtime(const request &req, std::optional<time_t> file_time)
{
    if (req.no_mtime)
        return std::nullopt;
    if (req.mtime)
        return (time_t)*req.mtime;
    return file_time;
}

int put_stdin(const request &req, ostrel_host::session &session)
{
    ostrel_host::stream_source input(STDIN_FILENO, *req.size);
    exact_source exact(input, "standard input");
    return upload(req, session, exact, chosen_mtime(req, std::nullopt));
}

int put_file(const request &req, ostrel_host::session &session)
{
    std::string shown = escape_name(req.local);
    fd_closer file{open(req.local.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0)
        return fail(shown, std::string("cannot read it: ") + strerror(errno));
    struct stat before;
    if (fstat(file.fd, &before) != 0)
        return fail(shown, std::string("cannot read it: ") + strerror(errno));
    if (S_ISDIR(before.st_mode))
        return fail(shown, "is a directory; put uploads one file");
    if (!S_ISREG(before.st_mode))
        return fail(shown, "is not a regular file; for a pipe use put - with --size");
    ostrel_host::file_source input(file.fd);
    exact_source exact(input, shown);
    int status = upload(req, session, exact, chosen_mtime(req, before.st_mtim.tv_sec));
    struct stat after;
    if (status == 0 && (fstat(file.fd, &after) != 0 || !same_file_state(before, after)))
        return fail(shown, "changed while it was read; the blob " + escape_name(req.path) +
                               " may not match it: put it again");
    return status;
}

} // namespace

size_t exact_source::read(unsigned char *buffer, size_t length, int64_t offset, bool &at_end)
{
    size_t got = inner.read(buffer, length, offset, at_end);
    int64_t end = offset + (int64_t)got;
    /* the sources know the end with the last data: they look one byte ahead.
     * Streams may read past the end before the read that finds it: an empty
     * read there says nothing. */
    if (got > 0 && (end > size || (end == size && !at_end)))
        throw std::system_error(EFBIG, std::generic_category(),
                                name + " holds more than the " + std::to_string(size) +
                                    " bytes announced");
    if (at_end && end < size)
        throw std::system_error(ENODATA, std::generic_category(),
                                name + " ended after " + std::to_string(end) + " of the " +
                                    std::to_string(size) + " bytes announced");
    return got;
}

void check_put(const request &req)
{
    if (req.local == "-" && !req.size)
        throw usage_error("put - needs --size: standard input of unknown length is refused");
    if (req.local != "-" && req.size)
        throw usage_error("put --size is for standard input (-) only");
    if (req.local == "-" && req.path.back() == '/')
        throw usage_error("put - needs a blob name, not a directory");
    if (req.no_mtime && req.mtime)
        throw usage_error("put --mtime and --no-mtime exclude each other");
}

int run_put(const request &req, ostrel_host::session &session, documents &)
{
    request named = req;
    named.path = remote_target(req.path, req.local);
    return named.local == "-" ? put_stdin(named, session) : put_file(named, session);
}

} // namespace ostrel_cli
