// StoreCore: the internals of one store, shared by its handles.
//
// The store handle, every handle context, stream and operation call made on
// it hold a shared reference, so the internals (backend, logger, executor)
// stay alive as long as anything can reach them. destroy() ends the store's
// service: from then on every call fails with OVK_ERR_NOT_INITIALISED, and
// the memory is released when the last reference goes.
//
// Lifecycle: created (by ovk_createStore, which cannot fail; a bad URI or
// option is reported by init) -> ready (ovk_init) -> destroyed
// (ovk_destroyStore). Thread-safe: init and destroy may race with calls
// from other threads; a call sees either a ready store or an error.
#ifndef ORVIKSDK_SRC_STORECORE_H_
#define ORVIKSDK_SRC_STORECORE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Backend.h"
#include "Executor.h"
#include "Logger.h"
#include "Options.h"
#include "StoreUri.h"

namespace ovk {

class StoreCore {
 public:
  StoreCore(Options options, const char* uri);

  // Parses the URI and options and connects the backend for `user`.
  // Calling it again on a ready store is a no-op success.
  Error init(const std::string& user);
  // Stops the store: waits for running asynchronous requests, completes
  // queued ones with OVK_ERR_CANCELLED. Fails only if already destroyed.
  Error destroy();

  // The backend of a ready store, or OVK_ERR_NOT_INITIALISED. The pointer
  // stays valid while the caller holds a reference to this StoreCore.
  Error backend(const char* operation, Backend** out) const;

  // Valid once init succeeded.
  const StoreUri& uri() const { return uri_; }
  int64_t listMaxEntries() const { return listMaxEntries_; }
  Executor& executor() { return *executor_; }

  Logger& logger() { return *logger_; }

 private:
  enum State { kCreated, kReady, kDestroyed };

  std::mutex mu_;  // serialises init and destroy
  bool destroying_ = false;  // guarded by mu_
  std::atomic<int> state_{kCreated};
  const Options options_;
  const std::string uriText_;
  const bool uriGiven_;
  std::shared_ptr<Logger> logger_ = std::make_shared<Logger>();
  Error loggerError_;
  StoreUri uri_;
  int64_t listMaxEntries_ = INT64_MAX;
  std::unique_ptr<Backend> backend_;
  std::unique_ptr<Executor> executor_;
};

}  // namespace ovk

#endif  // ORVIKSDK_SRC_STORECORE_H_
