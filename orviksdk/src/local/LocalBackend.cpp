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

Error LocalBackend::listDir(const StorePath& path, bool recursive,
                            std::vector<EntryStatus>* out) {
  Fd fd;
  Error err;
  if (path.isRoot()) {
    err = root_.openDir(path, true, "listDir", path, &fd);
  } else {
    Fd parent;
    err = parentOf(path, "listDir", &parent);
    if (!err.ok()) return err;
    err = RootDir::OpenChildDir(parent.get(), path.name(), true, "listDir", path, &fd);
  }
  if (!err.ok()) return err;
  std::vector<EntryStatus> entries;
  err = listInto(fd.release(), path, recursive, &entries);
  if (!err.ok()) return err;
  *out = std::move(entries);
  return Error();
}

Error LocalBackend::listInto(int fd, const StorePath& path, bool recursive,
                             std::vector<EntryStatus>* out) {
  DirStream dir;
  Error err = DirStream::Open(Fd::Owned(fd), "listDir", path, &dir);
  if (!err.ok()) return err;
  while (const char* name = dir.next("listDir", path, &err)) {
    if (IsTempName(name)) continue;
    struct stat st;
    if (::fstatat(dir.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed since readdir saw it
      return ErrnoError(errno, "listDir", path, name);
    }
    StorePath child = path.child(name);
    out->emplace_back();
    fill(child, st, &out->back());
    if (recursive && S_ISDIR(st.st_mode)) {
      Fd sub;
      err = RootDir::OpenChildDir(dir.fd(), name, true, "listDir", child, &sub);
      if (err.code() == OVK_ERR_NOT_FOUND) continue;
      if (!err.ok()) return err;
      err = listInto(sub.release(), child, true, out);
      if (!err.ok()) return err;
    }
  }
  return err;
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
    if (path.isRoot()) {
      err = root_.openDir(path, true, "getContentSummary", path, &fd);
    } else {
      Fd parent;
      err = parentOf(path, "getContentSummary", &parent);
      if (err.ok()) {
        err = RootDir::OpenChildDir(parent.get(), path.name(), true, "getContentSummary",
                                    path, &fd);
      }
    }
    if (!err.ok()) return err;
    err = summarise(fd.release(), path, wholeSubtree, &summary);
    if (!err.ok()) return err;
  }
  *out = summary;
  return Error();
}

Error LocalBackend::summarise(int fd, const StorePath& path, bool recursive,
                              ContentSummary* out) {
  DirStream dir;
  Error err = DirStream::Open(Fd::Owned(fd), "getContentSummary", path, &dir);
  if (!err.ok()) return err;
  while (const char* name = dir.next("getContentSummary", path, &err)) {
    if (IsTempName(name)) continue;
    struct stat st;
    if (::fstatat(dir.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      return ErrnoError(errno, "getContentSummary", path, name);
    }
    if (S_ISREG(st.st_mode)) {
      out->fileCount += 1;
      out->fileSize += st.st_size;
    } else if (S_ISDIR(st.st_mode)) {
      out->directoryCount += 1;
      if (!recursive) continue;
      StorePath child = path.child(name);
      Fd sub;
      err = RootDir::OpenChildDir(dir.fd(), name, true, "getContentSummary", child, &sub);
      if (err.code() == OVK_ERR_NOT_FOUND) continue;
      if (!err.ok()) return err;
      err = summarise(sub.release(), child, true, out);
      if (!err.ok()) return err;
    }
  }
  return err;
}

Error LocalBackend::setPermission(const StorePath& path, int32_t perm) {
  mode_t mode = static_cast<mode_t>(perm);
  if (path.isRoot()) {
    if (::fchmod(root_.fd(), mode) != 0) return ErrnoError(errno, "setPermission", StorePath());
    return Error();
  }
  Fd parent;
  Error err = parentOf(path, "setPermission", &parent);
  if (!err.ok()) return err;
  // AT_SYMLINK_NOFOLLOW: a link is refused (EOPNOTSUPP), never followed.
  if (::fchmodat(parent.get(), path.name().c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0) {
    return ErrnoError(errno, "setPermission", path);
  }
  return Error();
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
  if (path.isRoot()) {
    if (::fchown(root_.fd(), uid, gid) != 0) return ErrnoError(errno, "setOwner", StorePath());
    return Error();
  }
  Fd parent;
  Error err = parentOf(path, "setOwner", &parent);
  if (!err.ok()) return err;
  if (::fchownat(parent.get(), path.name().c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) != 0) {
    return ErrnoError(errno, "setOwner", path);
  }
  return Error();
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
