// The calls OrvikReader and OrvikWriter make alike on the SDK stream they
// own: release, tell, close and the asynchronous forms that report an
// int64 or a close. Internal to the client; not part of its interface.
// Every function takes the store and stream borrowed; none frees the
// stream except releaseStream.
#ifndef PYORVIK_SRC_OVKSTREAMCALLS_H_
#define PYORVIK_SRC_OVKSTREAMCALLS_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "OvkAsyncSubmit.h"
#include "OvkReader.h"
#include "OvkStatus.h"
#include "OvkTask.h"
#include "orviksdk/ovk_sdk.h"

// For an owner's destructor: closes stream unless it is closed already,
// ignoring the outcome (nobody is left to hear it), and frees it. Does
// nothing when stream is null.
void releaseStream(ovk_store_t* store, ovk_io_context_t* stream,
                   const std::atomic<bool>& closed);

OvkStatus tellStream(ovk_store_t* store, ovk_io_context_t* stream,
                     int64_t& position);
std::shared_ptr<OvkTask> tellStreamAsync(ovk_store_t* store,
                                         ovk_io_context_t* stream,
                                         OvkInt64Callback done);

// Sets *closed only when the close succeeds, so a failed close may be
// retried.
OvkStatus closeStream(ovk_store_t* store, ovk_io_context_t* stream,
                      std::atomic<bool>* closed);

// Sets *closed once the close has completed, whatever the outcome; closed
// must outlive the request.
std::shared_ptr<OvkTask> closeStreamAsync(ovk_store_t* store,
                                          ovk_io_context_t* stream,
                                          std::atomic<bool>* closed,
                                          OvkStatusCallback done);

namespace ovk_stream_detail {

struct Int64Context {
  const char* prefix;
  OvkInt64Callback done;
};

void int64Callback(ovk_handle_ctx_t* ctx, int64_t value, void* context);

}  // namespace ovk_stream_detail

// Submits an asynchronous SDK call whose result is an int64, made by
// submit(ctx, options); done gets the value and the SDK's failure, if any,
// as prefix + the SDK's message. prefix must be a string literal: it is
// kept until the callback runs.
template <typename Submit>
std::shared_ptr<OvkTask> int64StreamAsync(ovk_store_t* store,
                                          ovk_io_context_t* stream,
                                          const char* prefix,
                                          OvkInt64Callback done,
                                          Submit submit) {
  auto context = std::unique_ptr<ovk_stream_detail::Int64Context>(
      new ovk_stream_detail::Int64Context{prefix, std::move(done)});
  return submitAsync(store, stream, ovk_createHandleCtx2(store, stream),
                     std::move(context), ovk_stream_detail::int64Callback,
                     std::move(submit));
}

#endif  // PYORVIK_SRC_OVKSTREAMCALLS_H_
