// QuollWriteStream: writing one object, published whole at close.
//
// Bytes are gathered into parts of the configured size. While the file
// fits in one part nothing is sent; close() then stores it with a single
// PUT. Once a part fills, a multipart upload starts and full parts are
// uploaded by background threads, at most `upload concurrency` at a time
// (a writer waits for a slot, so memory stays at (concurrency + 1) parts).
// close() uploads the last part, waits for the others and completes the
// upload: only then does the object appear, whole. Any failure aborts the
// upload, so a failed or abandoned stream leaves no object change and no
// dangling upload. Append starts the upload with the existing object as
// its first parts (server-side copies), or with its bytes when it is
// smaller than the 5 MiB minimum part; before completing, the object must
// still be the version those parts came from.
//
// A whole object of the same bucket copied in (copyFrom) into a writer that
// holds nothing yet is not read at all: close() makes the file a
// server-side copy of that version (ServerCopy.h). Bytes written after it
// turn the copy into the first parts of a multipart upload, as for append.
//
// Part sizes double every 1,000 parts, so the 10,000-part limit of the
// service is not reached before objects of several terabytes.
//
// Thread safety: as the Stream interface says (one caller at a time); the
// background uploads touch only what they were handed.
#ifndef ORVIKSDK_QUOLL_QUOLLWRITESTREAM_H_
#define ORVIKSDK_QUOLL_QUOLLWRITESTREAM_H_

#include <deque>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Backend.h"
#include "QuollStore.h"
#include "ServerCopy.h"

namespace ovk::quoll {

class QuollWriteStream : public Stream {
 public:
  QuollWriteStream(std::shared_ptr<const QuollStore> store, std::string key,
                   std::map<std::string, std::string> metadata);
  // Aborts an upload that was not completed.
  ~QuollWriteStream() override;

  // Starts the file with the bytes of `source`: for append, the object
  // already at the key. Call once, before any write.
  Error startFrom(const CopySource& source);

  Error read(char* buffer, uint64_t n, int64_t* got) override;
  Error pread(char* buffer, uint64_t n, int64_t offset, int64_t* got) override;
  Error preadv(const std::vector<ReadRange>& ranges, int64_t* total) override;
  Error write(const char* data, uint64_t n) override;
  Error flush() override;
  Error tell(int64_t* position) override;
  Error seek(int64_t offset, int64_t* position) override;
  Error length(int64_t* length) override;
  Error close() override;
  bool copyFrom(Stream& source, int64_t* copied, Error* error) override;

 private:
  struct PartResult {
    Error error;
    CompletedPart part;
    std::vector<char> buffer;  // handed back for the next part
  };

  size_t currentPartBytes() const;
  Error startUpload();
  // Hands buffer_ to a background upload as the next part.
  Error submitPart();
  // Collects finished uploads until at most `limit` remain in flight.
  Error drain(size_t limit);
  Error fail(Error error);
  void abortUpload();
  std::string describe() const;

  const std::shared_ptr<const QuollStore> store_;
  const std::string key_;
  const std::map<std::string, std::string> metadata_;
  std::vector<char> buffer_;  // the part being filled
  // Buffers of uploaded parts, kept for the next ones: a fresh buffer
  // would be faulted in page by page again, which costs more CPU than the
  // upload itself.
  std::vector<std::vector<char>> spare_;
  int64_t written_ = 0;       // bytes of the file so far, kept bytes included
  std::string uploadId_;      // empty until the first part is sent
  std::vector<CompletedPart> parts_;
  std::deque<std::future<PartResult>> inFlight_;
  std::optional<CopySource> pendingCopy_;  // the whole file so far, not yet copied
  std::optional<CopySource> copiedFrom_;   // the source of the upload's copied parts
  Error failure_;             // the first failure; every later call returns it
  bool completed_ = false;
};

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_QUOLLWRITESTREAM_H_
