#include "az/call.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace ostrel_az
{

void result_from_exception(az_result &result) noexcept
{
    try {
        try {
            throw;
        } catch (const std::bad_alloc &) {
            result.set_local(AZ_OutOfMemory, "out of memory");
        } catch (const std::exception &e) {
            result.set_local(AZ_InternalError, std::string("internal error: ") + e.what());
        } catch (...) {
            result.set_local(AZ_InternalError, "internal error: unknown exception");
        }
    } catch (...) {
        // No memory left even for the message.
        result.set_status(AZ_OutOfMemory);
    }
}

void require(const void *value, const char *what)
{
    if (value == nullptr) {
        throw std::invalid_argument(std::string(what) + " is NULL");
    }
}

} // namespace ostrel_az
