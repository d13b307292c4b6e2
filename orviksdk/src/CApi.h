// The C boundary's helpers: every ovk_* function runs its work through
// them, so that no C++ exception leaves the library and every outcome lands
// in the caller's handle context (and, when it is a failure, in the log).
#ifndef ORVIKSDK_SRC_CAPI_H_
#define ORVIKSDK_SRC_CAPI_H_

#include <exception>
#include <new>
#include <string>

#include "Handles.h"

namespace ovk {

// Runs `work` (returning Error), turning any exception into an Error.
template <typename F>
Error Guard(F&& work) noexcept {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return Error::Io("out of memory");
  } catch (const std::exception& e) {
    try {
      return Error::Io(std::string("internal error: ") + e.what());
    } catch (...) {
      return Error::Io("internal error");
    }
  } catch (...) {
    return Error::Io("internal error");
  }
}

// Stores `err` in `ctx` (which may be null) and logs it when it is a
// failure. Never throws: a message that cannot be copied is dropped.
void Record(ovk_handle_ctx_t* ctx, const char* operation, const Error& err) noexcept;

// Runs a store call: `work(StoreCore&)` with the context's store, guarded
// and recorded. A context without a store fails with
// OVK_ERR_NOT_INITIALISED. Returns whether the call succeeded.
template <typename F>
bool WithStore(ovk_handle_ctx_t* ctx, const char* operation, F&& work) noexcept {
  if (ctx == nullptr) return false;
  Error err = Guard([&]() -> Error {
    if (!ctx->core) {
      return Error::NotInitialised(std::string(operation) +
                                   ": the handle context was made without a store");
    }
    return work(*ctx->core);
  });
  Record(ctx, operation, err);
  return err.ok();
}

// Runs a stream call: `work(StreamState&)` with the context's stream.
template <typename F>
bool WithStream(ovk_handle_ctx_t* ctx, const char* operation, F&& work) noexcept {
  if (ctx == nullptr) return false;
  Error err = Guard([&]() -> Error {
    if (!ctx->stream) {
      return Error::InvalidArgument(std::string(operation) +
                                    ": the handle context was made without a stream");
    }
    return work(*ctx->stream);
  });
  Record(ctx, operation, err);
  return err.ok();
}

}  // namespace ovk

#endif  // ORVIKSDK_SRC_CAPI_H_
