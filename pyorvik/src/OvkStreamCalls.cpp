#include "OvkStreamCalls.h"

#include <utility>

#include "OvkSdkCall.h"

namespace {

// Owned by the SDK from submission until the callback runs, then destroyed
// by the callback first of all.
struct CloseContext {
  std::atomic<bool>* closed;
  OvkStatusCallback done;
};

void closeCallback(ovk_handle_ctx_t* ctx, bool /*result*/, void* context) {
  CloseContext c = takeContext<CloseContext>(context);
  OvkStatus status = sdkStatus(takeOutcome(ctx), "close file failed: ");
  c.closed->store(true);
  if (c.done) c.done(std::move(status));
}

}  // namespace

void ovk_stream_detail::int64Callback(ovk_handle_ctx_t* ctx, int64_t value,
                                      void* context) {
  Int64Context c = takeContext<Int64Context>(context);
  OvkStatus status = sdkStatus(takeOutcome(ctx), c.prefix);
  if (c.done) c.done(std::move(status), value);
}

void releaseStream(ovk_store_t* store, ovk_io_context_t* stream,
                   const std::atomic<bool>& closed) {
  if (stream == nullptr) return;
  if (!closed.load()) {
    ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store, stream);
    ovk_close(ctx, nullptr);
    takeOutcome(ctx);
  }
  ovk_freeIOContext(stream);
}

OvkStatus tellStream(ovk_store_t* store, ovk_io_context_t* stream,
                     int64_t& position) {
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store, stream);
  position = ovk_tell(ctx, nullptr);
  return sdkStatus(takeOutcome(ctx), "tell file failed: ");
}

std::shared_ptr<OvkTask> tellStreamAsync(ovk_store_t* store,
                                         ovk_io_context_t* stream,
                                         OvkInt64Callback done) {
  return int64StreamAsync(store, stream, "file tell failed: ",
                          std::move(done),
                          [](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                            return ovk_tellAsync(ctx, options);
                          });
}

OvkStatus closeStream(ovk_store_t* store, ovk_io_context_t* stream,
                      std::atomic<bool>* closed) {
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store, stream);
  ovk_close(ctx, nullptr);
  OvkStatus status = sdkStatus(takeOutcome(ctx), "close file failed: ");
  if (status.ok()) closed->store(true);
  return status;
}

std::shared_ptr<OvkTask> closeStreamAsync(ovk_store_t* store,
                                          ovk_io_context_t* stream,
                                          std::atomic<bool>* closed,
                                          OvkStatusCallback done) {
  auto context =
      std::unique_ptr<CloseContext>(new CloseContext{closed, std::move(done)});
  return submitAsync(store, stream, ovk_createHandleCtx2(store, stream),
                     std::move(context), closeCallback,
                     [](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                       return ovk_closeAsync(ctx, options);
                     });
}
