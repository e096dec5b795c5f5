#include "blob_service/retry.h"

#include "blob_service/encoding.h"

namespace azure::blob_service
{

retry_info retry_policy::evaluate(const retry_context &context) const
{
    retry_info info;
    if (context.numbers > 3) {
        return info;
    }
    info.should_retry = retryable(context.result);
    return info;
}

} // namespace azure::blob_service
