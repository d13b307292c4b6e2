// OvkTask: the caller's handle on one asynchronous request. The request's
// outcome arrives through the completion function given when it was
// started; the handle only drives the request and owns the SDK's call.
#ifndef PYORVIK_SRC_OVKTASK_H_
#define PYORVIK_SRC_OVKTASK_H_

#include "OvkStatus.h"

class OvkTask {
 public:
  virtual ~OvkTask() = default;
  virtual OvkStatus perform() = 0;
  virtual OvkStatus wait() = 0;
  virtual OvkStatus cancel() = 0;
};

#endif  // PYORVIK_SRC_OVKTASK_H_
