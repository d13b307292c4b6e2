// OrvikOperation: the OvkTask of one asynchronous SDK request.
//
// Owns the SDK's operation call and frees it when the last handle goes
// away, whether or not the request has finished. Borrows the store (and,
// for stream requests, the stream): the client, reader or writer that
// submitted the request must outlive it. No lock is taken; perform, wait
// and cancel may be called from any thread, each with its own handle
// context.
#ifndef PYORVIK_SRC_ORVIKOPERATION_H_
#define PYORVIK_SRC_ORVIKOPERATION_H_

#include "OvkStatus.h"
#include "OvkTask.h"
#include "orviksdk/ovk_sdk.h"

class OrvikOperation : public OvkTask {
 public:
  // stream is null for namespace requests.
  OrvikOperation(ovk_store_t* store, ovk_io_context_t* stream,
                 ovk_operation_call_t* call)
      : store_(store), stream_(stream), call_(call) {}
  ~OrvikOperation() override;
  OrvikOperation(const OrvikOperation&) = delete;
  OrvikOperation& operator=(const OrvikOperation&) = delete;

  OvkStatus perform() override;
  OvkStatus wait() override;
  OvkStatus cancel() override;

 private:
  ovk_store_t* store_;
  ovk_io_context_t* stream_;
  ovk_operation_call_t* call_;
};

#endif  // PYORVIK_SRC_ORVIKOPERATION_H_
