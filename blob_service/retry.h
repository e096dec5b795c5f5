#pragma once

#include <chrono>

#include "blob_service/http_base.h"

namespace azure::blob_service
{

struct retry_settings {
    int attempts = 4; // the first attempt included
    std::chrono::milliseconds first_delay{500};
    std::chrono::milliseconds max_delay{30000}; // no wait is longer, whatever the service asks
};

struct retry_context {
    int numbers = 0; // attempts completed
    int result = 0;  // HTTP status of the last attempt; 503 for a transport failure
    // The wait the last answer asked for; negative when it asked for none.
    std::chrono::milliseconds server_delay{-1};
};

struct retry_info {
    bool should_retry = false;
    std::chrono::milliseconds interval{0};
};

class retry_policy_base
{
  public:
    virtual ~retry_policy_base() = default;
    virtual retry_info evaluate(const retry_context &context) const = 0;
};

// Repeats a retryable status up to `attempts` in all, waiting longer before each repeat.
class retry_policy final : public retry_policy_base
{
  public:
    explicit retry_policy(const retry_settings &settings = {}) : settings_(settings) {}
    retry_info evaluate(const retry_context &context) const override;

  private:
    retry_settings settings_;
};

// The wait before repeat `repeat` (1 for the first): the exponential step first_delay *
// 2^(repeat - 1), jittered into its upper half by `jitter` in [0, 1), at least
// `server_delay`, and never above max_delay.
std::chrono::milliseconds backoff_delay(const retry_settings &settings, int repeat, double jitter,
                                        std::chrono::milliseconds server_delay);

// The wait an answer asks for: "x-ms-retry-after-ms" or "retry-after-ms" in milliseconds,
// else "Retry-After" in seconds. Negative when none holds a plain decimal number (an HTTP
// date, a negative or a malformed value is ignored); a huge one saturates.
std::chrono::milliseconds server_retry_delay(const header_map &headers);

} // namespace azure::blob_service
