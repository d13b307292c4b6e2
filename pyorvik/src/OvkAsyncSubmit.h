// Submission of one asynchronous SDK request, shared by the namespace
// operations, the reader and the writer. Internal to the client.
#ifndef PYORVIK_SRC_OVKASYNCSUBMIT_H_
#define PYORVIK_SRC_OVKASYNCSUBMIT_H_

#include <memory>
#include <utility>

#include "OrvikOperation.h"
#include "OvkSdkCall.h"
#include "OvkTask.h"
#include "orviksdk/ovk_sdk.h"

inline void registerCallback(ovk_options_t* options,
                             ovk_bool_callback_t callback) {
  ovk_setBoolCallback(options, callback);
}
inline void registerCallback(ovk_options_t* options,
                             ovk_int64_callback_t callback) {
  ovk_setInt64Callback(options, callback);
}
inline void registerCallback(ovk_options_t* options,
                             ovk_file_status_callback_t callback) {
  ovk_setFileStatusCallback(options, callback);
}
inline void registerCallback(ovk_options_t* options,
                             ovk_list_dir_result_callback_t callback) {
  ovk_setListDirResultCallback(options, callback);
}
inline void registerCallback(ovk_options_t* options,
                             ovk_content_summary_callback_t callback) {
  ovk_setContentSummaryCallback(options, callback);
}

// Takes a callback context back from the SDK, as a callback's first action:
// the heap record is destroyed and its contents returned.
template <typename Context>
Context takeContext(void* context) {
  std::unique_ptr<Context> owned(static_cast<Context*>(context));
  return std::move(*owned);
}

// Registers callback with context on a fresh options handle, makes the
// SDK's asynchronous call submit(ctx, options) and wraps the operation call
// it returns. ctx is the handle context made for the submission (on the
// store, or on the store and stream); it and the options are freed here.
// From the submission on the callback owns the context, and it may run (and
// free it) before submit returns, so submit must not read the context. An
// error recorded at submission is not reported here: the SDK reports the
// outcome through the callback.
template <typename Context, typename Callback, typename Submit>
std::shared_ptr<OvkTask> submitAsync(ovk_store_t* store,
                                     ovk_io_context_t* stream,
                                     ovk_handle_ctx_t* ctx,
                                     std::unique_ptr<Context> context,
                                     Callback callback, Submit submit) {
  ovk_options_t* options = ovk_createOptions();
  registerCallback(options, callback);
  ovk_setCallbackContext(options, context.release());
  ovk_operation_call_t* call = submit(ctx, options);
  takeOutcome(ctx);
  ovk_freeOptions(options);
  return std::make_shared<OrvikOperation>(store, stream, call);
}

#endif  // PYORVIK_SRC_OVKASYNCSUBMIT_H_
