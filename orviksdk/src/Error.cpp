#include "Error.h"

#include <cerrno>
#include <cstring>

#include "StoreUri.h"

namespace ovk {

namespace {

int32_t CodeOf(int err) {
  switch (err) {
    case ENOENT:
      return OVK_ERR_NOT_FOUND;
    case EEXIST:
    case EISDIR:
    case ENOTDIR:
      return OVK_ERR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return OVK_ERR_NOT_EMPTY;
    case EACCES:
    case EPERM:
    case EROFS:
      return OVK_ERR_PERMISSION;
    case ELOOP:
    case EXDEV:
    case EINVAL:
    case ENAMETOOLONG:
      return OVK_ERR_INVALID_ARGUMENT;
    case EOPNOTSUPP:
    case ENOSYS:
      return OVK_ERR_NOT_SUPPORTED;
    default:
      return OVK_ERR_IO;
  }
}

const char* CauseOf(int err, char* buf, size_t len) {
  switch (err) {
    case ELOOP:
      return "the path crosses a symbolic link, which is never followed";
    case EXDEV:
      return "the path leads outside the store's root";
    default:
      // GNU strerror_r: returns a pointer to the text, which need not be buf.
      return strerror_r(err, buf, len);
  }
}

}  // namespace

Error ErrnoError(int err, const char* operation, const std::string& object) {
  char buf[128];
  std::string message = operation;
  message += ' ';
  message += object;
  message += ": ";
  message += CauseOf(err, buf, sizeof buf);
  return Error(CodeOf(err), std::move(message));
}

Error ErrnoError(int err, const char* operation, const StorePath& path) {
  return ErrnoError(err, operation, path.display());
}

Error ErrnoError(int err, const char* operation, const StorePath& parent, const char* child) {
  return ErrnoError(err, operation, parent.child(child).display());
}

Error ErrnoError(int err, const char* operation, const StorePath& from, const StorePath& to) {
  return ErrnoError(err, operation, from.display() + " to " + to.display());
}

}  // namespace ovk
