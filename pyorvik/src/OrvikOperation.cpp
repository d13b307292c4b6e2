#include "OrvikOperation.h"

#include "OvkSdkCall.h"

namespace {

using CallAction = void (*)(ovk_handle_ctx_t*, ovk_operation_call_t*);

OvkStatus drive(ovk_store_t* store, ovk_io_context_t* stream,
                ovk_operation_call_t* call, CallAction action,
                const char* prefix) {
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store, stream);
  action(ctx, call);
  return sdkStatus(takeOutcome(ctx), prefix);
}

}  // namespace

OrvikOperation::~OrvikOperation() {
  if (call_ != nullptr) {
    ovk_freeOperationCall(call_);
    call_ = nullptr;
  }
}

OvkStatus OrvikOperation::perform() {
  return drive(store_, stream_, call_, ovk_perform,
               "failed to perform, errmsg: ");
}

OvkStatus OrvikOperation::wait() {
  return drive(store_, stream_, call_, ovk_wait, "failed to wait, errmsg: ");
}

OvkStatus OrvikOperation::cancel() {
  return drive(store_, stream_, call_, ovk_cancel,
               "failed to cancel, errmsg: ");
}
