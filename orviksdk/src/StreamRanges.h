// Turns the three lists of ovk_preadv into read ranges.
#ifndef ORVIKSDK_SRC_STREAMRANGES_H_
#define ORVIKSDK_SRC_STREAMRANGES_H_

#include <vector>

#include "Backend.h"
#include "Handles.h"

namespace ovk {

// Range i is lengths[i] bytes at offsets[i] into buffers[i]. Missing lists
// or lists of different sizes are OVK_ERR_INVALID_ARGUMENT.
inline Error MakeRanges(const ovk_file_buffers_t* buffers, const ovk_longs_t* lengths,
                        const ovk_longs_t* offsets, std::vector<ReadRange>* out) {
  if (buffers == nullptr || lengths == nullptr || offsets == nullptr) {
    return Error::InvalidArgument("preadv: the buffer, length and offset lists are required");
  }
  size_t n = buffers->buffers.size();
  if (lengths->values.size() != n || offsets->values.size() != n) {
    return Error::InvalidArgument("preadv: " + std::to_string(n) + " buffers, " +
                                  std::to_string(lengths->values.size()) + " lengths and " +
                                  std::to_string(offsets->values.size()) +
                                  " offsets; the three lists must have the same size");
  }
  out->resize(n);
  for (size_t i = 0; i < n; ++i) {
    (*out)[i] = ReadRange{buffers->buffers[i], lengths->values[i], offsets->values[i]};
  }
  return Error();
}

}  // namespace ovk

#endif  // ORVIKSDK_SRC_STREAMRANGES_H_
