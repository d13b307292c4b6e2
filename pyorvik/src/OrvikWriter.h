// OrvikWriter: the OvkWriter over one SDK stream opened for writing.
//
// Sole owner of the stream handle, which it closes (unless closed) and
// releases when destroyed; borrows the store, so the OvkFileSystem that
// opened it must outlive it. No lock: concurrent writes are not ordered.
// Once closed, the blocking operations answer "Already closed." without
// reaching the SDK. The asynchronous forms do not copy the data, which must
// stay valid until the SDK has taken it, and the close callback writes this
// writer's closed flag: the writer must outlive a pending close.
#ifndef PYORVIK_SRC_ORVIKWRITER_H_
#define PYORVIK_SRC_ORVIKWRITER_H_

#include <atomic>
#include <string>

#include "OvkWriter.h"
#include "orviksdk/ovk_sdk.h"

class OrvikWriter : public OvkWriter {
 public:
  OrvikWriter(std::string name, ovk_store_t* store, ovk_io_context_t* stream)
      : name_(std::move(name)), store_(store), stream_(stream) {}
  ~OrvikWriter() override;
  OrvikWriter(const OrvikWriter&) = delete;
  OrvikWriter& operator=(const OrvikWriter&) = delete;

  bool closed() const override;
  OvkStatus name(std::string_view* out) const override;
  OvkStatus write(std::string_view data) override;
  std::shared_ptr<OvkTask> writeAsync(std::string_view data,
                                      OvkStatusCallback done) override;
  OvkStatus flush() override;
  std::shared_ptr<OvkTask> flushAsync(OvkStatusCallback done) override;
  OvkStatus tell(int64_t& position) override;
  std::shared_ptr<OvkTask> tellAsync(OvkInt64Callback done) override;
  OvkStatus close() override;
  std::shared_ptr<OvkTask> closeAsync(OvkStatusCallback done) override;
  // `source` must be an OrvikReader, of this store or another.
  OvkStatus copyFrom(OvkReader& source, int64_t* copied) override;

 private:
  std::string name_;    // the path as given to openWriter or openAppender
  ovk_store_t* store_;  // borrowed from the client
  ovk_io_context_t* stream_;
  std::atomic<bool> closed_{false};
};

#endif  // PYORVIK_SRC_ORVIKWRITER_H_
