/*
 * ovk_sdk.h: the C interface of liborviksdk_python, the storage SDK.
 *
 * Conventions, written once for every function below:
 *
 * - Handles are opaque. Whatever a create/open function returns is owned by
 *   the caller and released with the matching free function. Free functions
 *   accept NULL and do nothing for it.
 * - Every call that can fail takes a handle context first and records its
 *   outcome there: error code 0 means success, any other code is one of the
 *   OVK_ERR_* values below and comes with a message naming the operation's
 *   object (path, key, endpoint) and the cause. Messages never contain
 *   credentials. The return value carries the result; after a failure it is
 *   false, -1, or NULL.
 * - A handle context is made per call: ovk_createHandleCtx1(store) for store
 *   calls, ovk_createHandleCtx2(store, stream) for stream and operation-call
 *   calls. Reusing one context for several calls overwrites its outcome.
 * - Texts are NUL-terminated UTF-8 byte strings. Texts returned by accessors
 *   are borrowed from their object and stay valid until it is freed; NULL
 *   stands for an empty text.
 * - Every options argument of a blocking call may be NULL. An asynchronous
 *   call takes an options handle holding one callback and its context; the
 *   SDK copies what it needs before returning, so the caller may free the
 *   options at once. The callback runs exactly once, with a handle context
 *   and result object that it owns and must free (the result is NULL, false
 *   or -1 after a failure): on an SDK thread; or, when the store is not
 *   initialised or already destroyed at submission, on the submitting thread
 *   before the call returns, with OVK_ERR_NOT_INITIALISED. A call whose
 *   options carry no callback of the kind it needs is refused: it returns
 *   NULL with OVK_ERR_INVALID_ARGUMENT and nothing is called back.
 * - The library is thread-safe: any number of threads may use one store.
 *   After ovk_destroyStore every call on that store, its streams and its
 *   operation calls fails with OVK_ERR_NOT_INITIALISED.
 * - No C++ exception leaves this interface.
 */
#ifndef ORVIKSDK_OVK_SDK_H_
#define ORVIKSDK_OVK_SDK_H_

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define OVK_EXPORT __attribute__((visibility("default")))
#else
#define OVK_EXPORT
#endif

/* Error codes recorded in a handle context. */
enum {
  OVK_OK = 0,
  OVK_ERR_NOT_FOUND = 3001,        /* path not found */
  OVK_ERR_INVALID_URI = 4001,      /* invalid URI or unsupported scheme */
  OVK_ERR_NOT_INITIALISED = 4002,  /* store not initialised, or destroyed */
  OVK_ERR_AUTH = 4003,             /* authentication or authorisation refused */
  OVK_ERR_INVALID_ARGUMENT = 4004, /* bad path, escape from the root, bad option */
  OVK_ERR_ALREADY_EXISTS = 4005,   /* exists already, or the wrong type of entry */
  OVK_ERR_NOT_EMPTY = 4006,        /* directory not empty */
  OVK_ERR_PERMISSION = 4007,       /* permission denied by the storage */
  OVK_ERR_NOT_SUPPORTED = 4008,    /* not supported by this backend */
  OVK_ERR_CANCELLED = 4009,        /* request cancelled before it started */
  OVK_ERR_IO = 4010,               /* I/O or network failure after retries */
  OVK_ERR_REMOTE = 4011            /* remote service error */
};

/* Flags of ovk_open. */
enum {
  OVK_OPEN_WRITE = 3,          /* create, or truncate an existing file */
  OVK_OPEN_APPEND = 0x400,     /* with OVK_OPEN_WRITE: keep existing bytes */
  OVK_OPEN_READ = 0x10000
};

/* Entry types reported by ovk_getFileStatusType. */
enum {
  OVK_TYPE_UNKNOWN = 0,
  OVK_TYPE_DIRECTORY = 1,
  OVK_TYPE_FILE = 2,
  OVK_TYPE_SYMLINK = 3,
  OVK_TYPE_MOUNT_POINT = 4
};

typedef struct ovk_store_t ovk_store_t;
typedef struct ovk_options_t ovk_options_t;
typedef struct ovk_handle_ctx_t ovk_handle_ctx_t;
typedef struct ovk_io_context_t ovk_io_context_t;
typedef struct ovk_operation_call_t ovk_operation_call_t;
typedef struct ovk_file_status_t ovk_file_status_t;
typedef struct ovk_list_dir_result_t ovk_list_dir_result_t;
typedef struct ovk_content_summary_t ovk_content_summary_t;
typedef struct ovk_longs_t ovk_longs_t;
typedef struct ovk_file_buffers_t ovk_file_buffers_t;

/* Completion callbacks of asynchronous calls; they own ctx and the result. */
typedef void (*ovk_bool_callback_t)(ovk_handle_ctx_t* ctx, bool result,
                                    void* context);
typedef void (*ovk_int64_callback_t)(ovk_handle_ctx_t* ctx, int64_t result,
                                     void* context);
typedef void (*ovk_file_status_callback_t)(ovk_handle_ctx_t* ctx,
                                           ovk_file_status_t* result,
                                           void* context);
typedef void (*ovk_list_dir_result_callback_t)(ovk_handle_ctx_t* ctx,
                                               ovk_list_dir_result_t* result,
                                               void* context);
typedef void (*ovk_content_summary_callback_t)(ovk_handle_ctx_t* ctx,
                                               ovk_content_summary_t* result,
                                               void* context);

/* Store: create from options and URI, initialise for a user, tear down. */
OVK_EXPORT ovk_store_t* ovk_createStore(ovk_options_t* options,
                                        const char* uri);
OVK_EXPORT void ovk_init(ovk_handle_ctx_t* ctx, const char* user);
OVK_EXPORT void ovk_destroyStore(ovk_handle_ctx_t* ctx, ovk_store_t* store);
OVK_EXPORT void ovk_freeStore(ovk_store_t* store);

/* Options: string settings, and the callback of one asynchronous call. */
OVK_EXPORT ovk_options_t* ovk_createOptions(void);
OVK_EXPORT void ovk_setOption(ovk_options_t* options, const char* key,
                              const char* value);
OVK_EXPORT void ovk_freeOptions(ovk_options_t* options);
OVK_EXPORT void ovk_setCallbackContext(ovk_options_t* options, void* context);
OVK_EXPORT void ovk_setBoolCallback(ovk_options_t* options,
                                    ovk_bool_callback_t callback);
OVK_EXPORT void ovk_setInt64Callback(ovk_options_t* options,
                                     ovk_int64_callback_t callback);
OVK_EXPORT void ovk_setFileStatusCallback(ovk_options_t* options,
                                          ovk_file_status_callback_t callback);
OVK_EXPORT void ovk_setListDirResultCallback(
    ovk_options_t* options, ovk_list_dir_result_callback_t callback);
OVK_EXPORT void ovk_setContentSummaryCallback(
    ovk_options_t* options, ovk_content_summary_callback_t callback);

/* Handle contexts: one per call, carrying its error code and message. */
OVK_EXPORT ovk_handle_ctx_t* ovk_createHandleCtx1(ovk_store_t* store);
OVK_EXPORT ovk_handle_ctx_t* ovk_createHandleCtx2(ovk_store_t* store,
                                                  ovk_io_context_t* stream);
OVK_EXPORT int32_t ovk_getHandleCtxErrorCode(const ovk_handle_ctx_t* ctx);
OVK_EXPORT const char* ovk_getHandleCtxErrorMsg(const ovk_handle_ctx_t* ctx);
OVK_EXPORT void ovk_freeHandleCtx(ovk_handle_ctx_t* ctx);

/* Namespace: directories, entries, listings, permissions and owners. */
OVK_EXPORT bool ovk_mkdir(ovk_handle_ctx_t* ctx, const char* path,
                          bool recursive, int32_t perm,
                          ovk_options_t* options);
OVK_EXPORT bool ovk_rename(ovk_handle_ctx_t* ctx, const char* src,
                           const char* dst, ovk_options_t* options);
OVK_EXPORT bool ovk_exists(ovk_handle_ctx_t* ctx, const char* path,
                           ovk_options_t* options);
OVK_EXPORT bool ovk_remove(ovk_handle_ctx_t* ctx, const char* path,
                           bool recursive, ovk_options_t* options);
OVK_EXPORT ovk_file_status_t* ovk_getFileStatus(ovk_handle_ctx_t* ctx,
                                                const char* path,
                                                ovk_options_t* options);
OVK_EXPORT ovk_list_dir_result_t* ovk_listDir(ovk_handle_ctx_t* ctx,
                                              const char* path, bool recursive,
                                              ovk_options_t* options);
OVK_EXPORT ovk_content_summary_t* ovk_getContentSummary(
    ovk_handle_ctx_t* ctx, const char* path, bool whole_subtree,
    ovk_options_t* options);
OVK_EXPORT bool ovk_setPermission(ovk_handle_ctx_t* ctx, const char* path,
                                  int32_t perm, ovk_options_t* options);
OVK_EXPORT bool ovk_setOwner(ovk_handle_ctx_t* ctx, const char* path,
                             const char* user, const char* group,
                             ovk_options_t* options);

/* Streams: open a file, then read, write and position it through a context
 * made with ovk_createHandleCtx2(store, stream). read and pread return the
 * bytes read, -1 at end of file, never 0 for a non-zero request. */
OVK_EXPORT ovk_io_context_t* ovk_open(ovk_handle_ctx_t* ctx, const char* path,
                                      int32_t flags, int32_t perm,
                                      ovk_options_t* options);
OVK_EXPORT int64_t ovk_read(ovk_handle_ctx_t* ctx, char* buffer, uint64_t n,
                            ovk_options_t* options);
OVK_EXPORT int64_t ovk_pread(ovk_handle_ctx_t* ctx, char* buffer, uint64_t n,
                             int64_t offset, ovk_options_t* options);
OVK_EXPORT int64_t ovk_preadv(ovk_handle_ctx_t* ctx,
                              ovk_file_buffers_t* buffers,
                              ovk_longs_t* lengths, ovk_longs_t* offsets,
                              ovk_options_t* options);
OVK_EXPORT int64_t ovk_write(ovk_handle_ctx_t* ctx, const char* data,
                             uint64_t n, ovk_options_t* options);
OVK_EXPORT bool ovk_flush(ovk_handle_ctx_t* ctx, ovk_options_t* options);
OVK_EXPORT int64_t ovk_tell(ovk_handle_ctx_t* ctx, ovk_options_t* options);
OVK_EXPORT int64_t ovk_seek(ovk_handle_ctx_t* ctx, int64_t offset,
                            ovk_options_t* options);
OVK_EXPORT int64_t ovk_getFileLength(ovk_handle_ctx_t* ctx,
                                     ovk_options_t* options);
OVK_EXPORT bool ovk_close(ovk_handle_ctx_t* ctx, ovk_options_t* options);
/* Appends the rest of source, a stream opened for reading (from its position
 * to its end, which becomes its position), to the stream of ctx, opened for
 * writing; returns the bytes appended. Where the storage can, the bytes are
 * copied by the storage itself and never pass through this process: a
 * server-side copy for quoll:// (when the writer holds nothing yet and the
 * reader is at the start of an object of the same bucket), copy_file_range
 * for file://. Otherwise the SDK copies them through a buffer of its own.
 * The source may belong to another store. */
OVK_EXPORT int64_t ovk_copyFrom(ovk_handle_ctx_t* ctx,
                                ovk_io_context_t* source,
                                ovk_options_t* options);
OVK_EXPORT void ovk_freeIOContext(ovk_io_context_t* stream);

/* Asynchronous forms: same arguments, the result goes to the callback
 * registered on options; the returned operation call is the caller's. */
OVK_EXPORT ovk_operation_call_t* ovk_mkdirAsync(ovk_handle_ctx_t* ctx,
                                                const char* path,
                                                bool recursive, int32_t perm,
                                                ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_renameAsync(ovk_handle_ctx_t* ctx,
                                                 const char* src,
                                                 const char* dst,
                                                 ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_existsAsync(ovk_handle_ctx_t* ctx,
                                                 const char* path,
                                                 ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_removeAsync(ovk_handle_ctx_t* ctx,
                                                 const char* path,
                                                 bool recursive,
                                                 ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_getFileStatusAsync(
    ovk_handle_ctx_t* ctx, const char* path, ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_listDirAsync(ovk_handle_ctx_t* ctx,
                                                  const char* path,
                                                  bool recursive,
                                                  ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_getContentSummaryAsync(
    ovk_handle_ctx_t* ctx, const char* path, bool whole_subtree,
    ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_setPermissionAsync(
    ovk_handle_ctx_t* ctx, const char* path, int32_t perm,
    ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_setOwnerAsync(ovk_handle_ctx_t* ctx,
                                                   const char* path,
                                                   const char* user,
                                                   const char* group,
                                                   ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_readAsync(ovk_handle_ctx_t* ctx,
                                               char* buffer, uint64_t n,
                                               ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_preadAsync(ovk_handle_ctx_t* ctx,
                                                char* buffer, uint64_t n,
                                                int64_t offset,
                                                ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_preadvAsync(ovk_handle_ctx_t* ctx,
                                                 ovk_file_buffers_t* buffers,
                                                 ovk_longs_t* lengths,
                                                 ovk_longs_t* offsets,
                                                 ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_writeAsync(ovk_handle_ctx_t* ctx,
                                                const char* data, uint64_t n,
                                                ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_flushAsync(ovk_handle_ctx_t* ctx,
                                                ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_tellAsync(ovk_handle_ctx_t* ctx,
                                               ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_seekAsync(ovk_handle_ctx_t* ctx,
                                               int64_t offset,
                                               ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_getFileLengthAsync(
    ovk_handle_ctx_t* ctx, ovk_options_t* options);
OVK_EXPORT ovk_operation_call_t* ovk_closeAsync(ovk_handle_ctx_t* ctx,
                                                ovk_options_t* options);

/* Operation calls: start, await or cancel an asynchronous request. */
OVK_EXPORT void ovk_perform(ovk_handle_ctx_t* ctx, ovk_operation_call_t* call);
OVK_EXPORT void ovk_wait(ovk_handle_ctx_t* ctx, ovk_operation_call_t* call);
OVK_EXPORT void ovk_cancel(ovk_handle_ctx_t* ctx, ovk_operation_call_t* call);
OVK_EXPORT void ovk_freeOperationCall(ovk_operation_call_t* call);

/* Results: accessors of entry statuses, listings and content summaries.
 * Listing entries are borrowed from their listing. */
OVK_EXPORT const char* ovk_getFileStatusPath(const ovk_file_status_t* status);
OVK_EXPORT const char* ovk_getFileStatusUser(const ovk_file_status_t* status);
OVK_EXPORT const char* ovk_getFileStatusGroup(
    const ovk_file_status_t* status);
OVK_EXPORT int32_t ovk_getFileStatusType(const ovk_file_status_t* status);
OVK_EXPORT int32_t ovk_getFileStatusPerm(const ovk_file_status_t* status);
OVK_EXPORT int64_t ovk_getFileStatusSize(const ovk_file_status_t* status);
OVK_EXPORT int64_t ovk_getFileStatusMtime(const ovk_file_status_t* status);
OVK_EXPORT int64_t ovk_getFileStatusAtime(const ovk_file_status_t* status);
OVK_EXPORT void ovk_freeFileStatus(ovk_file_status_t* status);
OVK_EXPORT int64_t ovk_getListDirResultSize(
    const ovk_list_dir_result_t* list);
OVK_EXPORT const ovk_file_status_t* ovk_getListDirFileStatus(
    const ovk_list_dir_result_t* list, int64_t index);
OVK_EXPORT bool ovk_isListDirResultTruncated(
    const ovk_list_dir_result_t* list);
OVK_EXPORT const char* ovk_getListDirResultNextMarker(
    const ovk_list_dir_result_t* list);
OVK_EXPORT void ovk_freeListDirResult(ovk_list_dir_result_t* list);
OVK_EXPORT int64_t ovk_getContentSummaryFileSize(
    const ovk_content_summary_t* summary);
OVK_EXPORT int64_t ovk_getContentSummaryFileCount(
    const ovk_content_summary_t* summary);
OVK_EXPORT int64_t ovk_getContentSummaryDirectoryCount(
    const ovk_content_summary_t* summary);
OVK_EXPORT void ovk_freeContentSummary(ovk_content_summary_t* summary);

/* Lists: offsets, lengths and buffers for ovk_preadv. A buffer list borrows
 * the buffers appended to it. */
OVK_EXPORT ovk_longs_t* ovk_createLongs(void);
OVK_EXPORT void ovk_appendLong(ovk_longs_t* list, int64_t value);
OVK_EXPORT void ovk_freeLongs(ovk_longs_t* list);
OVK_EXPORT ovk_file_buffers_t* ovk_createFileBuffers(void);
OVK_EXPORT void ovk_appendFileBuffer(ovk_file_buffers_t* list, char* buffer);
OVK_EXPORT int64_t ovk_getFileBuffersSize(const ovk_file_buffers_t* list);
OVK_EXPORT void ovk_freeFileBuffers(ovk_file_buffers_t* list);

#ifdef __cplusplus
}
#endif

#endif /* ORVIKSDK_OVK_SDK_H_ */
