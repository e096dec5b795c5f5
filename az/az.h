/*
 * The storage access layer: a flat C interface over the blob service client.
 *
 * Every operation runs on the calling thread, reports entries or data through
 * callbacks on that thread, and ends with exactly one completion callback
 * before it returns. Texts handed to callbacks are borrowed: valid during the
 * callback only.
 */
#ifndef OSTREL_AZ_H
#define OSTREL_AZ_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t AZ_status;

/* The statuses the rest of the system names; AZ_get_status_name() knows all 203. */
enum {
    AZ_OK = 0,
    AZ_InternalError = 1,
    AZ_OutOfMemory = 2,
    AZ_FailedToInitializeRequest = 11,
    AZ_XmlParseFailure = 30,
    AZ_XmlDocumentTooLarge = 41,
    AZ_FailedToConnect = 43,
    AZ_ConnectionFailed = 45,
    AZ_AbortedByCallback = 46,
    AZ_NotSupported = 47,
    AZ_ErrorBlobAlreadyExists = 49,
    AZ_ErrorBlobNotFound = 52,
    AZ_ErrorBlockCountExceedsLimit = 55,
    AZ_ErrorContainerAlreadyExists = 59,
    AZ_ErrorContainerNotFound = 64,
    AZ_ErrorAccessDenied = 119,
    AZ_ErrorBadDigest = 122,
    AZ_ErrorContainerNotEmpty = 124,
    AZ_ErrorInvalidAccessKeyId = 135,
    AZ_ErrorInvalidRange = 148,
    AZ_ErrorMethodNotAllowed = 162,
    AZ_ErrorMissingContentLength = 164,
    AZ_ErrorNoSuchUpload = 172,
    AZ_ErrorNotSignedUp = 175,
    AZ_ErrorPreconditionFailed = 179,
    AZ_ErrorSignatureDoesNotMatch = 186,
    AZ_ErrorServiceUnavailable = 187,
    AZ_ErrorSlowDown = 188,
    AZ_ErrorQuotaExceeded = 195,
    AZ_ErrorUnknown = 196,
    AZ_HttpErrorMovedTemporarily = 197,
    AZ_HttpErrorBadRequest = 198,
    AZ_HttpErrorForbidden = 199,
    AZ_HttpErrorNotFound = 200,
    AZ_HttpErrorConflict = 201,
    AZ_HttpErrorUnknown = 202,
};
#define AZ_STATUS_COUNT 203

typedef struct AZ_name_value {
    const char *name;
    const char *value;
} AZ_name_value;

/* Texts of a failed answer; owned by the AZ_ call, valid during the callback. */
typedef struct AZ_error_details {
    char *message;   /* the service's message */
    char *code;      /* HTTP status (or libcurl code) as decimal text */
    char *resource;  /* never filled here; error reporting uses the path */
    char *code_name; /* the service's error code, or libcurl's error text */
    int32_t extra_count;
    AZ_name_value *extra;
} AZ_error_details;

/* Names of the extra pairs of a refused range (416 at the end of a blob). */
#define AZ_EXTRA_RANGE_REQUESTED "RangeRequested"
#define AZ_EXTRA_ACTUAL_BLOB_SIZE "ActualBlobSize"

/* Never fails, never allocates; "Unknown" above the last status. */
const char *AZ_get_status_name(AZ_status status);
/* Whether an operation should repeat a call that ended with status. */
int AZ_status_is_retryable(AZ_status status);

/* ---- client lifecycle --------------------------------------------------- */

typedef struct AZ_client AZ_client;

/* Asked for a fresh token by long operations; the result is not examined. */
typedef int (*AZ_token_refresh_callback)(void *arg);

/* Ranges of the AZ_client_options numbers; 0 always means the default. */
#define AZ_RETRY_ATTEMPTS_MAX 10
#define AZ_RETRY_MAX_DELAY_MS_MAX 300000
#define AZ_UPLOAD_BLOCK_MIB_MAX 100
#define AZ_UPLOAD_PARALLEL_MAX 16

typedef struct AZ_client_options {
    const char *ca_file; /* certificate authorities to trust; NULL: library default */
    /* Attempts of every request, the first included: 1 to AZ_RETRY_ATTEMPTS_MAX; 0: 4. */
    int32_t retry_attempts;
    /* The longest wait before a repeat, whatever the service asks: 1 to
     * AZ_RETRY_MAX_DELAY_MS_MAX; 0: 30000. Waits start at 500 ms (or this, if less) and
     * double. */
    int32_t retry_max_delay_ms;
    /* Uploads stage blocks of this many MiB in memory and repeat a failed request from them,
     * 1 to AZ_UPLOAD_BLOCK_MIB_MAX (grown when a blob would need more than 50,000 blocks);
     * an upload that fits in one block goes in one request. 0: uploads are streamed, and a
     * request whose bytes were already taken from the data callback is not repeated. */
    int32_t upload_block_mib;
    /* Staged blocks sent at once, 1 to AZ_UPLOAD_PARALLEL_MAX; an upload holds about one
     * block more than this in memory. 0: 1. Needs upload_block_mib. */
    int32_t upload_parallel;
    /* Uploads store the MD5 of the bytes they sent as the blob's Content-MD5 (a streamed
     * upload in one request has the service compute it). */
    bool store_md5;
} AZ_client_options;

AZ_status AZ_initialize(void);

/* NULL when key can name a blob in a request, else a constant text saying why not: a "." or
 * ".." segment would be resolved away on the way and reach another blob or container. */
const char *AZ_key_error(const char *key);
/* NULL when account ("name" or "name:endpoint") is usable, else a constant text saying why
 * not. The name has 3 to 24 lower-case letters and digits, as the service allows. */
const char *AZ_account_error(const char *account);
void AZ_deinitialize(void);

/* NULL when options (may be NULL) are usable, else a constant text saying which field is
 * out of its range. */
const char *AZ_client_options_error(const AZ_client_options *options);

/* account: "name" or "name:host[:port][/path]". account and token must not
 * be NULL; an account that AZ_account_error() refuses, or options that
 * AZ_client_options_error() refuses, give FailedToInitializeRequest. */
AZ_status AZ_init_client(const char *account, const char *token, bool adls,
                         AZ_token_refresh_callback refresh, void *refresh_arg, AZ_client **client);
/* As AZ_init_client(), with options (may be NULL). */
AZ_status AZ_init_client_with_options(const char *account, const char *token, bool adls,
                                      AZ_token_refresh_callback refresh, void *refresh_arg,
                                      const AZ_client_options *options, AZ_client **client);
void AZ_destroy_client(AZ_client *client);
/* Safe to call from several threads of one session at once. */
AZ_status AZ_update_token(AZ_client *client, const char *token);

/* ---- callbacks ---------------------------------------------------------- */

typedef struct AZ_properties {
    const char *name;
    uint64_t size;
    int64_t last_modified; /* seconds since the epoch, -1 when unknown */
    const char *md5;       /* 32 lowercase hex digits, or NULL */
    bool is_directory;
    int32_t metadata_count;
    AZ_name_value *metadata;
    const char *etag;   /* the blob's ETag with its quotes, or NULL (containers, prefixes) */
    bool folder_marker; /* a blob whose metadata says hdi_isfolder=true, in any case */
} AZ_properties;

typedef void (*AZ_complete_callback)(AZ_status status, AZ_error_details *details, void *arg);
typedef int (*AZ_properties_callback)(AZ_properties *properties, void *arg);
/* Returns the count accepted; anything else stops the delivery of this download. */
typedef int32_t (*AZ_get_data_callback)(int32_t count, const unsigned char *data, void *arg);
/* Writes up to max bytes into buffer; returns the count, 0 at the end, -1 on failure. */
typedef int32_t (*AZ_put_data_callback)(int32_t max, unsigned char *buffer, void *arg);

/* ---- containers --------------------------------------------------------- */

void AZ_create_container(AZ_client *client, const char *container, AZ_complete_callback complete,
                         void *arg);
void AZ_delete_container(AZ_client *client, const char *container, AZ_complete_callback complete,
                         void *arg);
void AZ_head_container(AZ_client *client, const char *container, AZ_properties_callback properties,
                       AZ_complete_callback complete, void *arg);
void AZ_list_containers(AZ_client *client, AZ_properties_callback properties,
                        AZ_complete_callback complete, void *arg);

/* ---- blobs -------------------------------------------------------------- */

/* Conditions and reports of the _ex blob calls. NULL options or zeroed fields: none. A
 * condition that does not hold fails the call with ErrorPreconditionFailed (if_match) or
 * ErrorBlobAlreadyExists (if_none_match) and changes nothing. */
typedef struct AZ_blob_options {
    const char *if_match; /* act only on the version with this ETag (as AZ_properties.etag) */
    bool if_none_match;   /* put only: store only when no blob has the key */
    /* On success, once, before the completion callback: name, size (the whole blob's),
     * last_modified and etag of the version that was read (get) or stored (put), and the md5
     * of a put that computed one (store_md5). */
    AZ_properties_callback version;
} AZ_blob_options;

/* size 0: to the end of the blob. */
void AZ_get_blob(AZ_client *client, const char *container, const char *key, uint64_t offset,
                 uint64_t size, AZ_get_data_callback data, AZ_complete_callback complete,
                 void *arg);
/* A read cut short is continued from the same version, the if_match one when given. */
void AZ_get_blob_ex(AZ_client *client, const char *container, const char *key, uint64_t offset,
                    uint64_t size, const AZ_blob_options *options, AZ_get_data_callback data,
                    AZ_complete_callback complete, void *arg);
void AZ_head_blob(AZ_client *client, const char *container, const char *key,
                  AZ_properties_callback properties, AZ_complete_callback complete, void *arg);
void AZ_delete_blob(AZ_client *client, const char *container, const char *key,
                    AZ_complete_callback complete, void *arg);
/* options: if_match only. */
void AZ_delete_blob_ex(AZ_client *client, const char *container, const char *key,
                       const AZ_blob_options *options, AZ_complete_callback complete, void *arg);
/* One directory level below prefix ("" or ending in "/"), delimiter "/". */
void AZ_list_blobs(AZ_client *client, const char *container, const char *prefix,
                   AZ_properties_callback properties, AZ_complete_callback complete, void *arg);

typedef struct AZ_put_options {
    const char *content_type;
    int32_t metadata_count;
    AZ_name_value *metadata;
} AZ_put_options;

void AZ_put_blob(AZ_client *client, const char *container, const char *key, uint64_t size,
                 const AZ_put_options *options, AZ_put_data_callback data,
                 AZ_complete_callback complete, void *arg);
/* A block upload stages its blocks unconditionally; the conditions apply to its commit. */
void AZ_put_blob_ex(AZ_client *client, const char *container, const char *key, uint64_t size,
                    const AZ_put_options *options, const AZ_blob_options *blob_options,
                    AZ_put_data_callback data, AZ_complete_callback complete, void *arg);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_AZ_H */
