#pragma once

#include <utility>

#include "blob_service/storage_error.h"

namespace azure::blob_service
{

// Either a response or the error that prevented it.
template <typename T> class storage_outcome
{
  public:
    storage_outcome() = default;
    explicit storage_outcome(T response) : success_(true), response_(std::move(response)) {}
    explicit storage_outcome(storage_error error) : error_(std::move(error)) {}

    bool success() const { return success_; }
    const storage_error &error() const { return error_; }
    const T &response() const { return response_; }

  private:
    bool success_ = false;
    storage_error error_;
    T response_{};
};

template <> class storage_outcome<void>
{
  public:
    storage_outcome() = default;
    static storage_outcome succeeded()
    {
        storage_outcome outcome;
        outcome.success_ = true;
        return outcome;
    }
    explicit storage_outcome(storage_error error) : error_(std::move(error)) {}

    bool success() const { return success_; }
    const storage_error &error() const { return error_; }

  private:
    bool success_ = false;
    storage_error error_;
};

} // namespace azure::blob_service
