/* The progress line of a transfer and its closing summary. */
#include "tools/cli.h"

#include <unistd.h>

namespace ostrel_cli
{

namespace
{

std::string bytes_text(uint64_t bytes)
{
    static const char *const units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = (double)bytes / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024;
        unit++;
    }
    char text[32];
    snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string duration_text(uint64_t seconds)
{
    char text[32];
    if (seconds >= 3600)
        snprintf(text, sizeof text, "%llu:%02u:%02u", (unsigned long long)(seconds / 3600),
                 (unsigned)(seconds / 60 % 60), (unsigned)(seconds % 60));
    else
        snprintf(text, sizeof text, "%u:%02u", (unsigned)(seconds / 60), (unsigned)(seconds % 60));
    return text;
}

double megabytes_per_second(uint64_t bytes, double seconds)
{
    return seconds > 0 ? (double)bytes / seconds / 1e6 : 0;
}

} // namespace

std::string progress_text(uint64_t done, int64_t total, double seconds)
{
    std::string text = bytes_text(done);
    if (total >= 0)
        text += " / " + bytes_text((uint64_t)total);
    double rate = megabytes_per_second(done, seconds);
    char rate_text[32];
    snprintf(rate_text, sizeof rate_text, "  %.1f MB/s", rate);
    text += rate_text;
    if (total >= 0 && rate > 0 && done <= (uint64_t)total)
        text += "  " + duration_text((uint64_t)((double)((uint64_t)total - done) / (rate * 1e6))) +
                " left";
    return text;
}

std::string summary_text(uint64_t bytes, double seconds)
{
    char text[96];
    snprintf(text, sizeof text, "%llu bytes in %.2f s, %.2f MB/s", (unsigned long long)bytes,
             seconds, megabytes_per_second(bytes, seconds));
    return text;
}

progress_display::progress_display(const request &req, std::string label, int64_t total)
    : label(std::move(label)), total(total), verbose(req.verbose),
      started(std::chrono::steady_clock::now())
{
    if (!req.quiet && isatty(STDERR_FILENO))
        painter = std::thread([this] { run(); });
}

progress_display::~progress_display()
{
    stop();
}

void progress_display::run()
{
    std::unique_lock<std::mutex> guard(lock);
    while (!wake.wait_for(guard, std::chrono::milliseconds(500), [this] { return stopping; }))
        draw(false);
}

void progress_display::draw(bool last)
{
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    /* erase to the end of the line: the new text may be shorter */
    fprintf(stderr, "\r%s: %s\x1b[K%s", label.c_str(),
            progress_text(bytes_done.load(std::memory_order_relaxed), total, seconds).c_str(),
            last ? "\n" : "");
    fflush(stderr);
    shown = true;
}

void progress_display::stop()
{
    if (!ended) {
        ended = true;
        ended_at = std::chrono::steady_clock::now();
    }
    if (painter.joinable()) {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        wake.notify_all();
        painter.join();
        if (shown)
            draw(true);
    }
}

void progress_display::finish(bool ok, uint64_t bytes)
{
    stop();
    if (ok && verbose) {
        double seconds = std::chrono::duration<double>(ended_at - started).count();
        fprintf(stderr, "%s: %s\n", label.c_str(), summary_text(bytes, seconds).c_str());
    }
}

} // namespace ostrel_cli
