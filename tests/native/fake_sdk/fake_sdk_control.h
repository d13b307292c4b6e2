/*
 * fake_sdk_control.h: the control interface of the fake storage SDK.
 *
 * The fake is a shared library with the real SDK's name and soname
 * (liborviksdk_python.so) that exports all 85 ovk_* functions of
 * orviksdk/ovk_sdk.h. It records every call as one line of text and answers
 * from a script the test sets, or, when the script has nothing for the
 * function, with a sensible success. It never touches real storage.
 *
 * Two ways to use it:
 * - GoogleTest: link the fake instead of the real SDK and call the
 *   functions below directly.
 * - Python: start the interpreter with LD_PRELOAD=<build>/fake_sdk/
 *   liborviksdk_python.so, so the fake answers for the real SDK, then load
 *   the same file with ctypes.CDLL and drive it with these functions.
 *
 * Recorded calls. Each ovk_* call is recorded as its name and its
 * arguments, comma-separated and without blanks, in call order, e.g.
 *   ovk_mkdir(/a,1,511)     ovk_setOption(logger.appender,file)
 *   ovk_open(/f,65536,511)  ovk_read(4)         ovk_pread(4,10)
 *   ovk_createHandleCtx2(store#1,stream#1)      ovk_freeIOContext(stream#1)
 * - The handle context that starts a call and the options argument are not
 *   shown (a blocking call given non-null options, or an asynchronous call
 *   given options without a callback, is recorded as a fault instead).
 * - Texts as they are; booleans 1/0; numbers in decimal; SDK objects as
 *   kind#n, numbered from 1 per kind since the last reset (store#1,
 *   options#2, ctx#7, stream#1, call#1, status#3, listing#1, summary#1,
 *   longs#2, buffers#1), null as null.
 * - Buffers as their length: ovk_read(n), ovk_pread(n,offset),
 *   ovk_write(n), ovk_preadv(count,[lengths],[offsets]).
 *
 * Script. Answers are queued per function name ("ovk_mkdir",
 * "ovk_readAsync", ...) and consumed one per call, in order. An answer
 * holds the code and message the call records on its handle context
 * (message NULL: the SDK gives no message), and the return value:
 * - bool functions: ret != 0 is true;
 * - int64 functions: ret;
 * - functions returning an object (ovk_createStore, ovk_open,
 *   ovk_getFileStatus, ovk_listDir, ovk_getContentSummary and their async
 *   results): ret == 0 gives NULL, anything else the default object, unless
 *   the answer was queued with one of the push_* functions that describe it.
 * For an asynchronous function the answer describes the completion: the
 * handle context, result and value its callback receives. An error at
 * submission is queued separately with ovkfake_push_submit_error.
 *
 * Defaults when a function's queue is empty: namespace calls succeed (true;
 * ovk_getFileStatus gives a file entry with the asked path; ovk_listDir an
 * empty listing; summaries zeros). Streams work on an in-memory file table:
 * ovk_open for reading fails with 3001 unless the path was given with
 * ovkfake_set_file (or written and closed earlier); reads, preads and
 * preadv copy from the file's bytes and return -1 at end of file; writes
 * collect bytes that ovk_close publishes under the path (append mode
 * 0x400 starts from the existing bytes); tell, seek and getFileLength work
 * on the stream's position and bytes.
 *
 * Asynchronous requests. Each ovk_*Async call records itself, keeps its
 * callback and context, and returns an operation call. How it completes is
 * set with ovkfake_set_async_mode:
 *   OVKFAKE_ASYNC_MANUAL (the default): it stays pending until the test
 *     calls ovkfake_complete_next (on a thread of its choice), or until
 *     ovk_wait completes it on the waiting thread, or ovk_cancel completes
 *     it with code 4009;
 *   OVKFAKE_ASYNC_INLINE: the callback runs inside the submitting call;
 *   OVKFAKE_ASYNC_THREAD: the callback runs on a new thread; ovk_wait
 *     blocks until it has returned; ovkfake_join_threads joins them all.
 * ovk_freeOperationCall never drops a pending callback.
 *
 * Objects. Every object the fake hands out is tracked by kind: the fake
 * never reuses an address before ovkfake_reset, so a second free, a free of
 * an unknown pointer or a use after free is recorded as a fault (see
 * ovkfake_faults) instead of corrupting memory. Kinds: "store", "options",
 * "ctx", "stream", "call", "status", "listing", "summary", "longs",
 * "buffers". Entries of a listing are borrowed from it and not counted.
 *
 * Texts returned by the functions below stay valid until the next call of
 * the same function on the same thread. All functions are thread-safe.
 */
#ifndef TESTS_NATIVE_FAKE_SDK_FAKE_SDK_CONTROL_H_
#define TESTS_NATIVE_FAKE_SDK_FAKE_SDK_CONTROL_H_

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OVKFAKE_EXPORT __attribute__((visibility("default")))

/* Forgets everything: calls, script, objects (their memory is released
 * now), files, pending requests (their callbacks are never called), faults.
 * Joins finished completion threads, sets the manual async mode and
 * unlimited default reads. */
OVKFAKE_EXPORT void ovkfake_reset(void);

/* Recorded calls, one per line, each ending in '\n'. skip_flags leaves out
 * groups of bookkeeping calls: */
enum {
  OVKFAKE_SKIP_CTX = 1,       /* ovk_createHandleCtx1/2, ovk_getHandleCtx*,
                                 ovk_freeHandleCtx */
  OVKFAKE_SKIP_ACCESSORS = 2, /* the getters of statuses, listings,
                                 summaries and buffer lists */
  OVKFAKE_SKIP_OPTIONS = 4,   /* ovk_createOptions, ovk_set*Callback,
                                 ovk_setCallbackContext, ovk_freeOptions */
  OVKFAKE_SKIP_LISTS = 8      /* ovk_createLongs, ovk_appendLong, ... ,
                                 ovk_freeLongs, ovk_freeFileBuffers */
};
OVKFAKE_EXPORT const char* ovkfake_calls(int skip_flags);
/* The same as a JSON array of strings. */
OVKFAKE_EXPORT const char* ovkfake_calls_json(int skip_flags);
/* Number of recorded calls of one function (by name, e.g. "ovk_close"). */
OVKFAKE_EXPORT int64_t ovkfake_call_count(const char* function);
OVKFAKE_EXPORT void ovkfake_clear_calls(void);

/* Queues one answer for the next call of function. */
OVKFAKE_EXPORT void ovkfake_push(const char* function, int32_t code,
                                 const char* message, int64_t ret);
/* For ovk_read, ovk_pread, ovk_readAsync, ovk_preadAsync: deliver len bytes
 * of data (at most the count asked for) and return len. */
OVKFAKE_EXPORT void ovkfake_push_read(const char* function, const char* data,
                                      int64_t len);
/* For ovk_getFileStatus(Async): the entry status returned, code 0. Any of
 * path, user, group may be NULL (the accessor then returns NULL). */
OVKFAKE_EXPORT void ovkfake_push_file_status(const char* function,
                                             const char* path,
                                             const char* user,
                                             const char* group, int32_t type,
                                             int32_t perm, int64_t size,
                                             int64_t mtime, int64_t atime);
/* For ovk_listDir(Async): a listing, code 0, filled by the add calls below
 * (they add to the listing pushed last). next_marker may be NULL. */
OVKFAKE_EXPORT void ovkfake_push_listing(const char* function, bool truncated,
                                         const char* next_marker);
OVKFAKE_EXPORT void ovkfake_listing_add(const char* path, const char* user,
                                        const char* group, int32_t type,
                                        int32_t perm, int64_t size,
                                        int64_t mtime, int64_t atime);
OVKFAKE_EXPORT void ovkfake_listing_add_null(void);
/* For ovk_getContentSummary(Async): the totals returned, code 0. */
OVKFAKE_EXPORT void ovkfake_push_summary(const char* function,
                                         int64_t file_size, int64_t file_count,
                                         int64_t directory_count);
/* For an ovk_*Async function: the code and message recorded on the
 * submitting handle context of its next call. The request is still made and
 * its callback still runs, as scripted by ovkfake_push. */
OVKFAKE_EXPORT void ovkfake_push_submit_error(const char* function,
                                              int32_t code,
                                              const char* message);

/* The in-memory file table used by the stream defaults. */
OVKFAKE_EXPORT void ovkfake_set_file(const char* path, const char* data,
                                     int64_t len);
/* Length of the file at path (-1 when there is none); copies at most
 * capacity of its bytes to buffer when buffer is not NULL. */
OVKFAKE_EXPORT int64_t ovkfake_get_file(const char* path, char* buffer,
                                        int64_t capacity);

/* Makes every default ovk_read and ovk_pread (and their async forms)
 * deliver at most bytes, as a store serving a large request in parts does;
 * 0 (the default) delivers all that is asked. */
OVKFAKE_EXPORT void ovkfake_set_read_chunk(int64_t bytes);

enum {
  OVKFAKE_ASYNC_MANUAL = 0,
  OVKFAKE_ASYNC_INLINE = 1,
  OVKFAKE_ASYNC_THREAD = 2
};
OVKFAKE_EXPORT void ovkfake_set_async_mode(int mode);
/* Number of asynchronous requests whose callback has not run yet. */
OVKFAKE_EXPORT int64_t ovkfake_pending(void);
/* Completes the oldest pending request on the calling thread; returns 1,
 * or 0 when none was pending. */
OVKFAKE_EXPORT int ovkfake_complete_next(void);
/* Waits for every completion thread started so far. */
OVKFAKE_EXPORT void ovkfake_join_threads(void);

/* Objects of a kind created since the last reset, and those not freed. */
OVKFAKE_EXPORT int64_t ovkfake_created(const char* kind);
OVKFAKE_EXPORT int64_t ovkfake_live(const char* kind);
/* Every live object as kind#n, one per line; "" when all were freed. */
OVKFAKE_EXPORT const char* ovkfake_live_report(void);
/* Misuse seen since the last reset (double free, use after free, unknown
 * pointer, options misuse), one per line; "" when there was none. */
OVKFAKE_EXPORT const char* ovkfake_faults(void);

#ifdef __cplusplus
}
#endif

#endif /* TESTS_NATIVE_FAKE_SDK_FAKE_SDK_CONTROL_H_ */
