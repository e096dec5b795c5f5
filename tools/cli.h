/*
 * ostrel-azure internals: the parsed command line, the table of commands,
 * the documents a session reads, output formatting and the commands.
 * main.cpp only wires them up.
 */
#ifndef OSTREL_TOOLS_CLI_H
#define OSTREL_TOOLS_CLI_H

#include "host/ostrel_host_runtime.h"

#include <cstdint>
#include <cstdio>
#include <jansson.h>
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

/* Every document the program reads (configuration, credential file, token
 * command output) is refused beyond this size: real ones are a few hundred
 * bytes, and /dev/zero or `yes` must not eat the machine. */
constexpr size_t document_limit = 4u << 20;

/* A command line that cannot be run; main prints it with the usage line. */
struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct request {
    std::string config_file;
    std::string creds_file;
    std::string token_command;
    int token_timeout = 60; /* seconds */
    std::string debug;
    std::optional<int> update_interval;
    bool json = false;
    bool help = false;

    std::string command; /* "check", "stat", ...; empty for the program's own help */
    std::string path;
    bool long_format = false; /* ls -l */
    int64_t cksm_offset = 0;
    int64_t cksm_length = -1;
};

/* One option: a flag when value_name is null. apply throws usage_error. */
struct option_spec {
    const char *name;
    const char *value_name;
    const char *help;
    void (*apply)(request &req, const std::string &value);
};

class documents;

struct command_spec {
    const char *name;
    const char *arguments; /* "PATH", "[PATH]", "" */
    const char *summary;
    std::vector<option_spec> options;
    /* Returns the exit status; the session is started. */
    int (*run)(const request &req, ostrel_host::session &session, documents &docs);
};

const std::vector<command_spec> &command_table();
const command_spec *find_command(const std::string &name);
const std::vector<option_spec> &global_options();

/* Throws usage_error. */
request parse_arguments(int argc, char **argv);
/* Whole numbers of options; throws usage_error naming the option. */
int64_t parse_whole_number(const std::string &text, const char *option, int64_t minimum,
                           int64_t maximum);
const char *usage_line();
/* The program's help when command is null, else the command's. */
void print_help(FILE *out, const command_spec *command);

/* ---- where documents come from ---- */

/* Which configuration file a session reads: --config, else
 * $OSTREL_AZURE_CONFIG, else $XDG_CONFIG_HOME/ostrel-azure/config.json (an
 * absolute XDG_CONFIG_HOME only), else ~/.config/ostrel-azure/config.json.
 * Null or empty arguments count as unset. */
struct config_choice {
    std::string path;   /* empty when no default could be formed */
    bool named_by_user; /* --config or OSTREL_AZURE_CONFIG: must exist */
};
config_choice config_location(const std::string &option, const char *env_config,
                              const char *xdg_config_home, const char *home);

/* Whole file up to document_limit; throws std::runtime_error naming the file
 * (never quoting its content). */
std::string read_document_file(const std::string &path);
/* Standard output of /bin/sh -c command, run in its own process group with
 * standard input from /dev/null. Stops the whole group and throws when it
 * runs over timeout_seconds or prints more than document_limit; throws when
 * it fails or prints nothing. Messages never quote the output. */
std::string run_token_command(const std::string &command, int timeout_seconds);

/* The texts behind "config", "creds" and "renew-creds". Credential texts are
 * converted into the plug-in's credential document; the last one handed over
 * is kept for check. */
class documents
{
  public:
    /* Reads the configuration now; throws std::runtime_error when it cannot. */
    documents(const request &req, const config_choice &config);
    /* Throws std::runtime_error (the host logs it and hands over nothing). */
    std::optional<std::string> get(const std::string &key);
    const std::string &config() const { return config_text; }
    const std::string &config_path() const { return config_file; }
    std::optional<std::string> last_credential();

  private:
    std::string config_file;
    std::string config_text;
    std::string creds_file;
    std::string token_command;
    int token_timeout;
    std::mutex lock;
    std::optional<std::string> last_creds;
};

/* ---- output ---- */

/* A name made safe for one line of a terminal: C0 controls, DEL, C1
 * controls and bytes that are not UTF-8 become \n, \r, \t or \xHH, and a
 * backslash becomes \\, so every name reads back unambiguously. */
std::string escape_name(const std::string &name);
std::string mode_string(int mode);
std::string time_text(int64_t seconds); /* local "%Y-%m-%d %H:%M", "-" when unknown */
std::string long_line(const ostrel_gfs_stat_t &entry, const char *name);
std::string json_line(const ostrel_gfs_stat_t &entry, const char *name);
/* Compact JSON with DEL and C1 controls escaped as well, which JSON allows
 * raw but a terminal may act on. */
std::string json_text(const json_t *value);
/* "ostrel-azure: WHAT: first line" then every further line indented; path
 * is where the plug-in may have quoted the user's path, which is escaped
 * whole there instead of being split at a newline it holds. */
std::string error_text(const std::string &what, const ostrel_host::error_info &error,
                       const std::string &path = "");
/* The same lines, each indented, for a caller that states the failure itself. */
std::string error_detail(const ostrel_host::error_info &error, const std::string &path);
/* error_text for a failed command on req.path, printed to stderr. */
void print_failure(const request &req, const ostrel_host::error_info &error);

/* ---- commands: each returns the exit status ---- */
/* A command on req.path, as the host hands it over. */
ostrel_gfs_command_info_t command_info(int number, const request &req);
int run_check(const request &req, ostrel_host::session &session, documents &docs);
int run_stat(const request &req, ostrel_host::session &session, documents &docs);
int run_ls(const request &req, ostrel_host::session &session, documents &docs);
int run_path_command(const request &req, ostrel_host::session &session, documents &docs);
int run_cksum(const request &req, ostrel_host::session &session, documents &docs);

/* What check's probe of the service found. */
enum class probe_outcome { answered, unreachable, certificate, token_refused, failed };
probe_outcome classify_probe(const ostrel_host::error_info &error, const std::string &path);

} // namespace ostrel_cli

#endif
