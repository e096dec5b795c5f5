/*
 * The embedding side of our host: loading a storage plug-in by its module
 * name and driving sessions and operations through its storage interface
 * table, as a GridFTP server would. Used by the command-line program and the
 * tests; plug-ins never include this.
 */
#ifndef OSTREL_HOST_RUNTIME_H
#define OSTREL_HOST_RUNTIME_H

#include "host/ostrel_host.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel_host
{

/* What a failed result means to a user; ok when the result was success. */
struct error_info {
    bool ok = true;
    int reply_code = 0;              /* FTP reply code, 0 when none */
    std::string response_error_code; /* "PATH_NOT_FOUND", empty when none */
    std::string text;                /* friendly text with the chain of causes */
    int system_errno = 0;            /* errno of a system error in the chain, 0 when none */
};

/* Takes the error out of the host's registry (if any) and describes it. */
error_info take_error(ostrel_result_t result);

/* Waits until every thread the plug-ins started has ended. Unloading a
 * plug-in does this first; call it only when no operation is outstanding. */
void join_plugin_threads();

/* A plug-in loaded with dlopen as lib<module_name>.so and activated.
 * The search path is $OSTREL_MODULE_PATH (colon-separated directories), then
 * the directory the build installed the plug-in to, then the dynamic linker's
 * own search. Unloading deactivates it and closes the library. */
class loaded_module
{
  public:
    /* Throws std::runtime_error with the loader's or the activation's text. */
    static std::unique_ptr<loaded_module> load(const std::string &module_name);
    ~loaded_module();

    /* The storage interface registered under name ("azure_blob"), or nullptr. */
    const ostrel_gfs_storage_iface_t *dsi(const std::string &name) const;
    /* A symbol of the plug-in, or nullptr. */
    void *symbol(const std::string &name) const;

    loaded_module(const loaded_module &) = delete;
    loaded_module &operator=(const loaded_module &) = delete;

  private:
    loaded_module() = default;
    void *library = nullptr;
    const ostrel_module_t *module = nullptr;
};

/* Where a session's documents ("config", "creds", "renew-creds") come from.
 * Returning std::nullopt means the host has no text for the key. Called on
 * any thread. */
using document_source = std::function<std::optional<std::string>(const std::string &key)>;

struct session_options {
    document_source documents;
    int update_interval = 0;    /* seconds between checksum progress replies; 0: none */
    size_t block_size = 262144; /* data channel block size */
};

struct stat_result {
    error_info error;
    std::vector<ostrel_gfs_stat_t> entries; /* names owned by the result */
    std::vector<int> batches;               /* entry count of each partial answer, in order */
    ~stat_result();
    stat_result() = default;
    stat_result(stat_result &&other) noexcept;
    stat_result &operator=(stat_result &&) = delete;
    stat_result(const stat_result &) = delete;
};

struct command_result {
    error_info error;
    std::string response;                  /* the reply text (a checksum), may be empty */
    std::vector<std::string> intermediate; /* progress replies, in order */
};

/* One client session against a storage interface. Every call waits for the
 * plug-in's finish call (the plug-in may finish from any thread). */
class session
{
  public:
    session(const ostrel_gfs_storage_iface_t *dsi, session_options options);
    ~session(); /* ends the session if it was started */

    error_info start(const std::string &username = "ostrel");
    void end();

    /* on_partial (may be empty) sees each partial answer as it arrives. */
    stat_result stat(const std::string &path, bool file_only,
                     const std::function<void(const ostrel_gfs_stat_t *, int)> &on_partial = {});
    /* command_info.pathname etc. are copied as needed. */
    command_result command(const ostrel_gfs_command_info_t &command_info,
                           const std::function<void(const std::string &)> &on_intermediate = {});

    /* Operation records the session still keeps: those running and those
     * finished lately, which are freed once no plug-in thread that may still
     * hold them runs. For diagnostics and tests. */
    size_t kept_operations() const;

    session(const session &) = delete;
    session &operator=(const session &) = delete;

    struct state;

  private:
    const ostrel_gfs_storage_iface_t *dsi;
    std::unique_ptr<state> st;
};

} // namespace ostrel_host

#endif /* OSTREL_HOST_RUNTIME_H */
