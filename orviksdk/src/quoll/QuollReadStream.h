// QuollReadStream: reading one object by ranged GETs.
//
// Sequential reads are served by read-ahead: chunks of the configured
// read-ahead size are fetched by background requests, one chunk ahead at
// first and one more each time the reader moves on to the next chunk, up to
// the upload concurrency; a read that is not where the previous one ended
// drops them. Reads after a seek elsewhere fetch a small window only, so
// random access through seek+read wastes little; once reads continue where
// they ended, read-ahead starts again. pread and preadv never read ahead:
// pread is one ranged GET, preadv one GET per group of nearby ranges.
//
// The object's size and version (ETag) are read once, at open; every GET
// asks for that version, so a stream reads the object as it was then, or
// fails if it was replaced (an object store keeps no old version to read).
//
// Thread safety: as the Stream interface says; pread/preadv/length touch
// only immutable members, and the background fetches only their own chunk.
#ifndef ORVIKSDK_QUOLL_QUOLLREADSTREAM_H_
#define ORVIKSDK_QUOLL_QUOLLREADSTREAM_H_

#include <deque>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Backend.h"
#include "QuollStore.h"

namespace ovk::quoll {

class QuollReadStream : public Stream {
 public:
  // `etag` is the version opened; every read insists on it.
  QuollReadStream(std::shared_ptr<const QuollStore> store, std::string key,
                  int64_t size, std::string etag);
  // Waits for the read-ahead still in flight.
  ~QuollReadStream() override;

  Error read(char* buffer, uint64_t n, int64_t* got) override;
  Error pread(char* buffer, uint64_t n, int64_t offset, int64_t* got) override;
  Error preadv(const std::vector<ReadRange>& ranges, int64_t* total) override;
  Error write(const char* data, uint64_t n) override;
  Error flush() override;
  Error tell(int64_t* position) override;
  Error seek(int64_t offset, int64_t* position) override;
  Error length(int64_t* length) override;
  Error close() override;

 private:
  friend class QuollWriteStream;  // a server-side copy reads key_, size_, etag_

  struct Chunk {
    int64_t start = 0;
    int64_t length = 0;
    std::shared_ptr<std::vector<char>> data;
    std::shared_ptr<int64_t> got;  // bytes fetched, once `done` is ready
    std::shared_future<Error> done;
  };

  Error fetch(int64_t offset, int64_t length, char* dst, int64_t* got) const;
  // Schedules chunks from nextAhead_ until `depth_` are pending.
  void fillAhead();
  // Waits for the pending chunks and forgets them.
  void dropAhead();
  Error readAhead(char* buffer, int64_t want, int64_t* got);
  Error readWindow(char* buffer, int64_t want, int64_t* got);

  const std::shared_ptr<const QuollStore> store_;
  const std::string key_;
  const int64_t size_;
  const std::string etag_;
  const int64_t chunkBytes_;  // the read-ahead setting; 0 turns it off
  const size_t maxDepth_;
  int64_t position_ = 0;
  int64_t sequentialEnd_ = 0;  // where the last read ended
  std::deque<Chunk> ahead_;    // contiguous chunks from ahead_.front().start
  int64_t nextAhead_ = 0;      // start of the next chunk to schedule
  size_t depth_ = 0;
  std::vector<char> window_;   // bytes [windowStart_, windowStart_ + windowLength_)
  int64_t windowStart_ = 0;
  int64_t windowLength_ = 0;
};

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_QUOLLREADSTREAM_H_
