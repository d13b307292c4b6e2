#include "QuollWriteStream.h"

#include <algorithm>
#include <cstring>

#include "QuollReadStream.h"

namespace ovk::quoll {
namespace {

constexpr int64_t kMinPartBytes = 5 << 20;

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

Error QuollWriteStream::startFrom(const CopySource& source) {
  if (source.size <= 0) return Error();
  S3Client& client = *store_->client;
  // Whole copy parts, and the rest too when it is big enough to be a part
  // that is not the last; a smaller rest starts the first written part.
  const int64_t partBytes = store_->settings.copyPartBytes;
  int64_t copyEnd = source.size - source.size % partBytes;
  if (source.size - copyEnd >= kMinPartBytes) copyEnd = source.size;
  if (copyEnd > 0) {
    Error error = startUpload();
    if (error.ok()) {
      error = CopyParts(client, source, 0, copyEnd, key_, uploadId_, partBytes,
                        store_->settings.uploadConcurrency, &parts_);
    }
    if (!error.ok()) return fail(error);
    copiedFrom_ = source;
  }
  int64_t rest = source.size - copyEnd;
  if (rest > 0) {
    buffer_.resize(static_cast<size_t>(rest));
    int64_t got = 0;
    Error error = client.getRange(source.key, copyEnd, rest, buffer_.data(), &got, source.etag);
    if (!error.ok()) return fail(error);
    if (got != rest) {
      return fail(Error::Io("write " + describe() + ": " + source.key +
                            " changed while reading it"));
    }
  }
  written_ = source.size;
  return Error();
}

bool QuollWriteStream::copyFrom(Stream& source, int64_t* copied, Error* error) {
  auto* reader = dynamic_cast<QuollReadStream*>(&source);
  // Only a whole object into an empty writer: anything else would need
  // ranges of parts, and the core's buffered copy does it as well.
  if (reader == nullptr || !store_->client->sameBucket(*reader->store_->client) ||
      written_ != 0 || reader->position_ != 0) {
    return false;
  }
  *error = failure_;
  if (!failure_.ok()) return true;
  if (reader->size_ > 0) pendingCopy_ = CopySource{reader->key_, reader->size_, reader->etag_};
  written_ = reader->size_;
  reader->position_ = reader->size_;
  *copied = reader->size_;
  return true;
}

Error QuollWriteStream::submitPart() {
  Error error = drain(static_cast<size_t>(store_->settings.uploadConcurrency) - 1);
  if (!error.ok()) return error;
  int partNumber = static_cast<int>(parts_.size() + inFlight_.size()) + 1;
  auto data = std::make_shared<std::vector<char>>(std::move(buffer_));
  buffer_ = std::vector<char>();
  if (!spare_.empty()) {
    buffer_ = std::move(spare_.back());
    spare_.pop_back();
  }
  std::shared_ptr<const QuollStore> store = store_;
  std::string key = key_;
  std::string uploadId = uploadId_;
  inFlight_.push_back(std::async(std::launch::async, [=] {
    PartResult result;
    result.part.partNumber = partNumber;
    result.error = store->client->uploadPart(key, uploadId, partNumber, data->data(),
                                             data->size(), &result.part.etag);
    result.buffer = std::move(*data);
    return result;
  }));
  return Error();
}

Error QuollWriteStream::drain(size_t limit) {
  while (inFlight_.size() > limit) {
    PartResult result = inFlight_.front().get();
    inFlight_.pop_front();
    if (!result.error.ok()) return fail(result.error);
    result.buffer.clear();
    spare_.push_back(std::move(result.buffer));
    parts_.push_back(std::move(result.part));
  }
  return Error();
}

Error QuollWriteStream::write(const char* data, uint64_t n) {
  if (!failure_.ok()) return failure_;
  if (pendingCopy_ && n > 0) {
    CopySource source = std::move(*pendingCopy_);
    pendingCopy_.reset();
    written_ = 0;
    Error error = startFrom(source);
    if (!error.ok()) return error;
  }
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
  if (pendingCopy_) {
    Error error = CopyObjectServerSide(client, *pendingCopy_, key_, &metadata_,
                                       store_->settings.copyPartBytes,
                                       store_->settings.uploadConcurrency);
    if (!error.ok()) return fail(error);
    pendingCopy_.reset();
    completed_ = true;
    return Error();
  }
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
  if (copiedFrom_) {
    error = CheckSourceUnchanged(client, *copiedFrom_, key_);
    if (!error.ok()) return fail(error);
  }
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
  std::vector<char>().swap(buffer_);
  spare_.clear();
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
