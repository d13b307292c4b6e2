// Options: the string settings a store is created with.
//
// A plain value, copied into the store at ovk_createStore, so the caller may
// change or free its options handle afterwards without affecting the store.
// Setting a key again replaces its value (the last one holds). Not
// thread-safe for writers; a store only reads its own copy.
//
// Typed getters return the default for an absent key and report a value
// that cannot be read as an OVK_ERR_INVALID_ARGUMENT Error naming the key.
// The message quotes the offending value only for keys whose values are
// numbers or flags, so a secret is never echoed.
#ifndef ORVIKSDK_SRC_OPTIONS_H_
#define ORVIKSDK_SRC_OPTIONS_H_

#include <cstdint>
#include <map>
#include <string>

#include "Error.h"

namespace ovk {

class Options {
 public:
  void set(const std::string& key, const std::string& value) { values_[key] = value; }
  bool contains(const std::string& key) const { return values_.count(key) != 0; }

  // The value of `key`, or `fallback` when it was never set.
  std::string get(const std::string& key, const std::string& fallback = "") const;

  // A decimal integer within [min, max]; anything else is an error.
  Error getInt64(const std::string& key, int64_t fallback, int64_t min, int64_t max,
                 int64_t* out) const;

  // "true"/"1" or "false"/"0" (case-insensitive); anything else is an error.
  Error getBool(const std::string& key, bool fallback, bool* out) const;

 private:
  std::map<std::string, std::string> values_;
};

// Option keys understood by the core and the local backend.
inline constexpr const char* kOptLoggerAppender = "logger.appender";
inline constexpr const char* kOptLoggerDir = "logger.dir";
inline constexpr const char* kOptAsyncThreads = "fs.async.threads";
inline constexpr const char* kOptListMaxEntries = "fs.list.max.entries";
// true: fsync a written file and its directory when publishing it.
inline constexpr const char* kOptLocalFsync = "fs.local.fsync";
// false: resolve paths without openat2 (for sandboxes that filter it).
inline constexpr const char* kOptLocalOpenat2 = "fs.local.openat2";

}  // namespace ovk

#endif  // ORVIKSDK_SRC_OPTIONS_H_
