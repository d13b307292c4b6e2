// Backend and Stream: the interface every storage backend implements.
//
// The core (the ovk_* C functions, handle contexts, the asynchronous
// executor) turns each C call into one call of this interface and turns the
// returned Error into the caller's handle context. A backend therefore never
// sees C handles, URIs of operations or options handles: it receives
// StorePaths already reduced beneath its root (StoreUri.h) and reports
// results through out-parameters, written only on success.
//
// One implementation per backend, each in its own folder: local/ (file://)
// and quoll/ (quoll://, s3://). Backends are created by the factories of
// BackendFactory.h when ovk_init runs.
//
// Conventions every backend keeps (the shared behaviour tests of
// tests/native/sdk check them for each backend):
// - Errors use the codes of ovk_sdk.h; a missing path is OVK_ERR_NOT_FOUND
//   (3001); messages name the operation, the path (StorePath::display(), or
//   the key/endpoint) and the cause, never a credential.
// - A file written through a Stream becomes visible whole when close()
//   succeeds; until then readers see the previous content or nothing, and a
//   failed or abandoned writer leaves the previous content and no entry that
//   listings show.
// - Listings are complete; the core sorts them and applies
//   "fs.list.max.entries", so a backend may return entries in any order.
//
// Thread safety: every Backend method may be called from any number of
// threads at once. A Backend lives as long as the last handle that uses it
// (store, stream, operation call), which may be after ovk_destroyStore.
#ifndef ORVIKSDK_SRC_BACKEND_H_
#define ORVIKSDK_SRC_BACKEND_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Error.h"
#include "StoreUri.h"

namespace ovk {

// The status of one entry. -1 in perm, size, mtime or atime means unknown.
struct EntryStatus {
  StorePath path;                    // the core turns it into a full URI
  std::string user;                  // owner's name; empty if unknown
  std::string group;                 // group's name; empty if unknown
  int32_t type = OVK_TYPE_UNKNOWN;   // OVK_TYPE_*
  int32_t perm = -1;                 // mode & 07777
  int64_t size = -1;                 // bytes
  int64_t mtime = -1;                // ms since the Unix epoch
  int64_t atime = -1;                // ms since the Unix epoch
};

struct ContentSummary {
  int64_t fileSize = 0;
  int64_t fileCount = 0;
  int64_t directoryCount = 0;
};

// One range of a scatter read: `length` bytes at `offset` into `buffer`.
struct ReadRange {
  char* buffer = nullptr;
  int64_t length = 0;
  int64_t offset = 0;
};

// An open file. Created by Backend::open, destroyed by the core.
//
// Thread safety, guaranteed by the core: read, write, flush, tell, seek and
// close are never called concurrently with any other call on the same
// stream; pread, preadv and length may run concurrently with each other.
// The core answers every call after a successful close() itself, so a
// stream sees nothing after it, except a further close() after a failed one
// (the caller may retry). Destroying a write stream that was not closed
// successfully discards what was written: the previous content stays.
class Stream {
 public:
  virtual ~Stream() = default;

  // Sequential read at the stream's position. *got = bytes read (> 0), or
  // -1 at end of file; never 0 for n > 0. A short read is not end of file.
  virtual Error read(char* buffer, uint64_t n, int64_t* got) = 0;
  // Positional read; leaves the stream's position alone. Same results.
  virtual Error pread(char* buffer, uint64_t n, int64_t offset, int64_t* got) = 0;
  // Reads every range whole; a range reaching past the end of the file is
  // an error (the caller gets no per-range counts). *total = bytes read.
  virtual Error preadv(const std::vector<ReadRange>& ranges, int64_t* total) = 0;
  // Accepts all n bytes or fails.
  virtual Error write(const char* data, uint64_t n) = 0;
  // Hands buffered bytes on to the storage; they are still not visible to
  // readers before close().
  virtual Error flush() = 0;
  virtual Error tell(int64_t* position) = 0;
  // Sets the position of a read stream (past the end is allowed: reads then
  // report end of file). *position = the new position.
  virtual Error seek(int64_t offset, int64_t* position) = 0;
  // Read stream: the file's size. Write stream: the bytes it holds so far.
  virtual Error length(int64_t* length) = 0;
  // Read stream: releases it. Write stream: publishes the file atomically.
  virtual Error close() = 0;
  // Write stream: appends the rest of `source`, a read stream (from its
  // position to its end), copied by the storage itself, and moves source's
  // position to its end; *copied = the bytes appended. Returns false,
  // having touched neither stream, when the storage cannot copy from that
  // source; the core then copies through a buffer. `*error` is set only
  // when it returns true.
  virtual bool copyFrom(Stream& source, int64_t* copied, Error* error) {
    (void)source, (void)copied, (void)error;
    return false;
  }
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Creates `path`; an existing directory is success, an existing file (or
  // any non-directory) OVK_ERR_ALREADY_EXISTS. Without `recursive`, a
  // missing parent is OVK_ERR_NOT_FOUND. `perm` is masked by the umask.
  virtual Error mkdir(const StorePath& path, bool recursive, int32_t perm) = 0;
  // Moves `src` to `dst`, replacing a file at `dst`; on failure `src` is
  // intact.
  virtual Error rename(const StorePath& src, const StorePath& dst) = 0;
  // *found = whether `path` names an entry. A missing entry is not an error.
  virtual Error exists(const StorePath& path, bool* found) = 0;
  // Removes `path`; a non-empty directory without `recursive` is
  // OVK_ERR_NOT_EMPTY; removing the root is OVK_ERR_INVALID_ARGUMENT.
  virtual Error remove(const StorePath& path, bool recursive) = 0;
  virtual Error getFileStatus(const StorePath& path, EntryStatus* out) = 0;
  // The entries below the directory `path`: its children, or with
  // `recursive` its whole subtree (directories included). Not the
  // directory itself. A path that is not a directory is
  // OVK_ERR_ALREADY_EXISTS (wrong type).
  virtual Error listDir(const StorePath& path, bool recursive,
                        std::vector<EntryStatus>* out) = 0;
  // Totals over the entries below `path` (the whole subtree, or with
  // `wholeSubtree` false the direct children only), not counting `path`
  // itself; for a file, that file alone.
  virtual Error getContentSummary(const StorePath& path, bool wholeSubtree,
                                  ContentSummary* out) = 0;
  virtual Error setPermission(const StorePath& path, int32_t perm) = 0;
  // Empty `user` or `group` leaves that one unchanged.
  virtual Error setOwner(const StorePath& path, const std::string& user,
                         const std::string& group) = 0;
  // flags: OVK_OPEN_READ, OVK_OPEN_WRITE (create or truncate), or
  // OVK_OPEN_WRITE | OVK_OPEN_APPEND (keep the existing bytes); the core
  // refuses any other value. `perm` is masked by the umask.
  virtual Error open(const StorePath& path, int32_t flags, int32_t perm,
                     std::unique_ptr<Stream>* out) = 0;
};

}  // namespace ovk

#endif  // ORVIKSDK_SRC_BACKEND_H_
