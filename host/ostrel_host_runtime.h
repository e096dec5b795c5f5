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

/* How the streams of a data channel order their work (see host/README.md). */
enum class stream_order {
    parallel, /* each stream at its own pace: completions arrive in any order */
    reverse,  /* for tests: the reads or writes outstanding at one time complete
               * highest offset first */
};

struct session_options {
    document_source documents;
    int update_interval = 0;    /* seconds between checksum progress replies; 0: none */
    size_t block_size = 262144; /* data channel block size, 1 to max_block_size */
    int streams = 4;            /* parallel streams per transfer, 1 to max_streams */
    stream_order order = stream_order::parallel;
    /* Each stream pauses a random 0 to jitter_us microseconds before each
     * block, so that its own pace shows (tests; 0 in real use). */
    unsigned jitter_us = 0;
};

constexpr int max_streams = 64;
constexpr size_t max_block_size = 64u << 20;

/* Where a download's bytes land. write() is called from stream threads,
 * several at once for different offsets; failures are thrown as
 * std::system_error (or another std::exception) and fail the transfer. */
class sink
{
  public:
    virtual ~sink() = default;
    /* Stores length bytes that belong at the file offset. The data is the
     * plug-in's buffer: it is gone when write() returns. */
    virtual void write(const unsigned char *data, size_t length, int64_t offset) = 0;
    /* After the last write of a transfer that otherwise succeeded: throws
     * when what was written is incomplete. */
    virtual void finish() {}
};

/* A file written with pwrite at offset - base: base 0 for a whole or resumed
 * download, the range's offset to write a range as a file of its own. The
 * descriptor stays the caller's. */
class file_sink : public sink
{
  public:
    explicit file_sink(int fd, int64_t base = 0) : fd(fd), base(base) {}
    void write(const unsigned char *data, size_t length, int64_t offset) override;

  private:
    int fd;
    int64_t base;
};

/* A sequential output (standard output, a pipe) that must see the bytes in
 * offset order from `start`, whatever order the streams complete in. Bytes
 * written at the next offset go straight out; bytes that arrive ahead wait
 * in a copy, at most max_held bytes (beyond that the transfer fails rather
 * than stall or grow). finish() fails when a gap was never filled. */
class in_order_sink : public sink
{
  public:
    explicit in_order_sink(int fd, int64_t start = 0, size_t max_held = 64u << 20);
    ~in_order_sink() override;
    void write(const unsigned char *data, size_t length, int64_t offset) override;
    void finish() override;
    int64_t next_offset() const; /* the first byte not yet written out */

    in_order_sink(const in_order_sink &) = delete;
    in_order_sink &operator=(const in_order_sink &) = delete;

  private:
    struct state;
    std::unique_ptr<state> st;
};

/* Where an upload's bytes come from. */
class source
{
  public:
    virtual ~source() = default;
    /* The size announced to the plug-in before the data (-1: unknown). */
    virtual int64_t announced_size() const = 0;
    /* True when reads must come in offset order, one at a time (a pipe). */
    virtual bool sequential() const = 0;
    /* Fills buffer with up to length bytes from offset straight from the
     * input and returns the count, which is short only at the end of the
     * data; sets at_end when no byte follows the ones returned. Random-access
     * sources are read from several stream threads at once. Failures are
     * thrown as std::system_error. */
    virtual size_t read(unsigned char *buffer, size_t length, int64_t offset, bool &at_end) = 0;
};

/* A regular file read with pread; announces its size when opened. The data
 * is read up to the file's real end, so a file that grows or shrinks during
 * the upload reaches the plug-in as it is. The descriptor stays the caller's;
 * throws std::system_error when it is not a regular file. */
class file_source : public source
{
  public:
    explicit file_source(int fd);
    int64_t announced_size() const override { return size; }
    bool sequential() const override { return false; }
    size_t read(unsigned char *buffer, size_t length, int64_t offset, bool &at_end) override;

  private:
    int fd;
    int64_t size;
};

/* Standard input or a pipe, read in order, announcing the size the user
 * gave. Data shorter or longer than announced is passed on as it is: the
 * plug-in decides. To report the end together with the last data it reads
 * one byte ahead, so a block is handed over once the next byte (or the end)
 * has arrived. */
class stream_source : public source
{
  public:
    stream_source(int fd, int64_t announced_size) : fd(fd), size(announced_size) {}
    int64_t announced_size() const override { return size; }
    bool sequential() const override { return true; }
    size_t read(unsigned char *buffer, size_t length, int64_t offset, bool &at_end) override;

  private:
    int fd;
    int64_t size;
    int64_t position = 0;
    int lookahead = -1; /* the byte read ahead, -1 when none */
};

/* Bytes done so far; called from stream threads in increasing order, so it
 * must be cheap (store the value, draw later). */
using progress_callback = std::function<void(uint64_t bytes_done)>;

/* A byte range of a download; length -1 runs to the end of the file. */
struct byte_range {
    int64_t offset = 0;
    int64_t length = -1;
};

/* A download: the plug-in's send slot writes the file at path to `to`. */
struct send_request {
    std::string path;
    std::vector<byte_range> ranges; /* handed out in order; empty: the whole file */
    sink *to = nullptr;             /* the caller's, used until send() returns */
    progress_callback on_progress;  /* bytes written to the sink */
};

/* An upload: the plug-in's recv slot stores what it reads from `from`. */
struct recv_request {
    std::string path;
    source *from = nullptr;                  /* the caller's, used until recv() returns */
    std::optional<time_t> modification_time; /* the time to keep, if any */
    progress_callback on_progress;           /* bytes the plug-in reports received */
};

struct transfer_result {
    /* The plug-in's result; a failure of the sink or source fails the
     * transfer even when the plug-in reported success, and comes first. */
    error_info error;
    uint64_t bytes = 0; /* bytes written to the sink or delivered from the source */
    /* recv: the time handed to the plug-in when it asked for one */
    std::optional<time_t> modification_time;
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
    /* The plug-in's download and upload over this session's data channel. */
    transfer_result send(const send_request &request);
    transfer_result recv(const recv_request &request);

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
