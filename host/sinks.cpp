/* Where a download's bytes land: a file written at offsets, or a sequential
 * output that must see them in order. */
#include "host/ostrel_host_runtime.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace
{

[[noreturn]] void fail(int error, const std::string &what)
{
    throw std::system_error(error, std::generic_category(), what);
}

std::string at(size_t length, int64_t offset)
{
    return std::to_string(length) + " bytes at offset " + std::to_string(offset);
}

/* write(2) until everything is out; a signal or a short write is no failure. */
void write_all(int fd, const unsigned char *data, size_t length, int64_t offset)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(n < 0 ? errno : EIO, "writing " + at(length, offset));
        done += (size_t)n;
    }
}

} // namespace

namespace ostrel_host
{

void file_sink::write(const unsigned char *data, size_t length, int64_t offset)
{
    if (offset < base)
        fail(EINVAL, "writing " + at(length, offset) + ", before the start " +
                         std::to_string(base) + " of the file");
    size_t done = 0;
    while (done < length) {
        ssize_t n = pwrite(fd, data + done, length - done, (off_t)(offset - base + (int64_t)done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(n < 0 ? errno : EIO, "writing " + at(length, offset));
        done += (size_t)n;
    }
}

struct in_order_sink::state {
    int fd;
    size_t max_held;
    std::mutex lock;
    int64_t next;
    size_t held_bytes = 0;
    std::map<int64_t, std::vector<unsigned char>> held; /* by offset, never overlapping */
};

in_order_sink::in_order_sink(int fd, int64_t start, size_t max_held) : st(new state())
{
    st->fd = fd;
    st->max_held = max_held;
    st->next = start;
}

in_order_sink::~in_order_sink() = default;

int64_t in_order_sink::next_offset() const
{
    std::lock_guard<std::mutex> guard(st->lock);
    return st->next;
}

void in_order_sink::write(const unsigned char *data, size_t length, int64_t offset)
{
    if (length == 0)
        return;
    std::lock_guard<std::mutex> guard(st->lock);
    int64_t end = offset + (int64_t)length;
    if (offset < st->next)
        fail(EINVAL, "data for " + at(length, offset) + " overlaps bytes already written");
    if (offset == st->next) {
        /* writing under the lock keeps the output in order; a slow reader
         * thus slows every stream, as it should */
        write_all(st->fd, data, length, offset);
        st->next = end;
        for (auto it = st->held.begin(); it != st->held.end() && it->first == st->next;
             it = st->held.erase(it)) {
            write_all(st->fd, it->second.data(), it->second.size(), it->first);
            st->next += (int64_t)it->second.size();
            st->held_bytes -= it->second.size();
        }
        return;
    }
    auto after = st->held.lower_bound(offset);
    bool overlaps_after = after != st->held.end() && after->first < end;
    bool overlaps_before =
        after != st->held.begin() &&
        std::prev(after)->first + (int64_t)std::prev(after)->second.size() > offset;
    if (overlaps_after || overlaps_before)
        fail(EINVAL, "data for " + at(length, offset) + " overlaps data received before");
    if (length > st->max_held - st->held_bytes)
        fail(ENOBUFS, "data for " + at(length, offset) + " arrived more than " +
                          std::to_string(st->max_held) + " bytes ahead of offset " +
                          std::to_string(st->next) + " of the output");
    st->held.emplace(offset, std::vector<unsigned char>(data, data + length));
    st->held_bytes += length;
}

void in_order_sink::finish()
{
    std::lock_guard<std::mutex> guard(st->lock);
    if (st->held.empty())
        return;
    int64_t missing = st->held.begin()->first - st->next;
    fail(EIO, "the output stops at offset " + std::to_string(st->next) + ": " +
                  std::to_string(missing) + " bytes never arrived");
}

} // namespace ostrel_host
