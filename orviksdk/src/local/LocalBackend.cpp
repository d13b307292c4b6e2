#include "LocalBackend.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "../BackendFactory.h"
#include "LocalStreams.h"

namespace ovk {

Error CreateLocalBackend(const StoreUri& uri, const Options& options, const std::string&,
                         std::shared_ptr<Logger>, std::unique_ptr<Backend>* out) {
  bool fsync = false;
  Error err = options.getBool(kOptLocalFsync, false, &fsync);
  if (!err.ok()) return err;
  bool openat2 = true;
  err = options.getBool(kOptLocalOpenat2, true, &openat2);
  if (!err.ok()) return err;
  local::RootDir root;
  err = local::RootDir::Open(uri.root(), openat2, &root);
  if (!err.ok()) return err;
  *out = std::make_unique<local::LocalBackend>(std::move(root), fsync);
  return Error();
}

namespace local {

namespace {

int32_t TypeOf(mode_t mode) {
  if (S_ISDIR(mode)) return OVK_TYPE_DIRECTORY;
  if (S_ISREG(mode)) return OVK_TYPE_FILE;
  if (S_ISLNK(mode)) return OVK_TYPE_SYMLINK;
  return OVK_TYPE_UNKNOWN;
}

int64_t Millis(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// A directory stream that owns its descriptor.
class DirStream {
 public:
  // Takes ownership of `fd`, also on failure.
  static Error Open(Fd fd, const char* operation, const StorePath& path, DirStream* out) {
    DIR* dir = ::fdopendir(fd.get());
    if (dir == nullptr) return ErrnoError(errno, operation, path);
    fd.release();
    out->dir_ = dir;
    return Error();
  }
  DirStream() = default;
  ~DirStream() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  DirStream(const DirStream&) = delete;
  DirStream& operator=(const DirStream&) = delete;

  int fd() const { return ::dirfd(dir_); }
  // The next entry other than "." and ".."; nullptr at the end, or on an
  // error (then *err is set).
  const char* next(const char* operation, const StorePath& path, Error* err) {
    for (;;) {
      errno = 0;
      struct dirent* entry = ::readdir(dir_);
      if (entry == nullptr) {
        if (errno != 0) *err = ErrnoError(errno, operation, path);
        return nullptr;
      }
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
        continue;
      }
      return name;
    }
  }

 private:
  DIR* dir_ = nullptr;
};

}  // namespace

Error LocalBackend::parentOf(const StorePath& path, const char* operation, Fd* out) const {
  return root_.openDir(path.parent(), false, operation, path, out);
}

Error LocalBackend::statOf(const StorePath& path, const char* operation,
                           struct stat* st) const {
  if (path.isRoot()) {
    if (::fstat(root_.fd(), st) != 0) return ErrnoError(errno, operation, path);
    return Error();
  }
  // A nested path resolved whole costs one lookup of each component; the
  // parent-and-name route below, which looks the parent up again, stays
  // for an entry at the root (one fstatat on the root) and to report why
  // a path cannot be resolved.
  bool nested = path.rel().find('/') != std::string::npos;
  if (nested && root_.statBeneath(path, st)) return Error();
  Fd parent;
  Error err = parentOf(path, operation, &parent);
  if (!err.ok()) return err;
  if (::fstatat(parent.get(), path.name().c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) {
    int e = errno;
    return ErrnoError(e == ENOTDIR ? ENOENT : e, operation, path);
  }
  return Error();
}

void LocalBackend::fill(const StorePath& path, const struct stat& st, EntryStatus* out) {
  out->path = path;
  out->user = ids_.userName(st.st_uid);
  out->group = ids_.groupName(st.st_gid);
  out->type = TypeOf(st.st_mode);
  out->perm = static_cast<int32_t>(st.st_mode & 07777);
  out->size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
  out->mtime = Millis(st.st_mtim);
  out->atime = Millis(st.st_atim);
}

Error LocalBackend::mkdir(const StorePath& path, bool recursive, int32_t perm) {
  if (path.isRoot()) return Error();
  if (!recursive) {
    Fd parent;
    Error err = parentOf(path, "mkdir", &parent);
    if (!err.ok()) return err;
    std::string name = path.name();
    if (::mkdirat(parent.get(), name.c_str(), static_cast<mode_t>(perm)) == 0) return Error();
    int e = errno;
    struct stat st;
    if (e == EEXIST && ::fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode)) {
      return Error();
    }
    return ErrnoError(e, "mkdir", path);
  }
  Fd current = Fd::Borrowed(root_.fd());
  StorePath walked;
  const std::string& rel = path.rel();
  size_t start = 0;
  while (start <= rel.size()) {
    size_t slash = rel.find('/', start);
    if (slash == std::string::npos) slash = rel.size();
    std::string name = rel.substr(start, slash - start);
    walked = walked.child(name);
    if (::mkdirat(current.get(), name.c_str(), static_cast<mode_t>(perm)) != 0 &&
        errno != EEXIST) {
      return ErrnoError(errno, "mkdir", walked);
    }
    Fd next;
    Error err = RootDir::OpenChildDir(current.get(), name, false, "mkdir", walked, &next);
    if (!err.ok()) return err;
    current = std::move(next);
    start = slash + 1;
  }
  return Error();
}

Error LocalBackend::rename(const StorePath& src, const StorePath& dst) {
  Fd from;
  Error err = parentOf(src, "rename", &from);
  if (!err.ok()) return err;
  Fd to;
  err = parentOf(dst, "rename", &to);
  if (!err.ok()) return err;
  if (::renameat(from.get(), src.name().c_str(), to.get(), dst.name().c_str()) != 0) {
    return ErrnoError(errno, "rename", src, dst);
  }
  return Error();
}

Error LocalBackend::exists(const StorePath& path, bool* found) {
  struct stat st;
  Error err = statOf(path, "exists", &st);
  if (err.code() == OVK_ERR_NOT_FOUND) {
    *found = false;
    return Error();
  }
  if (!err.ok()) return err;
  *found = true;
  return Error();
}

Error LocalBackend::remove(const StorePath& path, bool recursive) {
  Fd parent;
  Error err = parentOf(path, "remove", &parent);
  if (!err.ok()) return err;
  std::string name = path.name();
  struct stat st;
  if (::fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    int e = errno;
    return ErrnoError(e == ENOTDIR ? ENOENT : e, "remove", path);
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(parent.get(), name.c_str(), 0) != 0) {
      return ErrnoError(errno, "remove", path);
    }
    return Error();
  }
  if (recursive) return removeTree(parent.get(), path);
  if (::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) != 0) {
    int e = errno;
    if (e == ENOTEMPTY || e == EEXIST) {
      return Error::NotEmpty("remove " + path.display() +
                             ": the directory is not empty; remove it recursively");
    }
    return ErrnoError(e, "remove", path);
  }
  return Error();
}

Error LocalBackend::removeTree(int parent, const StorePath& path) {
  std::string name = path.name();
  {
    Fd fd;
    Error err = RootDir::OpenChildDir(parent, name, true, "remove", path, &fd);
    if (!err.ok()) return err;
    DirStream dir;
    err = DirStream::Open(std::move(fd), "remove", path, &dir);
    if (!err.ok()) return err;
    while (const char* child = dir.next("remove", path, &err)) {
      struct stat st;
      if (::fstatat(dir.fd(), child, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;
        return ErrnoError(errno, "remove", path, child);
      }
      if (S_ISDIR(st.st_mode)) {
        err = removeTree(dir.fd(), path.child(child));
        if (!err.ok()) return err;
      } else if (::unlinkat(dir.fd(), child, 0) != 0 && errno != ENOENT) {
        return ErrnoError(errno, "remove", path, child);
      }
    }
    if (!err.ok()) return err;
  }
  if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) {
    int e = errno;
    if (e == ENOTEMPTY || e == EEXIST) {
      return Error::NotEmpty("remove " + path.display() +
                             ": entries were added while it was being removed");
    }
    return ErrnoError(e, "remove", path);
  }
  return Error();
}

Error LocalBackend::getFileStatus(const StorePath& path, EntryStatus* out) {
  struct stat st;
  Error err = statOf(path, "getFileStatus", &st);
  if (!err.ok()) return err;
  fill(path, st, out);
  return Error();
}

Error LocalBackend::openListedDir(const StorePath& path, const char* operation,
                                  Fd* out) const {
  if (path.isRoot()) return root_.openDir(path, true, operation, path, out);
  Fd parent;
  Error err = parentOf(path, operation, &parent);
  if (!err.ok()) return err;
  return RootDir::OpenChildDir(parent.get(), path.name(), true, operation, path, out);
}

template <typename Visit>
Error LocalBackend::Walk(int fd, const StorePath& path, bool recursive,
                         const char* operation, Visit& visit) {
  DirStream dir;
  Error err = DirStream::Open(Fd::Owned(fd), operation, path, &dir);
  if (!err.ok()) return err;
  while (const char* name = dir.next(operation, path, &err)) {
    if (IsTempName(name)) continue;
    struct stat st;
    if (::fstatat(dir.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed since readdir saw it
      return ErrnoError(errno, operation, path, name);
    }
    visit(path, name, st);
    if (!recursive || !S_ISDIR(st.st_mode)) continue;
    StorePath child = path.child(name);
    Fd sub;
    Error opened = RootDir::OpenChildDir(dir.fd(), name, true, operation, child, &sub);
    if (opened.code() == OVK_ERR_NOT_FOUND) continue;  // removed since its stat
    if (!opened.ok()) return opened;
    Error walked = Walk(sub.release(), child, true, operation, visit);
    if (!walked.ok()) return walked;
  }
  return err;
}

Error LocalBackend::listDir(const StorePath& path, bool recursive,
                            std::vector<EntryStatus>* out) {
  Fd fd;
  Error err = openListedDir(path, "listDir", &fd);
  if (!err.ok()) return err;
  std::vector<EntryStatus> entries;
  auto visit = [this, &entries](const StorePath& dir, const char* name,
                                const struct stat& st) {
    entries.emplace_back();
    fill(dir.child(name), st, &entries.back());
  };
  err = Walk(fd.release(), path, recursive, "listDir", visit);
  if (!err.ok()) return err;
  *out = std::move(entries);
  return Error();
}

Error LocalBackend::getContentSummary(const StorePath& path, bool wholeSubtree,
                                      ContentSummary* out) {
  struct stat st;
  Error err = statOf(path, "getContentSummary", &st);
  if (!err.ok()) return err;
  ContentSummary summary;
  if (S_ISREG(st.st_mode)) {
    summary.fileCount = 1;
    summary.fileSize = st.st_size;
  } else if (S_ISDIR(st.st_mode)) {
    Fd fd;
    err = openListedDir(path, "getContentSummary", &fd);
    if (!err.ok()) return err;
    auto visit = [&summary](const StorePath&, const char*, const struct stat& entry) {
      if (S_ISREG(entry.st_mode)) {
        summary.fileCount += 1;
        summary.fileSize += entry.st_size;
      } else if (S_ISDIR(entry.st_mode)) {
        summary.directoryCount += 1;
      }
    };
    err = Walk(fd.release(), path, wholeSubtree, "getContentSummary", visit);
    if (!err.ok()) return err;
  }
  *out = summary;
  return Error();
}

template <typename OnRoot, typename OnEntry>
Error LocalBackend::change(const StorePath& path, const char* operation, OnRoot on_root,
                           OnEntry on_entry) const {
  if (path.isRoot()) {
    if (on_root(root_.fd()) != 0) return ErrnoError(errno, operation, path);
    return Error();
  }
  Fd parent;
  Error err = parentOf(path, operation, &parent);
  if (!err.ok()) return err;
  if (on_entry(parent.get(), path.name().c_str()) != 0) return ErrnoError(errno, operation, path);
  return Error();
}

Error LocalBackend::setPermission(const StorePath& path, int32_t perm) {
  mode_t mode = static_cast<mode_t>(perm);
  // AT_SYMLINK_NOFOLLOW: a link is refused (EOPNOTSUPP), never followed.
  return change(
      path, "setPermission", [mode](int fd) { return ::fchmod(fd, mode); },
      [mode](int parent, const char* name) {
        return ::fchmodat(parent, name, mode, AT_SYMLINK_NOFOLLOW);
      });
}

Error LocalBackend::setOwner(const StorePath& path, const std::string& user,
                             const std::string& group) {
  uid_t uid = static_cast<uid_t>(-1);
  gid_t gid = static_cast<gid_t>(-1);
  if (!user.empty()) {
    Error err = Identity::UserId(user, path.display(), &uid);
    if (!err.ok()) return err;
  }
  if (!group.empty()) {
    Error err = Identity::GroupId(group, path.display(), &gid);
    if (!err.ok()) return err;
  }
  return change(
      path, "setOwner", [uid, gid](int fd) { return ::fchown(fd, uid, gid); },
      [uid, gid](int parent, const char* name) {
        return ::fchownat(parent, name, uid, gid, AT_SYMLINK_NOFOLLOW);
      });
}

Error LocalBackend::open(const StorePath& path, int32_t flags, int32_t perm,
                         std::unique_ptr<Stream>* out) {
  if (path.isRoot()) return Error::AlreadyExists("open /: is a directory");
  Fd parent;
  Error err = parentOf(path, "open", &parent);
  if (!err.ok()) return err;
  if (flags != OVK_OPEN_READ) {
    return LocalWriteStream::Open(std::move(parent), path, (flags & OVK_OPEN_APPEND) != 0,
                                  perm, fsync_, out);
  }
  // O_NONBLOCK: opening a FIFO must not hang; it is refused below.
  int fd = ::openat(parent.get(), path.name().c_str(),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return ErrnoError(errno, "open", path);
  Fd file = Fd::Owned(fd);
  struct stat st;
  if (::fstat(fd, &st) != 0) return ErrnoError(errno, "open", path);
  if (S_ISDIR(st.st_mode)) return Error::AlreadyExists("open " + path.display() + ": is a directory");
  if (!S_ISREG(st.st_mode)) {
    return Error::AlreadyExists("open " + path.display() + ": not a regular file");
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  *out = std::make_unique<LocalReadStream>(std::move(file), path);
  return Error();
}

}  // namespace local
}  // namespace ovk
