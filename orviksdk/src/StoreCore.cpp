#include "StoreCore.h"

#include "BackendFactory.h"

namespace ovk {

StoreCore::StoreCore(Options options, const char* uri)
    : options_(std::move(options)),
      uriText_(uri != nullptr ? uri : ""),
      uriGiven_(uri != nullptr) {
  // Configured at once so that even a store that never initialises logs
  // its failed calls.
  loggerError_ = logger_->configure(options_);
}

Error StoreCore::init(const std::string& user) {
  std::lock_guard<std::mutex> lock(mu_);
  if (destroying_) {
    return Error::NotInitialised("init " + uriText_ + ": the store was destroyed");
  }
  if (state_.load() == kReady) return Error();
  if (!uriGiven_) return Error::InvalidUri("init: no store URI given");
  if (!loggerError_.ok()) return loggerError_;

  StoreUri uri;
  Error err = StoreUri::Parse(uriText_, &uri);
  if (!err.ok()) return err;
  int64_t threads = 4;
  err = options_.getInt64(kOptAsyncThreads, 4, 1, 256, &threads);
  if (!err.ok()) return err;
  int64_t maxEntries = INT64_MAX;
  err = options_.getInt64(kOptListMaxEntries, INT64_MAX, 1, INT64_MAX, &maxEntries);
  if (!err.ok()) return err;

  std::unique_ptr<Backend> backend;
  if (uri.scheme() == StoreUri::Scheme::kFile) {
    err = CreateLocalBackend(uri, options_, user, logger_, &backend);
  } else {
#ifdef OVK_WITH_QUOLL
    err = CreateQuollBackend(uri, options_, user, logger_, &backend);
#else
    err = Error::NotSupported("init " + uriText_ +
                              ": the quoll:// backend is not supported by this build");
#endif
  }
  if (!err.ok()) return err;

  uri_ = std::move(uri);
  listMaxEntries_ = maxEntries;
  backend_ = std::move(backend);
  executor_ = std::make_unique<Executor>(static_cast<int>(threads));
  state_.store(kReady);
  return Error();
}

Error StoreCore::destroy() {
  Executor* executor;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (destroying_) {
      return Error::NotInitialised("destroyStore " + uriText_ + ": already destroyed");
    }
    destroying_ = true;
    executor = executor_.get();
  }
  // The executor stops first, while the store still serves: requests that
  // are running finish normally, queued ones are cancelled (4009), and
  // only then does every call start failing with 4002. Outside mu_: a
  // completion callback that runs meanwhile may call init or destroy on
  // this store and must not deadlock.
  if (executor != nullptr) executor->shutdown();
  state_.store(kDestroyed);
  return Error();
}

Error StoreCore::backend(const char* operation, Backend** out) const {
  int state = state_.load();
  if (state == kReady) {
    *out = backend_.get();
    return Error();
  }
  return Error::NotInitialised(std::string(operation) + " " + uriText_ +
                               (state == kCreated ? ": the store is not initialised"
                                                  : ": the store was destroyed"));
}

}  // namespace ovk
