/*
 * ostrel-azure internals: the parsed command line, the table of commands,
 * the documents a session reads, output formatting and the commands.
 * main.cpp only wires them up.
 */
#ifndef OSTREL_TOOLS_CLI_H
#define OSTREL_TOOLS_CLI_H

#include "host/ostrel_host_runtime.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <jansson.h>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <thread>
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

/* Closes on every path out, so a throw or an early return leaks no
 * descriptor; set fd to -1 once closed by hand. */
struct fd_guard {
    int fd;
    ~fd_guard();
};

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
    int streams = 4;
    size_t block_size = 1u << 20;
    bool quiet = false;
    bool verbose = false;
    /* the global options as given, so a batch line is parsed as if it followed them */
    std::vector<std::string> global_args;

    std::string command; /* "check", "stat", ...; empty for the program's own help */
    std::string path;
    bool long_format = false; /* ls -l */
    int64_t offset = 0;       /* cksum and get: the byte range */
    int64_t length = -1;

    std::string local;   /* get's and put's local file, batch's FILE; "-" for standard I/O */
    bool resume = false; /* get --continue */
    std::optional<int64_t> mtime; /* put --mtime */
    bool no_mtime = false;
    std::optional<int64_t> size; /* put --size, for standard input */
    bool keep_going = false;     /* batch */
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
    /* "PATH", "[PATH]", "REMOTE LOCAL|-", ...: PATH and REMOTE fill path, any
     * other word local */
    const char *arguments;
    const char *summary;
    std::vector<option_spec> options;
    /* Returns the exit status; the session is started. */
    int (*run)(const request &req, ostrel_host::session &session, documents &docs);
    /* Refuses combinations the table cannot express; throws usage_error. */
    void (*check)(const request &req) = nullptr;
};

const std::vector<command_spec> &command_table();
const command_spec *find_command(const std::string &name);
const std::vector<option_spec> &global_options();

/* Throws usage_error. */
request parse_arguments(int argc, char **argv);
/* A batch line's words as if they followed outer's global options. */
request parse_batch_line(const request &outer, const std::vector<std::string> &words);
/* Whole numbers of options; throws usage_error naming the option. */
int64_t parse_whole_number(const std::string &text, const char *option, int64_t minimum,
                           int64_t maximum);
/* A byte count with an optional K, M or G (powers of 1024); throws usage_error. */
int64_t parse_byte_count(const std::string &text, const char *option, int64_t minimum,
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

int run_get(const request &req, ostrel_host::session &session, documents &docs);
int run_put(const request &req, ostrel_host::session &session, documents &docs);
int run_batch(const request &req, ostrel_host::session &session, documents &docs);
void check_get(const request &req);
void check_put(const request &req);

/* ---- transfer pieces ---- */

/* The .part file of a download, written with pwrite at offset - base by
 * several streams at once. It counts how far from its start all bytes are in
 * place, so a failure or a signal can cut it back to exactly that and
 * --continue can trust its size. The descriptor stays the caller's. */
class part_sink : public ostrel_host::sink
{
  public:
    /* present: bytes already in place (a resumed file) */
    part_sink(int fd, int64_t base, int64_t present) : fd(fd), base(base), in_place(present) {}
    void write(const unsigned char *data, size_t length, int64_t offset) override;
    int64_t contiguous();
    /* Waits for the writes in flight, refuses later ones and drops what lies
     * beyond the first gap; false when the file could not be cut. */
    bool trim();

  private:
    void record(int64_t at, int64_t length);

    int fd;
    int64_t base;
    std::shared_mutex gate;
    bool stopped = false;
    std::mutex lock;
    std::map<int64_t, int64_t> ahead; /* start -> end of pieces past the first gap */
    int64_t in_place;
};

/* Holds an upload to the size its source announced: more or less data fails
 * the upload instead of storing a blob of another length (a pipe that says
 * too little, a file that grows or shrinks while it is read). name is what
 * the messages call the input. */
class exact_source : public ostrel_host::source
{
  public:
    exact_source(ostrel_host::source &inner, std::string name)
        : inner(inner), size(inner.announced_size()), name(std::move(name))
    {
    }
    int64_t announced_size() const override { return size; }
    bool sequential() const override { return inner.sequential(); }
    size_t read(unsigned char *buffer, size_t length, int64_t offset, bool &at_end) override;

  private:
    ostrel_host::source &inner;
    int64_t size;
    std::string name;
};

/* ---- batch input ---- */

/* A batch line longer than this ends the batch, so endless input without a
 * newline (/dev/zero) can neither eat the machine nor run forever. */
constexpr size_t batch_line_limit = 64u << 10;

/* Splits one batch line into words: blanks separate, '...' is literal, "..."
 * takes \" and \\ as escapes, a backslash outside quotes keeps the next
 * character, and # starts a comment where a word could start. Returns an
 * error text, empty on success. */
std::string split_batch_line(const std::string &line, std::vector<std::string> &words);

/* ---- progress of a transfer ---- */

/* "12.0 MiB / 100.0 MiB  3.2 MB/s  0:27 left"; total -1 when unknown. */
std::string progress_text(uint64_t done, int64_t total, double seconds);
/* "104857600 bytes in 2.00 s, 52.43 MB/s" */
std::string summary_text(uint64_t bytes, double seconds);

/* Redraws a progress line on stderr twice a second while a transfer runs,
 * when stderr is a terminal and --quiet was not given; prints the summary
 * with --verbose. update() is cheap and called from stream threads. */
class progress_display
{
  public:
    progress_display(const request &req, std::string label, int64_t total);
    ~progress_display();
    void update(uint64_t done) { bytes_done.store(done, std::memory_order_relaxed); }
    /* Stops drawing, ending the line; before any other message. */
    void stop();
    /* Stops; prints the summary of a success with --verbose. */
    void finish(bool ok, uint64_t bytes);

    progress_display(const progress_display &) = delete;
    progress_display &operator=(const progress_display &) = delete;

  private:
    void draw(bool last);
    void run();

    std::string label;
    int64_t total;
    bool verbose;
    bool shown = false;
    std::atomic<uint64_t> bytes_done{0};
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point ended_at;
    bool ended = false;
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    std::thread painter;
};

/* ---- signals ---- */

/* Takes SIGINT, SIGTERM and SIGHUP (those not ignored) away from every
 * thread to one watcher, which runs the stop action, stops token commands
 * and dies of the signal. Call before any other thread starts. */
void interrupt_watch_start();
/* What the watcher does first (empty: nothing); runs on the watcher thread. */
void interrupt_set_stop_action(std::function<void()> action);
/* Stops running token commands and dies of sig (see document_input.cpp). */
void stop_token_commands(int sig);

/* What check's probe of the service found. */
enum class probe_outcome { answered, unreachable, certificate, token_refused, failed };
probe_outcome classify_probe(const ostrel_host::error_info &error, const std::string &path);

} // namespace ostrel_cli

#endif
