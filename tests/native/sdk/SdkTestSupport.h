// Helpers for tests of the SDK through its C interface: a store made from a
// URI, each call's outcome (code and message) as a value, and temporary
// directories that clean up after themselves.
#ifndef OVK_TESTS_NATIVE_SDK_SDKTESTSUPPORT_H_
#define OVK_TESTS_NATIVE_SDK_SDKTESTSUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "orviksdk/ovk_sdk.h"

namespace ovktest {

// The outcome a call left in its handle context.
struct Outcome {
  int32_t code = 0;
  std::string message;
  bool ok() const { return code == 0; }
};
std::ostream& operator<<(std::ostream& os, const Outcome& o);

// A copy of an ovk_file_status_t.
struct Status {
  std::string path;
  std::string user;
  std::string group;
  int32_t type = -1;
  int32_t perm = -1;
  int64_t size = -1;
  int64_t mtime = -1;
  int64_t atime = -1;
};
Status CopyStatus(const ovk_file_status_t* s);

// Reads and frees a handle context.
Outcome Take(ovk_handle_ctx_t* ctx);

// A directory under the system's temporary directory, removed with
// everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void WriteLocalFile(const std::string& path, const std::string& data);
std::string ReadLocalFile(const std::string& path);

// A store created from a URI and options and initialised; destroyed and
// freed on destruction. Each method is one SDK call (or the few calls of a
// whole-file read or write) and returns the outcome.
class TestStore {
 public:
  TestStore(const std::string& uri, const std::map<std::string, std::string>& options = {});
  ~TestStore();
  TestStore(const TestStore&) = delete;
  TestStore& operator=(const TestStore&) = delete;

  ovk_store_t* get() const { return store_; }
  const Outcome& initOutcome() const { return init_; }
  Outcome destroy();

  Outcome mkdir(const std::string& path, bool recursive = false, int32_t perm = 0777);
  Outcome rename(const std::string& src, const std::string& dst);
  Outcome exists(const std::string& path, bool* found);
  Outcome remove(const std::string& path, bool recursive = false);
  Outcome status(const std::string& path, Status* out = nullptr);
  Outcome list(const std::string& path, bool recursive, std::vector<Status>* out,
               bool* truncated = nullptr, std::string* marker = nullptr);
  Outcome summary(const std::string& path, bool whole, int64_t* size, int64_t* files,
                  int64_t* dirs);
  Outcome chmod(const std::string& path, int32_t perm);
  Outcome chown(const std::string& path, const char* user, const char* group);

  // Opens, writes `data` in one call, closes.
  Outcome writeFile(const std::string& path, const std::string& data,
                    int32_t flags = OVK_OPEN_WRITE);
  // Opens, reads until end of file, closes.
  Outcome readFile(const std::string& path, std::string* out);

  // Stream helpers: each makes a handle context on (store, stream).
  ovk_io_context_t* open(const std::string& path, int32_t flags, Outcome* outcome);
  Outcome write(ovk_io_context_t* s, const std::string& data);
  Outcome read(ovk_io_context_t* s, char* buf, uint64_t n, int64_t* got);
  Outcome pread(ovk_io_context_t* s, char* buf, uint64_t n, int64_t offset, int64_t* got);
  Outcome close(ovk_io_context_t* s);
  Outcome tell(ovk_io_context_t* s, int64_t* out);
  Outcome seek(ovk_io_context_t* s, int64_t offset, int64_t* out);
  Outcome length(ovk_io_context_t* s, int64_t* out);
  // ovk_copyFrom into the write stream `to` from `from` (of any store).
  Outcome copyFrom(ovk_io_context_t* to, ovk_io_context_t* from, int64_t* copied);

  ovk_handle_ctx_t* ctx() const { return ovk_createHandleCtx1(store_); }
  ovk_handle_ctx_t* ctx(ovk_io_context_t* s) const { return ovk_createHandleCtx2(store_, s); }

 private:
  ovk_store_t* store_ = nullptr;
  Outcome init_;
  bool destroyed_ = false;
};

}  // namespace ovktest

#endif  // OVK_TESTS_NATIVE_SDK_SDKTESTSUPPORT_H_
