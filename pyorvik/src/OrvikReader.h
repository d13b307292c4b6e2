// OrvikReader: the OvkReader over one SDK stream opened for reading.
//
// Sole owner of the stream handle, which it closes (unless closed) and
// releases when destroyed; borrows the store, so the OvkFileSystem that
// opened it must outlive it. Sequential reads are serialised by a lock of
// their own; the other operations take no lock and may run concurrently,
// as the SDK allows. The asynchronous forms keep pointers to the caller's
// view and buffers, and the close callback to this reader's closed flag:
// all of them must stay valid until the completion function has run.
#ifndef PYORVIK_SRC_ORVIKREADER_H_
#define PYORVIK_SRC_ORVIKREADER_H_

#include <atomic>
#include <mutex>
#include <string>

#include "OvkReader.h"
#include "orviksdk/ovk_sdk.h"

class OrvikReader : public OvkReader {
 public:
  OrvikReader(std::string name, ovk_store_t* store, ovk_io_context_t* stream)
      : name_(std::move(name)), store_(store), stream_(stream) {}
  ~OrvikReader() override;
  OrvikReader(const OrvikReader&) = delete;
  OrvikReader& operator=(const OrvikReader&) = delete;

  bool closed() const override;
  OvkStatus name(std::string_view* out) const override;
  OvkStatus read(uint64_t n, std::string_view* out, char* scratch) override;
  std::shared_ptr<OvkTask> readAsync(uint64_t n, std::string_view* out,
                                     char* scratch,
                                     OvkStatusCallback done) override;
  OvkStatus pread(int64_t offset, uint64_t n, std::string_view* out,
                  char* scratch) override;
  std::shared_ptr<OvkTask> preadAsync(int64_t offset, uint64_t n,
                                      std::string_view* out, char* scratch,
                                      OvkStatusCallback done) override;
  OvkStatus preadv(std::vector<int64_t>& offsets,
                   std::vector<uint64_t>& lengths,
                   std::vector<char*>& buffers) override;
  std::shared_ptr<OvkTask> preadvAsync(std::vector<int64_t>& offsets,
                                       std::vector<uint64_t>& lengths,
                                       std::vector<char*>& buffers,
                                       OvkStatusCallback done) override;
  OvkStatus tell(int64_t& position) override;
  std::shared_ptr<OvkTask> tellAsync(OvkInt64Callback done) override;
  OvkStatus seek(int64_t offset) override;
  std::shared_ptr<OvkTask> seekAsync(int64_t offset,
                                     OvkInt64Callback done) override;
  OvkStatus getFileLength(int64_t& length) override;
  std::shared_ptr<OvkTask> getFileLengthAsync(OvkInt64Callback done) override;
  OvkStatus close() override;
  std::shared_ptr<OvkTask> closeAsync(OvkStatusCallback done) override;

 private:
  friend class OrvikWriter;  // copyFrom reads through stream_ under read_lock_

  std::mutex read_lock_;  // held for the whole of one read()
  std::string name_;      // the path as given to openReader
  ovk_store_t* store_;    // borrowed from the client
  ovk_io_context_t* stream_;
  std::atomic<bool> closed_{false};
};

#endif  // PYORVIK_SRC_ORVIKREADER_H_
