// RootDir: the confinement of every local operation beneath the store's root.
//
// The root directory is opened once; every path is then resolved relative
// to that descriptor, never by name from "/": with openat2(RESOLVE_BENEATH |
// RESOLVE_NO_SYMLINKS) where the kernel has it, otherwise component by
// component with openat(O_NOFOLLOW). Symbolic links are never followed
// while resolving, so no link, however placed, and no race that swaps a
// directory for a link, can lead outside the root: such a path fails with
// OVK_ERR_INVALID_ARGUMENT. The last component of a path is then handled by
// the caller with an *at() call that does not follow links either.
//
// Thread-safe; immutable after Open.
#ifndef ORVIKSDK_SRC_LOCAL_ROOTDIR_H_
#define ORVIKSDK_SRC_LOCAL_ROOTDIR_H_

#include <string>

#include "../Error.h"
#include "../StoreUri.h"
#include "Fd.h"

namespace ovk {
namespace local {

class RootDir {
 public:
  // Opens `root`, which must be an existing directory. With `useOpenat2`
  // false, or where the kernel (or a sandbox's filter) refuses openat2,
  // paths are resolved by the component walk alone.
  static Error Open(const std::string& root, bool useOpenat2, RootDir* out);

  int fd() const { return root_.get(); }

  // Opens the directory `dir` (the root itself when empty) beneath the
  // root. With `readable` the descriptor can be read (listings); otherwise
  // it is an O_PATH descriptor, good for *at() calls. `operation` and
  // `shown` name the call and the path in error messages.
  Error openDir(const StorePath& dir, bool readable, const char* operation,
                const StorePath& shown, Fd* out) const;

  // Opens the subdirectory `name` of the directory `parent` without
  // following a link; a link is OVK_ERR_INVALID_ARGUMENT, anything else
  // that is not a directory OVK_ERR_ALREADY_EXISTS.
  static Error OpenChildDir(int parent, const std::string& name, bool readable,
                            const char* operation, const StorePath& shown, Fd* out);

 private:
  Fd root_;
  bool haveOpenat2_ = false;
};

}  // namespace local
}  // namespace ovk

#endif  // ORVIKSDK_SRC_LOCAL_ROOTDIR_H_
