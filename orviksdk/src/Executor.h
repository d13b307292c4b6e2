// Executor: the thread pool that runs a store's asynchronous requests.
//
// A Request starts at submission: it is queued and the next free thread runs
// it. Requests submitted with a Strand (one per stream) run one at a time in
// submission order, so two writes to one stream never overtake each other;
// requests without a strand run in any order, several at once.
//
// A request's body runs exactly once: normally, or, if the request was
// cancelled before it started or the executor shut down first, with a
// cancellation Error, so its completion callback always runs and every
// callback context is freed.
//
// Thread-safe. The pool's threads start with the first submission. The
// executor may be shut down (and destroyed) from one of its own threads,
// e.g. from a completion callback that drops the last reference to a store:
// that thread is then detached instead of joined and exits when its
// callback returns.
#ifndef ORVIKSDK_SRC_EXECUTOR_H_
#define ORVIKSDK_SRC_EXECUTOR_H_

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Error.h"

namespace ovk {

class Request {
 public:
  // `body` gets nullptr to do the work, or the cancellation Error to report
  // instead. It runs the caller's completion callback itself.
  using Body = std::function<void(const Error* cancelled)>;

  explicit Request(Body body) : body_(std::move(body)) {}

  // Marks a request that has not started yet as cancelled; its body then
  // runs with OVK_ERR_CANCELLED when its turn comes. A running or finished
  // request is left alone. Returns whether the request was cancelled.
  bool cancel();
  // Blocks until the body (and so the completion callback) has returned.
  // Refused with OVK_ERR_INVALID_ARGUMENT from inside the request's own
  // callback, where it could never return.
  Error wait();
  bool cancelled() const;

  // Runs the body once: with `stopped` (or the cancellation Error if the
  // request was cancelled), or with nullptr to do the work. Called by the
  // executor, or by a submitter that cannot queue the request.
  void run(const Error* stopped);

 private:
  enum class State { kQueued, kRunning, kDone };

  mutable std::mutex mu_;
  std::condition_variable done_;
  State state_ = State::kQueued;
  bool cancelled_ = false;
  std::thread::id runner_;
  Body body_;
};

// Requests of one stream, run in submission order.
class Strand {
 private:
  friend class Executor;
  std::deque<std::shared_ptr<Request>> pending_;  // guarded by the executor
  bool scheduled_ = false;                        // guarded by the executor
};

class Executor {
 public:
  explicit Executor(int threads) : threads_(threads) {}
  ~Executor() { shutdown(); }
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  // Queues the request (in `strand` order when given). After shutdown the
  // request is completed at once with the cancellation Error, on the
  // calling thread.
  void submit(std::shared_ptr<Request> request, const std::shared_ptr<Strand>& strand);

  // Stops taking requests, lets running ones finish, completes queued ones
  // with OVK_ERR_CANCELLED, and joins the threads. Idempotent.
  void shutdown();

 private:
  struct Work {
    std::shared_ptr<Request> request;
    std::shared_ptr<Strand> strand;
  };
  // State shared with the threads, so that a detached thread outlives the
  // Executor safely.
  struct Shared {
    std::mutex mu;
    std::condition_variable ready;
    std::deque<Work> queue;
    int idle = 0;  // threads waiting for work: only they need a wake-up
    bool stopping = false;
  };

  static void Loop(std::shared_ptr<Shared> shared);

  const int threads_;
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  // Started with the first submission; guarded by shared_->mu, so that a
  // request is either queued before shutdown or completed as stopped.
  std::vector<std::thread> workers_;
};

}  // namespace ovk

#endif  // ORVIKSDK_SRC_EXECUTOR_H_
