/* Where an upload's bytes come from: a regular file read at block offsets, or
 * a pipe read in order. */
#include "host/ostrel_host_runtime.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace
{

[[noreturn]] void fail(int error, size_t length, int64_t offset)
{
    throw std::system_error(error, std::generic_category(),
                            "reading " + std::to_string(length) + " bytes at offset " +
                                std::to_string(offset));
}

/* Reads until length bytes or the end; `once` is one read(2) or pread(2). */
template <typename ReadOnce>
size_t read_full(unsigned char *buffer, size_t length, int64_t offset, ReadOnce &&once)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = once(buffer + done, length - done, offset + (int64_t)done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno, length, offset);
        if (n == 0)
            break;
        done += (size_t)n;
    }
    return done;
}

} // namespace

namespace ostrel_host
{

file_source::file_source(int fd) : fd(fd)
{
    struct stat info;
    if (fstat(fd, &info) != 0)
        throw std::system_error(errno, std::generic_category(), "fstat");
    if (!S_ISREG(info.st_mode))
        throw std::system_error(EINVAL, std::generic_category(),
                                "an upload source read at offsets must be a regular file");
    size = (int64_t)info.st_size;
}

size_t file_source::read(unsigned char *buffer, size_t length, int64_t offset, bool &at_end)
{
    auto once = [this](unsigned char *to, size_t n, int64_t at) {
        return pread(fd, to, n, (off_t)at);
    };
    size_t done = read_full(buffer, length, offset, once);
    int64_t end = offset + (int64_t)done;
    at_end = done < length;
    /* the size seen at the start only says where to look: the file may have grown */
    if (!at_end && end >= size) {
        unsigned char probe;
        at_end = read_full(&probe, 1, end, once) == 0;
    }
    return done;
}

size_t stream_source::read(unsigned char *buffer, size_t length, int64_t offset, bool &at_end)
{
    if (offset != position)
        throw std::system_error(EINVAL, std::generic_category(),
                                "stream read at offset " + std::to_string(offset) +
                                    " while the input is at " + std::to_string(position));
    auto once = [this](unsigned char *to, size_t n, int64_t) { return ::read(fd, to, n); };
    size_t done = 0;
    if (length > 0 && lookahead >= 0) {
        buffer[0] = (unsigned char)lookahead;
        lookahead = -1;
        done = 1;
    }
    done += read_full(buffer + done, length - done, offset + (int64_t)done, once);
    position += (int64_t)done;
    at_end = done < length;
    if (!at_end) {
        unsigned char next;
        if (read_full(&next, 1, position, once) == 1)
            lookahead = next;
        else
            at_end = true;
    }
    return done;
}

} // namespace ostrel_host
