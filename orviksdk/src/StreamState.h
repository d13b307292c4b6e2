// StreamState: the core's side of one open stream.
//
// Wraps the backend's Stream and enforces what every backend relies on:
// the store is still ready (else OVK_ERR_NOT_INITIALISED), the stream is
// open and was opened for the call's direction (else
// OVK_ERR_INVALID_ARGUMENT), and calls are serialised as Backend.h
// promises (pread, preadv and length share the lock; the rest take it
// alone). Shared by the stream handle, handle contexts and queued requests,
// so freeing the stream handle while a request on it runs is safe.
// Thread-safe.
#ifndef ORVIKSDK_SRC_STREAMSTATE_H_
#define ORVIKSDK_SRC_STREAMSTATE_H_

#include <memory>
#include <shared_mutex>
#include <vector>

#include "Backend.h"
#include "Executor.h"
#include "StoreCore.h"

namespace ovk {

class StreamState {
 public:
  StreamState(std::shared_ptr<StoreCore> core, std::unique_ptr<Stream> stream,
              StorePath path, bool forReading)
      : core_(std::move(core)),
        stream_(std::move(stream)),
        path_(std::move(path)),
        forReading_(forReading) {}

  Error read(char* buffer, uint64_t n, int64_t* got);
  Error pread(char* buffer, uint64_t n, int64_t offset, int64_t* got);
  Error preadv(const std::vector<ReadRange>& ranges, int64_t* total);
  Error write(const char* data, uint64_t n);
  Error flush();
  Error tell(int64_t* position);
  Error seek(int64_t offset, int64_t* position);
  Error length(int64_t* length);
  // A second close after a successful one is a no-op success.
  Error close();
  // Appends the rest of `source`, a read stream (of any store), to this
  // write stream: by the backend's own copy where it has one for that
  // source, else through a buffer. *copied = the bytes appended.
  Error copyFrom(StreamState& source, int64_t* copied);

  const std::shared_ptr<StoreCore>& core() const { return core_; }
  const std::shared_ptr<Strand>& strand() const { return strand_; }

 private:
  // Checks that the store is ready and the stream open for this direction.
  Error usable(const char* operation, bool reading);

  const std::shared_ptr<StoreCore> core_;
  std::shared_mutex mu_;
  std::unique_ptr<Stream> stream_;  // guarded by mu_
  bool closed_ = false;             // guarded by mu_
  // Set when a buffered copy failed part-way: later writes, flushes and
  // closes report it, so that a partial copy is never published.
  Error broken_;                    // guarded by mu_
  const StorePath path_;
  const bool forReading_;
  const std::shared_ptr<Strand> strand_ = std::make_shared<Strand>();
};

}  // namespace ovk

#endif  // ORVIKSDK_SRC_STREAMSTATE_H_
