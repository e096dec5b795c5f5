#include "blob_service/retry.h"

#include <algorithm>
#include <random>

#include "blob_service/encoding.h"

namespace azure::blob_service
{

namespace
{

// Far above any sane wait, far below overflow of milliseconds in 64 bits.
constexpr int64_t saturated_ms = int64_t{1} << 40;

// Decimal digits with optional surrounding blanks, saturated; -1 for anything else.
int64_t parse_count(const std::string &text)
{
    size_t first = text.find_first_not_of(" \t");
    size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) {
        return -1;
    }
    int64_t value = 0;
    for (size_t i = first; i <= last; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        value = std::min(saturated_ms, value * 10 + (text[i] - '0'));
    }
    return value;
}

double next_jitter()
{
    // Per thread, so that workers of one client neither share nor lock a generator.
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

} // namespace

std::chrono::milliseconds backoff_delay(const retry_settings &settings, int repeat, double jitter,
                                        std::chrono::milliseconds server_delay)
{
    int64_t cap = settings.max_delay.count();
    int64_t step = std::min(settings.first_delay.count(), cap);
    for (int i = 1; i < repeat && step < cap; ++i) {
        step = std::min(step * 2, cap);
    }
    jitter = std::clamp(jitter, 0.0, 1.0);
    // Half the step at least, so that repeats never come in a tight loop.
    int64_t wait = step - step / 2 + static_cast<int64_t>(static_cast<double>(step / 2) * jitter);
    wait = std::max<int64_t>(wait, server_delay.count());
    return std::chrono::milliseconds(std::clamp<int64_t>(wait, 0, cap));
}

std::chrono::milliseconds server_retry_delay(const header_map &headers)
{
    for (const char *name : {"x-ms-retry-after-ms", "retry-after-ms"}) {
        auto it = headers.find(name);
        if (it != headers.end()) {
            int64_t ms = parse_count(it->second);
            if (ms >= 0) {
                return std::chrono::milliseconds(ms);
            }
        }
    }
    auto it = headers.find("Retry-After");
    if (it != headers.end()) {
        int64_t seconds = parse_count(it->second);
        if (seconds >= 0) {
            return std::chrono::milliseconds(std::min(saturated_ms, seconds * 1000));
        }
    }
    return std::chrono::milliseconds(-1);
}

retry_info retry_policy::evaluate(const retry_context &context) const
{
    retry_info info;
    if (context.numbers >= settings_.attempts || !retryable(context.result)) {
        return info;
    }
    info.should_retry = true;
    info.interval = backoff_delay(settings_, context.numbers, next_jitter(), context.server_delay);
    return info;
}

} // namespace azure::blob_service
