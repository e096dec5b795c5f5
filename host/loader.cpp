/* Loading a plug-in by module name and activating its module record. */
#include "host/ostrel_host_runtime.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <unistd.h>

namespace
{

/* Two loads of one module share its process-wide state, so activation and
 * deactivation run only for the first load and the last unload. */
std::mutex activation_lock;
std::map<const ostrel_module_t *, int> activation_count;

/* The plug-in directory beside this library, wherever the library really
 * is: a moved or symlinked installation still finds its own plug-ins, and
 * the build tree, laid out alike, finds the ones it built. */
std::string own_module_dir()
{
    static const char anchor = 0;
    Dl_info info;
    if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr)
        return "";
    char real[PATH_MAX];
    std::string file = realpath(info.dli_fname, real) ? real : info.dli_fname;
    size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return "";
    return file.substr(0, slash + 1) + OSTREL_HOST_MODULE_SUBDIR;
}

std::vector<std::string> search_dirs()
{
    std::vector<std::string> dirs;
    if (const char *path = getenv("OSTREL_MODULE_PATH")) {
        std::string list = path;
        size_t start = 0;
        for (;;) {
            size_t end = list.find(':', start);
            std::string dir = list.substr(start, end - start);
            if (!dir.empty())
                dirs.push_back(dir);
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    }
    static const std::string own = own_module_dir();
    if (!own.empty())
        dirs.push_back(own);
    return dirs;
}

/* RTLD_NODELETE: a plug-in's detached worker may still be returning from
 * its finish call when the module is unloaded; its code must stay mapped. */
const int open_flags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

void *open_library(const std::string &module_name)
{
    std::string file = "lib" + module_name + ".so";
    std::string searched;
    for (const std::string &dir : search_dirs()) {
        std::string path = dir + "/" + file;
        searched += (searched.empty() ? "" : ", ") + dir;
        if (access(path.c_str(), F_OK) != 0)
            continue;
        void *library = dlopen(path.c_str(), open_flags);
        if (library == nullptr)
            throw std::runtime_error("cannot load module " + module_name + ": " + dlerror());
        return library;
    }
    void *library = dlopen(file.c_str(), open_flags);
    if (library == nullptr) {
        throw std::runtime_error("module " + module_name + " not found: no " + file + " in " +
                                 (searched.empty() ? "" : searched + " or ") +
                                 "the system library path (set OSTREL_MODULE_PATH)");
    }
    return library;
}

} // namespace

namespace ostrel_host
{

std::unique_ptr<loaded_module> loaded_module::load(const std::string &module_name)
{
    if (module_name.empty() || module_name.find('/') != std::string::npos)
        throw std::runtime_error("invalid module name \"" + module_name + "\"");
    std::unique_ptr<loaded_module> loaded(new loaded_module());
    loaded->library = open_library(module_name);
    std::string record = module_name + "_module";
    loaded->module = static_cast<const ostrel_module_t *>(dlsym(loaded->library, record.c_str()));
    if (loaded->module == nullptr) {
        dlclose(loaded->library);
        loaded->library = nullptr;
        throw std::runtime_error("module " + module_name + " has no module record " + record);
    }
    std::lock_guard<std::mutex> guard(activation_lock);
    if (activation_count[loaded->module]++ == 0 && loaded->module->activation_func != nullptr) {
        error_info error = take_error(loaded->module->activation_func());
        if (!error.ok) {
            activation_count.erase(loaded->module);
            dlclose(loaded->library);
            loaded->library = nullptr;
            loaded->module = nullptr;
            throw std::runtime_error("activating module " + module_name + " failed: " + error.text);
        }
    }
    return loaded;
}

loaded_module::~loaded_module()
{
    if (library == nullptr)
        return;
    join_plugin_threads();
    if (module != nullptr) {
        std::lock_guard<std::mutex> guard(activation_lock);
        if (--activation_count[module] == 0) {
            activation_count.erase(module);
            if (module->deactivation_func != nullptr) {
                error_info error = take_error(module->deactivation_func());
                if (!error.ok) {
                    ostrel_gfs_log_message(OSTREL_GFS_LOG_WARN, "deactivating %s failed: %s",
                                           module->module_name ? module->module_name : "module",
                                           error.text.c_str());
                }
            }
        }
    }
    dlclose(library);
}

const ostrel_gfs_storage_iface_t *loaded_module::dsi(const std::string &name) const
{
    return static_cast<const ostrel_gfs_storage_iface_t *>(
        ostrel_extension_lookup(&ostrel_i_gfs_dsi_registry, name.c_str()));
}

void *loaded_module::symbol(const std::string &name) const
{
    return library ? dlsym(library, name.c_str()) : nullptr;
}

} // namespace ostrel_host
