// OvkWriter: one file of the store opened for writing. Once closed, the
// blocking operations answer "Already closed." (code 3005) without reaching
// the SDK.
#ifndef PYORVIK_SRC_OVKWRITER_H_
#define PYORVIK_SRC_OVKWRITER_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "OvkReader.h"
#include "OvkStatus.h"
#include "OvkTask.h"

class OvkWriter {
 public:
  virtual ~OvkWriter() = default;
  virtual bool closed() const = 0;
  virtual OvkStatus name(std::string_view* out) const = 0;
  virtual OvkStatus write(std::string_view data) = 0;
  virtual std::shared_ptr<OvkTask> writeAsync(std::string_view data,
                                              OvkStatusCallback done) = 0;
  virtual OvkStatus flush() = 0;
  virtual std::shared_ptr<OvkTask> flushAsync(OvkStatusCallback done) = 0;
  virtual OvkStatus tell(int64_t& position) = 0;
  virtual std::shared_ptr<OvkTask> tellAsync(OvkInt64Callback done) = 0;
  virtual OvkStatus close() = 0;
  virtual std::shared_ptr<OvkTask> closeAsync(OvkStatusCallback done) = 0;
  // Appends the rest of `source` (from its position to its end, which
  // becomes its position) to this file. The storage copies the bytes
  // itself where it can, so they need not pass through this process.
  // *copied = the bytes appended.
  virtual OvkStatus copyFrom(OvkReader& source, int64_t* copied) = 0;
};

#endif  // PYORVIK_SRC_OVKWRITER_H_
