#include "LocalStreams.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ovk {
namespace local {

namespace {

constexpr char kTempMarker[] = ".ovk-tmp.";
// Writes smaller than this are gathered, so that many small writes cost
// few system calls; larger ones go straight to the file.
constexpr size_t kBufferSize = 256 * 1024;
// The most one read(2)/pread(2) transfers on Linux.
constexpr uint64_t kMaxIo = 0x7ffff000;

std::string TempName(const std::string& target) {
  uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, 0) != sizeof bits) {
    bits = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
           reinterpret_cast<uintptr_t>(&bits);
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
  return "." + target + kTempMarker + hex;
}

// Whether O_TMPFILE files can be given a name: that goes through /proc.
bool CanLinkAnonymous() {
  static const bool can = ::access("/proc/self/fd", X_OK) == 0;
  return can;
}

ssize_t PreadFully(int fd, char* buffer, uint64_t n, int64_t offset) {
  for (;;) {
    ssize_t r = ::pread(fd, buffer, std::min(n, kMaxIo), offset);
    if (r >= 0 || errno != EINTR) return r;
  }
}

Error WrongDirection(const char* operation, const StorePath& path, bool reading) {
  return Error::InvalidArgument(std::string(operation) + " " + path.display() +
                                (reading ? ": the stream was opened for reading"
                                         : ": the stream was opened for writing"));
}

}  // namespace

bool IsTempName(const char* name) {
  return name[0] == '.' && std::strstr(name, kTempMarker) != nullptr;
}

// ---- LocalReadStream ----

Error LocalReadStream::read(char* buffer, uint64_t n, int64_t* got) {
  Error err = pread(buffer, n, position_, got);
  if (err.ok() && *got > 0) position_ += *got;
  return err;
}

Error LocalReadStream::pread(char* buffer, uint64_t n, int64_t offset, int64_t* got) {
  if (n == 0) {
    *got = 0;
    return Error();
  }
  ssize_t r = PreadFully(file_.get(), buffer, n, offset);
  if (r < 0) return ErrnoError(errno, "read", path_);
  *got = r == 0 ? -1 : r;
  return Error();
}

Error LocalReadStream::preadv(const std::vector<ReadRange>& ranges, int64_t* total) {
  int64_t sum = 0;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const ReadRange& range = ranges[i];
    int64_t done = 0;
    while (done < range.length) {
      ssize_t r = PreadFully(file_.get(), range.buffer + done,
                             static_cast<uint64_t>(range.length - done), range.offset + done);
      if (r < 0) return ErrnoError(errno, "preadv", path_);
      if (r == 0) {
        return Error::InvalidArgument(
            "preadv " + path_.display() + ": range " + std::to_string(i) + " (offset " +
            std::to_string(range.offset) + ", length " + std::to_string(range.length) +
            ") reaches past the end of the file at " + std::to_string(range.offset + done));
      }
      done += r;
    }
    sum += done;
  }
  *total = sum;
  return Error();
}

Error LocalReadStream::write(const char*, uint64_t) {
  return WrongDirection("write", path_, true);
}

Error LocalReadStream::flush() { return Error(); }

Error LocalReadStream::tell(int64_t* position) {
  *position = position_;
  return Error();
}

Error LocalReadStream::seek(int64_t offset, int64_t* position) {
  position_ = offset;
  *position = offset;
  return Error();
}

Error LocalReadStream::length(int64_t* length) {
  struct stat st;
  if (::fstat(file_.get(), &st) != 0) return ErrnoError(errno, "getFileLength", path_);
  *length = st.st_size;
  return Error();
}

Error LocalReadStream::close() {
  file_.reset();
  return Error();
}

// ---- LocalWriteStream ----

Error LocalWriteStream::Open(Fd dir, const StorePath& path, bool append, int32_t perm,
                             bool fsync, std::unique_ptr<Stream>* out) {
  std::unique_ptr<LocalWriteStream> stream(new LocalWriteStream(std::move(dir), path, fsync));
  const std::string& name = stream->name_;
  int dirfd = stream->dir_.get();

  struct stat st;
  bool exists = ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return ErrnoError(errno, "open", path);
  if (exists && S_ISDIR(st.st_mode)) {
    return Error::AlreadyExists("open " + path.display() + ": is a directory");
  }

  Fd source;
  if (append && exists) {
    int fd = ::openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ErrnoError(errno, "open", path);
    source = Fd::Owned(fd);
    if (::fstat(fd, &st) != 0) return ErrnoError(errno, "open", path);
    if (!S_ISREG(st.st_mode)) {
      return Error::AlreadyExists("open " + path.display() + ": not a regular file");
    }
  }

  Error err = stream->createTemp(perm);
  if (!err.ok()) return err;
  // Rewriting a file keeps its permission bits, as truncating it would.
  if (exists && S_ISREG(st.st_mode) && ::fchmod(stream->file_.get(), st.st_mode & 0777) != 0) {
    return ErrnoError(errno, "open", path);
  }
  if (source.valid()) {
    int64_t kept = 0;
    err = stream->appendFrom(source.get(), 0, "open for append", &kept);
    if (!err.ok()) return err;
  }
  *out = std::move(stream);
  return Error();
}

LocalWriteStream::~LocalWriteStream() { discard(); }

Error LocalWriteStream::createTemp(int32_t perm) {
  int dirfd = dir_.get();
  if (CanLinkAnonymous()) {
    int fd = ::openat(dirfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, perm);
    if (fd >= 0) {
      file_ = Fd::Owned(fd);
      anonymous_ = true;
      return Error();
    }
    int err = errno;
    // These mean "this file system has no O_TMPFILE": fall back to a name.
    if (err != EOPNOTSUPP && err != EISDIR && err != EINVAL) {
      return ErrnoError(err, "open", path_);
    }
  }
  for (;;) {
    std::string temp = TempName(name_);
    int fd = ::openat(dirfd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      perm);
    if (fd >= 0) {
      file_ = Fd::Owned(fd);
      tempName_ = std::move(temp);
      return Error();
    }
    if (errno != EEXIST) return ErrnoError(errno, "open", path_);
  }
}

Error LocalWriteStream::appendFrom(int source, int64_t offset, const char* operation,
                                   int64_t* copied) {
  // Bytes still buffered come before the copied ones.
  Error err = flush();
  if (!err.ok()) return err;
  int64_t start = size_;
  loff_t in = offset;
  for (;;) {
    ssize_t n = ::copy_file_range(source, &in, file_.get(), nullptr, 1 << 30, 0);
    if (n > 0) {
      size_ += n;
      continue;
    }
    if (n == 0) {
      *copied = size_ - start;
      return Error();
    }
    int code = errno;
    if (code == EINTR) continue;
    if (code != EXDEV && code != EINVAL && code != ENOSYS && code != EOPNOTSUPP) {
      return failed_ = ErrnoError(code, operation, path_);
    }
    break;
  }
  // No copy_file_range between these files: copy through a buffer.
  std::vector<char> chunk(1 << 20);
  for (;;) {
    ssize_t n = PreadFully(source, chunk.data(), chunk.size(), in);
    if (n < 0) return failed_ = ErrnoError(errno, operation, path_);
    if (n == 0) {
      *copied = size_ - start;
      return Error();
    }
    err = writeAll(chunk.data(), static_cast<uint64_t>(n));
    if (!err.ok()) return failed_ = err;
    in += n;
    size_ += n;
  }
}

bool LocalWriteStream::copyFrom(Stream& source, int64_t* copied, Error* error) {
  auto* reader = dynamic_cast<LocalReadStream*>(&source);
  if (reader == nullptr) return false;
  if (!failed_.ok()) {
    *error = failed_;
    return true;
  }
  *error = appendFrom(reader->file_.get(), reader->position_, "copy", copied);
  if (error->ok()) reader->position_ += *copied;
  return true;
}

Error LocalWriteStream::writeAll(const char* data, uint64_t n) {
  while (n > 0) {
    ssize_t w = ::write(file_.get(), data, std::min(n, kMaxIo));
    if (w < 0) {
      if (errno == EINTR) continue;
      return ErrnoError(errno, "write", path_);
    }
    data += w;
    n -= static_cast<uint64_t>(w);
  }
  return Error();
}

Error LocalWriteStream::read(char*, uint64_t, int64_t*) {
  return WrongDirection("read", path_, false);
}

Error LocalWriteStream::pread(char*, uint64_t, int64_t, int64_t*) {
  return WrongDirection("pread", path_, false);
}

Error LocalWriteStream::preadv(const std::vector<ReadRange>&, int64_t*) {
  return WrongDirection("preadv", path_, false);
}

Error LocalWriteStream::write(const char* data, uint64_t n) {
  if (!failed_.ok()) return failed_;
  if (n < kBufferSize) {
    if (buffer_.empty()) buffer_.resize(kBufferSize);
    if (used_ + n > kBufferSize) {
      Error err = flush();
      if (!err.ok()) return err;
    }
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
    size_ += static_cast<int64_t>(n);
    return Error();
  }
  Error err = flush();
  if (err.ok()) err = writeAll(data, n);
  if (!err.ok()) {
    failed_ = err;
    return err;
  }
  size_ += static_cast<int64_t>(n);
  return Error();
}

Error LocalWriteStream::flush() {
  if (!failed_.ok()) return failed_;
  if (used_ == 0) return Error();
  Error err = writeAll(buffer_.data(), used_);
  if (!err.ok()) {
    failed_ = err;
    return err;
  }
  used_ = 0;
  return Error();
}

Error LocalWriteStream::tell(int64_t* position) {
  *position = size_;
  return Error();
}

Error LocalWriteStream::seek(int64_t, int64_t*) {
  return Error::NotSupported("seek " + path_.display() +
                             ": a write stream only appends; seek is not supported");
}

Error LocalWriteStream::length(int64_t* length) {
  *length = size_;
  return Error();
}

Error LocalWriteStream::close() {
  if (!failed_.ok()) return failed_;
  Error err = publish();
  if (!err.ok()) {
    discard();
    failed_ = Error(err.code(), err.message() + "; the previous content is unchanged");
    return failed_;
  }
  return Error();
}

Error LocalWriteStream::publish() {
  Error err = flush();
  if (!err.ok()) return err;
  int dirfd = dir_.get();
  if (fsync_ && ::fsync(file_.get()) != 0) return ErrnoError(errno, "close", path_);
  if (anonymous_) {
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", file_.get());
    for (;;) {
      std::string temp = TempName(name_);
      if (::linkat(AT_FDCWD, proc, dirfd, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        tempName_ = std::move(temp);
        anonymous_ = false;
        break;
      }
      if (errno != EEXIST) return ErrnoError(errno, "close", path_);
    }
  }
  // close(2) reports late write errors (e.g. on network file systems).
  if (::close(file_.release()) != 0) return ErrnoError(errno, "close", path_);
  if (::renameat(dirfd, tempName_.c_str(), dirfd, name_.c_str()) != 0) {
    return ErrnoError(errno, "close", path_);
  }
  tempName_.clear();
  if (fsync_) {
    int dfd = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return ErrnoError(errno, "close", path_);
    int rc = ::fsync(dfd);
    int err = errno;
    ::close(dfd);
    if (rc != 0) return ErrnoError(err, "close", path_);
  }
  return Error();
}

void LocalWriteStream::discard() {
  file_.reset();
  anonymous_ = false;
  if (!tempName_.empty()) {
    ::unlinkat(dir_.get(), tempName_.c_str(), 0);
    tempName_.clear();
  }
}

}  // namespace local
}  // namespace ovk
