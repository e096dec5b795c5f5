/* The .part file of a download: its writes come from several streams in any
 * order, and only its gap-free start counts as downloaded. */
#include "tools/cli.h"

#include <cerrno>
#include <system_error>
#include <unistd.h>

namespace ostrel_cli
{

void part_sink::write(const unsigned char *data, size_t length, int64_t offset)
{
    std::shared_lock<std::shared_mutex> writing(gate);
    if (stopped)
        throw std::system_error(EINTR, std::generic_category(), "download stopped");
    int64_t at = offset - base;
    for (size_t done = 0; done < length;) {
        ssize_t n = pwrite(fd, data + done, length - done, (off_t)(at + (int64_t)done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::system_error(errno, std::generic_category(),
                                    "writing " + std::to_string(length) + " bytes at offset " +
                                        std::to_string(at));
        done += (size_t)n;
    }
    record(at, (int64_t)length);
}

int64_t part_sink::contiguous()
{
    std::lock_guard<std::mutex> guard(lock);
    return in_place;
}

bool part_sink::trim()
{
    std::unique_lock<std::shared_mutex> stopping(gate);
    stopped = true;
    std::lock_guard<std::mutex> guard(lock);
    return ftruncate(fd, (off_t)in_place) == 0;
}

void part_sink::record(int64_t at, int64_t length)
{
    std::lock_guard<std::mutex> guard(lock);
    int64_t &end = ahead[at];
    end = std::max(end, at + length);
    for (auto first = ahead.begin(); first != ahead.end() && first->first <= in_place;
         first = ahead.erase(first))
        in_place = std::max(in_place, first->second);
}

} // namespace ostrel_cli
