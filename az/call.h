/*
 * The boundary between C callers and the C++ below: an AZ_ operation runs its body here, so
 * that no exception escapes to C code and the completion callback runs exactly once, last.
 */
#ifndef OSTREL_AZ_CALL_H
#define OSTREL_AZ_CALL_H

#include "az/status.h"

namespace ostrel_az
{

// Turns the exception being handled into a status and message in `result`.
void result_from_exception(az_result &result) noexcept;

// Throws std::invalid_argument naming `what` when `value` is NULL.
void require(const void *value, const char *what);

// As require, and also refuses (FailedToInitializeRequest, before any request) a container,
// key or prefix with a "." or ".." segment: resolved on the way, it would reach another blob
// or container, and a listing must mean by a name what the other operations mean.
void require_name(const char *name, const char *what);

template <typename Body>
void run_operation(AZ_complete_callback complete, void *arg, Body &&body) noexcept
{
    az_result result;
    try {
        body(result);
    } catch (...) {
        result_from_exception(result);
    }
    result.complete(complete, arg);
}

} // namespace ostrel_az

#endif
