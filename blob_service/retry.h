#pragma once

#include <chrono>

namespace azure::blob_service
{

struct retry_context {
    int numbers = 0; // attempts completed
    int result = 0;  // HTTP status of the last attempt; 503 for a transport failure
};

struct retry_info {
    bool should_retry = false;
    std::chrono::seconds interval{0};
};

class retry_policy_base
{
  public:
    virtual ~retry_policy_base() = default;
    virtual retry_info evaluate(const retry_context &context) const = 0;
};

// At most four attempts, one right after the other, while the last status is retryable.
class retry_policy final : public retry_policy_base
{
  public:
    retry_info evaluate(const retry_context &context) const override;
};

} // namespace azure::blob_service
