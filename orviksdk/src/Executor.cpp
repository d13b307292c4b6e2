#include "Executor.h"

namespace ovk {

bool Request::cancel() {
  std::lock_guard<std::mutex> lock(mu_);
  if (state_ != State::kQueued || cancelled_) return false;
  cancelled_ = true;
  return true;
}

bool Request::cancelled() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cancelled_;
}

Error Request::wait() {
  std::unique_lock<std::mutex> lock(mu_);
  if (state_ == State::kRunning && runner_ == std::this_thread::get_id()) {
    return Error::InvalidArgument(
        "wait: called from the request's own completion callback, which it would wait for");
  }
  done_.wait(lock, [this] { return state_ == State::kDone; });
  return Error();
}

void Request::run(const Error* stopped) {
  static const Error kCancelled =
      Error::Cancelled("request cancelled before it started");
  const Error* reason = stopped;
  Body body;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (cancelled_) reason = &kCancelled;
    state_ = State::kRunning;
    runner_ = std::this_thread::get_id();
    body.swap(body_);
  }
  try {
    body(reason);
  } catch (...) {
    // A completion callback that throws must not take the pool down; the
    // request counts as completed either way.
  }
  // Released outside the lock: the body may hold the last reference to the
  // store, whose destruction shuts this executor down.
  body = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu_);
    state_ = State::kDone;
    runner_ = std::thread::id();
  }
  done_.notify_all();
}

void Executor::submit(std::shared_ptr<Request> request,
                      const std::shared_ptr<Strand>& strand) {
  {
    std::lock_guard<std::mutex> lock(shared_->mu);
    if (!shared_->stopping) {
      if (workers_.empty()) {
        for (int i = 0; i < threads_; ++i) {
          workers_.emplace_back(&Executor::Loop, shared_);
        }
      }
      if (strand) {
        strand->pending_.push_back(std::move(request));
        if (strand->scheduled_) return;
        strand->scheduled_ = true;
        shared_->queue.push_back(Work{nullptr, strand});
      } else {
        shared_->queue.push_back(Work{std::move(request), nullptr});
      }
      // Busy threads look at the queue before they wait, so a wake-up (a
      // system call) is needed only when one is idle.
      if (shared_->idle > 0) shared_->ready.notify_one();
      return;
    }
  }
  static const Error kStopped =
      Error::NotInitialised("the store was destroyed before the request was submitted");
  request->run(&kStopped);
}

void Executor::shutdown() {
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(shared_->mu);
    if (shared_->stopping) return;
    shared_->stopping = true;
    workers.swap(workers_);
  }
  shared_->ready.notify_all();
  for (std::thread& t : workers) {
    if (t.get_id() == std::this_thread::get_id()) {
      t.detach();
    } else {
      t.join();
    }
  }
}

void Executor::Loop(std::shared_ptr<Shared> shared) {
  static const Error kStopped =
      Error::Cancelled("request cancelled: the store was destroyed before it started");
  for (;;) {
    Work work;
    std::shared_ptr<Request> request;
    bool stopping;
    {
      std::unique_lock<std::mutex> lock(shared->mu);
      while (!shared->stopping && shared->queue.empty()) {
        ++shared->idle;
        shared->ready.wait(lock);
        --shared->idle;
      }
      if (shared->queue.empty()) return;
      work = std::move(shared->queue.front());
      shared->queue.pop_front();
      if (work.strand) {
        request = std::move(work.strand->pending_.front());
        work.strand->pending_.pop_front();
      } else {
        request = std::move(work.request);
      }
      stopping = shared->stopping;
    }
    request->run(stopping ? &kStopped : nullptr);
    request.reset();
    if (work.strand) {
      std::lock_guard<std::mutex> lock(shared->mu);
      if (work.strand->pending_.empty()) {
        work.strand->scheduled_ = false;
      } else {
        shared->queue.push_back(std::move(work));
        if (shared->idle > 0) shared->ready.notify_one();
      }
    }
  }
}

}  // namespace ovk
