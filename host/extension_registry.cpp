/* Named extensions that modules register with the host, such as storage
 * interfaces under their DSI name. */
#include "host/ostrel_host.h"

#include <map>
#include <mutex>
#include <string>

namespace
{
struct extension_entry {
    const ostrel_module_t *module;
    void *data;
};
} // namespace

/* Plug-ins register from activation while host threads look up, so every
 * access takes the lock. */
struct ostrel_extension_registry_s {
    std::mutex lock;
    std::map<std::string, extension_entry> entries;
};

ostrel_extension_registry_t ostrel_i_gfs_dsi_registry;

int ostrel_extension_registry_add(ostrel_extension_registry_t *registry, void *symbol,
                                  const ostrel_module_t *module, void *data)
{
    if (registry == nullptr || symbol == nullptr)
        return -1;
    try {
        std::lock_guard<std::mutex> guard(registry->lock);
        bool added = registry->entries
                         .emplace(static_cast<const char *>(symbol), extension_entry{module, data})
                         .second;
        return added ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

void *ostrel_extension_registry_remove(ostrel_extension_registry_t *registry, void *symbol)
{
    if (registry == nullptr || symbol == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> guard(registry->lock);
    auto it = registry->entries.find(static_cast<const char *>(symbol));
    if (it == registry->entries.end())
        return nullptr;
    void *data = it->second.data;
    registry->entries.erase(it);
    return data;
}

void *ostrel_extension_lookup(ostrel_extension_registry_t *registry, const char *symbol)
{
    if (registry == nullptr || symbol == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> guard(registry->lock);
    auto it = registry->entries.find(symbol);
    return it == registry->entries.end() ? nullptr : it->second.data;
}
