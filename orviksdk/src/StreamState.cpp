#include "StreamState.h"

#include <mutex>
#include <vector>

namespace ovk {

Error StreamState::usable(const char* operation, bool reading) {
  Backend* unused;
  Error err = core_->backend(operation, &unused);
  if (!err.ok()) return err;
  if (closed_) {
    return Error::InvalidArgument(std::string(operation) + " " + path_.display() +
                                  ": the stream is closed");
  }
  if (reading != forReading_) {
    return Error::InvalidArgument(std::string(operation) + " " + path_.display() +
                                  (forReading_ ? ": the stream was opened for reading"
                                               : ": the stream was opened for writing"));
  }
  return Error();
}

Error StreamState::read(char* buffer, uint64_t n, int64_t* got) {
  std::unique_lock<std::shared_mutex> lock(mu_);
  Error err = usable("read", true);
  if (!err.ok()) return err;
  if (buffer == nullptr && n > 0) {
    return Error::InvalidArgument("read " + path_.display() + ": no buffer");
  }
  return stream_->read(buffer, n, got);
}

Error StreamState::pread(char* buffer, uint64_t n, int64_t offset, int64_t* got) {
  std::shared_lock<std::shared_mutex> lock(mu_);
  Error err = usable("pread", true);
  if (!err.ok()) return err;
  if (buffer == nullptr && n > 0) {
    return Error::InvalidArgument("pread " + path_.display() + ": no buffer");
  }
  if (offset < 0) {
    return Error::InvalidArgument("pread " + path_.display() + ": negative offset " +
                                  std::to_string(offset));
  }
  return stream_->pread(buffer, n, offset, got);
}

Error StreamState::preadv(const std::vector<ReadRange>& ranges, int64_t* total) {
  std::shared_lock<std::shared_mutex> lock(mu_);
  Error err = usable("preadv", true);
  if (!err.ok()) return err;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const ReadRange& r = ranges[i];
    if (r.length < 0 || r.offset < 0 || (r.buffer == nullptr && r.length > 0)) {
      return Error::InvalidArgument("preadv " + path_.display() + ": range " +
                                    std::to_string(i) + " (offset " +
                                    std::to_string(r.offset) + ", length " +
                                    std::to_string(r.length) + ") is invalid");
    }
  }
  return stream_->preadv(ranges, total);
}

Error StreamState::write(const char* data, uint64_t n) {
  std::unique_lock<std::shared_mutex> lock(mu_);
  Error err = usable("write", false);
  if (!err.ok()) return err;
  if (data == nullptr && n > 0) {
    return Error::InvalidArgument("write " + path_.display() + ": no data");
  }
  if (!broken_.ok()) return broken_;
  return stream_->write(data, n);
}

Error StreamState::flush() {
  std::unique_lock<std::shared_mutex> lock(mu_);
  Error err = usable("flush", forReading_);
  if (!err.ok()) return err;
  // Nothing is buffered on a read stream.
  if (forReading_) return Error();
  return broken_.ok() ? stream_->flush() : broken_;
}

Error StreamState::tell(int64_t* position) {
  std::unique_lock<std::shared_mutex> lock(mu_);
  Error err = usable("tell", forReading_);
  if (!err.ok()) return err;
  return stream_->tell(position);
}

Error StreamState::seek(int64_t offset, int64_t* position) {
  std::unique_lock<std::shared_mutex> lock(mu_);
  Error err = usable("seek", forReading_);
  if (!err.ok()) return err;
  if (offset < 0) {
    return Error::InvalidArgument("seek " + path_.display() + ": negative offset " +
                                  std::to_string(offset));
  }
  return stream_->seek(offset, position);
}

Error StreamState::length(int64_t* length) {
  std::shared_lock<std::shared_mutex> lock(mu_);
  Error err = usable("getFileLength", forReading_);
  if (!err.ok()) return err;
  return stream_->length(length);
}

Error StreamState::close() {
  std::unique_lock<std::shared_mutex> lock(mu_);
  Backend* unused;
  Error err = core_->backend("close", &unused);
  if (!err.ok()) return err;
  if (closed_) return Error();
  if (!broken_.ok()) return broken_;
  err = stream_->close();
  if (err.ok()) closed_ = true;
  return err;
}

Error StreamState::copyFrom(StreamState& source, int64_t* copied) {
  if (&source == this) {
    return Error::InvalidArgument("copyFrom " + path_.display() + ": a stream onto itself");
  }
  // Always this (a write stream) before the source (a read stream), so two
  // copies can never wait for each other's locks.
  std::unique_lock<std::shared_mutex> lock(mu_);
  Error err = usable("copyFrom", false);
  if (!err.ok()) return err;
  std::unique_lock<std::shared_mutex> sourceLock(source.mu_);
  err = source.usable("copyFrom", true);
  if (!err.ok()) return err;
  if (!broken_.ok()) return broken_;
  if (stream_->copyFrom(*source.stream_, copied, &err)) return err;

  constexpr size_t kCopyBufferBytes = 8 << 20;
  std::vector<char> buffer(kCopyBufferBytes);
  int64_t total = 0;
  for (;;) {
    int64_t got = -1;
    err = source.stream_->read(buffer.data(), buffer.size(), &got);
    if (err.ok() && got >= 0) err = stream_->write(buffer.data(), static_cast<uint64_t>(got));
    if (!err.ok()) {
      broken_ = err;
      return err;
    }
    if (got < 0) break;
    total += got;
  }
  *copied = total;
  return Error();
}

}  // namespace ovk
