#include "RootDir.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cerrno>

namespace ovk {
namespace local {

namespace {

constexpr uint64_t kResolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;

int DirFlags(bool readable) {
  return (readable ? O_RDONLY : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
}

int Openat2(int dirfd, const char* path, int flags) {
  struct open_how how = {};
  how.flags = static_cast<uint64_t>(flags);
  how.resolve = kResolve;
  for (;;) {
    long fd = ::syscall(SYS_openat2, dirfd, path, &how, sizeof how);
    // EAGAIN: a concurrent rename raced the lookup; the kernel asks to retry.
    if (fd >= 0 || (errno != EAGAIN && errno != EINTR)) return static_cast<int>(fd);
  }
}

// Opens the directory `name` in `parent` without following a link.
// Returns 0 and sets *fd, or the errno: ELOOP for a link, ENOTDIR for
// anything else that is not a directory.
int OpenDirAt(int parent, const char* name, bool readable, int* fd) {
  int result = ::openat(parent, name, DirFlags(readable));
  if (result >= 0) {
    *fd = result;
    return 0;
  }
  int err = errno;
  if (err == ENOTDIR || err == ELOOP) {
    struct stat st;
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      return ELOOP;
    }
    return ENOTDIR;
  }
  return err;
}

}  // namespace

Error RootDir::Open(const std::string& root, bool useOpenat2, RootDir* out) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrnoError(errno, "open store root", root);
  out->root_ = Fd::Owned(fd);
  if (!useOpenat2) return Error();
  int probe = Openat2(fd, ".", O_PATH | O_CLOEXEC);
  out->haveOpenat2_ = probe >= 0;
  if (probe >= 0) ::close(probe);
  return Error();
}

Error RootDir::openDir(const StorePath& dir, bool readable, const char* operation,
                       const StorePath& shown, Fd* out) const {
  if (dir.isRoot() && !readable) {
    *out = Fd::Borrowed(root_.get());
    return Error();
  }
  const char* rel = dir.isRoot() ? "." : dir.rel().c_str();
  int err = 0;
  if (haveOpenat2_) {
    int fd = Openat2(root_.get(), rel, DirFlags(readable));
    if (fd >= 0) {
      *out = Fd::Owned(fd);
      return Error();
    }
    err = errno;
  }
  // Without openat2, or to tell a link on the way (ELOOP) from a file
  // (ENOTDIR) when openat2 could not say which: walk the components.
  if (!haveOpenat2_ || err == ENOTDIR || err == ELOOP) {
    err = 0;
    Fd current = Fd::Borrowed(root_.get());
    const std::string& path = dir.rel();
    size_t start = 0;
    while (err == 0 && start <= path.size()) {
      size_t slash = path.find('/', start);
      if (slash == std::string::npos) slash = path.size();
      std::string name = dir.isRoot() ? "." : path.substr(start, slash - start);
      bool last = slash == path.size();
      int fd = -1;
      err = OpenDirAt(current.get(), name.c_str(), readable && last, &fd);
      if (err == 0) current = Fd::Owned(fd);
      start = slash + 1;
    }
    if (err == 0) {
      *out = std::move(current);
      return Error();
    }
  }
  if (err == ENOTDIR) {
    return Error::NotFound(std::string(operation) + " " + shown.display() +
                           ": a component of the path is not a directory");
  }
  return ErrnoError(err, operation, shown);
}

Error RootDir::OpenChildDir(int parent, const std::string& name, bool readable,
                            const char* operation, const StorePath& shown, Fd* out) {
  int fd = -1;
  int err = OpenDirAt(parent, name.c_str(), readable, &fd);
  if (err != 0) return ErrnoError(err, operation, shown);
  *out = Fd::Owned(fd);
  return Error();
}

}  // namespace local
}  // namespace ovk
