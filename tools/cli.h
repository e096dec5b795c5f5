/*
 * ostrel-azure internals: the parsed command line, the documents a session
 * reads, output formatting and the commands. main.cpp only wires them up.
 */
#ifndef OSTREL_TOOLS_CLI_H
#define OSTREL_TOOLS_CLI_H

#include "host/ostrel_host_runtime.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel_cli
{

extern const char *const program_name;
extern const char *const module_name;
extern const char *const dsi_name;

/* A command line that cannot be run; main prints it with the usage line. */
struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct request {
    std::string config_file;
    std::string creds_file;
    std::string token_command;
    std::string debug;
    std::optional<int> update_interval;
    bool json = false;
    bool help = false;

    std::string command; /* "check", "stat", ... */
    std::string path;
    bool long_format = false; /* ls -l */
    int64_t cksm_offset = 0;
    int64_t cksm_length = -1;
};

/* Throws usage_error. */
request parse_arguments(int argc, char **argv);
const char *usage_line();
void print_help(FILE *out);

/* The texts behind "config", "creds" and "renew-creds", and the last
 * credential text the plug-in was handed (for check, which must not fetch a
 * second token). */
class documents
{
  public:
    /* Reads the config file now; throws std::runtime_error when unreadable. */
    explicit documents(const request &req);
    std::optional<std::string> get(const std::string &key);
    std::optional<std::string> config() const { return config_text; }
    std::optional<std::string> last_credential();

  private:
    std::optional<std::string> config_text;
    std::string creds_file;
    std::string token_command;
    std::mutex lock;
    std::optional<std::string> last_creds;
};

/* Whole file, or throws std::runtime_error naming the file. */
std::string read_file(const std::string &path);
/* Standard output of /bin/sh -c command; throws when it fails or prints nothing. */
std::string run_command(const std::string &command);

/* ---- output ---- */
std::string mode_string(int mode);
std::string time_text(int64_t seconds); /* local "%Y-%m-%d %H:%M", "-" when unknown */
std::string long_line(const ostrel_gfs_stat_t &entry, const char *name);
std::string json_line(const ostrel_gfs_stat_t &entry, const char *name);
/* "ostrel-azure: WHAT: first line" then every further line indented. */
std::string error_text(const std::string &what, const ostrel_host::error_info &error);

/* ---- commands: each returns the exit status ---- */
int run_check(const request &req, ostrel_host::session &session, documents &docs);
int run_stat(const request &req, ostrel_host::session &session, FILE *out);
int run_ls(const request &req, ostrel_host::session &session, FILE *out);
int run_path_command(const request &req, ostrel_host::session &session);
int run_cksum(const request &req, ostrel_host::session &session, FILE *out);

/* Dispatches on req.command. */
int run_command_line(const request &req, ostrel_host::session &session, documents &docs);

} // namespace ostrel_cli

#endif
