/*
 * The host interface: everything a storage plug-in may call in the GridFTP
 * server that loads it, and the records it exchanges with it.
 *
 * Plug-ins link against nothing here: the symbols stay undefined in the
 * plug-in and are resolved from the process that loads it.
 */
#ifndef OSTREL_HOST_H
#define OSTREL_HOST_H

#include <pthread.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- results and modules ---------------------------------------------- */

/* 0 or the handle of an error object registered with ostrel_error_put(). */
typedef uintptr_t ostrel_result_t;
#define OSTREL_SUCCESS ((ostrel_result_t)0)
#define OSTREL_FAILURE ((ostrel_result_t)0xFFFFFFFFu)

typedef ostrel_result_t (*ostrel_module_activation_func_t)(void);
typedef ostrel_result_t (*ostrel_module_deactivation_func_t)(void);
typedef void (*ostrel_module_atexit_func_t)(void);
typedef void *(*ostrel_module_get_pointer_func_t)(void);

typedef struct ostrel_version_s {
    int major;
    int minor;
    unsigned long timestamp;
    int branch_id;
} ostrel_version_t;

/* A module record: what a loadable module exports to the host. */
typedef struct ostrel_module_s {
    const char *module_name;
    ostrel_module_activation_func_t activation_func;
    ostrel_module_deactivation_func_t deactivation_func;
    ostrel_module_atexit_func_t atexit_func;
    ostrel_module_get_pointer_func_t get_pointer_func;
    const ostrel_version_t *version;
    const void *friendly_error_func;
} ostrel_module_t;

/* ---- error objects ------------------------------------------------------ */

typedef struct ostrel_object_s ostrel_object_t;

/* Error types used by plug-ins (the host gives them no further meaning). */
#define OSTREL_ERROR_TYPE_AZURE 1
#define OSTREL_ERROR_TYPE_PLUGIN 6

/* A new error object, owned by the caller until put. cause is adopted. */
ostrel_object_t *ostrel_error_construct_error(const ostrel_module_t *base_source,
                                              ostrel_object_t *base_cause, int type,
                                              const char *source_file, const char *source_func,
                                              int source_line, const char *fmt, ...)
    __attribute__((format(printf, 7, 8)));

/* Registers the object and returns its non-zero handle; the registry owns it. */
ostrel_result_t ostrel_error_put(ostrel_object_t *error);
/* Takes the object out of the registry; the caller owns and frees it. */
ostrel_object_t *ostrel_error_get(ostrel_result_t result);
/* Looks at a registered object; the registry keeps it. */
ostrel_object_t *ostrel_error_peek(ostrel_result_t result);
/* Text for a user: the chain of causes, outermost first. Caller frees. */
char *ostrel_error_print_friendly(ostrel_object_t *error);
void ostrel_object_free(ostrel_object_t *object);

/* An FTP response error: reply code, response error code ("PATH_NOT_FOUND")
 * and optional text. cause is adopted. */
ostrel_object_t *ostrel_gfs_ftp_response_error_construct(const ostrel_module_t *base_source,
                                                         ostrel_object_t *base_cause,
                                                         int response_code,
                                                         const char *response_error_code,
                                                         const char *fmt, ...);
/* Builds and puts a system error carrying errno; fmt describes the failure. */
ostrel_result_t ostrel_i_gfs_error_system(int ftp_code, int system_errno, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

/* Accessors, for the host's own replies and for tests. */
int ostrel_error_get_type(const ostrel_object_t *error);
const char *ostrel_error_get_text(const ostrel_object_t *error);
const ostrel_module_t *ostrel_error_get_source(const ostrel_object_t *error);
const char *ostrel_error_get_source_file(const ostrel_object_t *error);
const char *ostrel_error_get_source_func(const ostrel_object_t *error);
ostrel_object_t *ostrel_error_get_cause(const ostrel_object_t *error);
/* FTP response fields: 0 and NULL when the object is not a response error. */
int ostrel_error_ftp_response_code(const ostrel_object_t *error);
const char *ostrel_error_ftp_response_error_code(const ostrel_object_t *error);
/* errno of a system error, 0 otherwise. */
int ostrel_error_system_errno(const ostrel_object_t *error);

/* ---- threads, locks, sleeping ------------------------------------------- */

typedef pthread_t ostrel_thread_t;
typedef pthread_mutex_t ostrel_mutex_t;
typedef pthread_cond_t ostrel_cond_t;

/* Starts a detached thread; 0 on success, an errno value otherwise. */
int ostrel_thread_create(ostrel_thread_t *thread, void *attr, void *(*func)(void *), void *arg);
ostrel_thread_t ostrel_thread_self(void);

int ostrel_mutex_init(ostrel_mutex_t *mutex, void *attr);
int ostrel_mutex_destroy(ostrel_mutex_t *mutex);
int ostrel_mutex_lock(ostrel_mutex_t *mutex);
int ostrel_mutex_unlock(ostrel_mutex_t *mutex);
int ostrel_cond_init(ostrel_cond_t *cond, void *attr);
int ostrel_cond_destroy(ostrel_cond_t *cond);
int ostrel_cond_wait(ostrel_cond_t *cond, ostrel_mutex_t *mutex);
int ostrel_cond_signal(ostrel_cond_t *cond);
int ostrel_cond_broadcast(ostrel_cond_t *cond);

int ostrel_libc_usleep(unsigned long microseconds);

/* ---- string hash tables ------------------------------------------------- */

typedef struct ostrel_hashtable_s *ostrel_hashtable_t;
typedef int (*ostrel_hashtable_hash_func_t)(void *key, int limit);
typedef int (*ostrel_hashtable_keyeq_func_t)(void *key1, void *key2);
typedef void (*ostrel_hashtable_destructor_func_t)(void *datum);

/* 0 on success. */
int ostrel_hashtable_init(ostrel_hashtable_t *table, int size, ostrel_hashtable_hash_func_t hash,
                          ostrel_hashtable_keyeq_func_t keyeq);
/* 0 on success; non-zero when the key is already present (nothing stored). */
int ostrel_hashtable_insert(ostrel_hashtable_t *table, void *key, void *datum);
void *ostrel_hashtable_lookup(ostrel_hashtable_t *table, void *key);
/* Returns the datum that was stored, or NULL. */
void *ostrel_hashtable_remove(ostrel_hashtable_t *table, void *key);
int ostrel_hashtable_size(ostrel_hashtable_t *table);
/* Frees the table; calls destructor (if any) on every datum. */
void ostrel_hashtable_destroy_all(ostrel_hashtable_t *table,
                                  ostrel_hashtable_destructor_func_t destructor);
int ostrel_hashtable_string_hash(void *string, int limit);
int ostrel_hashtable_string_keyeq(void *string1, void *string2);

/* ---- extension registry ------------------------------------------------- */

typedef struct ostrel_extension_registry_s ostrel_extension_registry_t;

/* The registry of storage interfaces, keyed by DSI name ("azure_blob"). */
extern ostrel_extension_registry_t ostrel_i_gfs_dsi_registry;

/* 0 on success; non-zero when the symbol is already registered. */
int ostrel_extension_registry_add(ostrel_extension_registry_t *registry, void *symbol,
                                  const ostrel_module_t *module, void *data);
/* Returns the data that was registered, or NULL. */
void *ostrel_extension_registry_remove(ostrel_extension_registry_t *registry, void *symbol);
/* Host side: the data registered under symbol, or NULL. */
void *ostrel_extension_lookup(ostrel_extension_registry_t *registry, const char *symbol);

/* ---- debug facility and logging ----------------------------------------- */

typedef struct ostrel_debug_handle_s {
    uint32_t levels;           /* enabled levels, one bit each */
    uint32_t timestamp_levels; /* levels written with a timestamp */
    FILE *file;                /* NULL: logging is off */
    bool thread_ids;           /* prefix every write with the thread id */
    bool using_file;           /* file was opened by the facility; its owner closes it */
} ostrel_debug_handle_t;

/* Reads the environment variable env_name and fills handle; level_names is
 * the space-separated list of level names, bit 1 first. Failures leave
 * logging off. */
void ostrel_debug_init(const char *env_name, const char *level_names,
                       ostrel_debug_handle_t *handle);

#define OSTREL_GFS_LOG_ERR 1
#define OSTREL_GFS_LOG_WARN 2
#define OSTREL_GFS_LOG_INFO 4
void ostrel_gfs_log_message(int type, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

/* ---- the storage interface (DSI) ---------------------------------------- */

typedef struct ostrel_gfs_operation_s *ostrel_gfs_operation_t;

typedef struct ostrel_gfs_session_info_s {
    char *username;
    char *host_id;
    void *del_cred;
} ostrel_gfs_session_info_t;

typedef struct ostrel_gfs_stat_info_s {
    int file_only;
    int internal;
    char *pathname;
} ostrel_gfs_stat_info_t;

/* One stat record; the host copies what it keeps before the finish call returns. */
typedef struct ostrel_gfs_stat_s {
    int mode;
    int nlink;
    char *name;
    char *symlink_target;
    uid_t uid;
    gid_t gid;
    int64_t size;
    int64_t atime;
    int64_t ctime;
    int64_t mtime;
    int dev;
    int ino;
} ostrel_gfs_stat_t;

enum {
    OSTREL_GFS_CMD_MKD = 1,
    OSTREL_GFS_CMD_RMD = 2,
    OSTREL_GFS_CMD_DELE = 3,
    OSTREL_GFS_CMD_SITE_AUTHZ_ASSERT = 4,
    OSTREL_GFS_CMD_SITE_RDEL = 5,
    OSTREL_GFS_CMD_RNTO = 6,
    OSTREL_GFS_CMD_RNFR = 7,
    OSTREL_GFS_CMD_CKSM = 8,
    OSTREL_GFS_CMD_SITE_CHMOD = 9,
    OSTREL_GFS_CMD_SITE_DSI = 10,
    OSTREL_GFS_CMD_SITE_SETNETSTACK = 11,
    OSTREL_GFS_CMD_SITE_SETDISKSTACK = 12,
    OSTREL_GFS_CMD_SITE_CLIENTINFO = 13,
    OSTREL_GFS_CMD_DCSC = 14,
    OSTREL_GFS_CMD_SITE_CHGRP = 15,
    OSTREL_GFS_CMD_SITE_UTIME = 16,
    OSTREL_GFS_CMD_SITE_SYMLINKFROM = 17,
    OSTREL_GFS_CMD_SITE_SYMLINK = 18,
};

typedef struct ostrel_gfs_command_info_s {
    int command; /* OSTREL_GFS_CMD_* */
    char *pathname;
    int64_t cksm_offset;
    int64_t cksm_length;
    char *cksm_alg;
    int chmod_mode;
    char *rnfr_pathname;
    char *from_pathname;
} ostrel_gfs_command_info_t;

typedef struct ostrel_gfs_transfer_info_s {
    char *pathname;
    char *module_name;
    char *module_args;
    bool truncate;
    int64_t partial_offset;
    int64_t partial_length;
    int64_t alloc_size;
    int nstreams;
    int node_ndx;
    int node_count;
} ostrel_gfs_transfer_info_t;

typedef void (*ostrel_gfs_init_func_t)(ostrel_gfs_operation_t op,
                                       ostrel_gfs_session_info_t *session_info);
typedef void (*ostrel_gfs_destroy_func_t)(void *user_arg);
typedef void (*ostrel_gfs_transfer_func_t)(ostrel_gfs_operation_t op,
                                           ostrel_gfs_transfer_info_t *transfer_info,
                                           void *user_arg);
typedef void (*ostrel_gfs_command_func_t)(ostrel_gfs_operation_t op,
                                          ostrel_gfs_command_info_t *command_info, void *user_arg);
typedef void (*ostrel_gfs_stat_func_t)(ostrel_gfs_operation_t op, ostrel_gfs_stat_info_t *stat_info,
                                       void *user_arg);
typedef void (*ostrel_gfs_slot_func_t)(void);

/* The storage interface table: descriptor flags and fourteen slots. */
typedef struct ostrel_gfs_storage_iface_s {
    int descriptor;
    ostrel_gfs_init_func_t init_func;
    ostrel_gfs_destroy_func_t destroy_func;
    ostrel_gfs_transfer_func_t list_func;
    ostrel_gfs_transfer_func_t send_func;
    ostrel_gfs_transfer_func_t recv_func;
    ostrel_gfs_slot_func_t trev_func;
    ostrel_gfs_slot_func_t active_func;
    ostrel_gfs_slot_func_t passive_func;
    ostrel_gfs_slot_func_t data_destroy_func;
    ostrel_gfs_command_func_t command_func;
    ostrel_gfs_stat_func_t stat_func;
    ostrel_gfs_slot_func_t set_cred_func;
    ostrel_gfs_slot_func_t buffer_send_func;
    ostrel_gfs_slot_func_t realpath_func;
} ostrel_gfs_storage_iface_t;

#define OSTREL_GFS_DSI_DESCRIPTOR_BLOCKING (1 << 0)
#define OSTREL_GFS_DSI_DESCRIPTOR_SENDER (1 << 1)
#define OSTREL_GFS_DSI_DESCRIPTOR_HAS_REALPATH (1 << 2)
#define OSTREL_GFS_DSI_DESCRIPTOR_REQUIRES_ORDERED_DATA (1 << 3)

/* Session. The text returned through data is the caller's to free (NULL when
 * the host has none for the key). Keys: "config", "creds", "renew-creds". */
void ostrel_gridftp_server_get_config_data(ostrel_gfs_operation_t op, const char *key, char **data);
void ostrel_gridftp_server_finished_session_start(ostrel_gfs_operation_t op, ostrel_result_t result,
                                                  void *session_arg, char *username,
                                                  char *home_dir);

/* Stat: any number of partial answers, then one final answer. */
void ostrel_gridftp_server_finished_stat(ostrel_gfs_operation_t op, ostrel_result_t result,
                                         ostrel_gfs_stat_t *stat_array, int stat_count);
void ostrel_gridftp_server_finished_stat_partial(ostrel_gfs_operation_t op, ostrel_result_t result,
                                                 ostrel_gfs_stat_t *stat_array, int stat_count);

/* Commands: exactly one finish per command; intermediate texts are progress. */
void ostrel_gridftp_server_finished_command(ostrel_gfs_operation_t op, ostrel_result_t result,
                                            char *command_response);
void ostrel_gridftp_server_intermediate_command(ostrel_gfs_operation_t op, ostrel_result_t result,
                                                char *command_response);
ostrel_result_t ostrel_gridftp_server_get_update_interval(ostrel_gfs_operation_t op, int *interval);

/* Transfers. Reads and writes complete later through callbacks on host threads. */
typedef void (*ostrel_gfs_write_cb_t)(ostrel_gfs_operation_t op, ostrel_result_t result,
                                      unsigned char *buffer, size_t nbytes, void *user_arg);
typedef void (*ostrel_gfs_read_cb_t)(ostrel_gfs_operation_t op, ostrel_result_t result,
                                     unsigned char *buffer, size_t nbytes, int64_t offset, bool eof,
                                     void *user_arg);

#define OSTREL_GFS_EVENT_TRANSFER_BEGIN 0x0001
#define OSTREL_GFS_EVENT_TRANSFER_ABORT 0x0002
#define OSTREL_GFS_EVENT_TRANSFER_COMPLETE 0x0004
#define OSTREL_GFS_EVENT_DISCONNECTED 0x0008
#define OSTREL_GFS_EVENT_BYTES_RECVD 0x0010
#define OSTREL_GFS_EVENT_RANGES_RECVD 0x0020
#define OSTREL_GFS_EVENT_PARTIAL_EOF_COUNT 0x0100
#define OSTREL_GFS_EVENT_FINAL_EOF_COUNT 0x0200
#define OSTREL_GFS_EVENT_ALL 0xFFFF

void ostrel_gridftp_server_begin_transfer(ostrel_gfs_operation_t op, int event_mask,
                                          void *event_arg);
void ostrel_gridftp_server_get_read_range(ostrel_gfs_operation_t op, int64_t *offset,
                                          int64_t *length);
void ostrel_gridftp_server_get_optimal_concurrency(ostrel_gfs_operation_t op, int *count);
void ostrel_gridftp_server_get_block_size(ostrel_gfs_operation_t op, size_t *block_size);
ostrel_result_t ostrel_gridftp_server_register_write(ostrel_gfs_operation_t op,
                                                     unsigned char *buffer, size_t length,
                                                     int64_t offset, int stripe_ndx,
                                                     ostrel_gfs_write_cb_t callback,
                                                     void *user_arg);
ostrel_result_t ostrel_gridftp_server_register_read(ostrel_gfs_operation_t op,
                                                    unsigned char *buffer, size_t length,
                                                    ostrel_gfs_read_cb_t callback, void *user_arg);
void ostrel_gridftp_server_update_bytes_recvd(ostrel_gfs_operation_t op, int64_t offset,
                                              int64_t length);
/* 0 and the client-supplied time, or non-zero when the client gave none. */
int ostrel_gridftp_server_get_recv_modification_time(ostrel_gfs_operation_t op, time_t *modtime);
void ostrel_gridftp_server_finished_transfer(ostrel_gfs_operation_t op, ostrel_result_t result);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_HOST_H */
