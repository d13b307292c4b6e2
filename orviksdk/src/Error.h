// Error: the outcome of every SDK-internal operation.
//
// A default-constructed Error is success and costs one integer; a failure
// carries one of the OVK_ERR_* codes of ovk_sdk.h and a message built once,
// where the cause is known, naming the operation's object (path, key,
// endpoint) and the cause. Messages never contain credentials. The C
// boundary copies code and message into the caller's handle context.
#ifndef ORVIKSDK_SRC_ERROR_H_
#define ORVIKSDK_SRC_ERROR_H_

#include <cstdint>
#include <string>
#include <utility>

#include "orviksdk/ovk_sdk.h"

namespace ovk {

class Error {
 public:
  Error() = default;
  Error(int32_t code, std::string message)
      : code_(code), message_(std::move(message)) {}

  bool ok() const { return code_ == OVK_OK; }
  int32_t code() const { return code_; }
  const std::string& message() const { return message_; }

  static Error NotFound(std::string m) { return {OVK_ERR_NOT_FOUND, std::move(m)}; }
  static Error InvalidUri(std::string m) { return {OVK_ERR_INVALID_URI, std::move(m)}; }
  static Error NotInitialised(std::string m) {
    return {OVK_ERR_NOT_INITIALISED, std::move(m)};
  }
  static Error Auth(std::string m) { return {OVK_ERR_AUTH, std::move(m)}; }
  static Error InvalidArgument(std::string m) {
    return {OVK_ERR_INVALID_ARGUMENT, std::move(m)};
  }
  static Error AlreadyExists(std::string m) {
    return {OVK_ERR_ALREADY_EXISTS, std::move(m)};
  }
  static Error NotEmpty(std::string m) { return {OVK_ERR_NOT_EMPTY, std::move(m)}; }
  static Error Permission(std::string m) { return {OVK_ERR_PERMISSION, std::move(m)}; }
  static Error NotSupported(std::string m) {
    return {OVK_ERR_NOT_SUPPORTED, std::move(m)};
  }
  static Error Cancelled(std::string m) { return {OVK_ERR_CANCELLED, std::move(m)}; }
  static Error Io(std::string m) { return {OVK_ERR_IO, std::move(m)}; }
  static Error Remote(std::string m) { return {OVK_ERR_REMOTE, std::move(m)}; }

 private:
  int32_t code_ = OVK_OK;
  std::string message_;
};

// The one place that turns an errno value into an Error. `err` must be the
// errno saved right after the failing system call, before anything else
// could overwrite it. The message reads "<operation> <object>: <cause>".
// Codes: ENOENT -> 3001; EEXIST, EISDIR, ENOTDIR -> 4005; ENOTEMPTY -> 4006;
// EACCES, EPERM, EROFS -> 4007; ELOOP, EXDEV, EINVAL, ENAMETOOLONG -> 4004
// (ELOOP and EXDEV arise only when a path would cross a symbolic link or
// leave the store's root); EOPNOTSUPP, ENOSYS -> 4008; anything else 4010.
Error ErrnoError(int err, const char* operation, const std::string& object);

// The same for paths of a store. Call sites pass the path itself, not a
// text made from it, so no allocation runs between the failed call and
// the reading of errno.
class StorePath;
Error ErrnoError(int err, const char* operation, const StorePath& path);
// "<operation> <parent>/<child>: <cause>"
Error ErrnoError(int err, const char* operation, const StorePath& parent, const char* child);
// "<operation> <from> to <to>: <cause>"
Error ErrnoError(int err, const char* operation, const StorePath& from, const StorePath& to);

}  // namespace ovk

#endif  // ORVIKSDK_SRC_ERROR_H_
