#include "OrvikWriter.h"

#include <utility>

#include "OvkAsyncSubmit.h"
#include "OvkSdkCall.h"

namespace {

OvkStatus alreadyClosed() { return OvkStatus::IOError("Already closed."); }

// Callback contexts: made by the asynchronous forms, owned by the SDK until
// the callback runs, then destroyed by the callback first of all.

struct StatusContext {
  ovk_store_t* store;
  ovk_io_context_t* stream;
  std::string name;
  OvkStatusCallback done;
};

struct TellContext {
  ovk_store_t* store;
  ovk_io_context_t* stream;
  OvkInt64Callback done;
};

struct CloseContext {
  ovk_store_t* store;
  ovk_io_context_t* stream;
  std::string name;
  std::atomic<bool>* closed;
  OvkStatusCallback done;
};

void statusCallback(ovk_handle_ctx_t* ctx, void* context, const char* prefix) {
  StatusContext c = takeContext<StatusContext>(context);
  OvkStatus status = sdkStatus(takeOutcome(ctx), prefix);
  if (c.done) c.done(std::move(status));
}

void writeCallback(ovk_handle_ctx_t* ctx, int64_t /*written*/, void* context) {
  statusCallback(ctx, context, "write file failed: ");
}

void flushCallback(ovk_handle_ctx_t* ctx, bool /*result*/, void* context) {
  statusCallback(ctx, context, "flush file failed: ");
}

void tellCallback(ovk_handle_ctx_t* ctx, int64_t position, void* context) {
  TellContext c = takeContext<TellContext>(context);
  OvkStatus status = sdkStatus(takeOutcome(ctx), "file tell failed: ");
  if (c.done) c.done(std::move(status), position);
}

// The writer counts as closed once its asynchronous close has completed,
// whatever the outcome.
void closeCallback(ovk_handle_ctx_t* ctx, bool /*result*/, void* context) {
  CloseContext c = takeContext<CloseContext>(context);
  OvkStatus status = sdkStatus(takeOutcome(ctx), "close file failed: ");
  c.closed->store(true);
  if (c.done) c.done(std::move(status));
}

}  // namespace

OrvikWriter::~OrvikWriter() {
  if (stream_ == nullptr) return;
  if (!closed_.load()) {
    ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
    ovk_close(ctx, nullptr);
    takeOutcome(ctx);
  }
  ovk_freeIOContext(stream_);
  stream_ = nullptr;
}

bool OrvikWriter::closed() const { return closed_.load(); }

OvkStatus OrvikWriter::name(std::string_view* out) const {
  *out = name_;
  return OvkStatus();
}

OvkStatus OrvikWriter::write(std::string_view data) {
  if (closed_.load()) return alreadyClosed();
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
  ovk_write(ctx, data.data(), data.size(), nullptr);
  return sdkStatus(takeOutcome(ctx), "write file failed: ");
}

std::shared_ptr<OvkTask> OrvikWriter::writeAsync(std::string_view data,
                                                 OvkStatusCallback done) {
  auto context = std::unique_ptr<StatusContext>(
      new StatusContext{store_, stream_, name_, std::move(done)});
  return submitAsync(store_, stream_, ovk_createHandleCtx2(store_, stream_),
                     std::move(context), writeCallback,
                     [data](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                       return ovk_writeAsync(ctx, data.data(), data.size(),
                                             options);
                     });
}

OvkStatus OrvikWriter::flush() {
  if (closed_.load()) return alreadyClosed();
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
  ovk_flush(ctx, nullptr);
  return sdkStatus(takeOutcome(ctx), "flush file failed: ");
}

std::shared_ptr<OvkTask> OrvikWriter::flushAsync(OvkStatusCallback done) {
  auto context = std::unique_ptr<StatusContext>(
      new StatusContext{store_, stream_, name_, std::move(done)});
  return submitAsync(store_, stream_, ovk_createHandleCtx2(store_, stream_),
                     std::move(context), flushCallback,
                     [](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                       return ovk_flushAsync(ctx, options);
                     });
}

OvkStatus OrvikWriter::tell(int64_t& position) {
  if (closed_.load()) return alreadyClosed();
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
  position = ovk_tell(ctx, nullptr);
  return sdkStatus(takeOutcome(ctx), "tell file failed: ");
}

std::shared_ptr<OvkTask> OrvikWriter::tellAsync(OvkInt64Callback done) {
  auto context = std::unique_ptr<TellContext>(
      new TellContext{store_, stream_, std::move(done)});
  return submitAsync(store_, stream_, ovk_createHandleCtx2(store_, stream_),
                     std::move(context), tellCallback,
                     [](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                       return ovk_tellAsync(ctx, options);
                     });
}

// A failed close leaves the writer open, so the close may be retried.
OvkStatus OrvikWriter::close() {
  if (closed_.load()) return alreadyClosed();
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
  ovk_close(ctx, nullptr);
  OvkStatus status = sdkStatus(takeOutcome(ctx), "close file failed: ");
  if (status.ok()) closed_.store(true);
  return status;
}

std::shared_ptr<OvkTask> OrvikWriter::closeAsync(OvkStatusCallback done) {
  auto context = std::unique_ptr<CloseContext>(
      new CloseContext{store_, stream_, name_, &closed_, std::move(done)});
  return submitAsync(store_, stream_, ovk_createHandleCtx2(store_, stream_),
                     std::move(context), closeCallback,
                     [](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                       return ovk_closeAsync(ctx, options);
                     });
}
