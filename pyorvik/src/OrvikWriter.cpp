#include "OrvikWriter.h"

#include <utility>

#include "OrvikReader.h"
#include "OvkAsyncSubmit.h"
#include "OvkSdkCall.h"
#include "OvkStreamCalls.h"

namespace {

OvkStatus alreadyClosed() { return OvkStatus::IOError("Already closed."); }

// Callback contexts: made by the asynchronous forms, owned by the SDK until
// the callback runs, then destroyed by the callback first of all.

struct StatusContext {
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

}  // namespace

OrvikWriter::~OrvikWriter() { releaseStream(store_, stream_, closed_); }

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
      new StatusContext{std::move(done)});
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
      new StatusContext{std::move(done)});
  return submitAsync(store_, stream_, ovk_createHandleCtx2(store_, stream_),
                     std::move(context), flushCallback,
                     [](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                       return ovk_flushAsync(ctx, options);
                     });
}

OvkStatus OrvikWriter::tell(int64_t& position) {
  if (closed_.load()) return alreadyClosed();
  return tellStream(store_, stream_, position);
}

std::shared_ptr<OvkTask> OrvikWriter::tellAsync(OvkInt64Callback done) {
  return tellStreamAsync(store_, stream_, std::move(done));
}

// A failed close leaves the writer open, so the close may be retried.
OvkStatus OrvikWriter::close() {
  if (closed_.load()) return alreadyClosed();
  return closeStream(store_, stream_, &closed_);
}

// The writer counts as closed once its asynchronous close has completed,
// whatever the outcome.
std::shared_ptr<OvkTask> OrvikWriter::closeAsync(OvkStatusCallback done) {
  return closeStreamAsync(store_, stream_, &closed_, std::move(done));
}

OvkStatus OrvikWriter::copyFrom(OvkReader& source, int64_t* copied) {
  if (closed_.load()) return alreadyClosed();
  auto* reader = dynamic_cast<OrvikReader*>(&source);
  if (reader == nullptr) {
    return OvkStatus::InternalError(OVK_ERR_INVALID_ARGUMENT,
                                    "copy file failed: the source is not a "
                                    "stream of this library");
  }
  std::lock_guard<std::mutex> reading(reader->read_lock_);
  if (reader->closed_.load()) return alreadyClosed();
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
  int64_t result = ovk_copyFrom(ctx, reader->stream_, nullptr);
  OvkStatus status = sdkStatus(takeOutcome(ctx), "copy file failed: ");
  if (status.ok()) *copied = result;
  return status;
}
