/*
 * Declarations shared between the connector's source files.
 *
 * The host sees only the module records and the storage interface table;
 * everything here has C linkage so that a trace or a symbol listing shows the
 * names as written.
 */
#ifndef OSTREL_I_AZURE_H
#define OSTREL_I_AZURE_H

#include "az/az.h"
#include "host/ostrel_host.h"

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OSTREL_I_AZURE_EXPORT __attribute__((visibility("default")))

/* ---- debug log ----------------------------------------------------------- */

enum {
    OSTREL_AZURE_DEBUG_TRACE = 1,
    OSTREL_AZURE_DEBUG_INFO = 2,
    OSTREL_AZURE_DEBUG_DEBUG = 4,
    OSTREL_AZURE_DEBUG_WARNING = 8,
    OSTREL_AZURE_DEBUG_ERROR = 16,
};

extern OSTREL_I_AZURE_EXPORT ostrel_debug_handle_t ostrel_i_OSTREL_AZURE_debug_handle;
extern OSTREL_I_AZURE_EXPORT const char *ostrel_i_azure_debug_level_names[17];

void ostrel_i_OSTREL_AZURE_debug_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void ostrel_i_OSTREL_AZURE_debug_time_printf(const char *fmt, ...)
    __attribute__((format(printf, 1, 2)));
void ostrel_i_OSTREL_AZURE_debug_fwrite(const void *buffer, size_t size, size_t count);

#define OSTREL_I_AZURE_DEBUG_ENABLED(level)                                                        \
    ((ostrel_i_OSTREL_AZURE_debug_handle.levels & (uint32_t)(level)) != 0)

/* One message at level, attributed to func: a prefix write, then the text
 * write, each through the timestamped variant when asked for. Shared helpers
 * that log for an operation take the operation's function name. */
#define ostrel_i_azure_log_from(level, func, ...)                                                  \
    do {                                                                                           \
        if (OSTREL_I_AZURE_DEBUG_ENABLED(level)) {                                                 \
            bool ostrel_l_ts_ =                                                                    \
                (ostrel_i_OSTREL_AZURE_debug_handle.timestamp_levels & (uint32_t)(level)) != 0;    \
            if (ostrel_l_ts_)                                                                      \
                ostrel_i_OSTREL_AZURE_debug_time_printf(                                           \
                    "az: %5s: %s: ", ostrel_i_azure_debug_level_names[level], (func));             \
            else                                                                                   \
                ostrel_i_OSTREL_AZURE_debug_printf(                                                \
                    "az: %5s: %s: ", ostrel_i_azure_debug_level_names[level], (func));             \
            if (ostrel_l_ts_)                                                                      \
                ostrel_i_OSTREL_AZURE_debug_time_printf(__VA_ARGS__);                              \
            else                                                                                   \
                ostrel_i_OSTREL_AZURE_debug_printf(__VA_ARGS__);                                   \
        }                                                                                          \
    } while (0)

/* One message at level from the calling function. */
#define ostrel_i_azure_log(level, ...) ostrel_i_azure_log_from(level, __func__, __VA_ARGS__)

#define ostrel_i_azure_trace_enter() ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "enter\n")
#define ostrel_i_azure_trace_exit() ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "exit\n")

/* The exit trace of a function returning a host result: success at TRACE,
 * failure at ERROR with the error's friendly text. */
#define ostrel_i_azure_trace_result(result)                                                        \
    do {                                                                                           \
        ostrel_result_t ostrel_l_r_ = (result);                                                    \
        if (ostrel_l_r_ == OSTREL_SUCCESS)                                                         \
            ostrel_i_azure_log(OSTREL_AZURE_DEBUG_TRACE, "result=OSTREL_SUCCESS\n");               \
        else if (OSTREL_I_AZURE_DEBUG_ENABLED(OSTREL_AZURE_DEBUG_ERROR)) {                         \
            char *ostrel_l_msg_ = ostrel_error_print_friendly(ostrel_error_peek(ostrel_l_r_));     \
            ostrel_i_azure_log(OSTREL_AZURE_DEBUG_ERROR, "result=%#lx message=%s\n",               \
                               (unsigned long)ostrel_l_r_, ostrel_l_msg_ ? ostrel_l_msg_ : "");    \
            free(ostrel_l_msg_);                                                                   \
        }                                                                                          \
    } while (0)

/* ---- module ------------------------------------------------------------- */

extern OSTREL_I_AZURE_EXPORT const ostrel_module_t ostrel_gridftp_server_azure_blob_module;
extern OSTREL_I_AZURE_EXPORT const ostrel_module_t ostrel_i_azure_base_module;
extern OSTREL_I_AZURE_EXPORT const char *ostrel_i_azure_mime_type_file;
extern OSTREL_I_AZURE_EXPORT uint32_t ostrel_i_azure_retry_delay_ms;
extern OSTREL_I_AZURE_EXPORT int32_t ostrel_i_azure_max_retries;
extern OSTREL_I_AZURE_EXPORT ostrel_hashtable_t ostrel_i_azure_mime_extensions;

OSTREL_I_AZURE_EXPORT ostrel_result_t ostrel_i_azure_base_initialize(void);

/* ---- session ------------------------------------------------------------ */

typedef struct ostrel_i_azure_handle_s ostrel_i_azure_handle_t;
typedef ostrel_result_t (*ostrel_i_azure_token_refresh_t)(ostrel_i_azure_handle_t *handle);

struct ostrel_i_azure_handle_s {
    bool adls;
    char **allowed_containers; /* NULL: every container allowed */
    ostrel_i_azure_token_refresh_t token_refresh;
    char *sub;
    char *access_token;
    time_t token_expiry;
    char *account;
    ostrel_gfs_operation_t op; /* written by every entry; read under token_lock */
    AZ_client *client;
    char *ca_file;                     /* optional "ca_file" of the configuration */
    AZ_client_options storage_options; /* the configuration's tuning keys */
    ostrel_mutex_t token_lock;         /* serialises refreshes and guards op */
};

void ostrel_i_azure_start(ostrel_gfs_operation_t op, ostrel_gfs_session_info_t *session_info);
void ostrel_i_azure_destroy(void *user_arg);

/* Records op as the session's current operation (thread-safe). */
void ostrel_i_azure_handle_set_op(ostrel_i_azure_handle_t *handle, ostrel_gfs_operation_t op);

/* Parses the "config" document. json is an already parsed document or NULL;
 * ca_file and tuning may be NULL when the caller does not want them. tuning
 * gets the storage client's numbers and flags (not its ca_file); keys that
 * are absent leave its fields alone. */
ostrel_result_t ostrel_i_azure_config_parse_json(void *json, const char *text, char **account,
                                                 bool *adls, char **ca_file,
                                                 AZ_client_options *tuning);

/* ---- tokens ------------------------------------------------------------- */

ostrel_result_t ostrel_i_azure_token_refresh(ostrel_i_azure_handle_t *handle);
OSTREL_I_AZURE_EXPORT ostrel_result_t ostrel_azure_update_token(ostrel_i_azure_handle_t *handle);
ostrel_result_t ostrel_i_azure_parse_date(const char *text, time_t *seconds);
/* Reads a credential document; on success the caller owns *sub and
 * *access_token. No error message quotes the document. */
ostrel_result_t ostrel_i_azure_parse_token_json(const char *text, char **sub, char **access_token,
                                                time_t *token_expiry);
/* Whether a token expiring at expiry must be renewed at now (less than 99
 * seconds left). */
bool ostrel_i_azure_token_needs_renewal(time_t now, time_t expiry);

/* ---- paths and the container gate --------------------------------------- */

/* Splits path in place: container, and key (NULL when there is none). */
char *ostrel_i_azure_path_parse(char *path, char **container, char **key);
/* Why name (a container, a key or a part of one) would not name what it
 * says: a "." or ".." segment or an empty component (one trailing separator
 * is allowed). NULL when it is fine. Listings drop what this refuses. */
const char *ostrel_i_azure_name_error(const char *name);
/* Every operation calls this right after the split, before the container
 * gate and any request: 553 INVALID_PATH naming pathname when the container
 * or key fails ostrel_i_azure_name_error, or when the path begins with "//". */
ostrel_result_t ostrel_i_azure_path_check(const char *pathname, const char *container,
                                          const char *key);

typedef struct ostrel_i_azure_container_context_s {
    const char *container;
} ostrel_i_azure_container_context_t;

bool ostrel_i_azure_container_allowed(const char *container, char **allowed,
                                      ostrel_result_t *result);
ostrel_result_t ostrel_i_azure_container_context(ostrel_i_azure_handle_t *handle,
                                                 const char *container,
                                                 ostrel_i_azure_container_context_t *context);

/* ---- errors and the retry rule ------------------------------------------- */

/* A new (not yet put) host error for a storage status. path and details may be NULL. */
ostrel_object_t *ostrel_i_AzureError_to_error(AZ_status status, const char *path,
                                              const AZ_error_details *details);
/* The completion rule: records the first failure of the current try. */
void ostrel_i_azure_record_status(AZ_status *status_field, ostrel_result_t *result_field,
                                  AZ_status status, const char *path,
                                  const AZ_error_details *details);
/* "System error in <call>" with errno, put. */
ostrel_result_t ostrel_i_azure_system_error(const char *call, int system_errno);

void ostrel_i_azure_retry_delay(int32_t try_number);
/* The sleep before try try_number in microseconds (0 for the first try),
 * capped at INT32_MAX. */
uint32_t ostrel_i_azure_retry_delay_us(int32_t try_number, uint32_t delay_ms);

/* One storage call of an operation, made under the retry rule. The call
 * stores its outcome into *status / *result through its completion callback. */
typedef struct ostrel_i_azure_attempt_s {
    const char *func; /* the operation's function that the log lines name */
    ostrel_gfs_operation_t op;
    int32_t *tries;
    AZ_status *status;
    ostrel_result_t *result;
    const char *call_name; /* "AZ_head_container" */
    const char *call_args; /* "container=photos", shown in the request line */
    void (*call)(void *request);
    void *request;
    /* set when the call may be made again after a 403 that a token renewal
     * answers; NULL for calls whose data cannot be sent twice */
    ostrel_i_azure_handle_t *renew;
} ostrel_i_azure_attempt_t;

void ostrel_i_azure_retry(const ostrel_i_azure_attempt_t *attempt);

/* Starts the detached worker that owns request from then on. On failure the
 * request stays the caller's and the result is the put "ostrel_thread_create"
 * error: a system error carrying errno when system_error is set, else an
 * error attributed to source and func. */
ostrel_result_t ostrel_i_azure_worker_start(const char *source, const char *func, bool system_error,
                                            void *(*worker)(void *), void *request);

/* ---- command requests ---------------------------------------------------- */

typedef struct ostrel_i_azure_command_request_s ostrel_i_azure_command_request_t;

/* What one command adds to the steps that all commands share. */
typedef struct ostrel_i_azure_command_s {
    const char *name;         /* "mkdir": the source of its entry's errors */
    const char *entry;        /* "ostrel_i_azure_mkdir": named by entry errors */
    const char *worker;       /* "ostrel_l_azure_mkdir_thread": named by worker logs */
    bool thread_system_error; /* a worker that cannot start is a system error */
    size_t size;              /* of its request record, at least the common one */
    /* Host's thread, after the common checks: logs the command and applies
     * its own rules. A failure finishes the command. */
    ostrel_result_t (*prepare)(ostrel_i_azure_command_request_t *request,
                               const ostrel_gfs_command_info_t *command_info);
    /* Worker thread: the storage calls. Leaves the outcome in
     * request->result and returns the reply (NULL: none), kept in request. */
    char *(*run)(ostrel_i_azure_command_request_t *request);
} ostrel_i_azure_command_t;

/* What every command's worker needs. A command with fields of its own embeds
 * this record as its first member, so that one pointer reaches both its own
 * fields and these. The entry owns the record until the worker starts; from
 * then on only the worker touches it. */
struct ostrel_i_azure_command_request_s {
    const ostrel_i_azure_command_t *command;
    ostrel_i_azure_handle_t *az_handle;
    ostrel_gfs_operation_t op;
    ostrel_i_azure_container_context_t container_context;
    char *container;
    char *key; /* NULL: the container itself */
    int32_t tries;
    AZ_status status;
    ostrel_result_t result;
    char *error_path; /* path of storage errors: as given, or container/key */
    char *path;       /* split in place */
};

/* The entry of every command, on the host's thread: checks the arguments,
 * creates the request, lets the command prepare it, passes the container
 * gate and hands the request to a worker thread, which finishes the command.
 * When any step fails the command is finished here. */
void ostrel_i_azure_command_request_start(const ostrel_i_azure_command_t *command,
                                          ostrel_gfs_operation_t op,
                                          const ostrel_gfs_command_info_t *command_info,
                                          void *user_arg);
/* Answers the command with result and reply (NULL: none), then frees
 * request (NULL allowed). */
void ostrel_i_azure_command_request_finish(ostrel_gfs_operation_t op, ostrel_result_t result,
                                           char *reply, ostrel_i_azure_command_request_t *request);
/* Reads the path as a directory: "/c/" names the container, as "/c" does.
 * False when it names no container. */
bool ostrel_i_azure_command_request_as_directory(ostrel_i_azure_command_request_t *request);
/* Reads the path as a blob; storage errors then name "container/key".
 * False when it names no blob. */
bool ostrel_i_azure_command_request_as_blob(ostrel_i_azure_command_request_t *request);
/* One storage call under the retry rule, logged with key (NULL: none); call
 * receives arg and hands ostrel_i_azure_command_request_done (or its own
 * callback) to storage. */
void ostrel_i_azure_command_request_call(ostrel_i_azure_command_request_t *request,
                                         const char *call_name, const char *key,
                                         void (*call)(void *), void *arg);
/* The completion callback of a command's storage call; arg is the request. */
void ostrel_i_azure_command_request_done(AZ_status status, AZ_error_details *details, void *arg);
/* Fails the command with status as if storage had answered it, for the
 * command's path and without details. */
void ostrel_i_azure_command_request_fail(ostrel_i_azure_command_request_t *request,
                                         AZ_status status);

/* What a head of one key found. */
typedef struct ostrel_i_azure_blob_version_s {
    bool found;
    bool is_directory;  /* a folder marker, or a key ending in "/" */
    bool folder_marker; /* the metadata says hdi_isfolder=true */
    uint64_t size;
    int64_t last_modified;
    char md5[33];   /* from the properties; empty when none */
    char etag[256]; /* pins a later call to this version; empty when none */
} ostrel_i_azure_blob_version_t;

/* Heads key under the retry rule. A missing blob is no error: found stays
 * false. Returns request->result. */
ostrel_result_t ostrel_i_azure_command_request_head(ostrel_i_azure_command_request_t *request,
                                                    const char *key,
                                                    ostrel_i_azure_blob_version_t *version);
/* How many times a command that finds its blob changed under it starts over
 * from the head before it gives up. */
#define OSTREL_I_AZURE_CHANGED_ROUNDS 3
/* The other spelling of a folder marker's key: "d" for "d/", "d/" for "d".
 * Caller frees; NULL when out of memory. */
char *ostrel_i_azure_marker_spelling(const char *key);

/* A put error for path: wrapped as reply_code and response_error_code with
 * GridFTP-Path when reply_code is not 0; the text is
 * "Ostrel-Azure-Error: " and the formatted reason. */
ostrel_result_t ostrel_i_azure_path_error(int reply_code, const char *response_error_code,
                                          const char *path, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

/* ---- storage interface slots -------------------------------------------- */

void ostrel_i_azure_stat(ostrel_gfs_operation_t op, ostrel_gfs_stat_info_t *stat_info,
                         void *user_arg);
void ostrel_i_azure_command(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                            void *user_arg);
void ostrel_i_azure_mkdir(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                          void *user_arg);
void ostrel_i_azure_rmdir(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                          void *user_arg);
void ostrel_i_azure_delete(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                           void *user_arg);
void ostrel_i_azure_checksum(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *command_info,
                             void *user_arg);

/* Stat internals, shared by stat.cpp and stat_blob.cpp. A request is owned
 * by its worker thread once the entry has started it. */
#define OSTREL_I_AZURE_STAT_BATCH 32

enum {
    OSTREL_I_AZURE_STAT_ROOT = 0,
    OSTREL_I_AZURE_STAT_CONTAINER = 1,
    OSTREL_I_AZURE_STAT_BLOB = 2,
    OSTREL_I_AZURE_STAT_LIST_CONTAINERS = 3,
    OSTREL_I_AZURE_STAT_LIST_BLOBS = 4,
};

typedef struct ostrel_i_azure_stat_request_s {
    ostrel_i_azure_handle_t *az_handle;
    ostrel_gfs_operation_t op;
    ostrel_i_azure_container_context_t container_context;
    char *container;
    char *key; /* NULL for the root and for a container */
    int32_t tries;
    AZ_status status;
    ostrel_result_t result;
    bool found; /* the listing has produced its "." entry */
    int stat_kind;
    ostrel_gfs_stat_t entries[OSTREL_I_AZURE_STAT_BATCH];
    uint64_t entry_count;
    bool file_only;
    bool directory_only;            /* the path ended with a separator */
    ostrel_hashtable_t directories; /* names of the listing's directories */
    const char *pathname;           /* the path as the host gave it */
    char *prefix;                   /* key + "/", the directory prefix */
    char *path;                     /* split in place */
} ostrel_i_azure_stat_request_t;

/* Copies entry (and its name) into the batch; a full batch goes to the host. */
void ostrel_i_azure_stat_add(ostrel_i_azure_stat_request_t *request,
                             const ostrel_gfs_stat_t *entry);
/* One storage call of a stat under the retry rule, logged as from func;
 * args is the request line's text. */
void ostrel_i_azure_stat_call(ostrel_i_azure_stat_request_t *request, const char *func,
                              const char *call_name, const char *args, void (*call)(void *));
/* Drops the recorded outcome of an earlier call, before a fallback call. */
void ostrel_i_azure_stat_clear(ostrel_i_azure_stat_request_t *request);
int ostrel_i_azure_stat_hash(const char *text);
void ostrel_i_azure_stat_root(ostrel_i_azure_stat_request_t *request);
void ostrel_i_azure_stat_list_containers(ostrel_i_azure_stat_request_t *request);
void ostrel_i_azure_stat_container(ostrel_i_azure_stat_request_t *request);
void ostrel_i_azure_stat_blob(ostrel_i_azure_stat_request_t *request);
void ostrel_i_azure_stat_list_blobs(ostrel_i_azure_stat_request_t *request);

/* ---- transfers ------------------------------------------------------------ */

void ostrel_i_azure_send(ostrel_gfs_operation_t op, ostrel_gfs_transfer_info_t *transfer_info,
                         void *user_arg);
void ostrel_i_azure_recv(ostrel_gfs_operation_t op, ostrel_gfs_transfer_info_t *transfer_info,
                         void *user_arg);

/* A header and its data area in one allocation. */
typedef struct ostrel_i_azure_buffer_s {
    uint64_t size;        /* capacity of the data area */
    uint64_t buffer_used; /* valid bytes at its start */
    int64_t offset;       /* file offset of the first valid byte; -1: none placed */
    struct ostrel_i_azure_buffer_s *next;
} ostrel_i_azure_buffer_t;

#define ostrel_i_azure_buffer_data(buffer) ((unsigned char *)((buffer) + 1))

/* One download or upload. Allocated by the entry, owned and freed by the
 * worker; every field below mutex is guarded by it, and host callbacks reach
 * the record only while a read or write of it is outstanding. */
typedef struct ostrel_i_azure_transfer_state_s {
    ostrel_i_azure_handle_t *az_handle;
    ostrel_gfs_transfer_info_t *transfer_info;
    AZ_status status; /* of the current try */
    int32_t tries;
    ostrel_result_t try_result; /* failure of the current try; a retry drops it */
    /* download: file offset of the next byte placed in a buffer;
     * upload: file offset of the next byte handed to storage */
    uint64_t offset;
    bool eof;             /* upload: no more data will come */
    int64_t range_offset; /* download: the range being fetched */
    int64_t range_length; /* -1: to the end of the blob */
    ostrel_i_azure_buffer_t *registered;
    ostrel_i_azure_buffer_t *pending;
    ostrel_i_azure_buffer_t **pending_tail;
    ostrel_i_azure_buffer_t *current;
    ostrel_i_azure_buffer_t *free_buffers;
    ostrel_gfs_operation_t op;
    ostrel_i_azure_container_context_t context;
    char *container;
    char *key;
    /* first failure of the transfer; no retry clears it, and once set no
     * more data moves */
    ostrel_result_t result;
    ostrel_mutex_t mutex;
    ostrel_cond_t cond;
    bool md5_active;
    struct ostrel_i_az_checksum_s *checksum;
    /* download: written buffers whose bytes the digest has yet to take, the
     * offset it takes next, and whether a thread is digesting right now */
    ostrel_i_azure_buffer_t *undigested;
    uint64_t digest_offset;
    bool digesting;
    int64_t blob_size;    /* download: the whole blob's, as a read reported it; -1: unknown */
    char *path;           /* split in place */
    const char *pathname; /* as the host gave it, for errors */
} ostrel_i_azure_transfer_state_t;

/* Buffers on list, 0 for NULL. */
int32_t ostrel_i_azure_buffer_count(const ostrel_i_azure_buffer_t *list);
/* Empties buffer and pushes it on the free list. Mutex held. */
void ostrel_i_azure_buffer_release(ostrel_i_azure_transfer_state_t *transfer_state,
                                   ostrel_i_azure_buffer_t *az_buffer);
/* current, else a free buffer, else a new one of at least the host's block
 * size; left in current. NULL when out of memory. Mutex held. */
ostrel_i_azure_buffer_t *ostrel_i_azure_buffer_get(ostrel_i_azure_transfer_state_t *transfer_state,
                                                   uint64_t requested_size);
/* Appends buffer to pending, or unlinks pending's head. Mutex held. */
void ostrel_i_azure_buffer_append(ostrel_i_azure_transfer_state_t *transfer_state,
                                  ostrel_i_azure_buffer_t *buffer);
ostrel_i_azure_buffer_t *
ostrel_i_azure_buffer_shift(ostrel_i_azure_transfer_state_t *transfer_state);
/* Unlinks the buffer whose data area is data from *list; NULL when absent. */
ostrel_i_azure_buffer_t *ostrel_i_azure_buffer_unlink(ostrel_i_azure_buffer_t **list,
                                                      const unsigned char *data);

/* The entry's share of a transfer: the record, the path checks (553 for a
 * bad name, 550 when the path names no blob) and the container gate. On
 * failure *transfer_state is NULL and the result is put. */
ostrel_result_t ostrel_i_azure_transfer_create(ostrel_gfs_operation_t op,
                                               ostrel_gfs_transfer_info_t *transfer_info,
                                               ostrel_i_azure_handle_t *az_handle,
                                               ostrel_i_azure_transfer_state_t **transfer_state);
/* Creates the transfer and hands it to worker; when either fails, the
 * operation is finished here with the result, which is returned. source and
 * func name a thread-start error. */
ostrel_result_t ostrel_i_azure_transfer_start(ostrel_gfs_operation_t op,
                                              ostrel_gfs_transfer_info_t *transfer_info,
                                              ostrel_i_azure_handle_t *az_handle,
                                              const char *source, const char *func,
                                              void *(*worker)(void *));
/* Frees the record, its buffers and its digest (NULL allowed). */
void ostrel_i_azure_transfer_free(ostrel_i_azure_transfer_state_t *transfer_state);
/* Finishes the transfer with its result, unlocks and frees it. */
void ostrel_i_azure_transfer_finish(ostrel_i_azure_transfer_state_t *transfer_state,
                                    const char *func);
/* Records the first failure of the transfer; a later one is dropped. */
void ostrel_i_azure_transfer_fail(ostrel_i_azure_transfer_state_t *transfer_state,
                                  ostrel_result_t result);
/* The storage call of a transfer under the retry rule, logged as from func;
 * call receives arg. Mutex held. */
void ostrel_i_azure_transfer_call(ostrel_i_azure_transfer_state_t *transfer_state, const char *func,
                                  const char *call_name, void (*call)(void *), void *arg);
/* Completion of a transfer's storage call: the completion rule on the
 * try's fields. */
void ostrel_i_azure_transfer_done(AZ_status status, AZ_error_details *details, void *arg);

/* Upload: starts the worker; 0, or the result the operation was already
 * finished with. */
ostrel_result_t ostrel_i_azure_recv_single(ostrel_gfs_operation_t op,
                                           ostrel_gfs_transfer_info_t *transfer_info,
                                           ostrel_i_azure_handle_t *az_handle);
/* The upload's data stream, mutex held. Registration tops reads up to the
 * host's concurrency; 0 or the failure, not recorded. */
ostrel_result_t ostrel_i_azure_recv_register_reads(ostrel_i_azure_transfer_state_t *transfer_state);
bool ostrel_i_azure_recv_is_transfer_offset_ready(const ostrel_i_azure_transfer_state_t *state);
bool ostrel_i_azure_recv_is_reading_complete(const ostrel_i_azure_transfer_state_t *state);
/* Waits until every read has come back (registering what the end of data
 * still needs); the transfer's result then tells whether the data is whole. */
void ostrel_i_azure_recv_wait_complete(ostrel_i_azure_transfer_state_t *transfer_state);
/* The data callback of the upload's AZ_put_blob. */
int32_t ostrel_i_azure_recv_single_data(int32_t max, unsigned char *buffer, void *arg);

/* ---- MIME types ----------------------------------------------------------- */

ostrel_result_t ostrel_i_azure_mime_types_parse(const char *path);
const char *ostrel_i_azure_mime_type_get(const char *name);
void ostrel_i_azure_mime_types_destroy(void);

/* ---- checksums and the checksum cache ------------------------------------ */

typedef struct ostrel_i_az_checksum_s ostrel_i_az_checksum_t;

ostrel_result_t ostrel_i_az_checksum_init(ostrel_i_az_checksum_t **checksum, size_t size);
ostrel_result_t ostrel_i_az_checksum_update(ostrel_i_az_checksum_t *checksum, const void *bytes,
                                            size_t count);
ostrel_result_t ostrel_i_az_checksum_finalize(ostrel_i_az_checksum_t *checksum);
/* The 32 hex digits once finalized. */
const char *ostrel_i_az_checksum_text(const ostrel_i_az_checksum_t *checksum);
void ostrel_i_az_checksum_free(ostrel_i_az_checksum_t **checksum);

ostrel_result_t ostrel_i_az_checksum_cache_init(void);
void ostrel_i_az_checksum_cache_destroy(void);
/* account scopes the entry, so sessions of different accounts never share one. */
int ostrel_i_az_checksum_add(const char *account, const char *container, const char *key,
                             time_t when, const char *checksum);
bool ostrel_i_az_checksum_find(const char *account, const char *container, const char *key,
                               time_t last_modified, char checksum[33]);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_I_AZURE_H */
