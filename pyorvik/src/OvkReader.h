// OvkReader: one file of the store opened for reading.
//
// Operations never throw; each returns an OvkStatus. End of file before the
// requested count is a status with code 3005 whose message begins
// "EOF reached, ", and the view then holds the bytes read.
#ifndef PYORVIK_SRC_OVKREADER_H_
#define PYORVIK_SRC_OVKREADER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "OvkStatus.h"
#include "OvkTask.h"

using OvkStatusCallback = std::function<void(OvkStatus)>;
using OvkInt64Callback = std::function<void(OvkStatus, int64_t)>;

// True only for the status a reader returns when the file ended before the
// requested count (code 3005, message beginning "EOF reached, "). Callers
// tell a short read from a failure with it, never by searching the message,
// which may quote a path.
bool isEndOfFile(const OvkStatus& status);

class OvkReader {
 public:
  virtual ~OvkReader() = default;
  virtual bool closed() const = 0;
  virtual OvkStatus name(std::string_view* out) const = 0;
  virtual OvkStatus read(uint64_t n, std::string_view* out, char* scratch) = 0;
  virtual std::shared_ptr<OvkTask> readAsync(uint64_t n, std::string_view* out,
                                             char* scratch,
                                             OvkStatusCallback done) = 0;
  virtual OvkStatus pread(int64_t offset, uint64_t n, std::string_view* out,
                          char* scratch) = 0;
  virtual std::shared_ptr<OvkTask> preadAsync(int64_t offset, uint64_t n,
                                              std::string_view* out,
                                              char* scratch,
                                              OvkStatusCallback done) = 0;
  virtual OvkStatus preadv(std::vector<int64_t>& offsets,
                           std::vector<uint64_t>& lengths,
                           std::vector<char*>& buffers) = 0;
  virtual std::shared_ptr<OvkTask> preadvAsync(std::vector<int64_t>& offsets,
                                               std::vector<uint64_t>& lengths,
                                               std::vector<char*>& buffers,
                                               OvkStatusCallback done) = 0;
  virtual OvkStatus tell(int64_t& position) = 0;
  virtual std::shared_ptr<OvkTask> tellAsync(OvkInt64Callback done) = 0;
  virtual OvkStatus seek(int64_t offset) = 0;
  virtual std::shared_ptr<OvkTask> seekAsync(int64_t offset,
                                             OvkInt64Callback done) = 0;
  virtual OvkStatus getFileLength(int64_t& length) = 0;
  virtual std::shared_ptr<OvkTask> getFileLengthAsync(
      OvkInt64Callback done) = 0;
  virtual OvkStatus close() = 0;
  virtual std::shared_ptr<OvkTask> closeAsync(OvkStatusCallback done) = 0;
};

#endif  // PYORVIK_SRC_OVKREADER_H_
