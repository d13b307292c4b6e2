#include "QuollReadStream.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace ovk::quoll {
namespace {

// Ranges of a preadv closer than this share one GET; the bytes between
// them are fetched and dropped, which costs less than another request.
constexpr int64_t kCoalesceGap = 64 << 10;
constexpr int64_t kMaxGroup = 64 << 20;
// The window after a seek away from the sequential position.
constexpr int64_t kRandomWindow = 256 << 10;

}  // namespace

QuollReadStream::QuollReadStream(std::shared_ptr<const QuollStore> store,
                                 std::string key, int64_t size, std::string etag)
    : store_(std::move(store)),
      key_(std::move(key)),
      size_(size),
      etag_(std::move(etag)),
      chunkBytes_(store_->settings.readAheadBytes),
      maxDepth_(static_cast<size_t>(store_->settings.uploadConcurrency)) {}

QuollReadStream::~QuollReadStream() { dropAhead(); }

Error QuollReadStream::fetch(int64_t offset, int64_t length, char* dst,
                             int64_t* got) const {
  return store_->client->getRange(key_, offset, length, dst, got, etag_);
}

void QuollReadStream::fillAhead() {
  while (ahead_.size() < depth_ && nextAhead_ < size_) {
    Chunk chunk;
    chunk.start = nextAhead_;
    chunk.length = std::min(chunkBytes_, size_ - nextAhead_);
    chunk.data = std::make_shared<std::vector<char>>(static_cast<size_t>(chunk.length));
    chunk.got = std::make_shared<int64_t>(0);
    std::shared_ptr<const QuollStore> store = store_;
    std::string key = key_;
    std::string etag = etag_;
    auto data = chunk.data;
    auto got = chunk.got;
    int64_t start = chunk.start;
    chunk.done = std::async(std::launch::async, [store, key, etag, data, got, start] {
                   return store->client->getRange(key, start,
                                                  static_cast<int64_t>(data->size()),
                                                  data->data(), got.get(), etag);
                 }).share();
    nextAhead_ += chunk.length;
    ahead_.push_back(std::move(chunk));
  }
}

void QuollReadStream::dropAhead() {
  for (Chunk& chunk : ahead_) chunk.done.wait();
  ahead_.clear();
  depth_ = 0;
}

Error QuollReadStream::readAhead(char* buffer, int64_t want, int64_t* got) {
  Chunk& chunk = ahead_.front();
  Error error = chunk.done.get();
  if (!error.ok()) {
    dropAhead();
    return error;
  }
  int64_t offset = position_ - chunk.start;
  if (offset >= *chunk.got) {
    // The object is shorter than it was at open.
    dropAhead();
    *got = -1;
    return Error();
  }
  int64_t take = std::min(want, *chunk.got - offset);
  std::memcpy(buffer, chunk.data->data() + offset, static_cast<size_t>(take));
  position_ += take;
  sequentialEnd_ = position_;
  if (position_ >= chunk.start + chunk.length) {
    ahead_.pop_front();
    depth_ = std::min(depth_ + 1, maxDepth_);
    fillAhead();
  }
  *got = take;
  return Error();
}

Error QuollReadStream::readWindow(char* buffer, int64_t want, int64_t* got) {
  if (position_ < windowStart_ || position_ >= windowStart_ + windowLength_) {
    int64_t span = std::min(std::max(want, kRandomWindow), size_ - position_);
    window_.resize(static_cast<size_t>(span));
    windowStart_ = position_;
    windowLength_ = 0;
    Error error = fetch(position_, span, window_.data(), &windowLength_);
    if (!error.ok()) {
      windowLength_ = 0;
      return error;
    }
    if (windowLength_ == 0) {
      *got = -1;
      return Error();
    }
  }
  int64_t take = std::min(want, windowStart_ + windowLength_ - position_);
  std::memcpy(buffer, window_.data() + (position_ - windowStart_), static_cast<size_t>(take));
  position_ += take;
  sequentialEnd_ = position_;
  *got = take;
  return Error();
}

Error QuollReadStream::read(char* buffer, uint64_t n, int64_t* got) {
  if (n == 0) {
    *got = 0;
    return Error();
  }
  if (position_ >= size_) {
    *got = -1;
    return Error();
  }
  int64_t want = std::min<int64_t>(static_cast<int64_t>(n), size_ - position_);
  if (!ahead_.empty() && position_ >= ahead_.front().start &&
      position_ < ahead_.front().start + ahead_.front().length) {
    return readAhead(buffer, want, got);
  }
  dropAhead();
  bool inWindow = position_ >= windowStart_ && position_ < windowStart_ + windowLength_;
  if (chunkBytes_ > 0 && !inWindow && position_ == sequentialEnd_) {
    std::vector<char>().swap(window_);
    windowLength_ = 0;
    nextAhead_ = position_;
    depth_ = 1;
    fillAhead();
    return readAhead(buffer, want, got);
  }
  return readWindow(buffer, want, got);
}

Error QuollReadStream::pread(char* buffer, uint64_t n, int64_t offset, int64_t* got) {
  if (offset < 0) {
    return Error::InvalidArgument("pread " + store_->client->bucket() + "/" + key_ +
                                  ": negative offset");
  }
  if (n == 0) {
    *got = 0;
    return Error();
  }
  if (offset >= size_) {
    *got = -1;
    return Error();
  }
  int64_t want = std::min<int64_t>(static_cast<int64_t>(n), size_ - offset);
  int64_t fetched = 0;
  Error error = fetch(offset, want, buffer, &fetched);
  if (!error.ok()) return error;
  *got = fetched > 0 ? fetched : -1;
  return Error();
}

Error QuollReadStream::preadv(const std::vector<ReadRange>& ranges, int64_t* total) {
  for (const ReadRange& r : ranges) {
    if (r.offset < 0 || r.length < 0 || r.offset + r.length > size_) {
      return Error::InvalidArgument(
          "preadv " + store_->client->bucket() + "/" + key_ + ": range of " +
          std::to_string(r.length) + " bytes at " + std::to_string(r.offset) +
          " reaches past the end (" + std::to_string(size_) + " bytes)");
    }
  }
  std::vector<size_t> order(ranges.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return ranges[a].offset < ranges[b].offset; });

  int64_t sum = 0;
  std::vector<char> scratch;
  for (size_t i = 0; i < order.size();) {
    const ReadRange& first = ranges[order[i]];
    int64_t start = first.offset;
    int64_t end = first.offset + first.length;
    size_t j = i + 1;
    while (j < order.size()) {
      const ReadRange& next = ranges[order[j]];
      int64_t newEnd = std::max(end, next.offset + next.length);
      if (next.offset > end + kCoalesceGap || newEnd - start > kMaxGroup) break;
      end = newEnd;
      ++j;
    }
    int64_t fetched = 0;
    Error error;
    if (j == i + 1) {
      error = fetch(start, end - start, first.buffer, &fetched);
    } else {
      scratch.resize(static_cast<size_t>(end - start));
      error = fetch(start, end - start, scratch.data(), &fetched);
    }
    if (!error.ok()) return error;
    if (fetched != end - start) {
      return Error::Io("preadv " + store_->client->bucket() + "/" + key_ +
                       ": the object is shorter than when it was opened");
    }
    for (size_t k = i; k < j && j != i + 1; ++k) {
      const ReadRange& r = ranges[order[k]];
      std::memcpy(r.buffer, scratch.data() + (r.offset - start), r.length);
    }
    for (size_t k = i; k < j; ++k) sum += ranges[order[k]].length;
    i = j;
  }
  *total = sum;
  return Error();
}

Error QuollReadStream::write(const char*, uint64_t) {
  return Error::NotSupported("write " + store_->client->bucket() + "/" + key_ +
                             ": the stream is open for reading");
}

Error QuollReadStream::flush() { return Error(); }

Error QuollReadStream::tell(int64_t* position) {
  *position = position_;
  return Error();
}

Error QuollReadStream::seek(int64_t offset, int64_t* position) {
  if (offset < 0) {
    return Error::InvalidArgument("seek " + store_->client->bucket() + "/" + key_ +
                                  ": negative offset");
  }
  position_ = offset;
  *position = offset;
  return Error();
}

Error QuollReadStream::length(int64_t* length) {
  *length = size_;
  return Error();
}

Error QuollReadStream::close() {
  dropAhead();
  std::vector<char>().swap(window_);
  windowLength_ = 0;
  return Error();
}

}  // namespace ovk::quoll
