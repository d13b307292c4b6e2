// Records what the completion function of an asynchronous operation
// received, from whichever thread the SDK ran it on.
#ifndef TESTS_NATIVE_CLIENT_COMPLETION_H_
#define TESTS_NATIVE_CLIENT_COMPLETION_H_

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "OvkReader.h"
#include "OvkStatus.h"

// What a completion function received, and how often it ran.
template <typename Record = int>
struct Completion {
  std::mutex mu;
  int calls = 0;
  std::optional<OvkStatus> status;
  std::shared_ptr<Record> record;
  int64_t value = 0;
  std::thread::id thread;

  OvkStatusCallback onStatus() {
    return [this](OvkStatus s) { store(std::move(s)); };
  }
  std::function<void(OvkStatus, std::shared_ptr<Record>)> onRecord() {
    return [this](OvkStatus s, std::shared_ptr<Record> r) {
      std::lock_guard<std::mutex> lock(mu);
      record = std::move(r);
      storeLocked(std::move(s));
    };
  }
  OvkInt64Callback onValue() {
    return [this](OvkStatus s, int64_t v) {
      std::lock_guard<std::mutex> lock(mu);
      value = v;
      storeLocked(std::move(s));
    };
  }

 private:
  void store(OvkStatus s) {
    std::lock_guard<std::mutex> lock(mu);
    storeLocked(std::move(s));
  }
  void storeLocked(OvkStatus s) {
    ++calls;
    status = std::move(s);
    thread = std::this_thread::get_id();
  }
};

#endif  // TESTS_NATIVE_CLIENT_COMPLETION_H_
