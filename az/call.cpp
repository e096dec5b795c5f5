#include "az/call.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "blob_service/names.h"

namespace ostrel_az
{

namespace
{

struct refused_name : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

} // namespace

void result_from_exception(az_result &result) noexcept
{
    try {
        try {
            throw;
        } catch (const refused_name &e) {
            result.set_local(AZ_FailedToInitializeRequest, e.what());
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

void require_name(const char *name, const char *what)
{
    require(name, what);
    if (const char *error = azure::blob_service::path_error(name)) {
        throw refused_name(std::string("the ") + what + " " + error);
    }
}

} // namespace ostrel_az
