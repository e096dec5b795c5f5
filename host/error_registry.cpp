/* The registry that turns error objects into result handles and back. */
#include "host/error_object.h"
#include "host/ostrel_host_runtime.h"

#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace
{

struct error_registry {
    std::mutex lock;
    std::unordered_map<ostrel_result_t, ostrel_object_t *> objects;
    /* Handles start well above small integers, so a plug-in that returns an
     * int status as a result cannot alias a registered error. */
    ostrel_result_t next = 0x1000;
};

error_registry &ostrel_l_registry()
{
    static error_registry *registry = new error_registry();
    return *registry;
}

} // namespace

ostrel_result_t ostrel_error_put(ostrel_object_t *error)
{
    /* A lost object (construction failed) must still read as a failure. */
    if (error == nullptr)
        return OSTREL_FAILURE;
    error_registry &reg = ostrel_l_registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    ostrel_result_t handle;
    do {
        handle = reg.next++;
    } while (handle == OSTREL_SUCCESS || handle == OSTREL_FAILURE || reg.objects.count(handle));
    try {
        reg.objects.emplace(handle, error);
    } catch (...) {
        ostrel_object_free(error);
        return OSTREL_FAILURE;
    }
    return handle;
}

ostrel_object_t *ostrel_error_get(ostrel_result_t result)
{
    error_registry &reg = ostrel_l_registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    auto it = reg.objects.find(result);
    if (it == reg.objects.end())
        return nullptr;
    ostrel_object_t *error = it->second;
    reg.objects.erase(it);
    return error;
}

ostrel_object_t *ostrel_error_peek(ostrel_result_t result)
{
    error_registry &reg = ostrel_l_registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    auto it = reg.objects.find(result);
    return it == reg.objects.end() ? nullptr : it->second;
}

ostrel_host::error_info ostrel_host::take_error(ostrel_result_t result)
{
    error_info info;
    if (result == OSTREL_SUCCESS)
        return info;
    info.ok = false;
    ostrel_object_t *error = ostrel_error_get(result);
    if (error == nullptr) {
        char text[96];
        snprintf(text, sizeof text, "operation failed without error details (result %#lx)",
                 (unsigned long)result);
        info.text = text;
        return info;
    }
    for (const ostrel_object_t *e = error; e != nullptr; e = e->cause) {
        if (info.reply_code == 0 && e->kind == ostrel_l_error_kind::ftp_response) {
            info.reply_code = e->response_code;
            info.response_error_code = e->response_error_code;
        }
        if (info.system_errno == 0 && e->kind == ostrel_l_error_kind::system)
            info.system_errno = e->system_errno;
    }
    char *text = ostrel_error_print_friendly(error);
    info.text = text ? text : "unknown error";
    free(text);
    ostrel_object_free(error);
    return info;
}
