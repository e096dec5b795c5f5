/*
 * Statuses and the error texts that accompany them. Every operation turns the outcome of
 * each of its requests into an az_result through az_result::take_error, the one place where
 * a failed request becomes a status and an AZ_error_details record.
 */
#ifndef OSTREL_AZ_STATUS_H
#define OSTREL_AZ_STATUS_H

#include <string>
#include <utility>
#include <vector>

#include "az/az.h"
#include "blob_service/storage_error.h"

AZ_status AZ_status_from_code_name(const char *code_name);
AZ_status AZ_status_from_http_status(const char *code);

namespace ostrel_az
{

// The status of one operation and the texts that go with it. Owns every string that the
// completion callback sees; they live until the result is destroyed.
class az_result
{
  public:
    AZ_status status() const { return status_; }
    bool ok() const { return status_ == AZ_OK; }

    // The service client's failure; `error` is left untouched.
    void take_error(const azure::blob_service::storage_error &error);
    // Takes the error of a failed `outcome`; returns whether the outcome succeeded.
    template <typename Outcome> bool take_outcome(const Outcome &outcome)
    {
        if (outcome.success()) {
            return true;
        }
        take_error(outcome.error());
        return false;
    }
    // A failure found by this layer itself (a callback that gave up, a caught exception).
    void set_local(AZ_status status, std::string message);
    // As set_local, without texts; for when even a message cannot be allocated.
    void set_status(AZ_status status) noexcept;

    // Calls `complete` (if not NULL) exactly as the caller expects; never throws.
    void complete(AZ_complete_callback complete, void *arg) const noexcept;

  private:
    void add_range_details(const azure::blob_service::storage_error &error);

    AZ_status status_ = AZ_OK;
    bool has_message_ = false;
    bool has_code_ = false;
    bool has_code_name_ = false;
    std::string message_;
    std::string code_;
    std::string code_name_;
    std::vector<std::pair<std::string, std::string>> extra_;
};

} // namespace ostrel_az

#endif
