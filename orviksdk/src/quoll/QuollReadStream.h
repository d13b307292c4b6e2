// QuollReadStream: reading one object by ranged GETs.
//
// Sequential reads go through a read-ahead window: the first fetch is the
// configured read-ahead size, and each further contiguous fetch doubles it
// (up to 8 times the setting) while reads stay sequential; a seek
// elsewhere starts again from a small window, so random access through
// seek+read wastes little. Reads at least as large as the window go
// straight into the caller's buffer. pread and preadv never read ahead:
// pread is one ranged GET, preadv one GET per group of nearby ranges.
//
// The object's size is read once, at open; a stream reads the object as it
// was then, or reports end of file early if it shrank.
//
// Thread safety: as the Stream interface says; pread/preadv/length touch
// only immutable members.
#ifndef ORVIKSDK_QUOLL_QUOLLREADSTREAM_H_
#define ORVIKSDK_QUOLL_QUOLLREADSTREAM_H_

#include <memory>
#include <string>
#include <vector>

#include "Backend.h"
#include "QuollStore.h"

namespace ovk::quoll {

class QuollReadStream : public Stream {
 public:
  QuollReadStream(std::shared_ptr<const QuollStore> store, std::string key,
                  int64_t size);

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
  Error fetch(int64_t offset, int64_t length, char* dst, int64_t* got) const;

  const std::shared_ptr<const QuollStore> store_;
  const std::string key_;
  const int64_t size_;
  const int64_t firstWindow_;  // the read-ahead setting
  int64_t position_ = 0;
  std::vector<char> window_;   // bytes [windowStart_, windowStart_ + windowLength_)
  int64_t windowStart_ = 0;
  int64_t windowLength_ = 0;
  int64_t nextWindow_;         // size of the next read-ahead fetch
};

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_QUOLLREADSTREAM_H_
