#include "QuollWriteStream.h"

#include <algorithm>
#include <cstring>

namespace ovk::quoll {
namespace {

constexpr int64_t kMinPartBytes = 5 << 20;
constexpr int64_t kMaxCopyPartBytes = int64_t{5} << 30;

}  // namespace

QuollWriteStream::QuollWriteStream(std::shared_ptr<const QuollStore> store,
                                   std::string key,
                                   std::map<std::string, std::string> metadata)
    : store_(std::move(store)), key_(std::move(key)), metadata_(std::move(metadata)) {}

QuollWriteStream::~QuollWriteStream() {
  if (!completed_) abortUpload();
}

std::string QuollWriteStream::describe() const {
  return store_->client->bucket() + "/" + key_;
}

size_t QuollWriteStream::currentPartBytes() const {
  int shift = std::min<int>(static_cast<int>(parts_.size() + inFlight_.size()) / 1000, 10);
  return static_cast<size_t>(store_->settings.partBytes) << shift;
}

Error QuollWriteStream::startUpload() {
  return store_->client->createMultipartUpload(key_, metadata_, &uploadId_);
}

Error QuollWriteStream::fail(Error error) {
  if (failure_.ok()) failure_ = error;
  abortUpload();
  return failure_;
}

void QuollWriteStream::abortUpload() {
  for (auto& pending : inFlight_) pending.wait();
  inFlight_.clear();
  if (!uploadId_.empty()) {
    store_->client->abortMultipartUpload(key_, uploadId_);
    uploadId_.clear();
  }
}

Error QuollWriteStream::startFrom(int64_t existingSize) {
  if (existingSize <= 0) return Error();
  S3Client& client = *store_->client;
  if (existingSize < kMinPartBytes) {
    buffer_.resize(static_cast<size_t>(existingSize));
    int64_t got = 0;
    Error error = client.getRange(key_, 0, existingSize, buffer_.data(), &got);
    if (!error.ok()) return fail(error);
    if (got != existingSize) {
      return fail(Error::Io("append to " + describe() + ": the object changed while reading it"));
    }
    written_ = existingSize;
    return Error();
  }
  Error error = startUpload();
  if (!error.ok()) return fail(error);
  // Equal copy parts, each within the service's limits for copied parts.
  int64_t count = (existingSize + kMaxCopyPartBytes - 1) / kMaxCopyPartBytes;
  int64_t step = (existingSize + count - 1) / count;
  for (int64_t first = 0; first < existingSize; first += step) {
    int64_t last = std::min(existingSize, first + step) - 1;
    CompletedPart part{static_cast<int>(parts_.size()) + 1, ""};
    error = client.uploadPartCopy(key_, uploadId_, part.partNumber, key_, first, last,
                                  &part.etag);
    if (!error.ok()) return fail(error);
    parts_.push_back(std::move(part));
  }
  written_ = existingSize;
  return Error();
}

Error QuollWriteStream::submitPart() {
  Error error = drain(static_cast<size_t>(store_->settings.uploadConcurrency) - 1);
  if (!error.ok()) return error;
  int partNumber = static_cast<int>(parts_.size() + inFlight_.size()) + 1;
  auto data = std::make_shared<std::vector<char>>(std::move(buffer_));
  buffer_ = std::vector<char>();
  std::shared_ptr<const QuollStore> store = store_;
  std::string key = key_;
  std::string uploadId = uploadId_;
  inFlight_.push_back(std::async(std::launch::async, [=] {
    PartResult result;
    result.part.partNumber = partNumber;
    result.error = store->client->uploadPart(key, uploadId, partNumber, data->data(),
                                             data->size(), &result.part.etag);
    return result;
  }));
  return Error();
}

Error QuollWriteStream::drain(size_t limit) {
  while (inFlight_.size() > limit) {
    PartResult result = inFlight_.front().get();
    inFlight_.pop_front();
    if (!result.error.ok()) return fail(result.error);
    parts_.push_back(std::move(result.part));
  }
  return Error();
}

Error QuollWriteStream::write(const char* data, uint64_t n) {
  if (!failure_.ok()) return failure_;
  while (n > 0) {
    size_t partBytes = currentPartBytes();
    if (buffer_.capacity() < partBytes) buffer_.reserve(partBytes);
    size_t take = std::min<uint64_t>(n, partBytes - buffer_.size());
    buffer_.insert(buffer_.end(), data, data + take);
    data += take;
    n -= take;
    written_ += static_cast<int64_t>(take);
    if (buffer_.size() == partBytes) {
      if (uploadId_.empty()) {
        Error error = startUpload();
        if (!error.ok()) return fail(error);
      }
      Error error = submitPart();
      if (!error.ok()) return error;
    }
  }
  return Error();
}

Error QuollWriteStream::close() {
  if (completed_) return Error();
  if (!failure_.ok()) return failure_;
  S3Client& client = *store_->client;
  if (uploadId_.empty()) {
    Error error = client.putObject(key_, buffer_.data(), buffer_.size(), metadata_);
    if (!error.ok()) return fail(error);
    completed_ = true;
    std::vector<char>().swap(buffer_);
    return Error();
  }
  if (!buffer_.empty()) {
    Error error = submitPart();
    if (!error.ok()) return error;
  }
  Error error = drain(0);
  if (!error.ok()) return error;
  std::sort(parts_.begin(), parts_.end(), [](const CompletedPart& a, const CompletedPart& b) {
    return a.partNumber < b.partNumber;
  });
  error = client.completeMultipartUpload(key_, uploadId_, parts_);
  if (error.code() == OVK_ERR_NOT_FOUND) {
    // A completion whose answer was lost and that was sent again finds the
    // upload gone; the object tells whether the first one took effect.
    ObjectHead head;
    std::string suffix = "-" + std::to_string(parts_.size()) + "\"";
    if (client.headObject(key_, &head).ok() && head.size == written_ &&
        head.etag.size() > suffix.size() &&
        head.etag.compare(head.etag.size() - suffix.size(), suffix.size(), suffix) == 0) {
      error = Error();
    }
  }
  if (!error.ok()) return fail(error);
  uploadId_.clear();
  completed_ = true;
  return Error();
}

Error QuollWriteStream::flush() { return failure_; }

Error QuollWriteStream::tell(int64_t* position) {
  *position = written_;
  return Error();
}

Error QuollWriteStream::length(int64_t* length) {
  *length = written_;
  return Error();
}

Error QuollWriteStream::read(char*, uint64_t, int64_t*) {
  return Error::NotSupported("read " + describe() + ": the stream is open for writing");
}

Error QuollWriteStream::pread(char*, uint64_t, int64_t, int64_t*) {
  return Error::NotSupported("pread " + describe() + ": the stream is open for writing");
}

Error QuollWriteStream::preadv(const std::vector<ReadRange>&, int64_t*) {
  return Error::NotSupported("preadv " + describe() + ": the stream is open for writing");
}

Error QuollWriteStream::seek(int64_t, int64_t*) {
  return Error::NotSupported("seek " + describe() + ": an object is written sequentially");
}

}  // namespace ovk::quoll
