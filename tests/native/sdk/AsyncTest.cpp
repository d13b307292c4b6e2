// The asynchronous executor: every callback exactly once, waiting,
// cancelling, freeing unfinished calls, and tearing a store down while
// requests run. Run under ASan (LeakSanitizer: every callback context and
// result must be freed) and TSan.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "SdkTestSupport.h"

namespace ovktest {
namespace {

using namespace std::chrono_literals;

// Outcomes of a batch of requests, one slot per request.
struct Board {
  explicit Board(size_t n) : calls(n), codes(n), values(n) {}
  std::vector<std::atomic<int>> calls;
  std::vector<std::atomic<int32_t>> codes;
  std::vector<std::atomic<int64_t>> values;
  std::atomic<size_t> done{0};
  std::mutex mu;
  std::condition_variable cv;

  void record(size_t slot, ovk_handle_ctx_t* ctx, int64_t value) {
    codes[slot] = ovk_getHandleCtxErrorCode(ctx);
    values[slot] = value;
    ovk_freeHandleCtx(ctx);
    calls[slot].fetch_add(1);
    std::lock_guard<std::mutex> lock(mu);
    ++done;
    cv.notify_all();
  }
  bool waitAll(size_t n, std::chrono::seconds limit = 60s) {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, limit, [&] { return done.load() >= n; });
  }
};

// The callback context: heap-allocated per request and freed by the
// callback, so LeakSanitizer catches a callback that never ran.
struct Slot {
  Board* board;
  size_t index;
  // Set for a request that must hold its executor thread until released.
  std::shared_future<void> hold;
  std::promise<void>* started = nullptr;
};

void OnBool(ovk_handle_ctx_t* ctx, bool result, void* context) {
  auto* s = static_cast<Slot*>(context);
  if (s->started != nullptr) s->started->set_value();
  if (s->hold.valid()) s->hold.wait();
  s->board->record(s->index, ctx, result ? 1 : 0);
  delete s;
}

void OnInt64(ovk_handle_ctx_t* ctx, int64_t result, void* context) {
  auto* s = static_cast<Slot*>(context);
  s->board->record(s->index, ctx, result);
  delete s;
}

void OnStatus(ovk_handle_ctx_t* ctx, ovk_file_status_t* result, void* context) {
  auto* s = static_cast<Slot*>(context);
  int64_t type = result != nullptr ? ovk_getFileStatusType(result) : -1;
  ovk_freeFileStatus(result);
  s->board->record(s->index, ctx, type);
  delete s;
}

void OnList(ovk_handle_ctx_t* ctx, ovk_list_dir_result_t* result, void* context) {
  auto* s = static_cast<Slot*>(context);
  int64_t size = result != nullptr ? ovk_getListDirResultSize(result) : -1;
  ovk_freeListDirResult(result);
  s->board->record(s->index, ctx, size);
  delete s;
}

void OnSummary(ovk_handle_ctx_t* ctx, ovk_content_summary_t* result, void* context) {
  auto* s = static_cast<Slot*>(context);
  int64_t files = result != nullptr ? ovk_getContentSummaryFileCount(result) : -1;
  ovk_freeContentSummary(result);
  s->board->record(s->index, ctx, files);
  delete s;
}

ovk_options_t* BoolOptions(Slot* slot) {
  ovk_options_t* o = ovk_createOptions();
  ovk_setBoolCallback(o, OnBool);
  ovk_setCallbackContext(o, slot);
  return o;
}

class Async : public ::testing::Test {
 protected:
  void open(const std::map<std::string, std::string>& options = {}) {
    store_ = std::make_unique<TestStore>("file://" + dir_.path(), options);
    ASSERT_TRUE(store_->initOutcome().ok()) << store_->initOutcome();
  }

  // Submits existsAsync("/") whose callback holds its thread until `hold`
  // is released; returns once the callback has started.
  ovk_operation_call_t* submitBlocker(Board* board, size_t slot, std::shared_future<void> hold) {
    std::promise<void> started;
    auto* s = new Slot{board, slot, std::move(hold), &started};
    ovk_options_t* o = BoolOptions(s);
    ovk_handle_ctx_t* c = store_->ctx();
    ovk_operation_call_t* call = ovk_existsAsync(c, "/", o);
    EXPECT_TRUE(Take(c).ok());
    ovk_freeOptions(o);
    started.get_future().wait();
    return call;
  }

  ovk_operation_call_t* submitExists(Board* board, size_t slot, const char* path = "/") {
    ovk_options_t* o = BoolOptions(new Slot{board, slot, {}, nullptr});
    ovk_handle_ctx_t* c = store_->ctx();
    ovk_operation_call_t* call = ovk_existsAsync(c, path, o);
    Take(c);
    ovk_freeOptions(o);
    return call;
  }

  Outcome callOn(void (*fn)(ovk_handle_ctx_t*, ovk_operation_call_t*),
                 ovk_operation_call_t* call) {
    ovk_handle_ctx_t* c = store_->ctx();
    fn(c, call);
    return Take(c);
  }

  TempDir dir_;
  std::unique_ptr<TestStore> store_;
};

TEST_F(Async, TenThousandMixedRequestsFromFourThreadsEachCallBackOnce) {
  open();
  ASSERT_TRUE(store_->mkdir("/d").ok());
  ASSERT_TRUE(store_->writeFile("/d/f", "abc").ok());
  constexpr size_t kPerThread = 2500;
  constexpr size_t kThreads = 4;
  Board board(kPerThread * kThreads);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < kPerThread; ++i) {
        size_t slot = t * kPerThread + i;
        auto* s = new Slot{&board, slot, {}, nullptr};
        ovk_options_t* o = ovk_createOptions();
        ovk_setCallbackContext(o, s);
        ovk_handle_ctx_t* c = store_->ctx();
        ovk_operation_call_t* call = nullptr;
        switch (slot % 6) {
          case 0:
            ovk_setBoolCallback(o, OnBool);
            call = ovk_existsAsync(c, "/d/f", o);
            break;
          case 1:
            ovk_setFileStatusCallback(o, OnStatus);
            call = ovk_getFileStatusAsync(c, "/d/f", o);
            break;
          case 2:
            ovk_setListDirResultCallback(o, OnList);
            call = ovk_listDirAsync(c, "/d", false, o);
            break;
          case 3:
            ovk_setContentSummaryCallback(o, OnSummary);
            call = ovk_getContentSummaryAsync(c, "/d", true, o);
            break;
          case 4:
            ovk_setBoolCallback(o, OnBool);
            call = ovk_mkdirAsync(c, ("/d/m" + std::to_string(slot % 50)).c_str(), false,
                                  0777, o);
            break;
          default:
            ovk_setFileStatusCallback(o, OnStatus);
            call = ovk_getFileStatusAsync(c, "/missing", o);
            break;
        }
        ovk_freeOptions(o);
        Take(c);
        // Half the calls are waited for, half are freed at once.
        if (i % 2 == 0) {
          ovk_handle_ctx_t* w = store_->ctx();
          ovk_wait(w, call);
          Take(w);
          EXPECT_EQ(board.calls[slot].load(), 1) << "wait returns after the callback";
        }
        ovk_freeOperationCall(call);
      }
    });
  }
  for (auto& th : threads) th.join();
  ASSERT_TRUE(board.waitAll(kPerThread * kThreads));
  for (size_t slot = 0; slot < board.calls.size(); ++slot) {
    ASSERT_EQ(board.calls[slot].load(), 1) << "slot " << slot;
    int32_t code = board.codes[slot];
    switch (slot % 6) {
      case 0:
        EXPECT_EQ(board.values[slot].load(), 1) << slot;
        break;
      case 1:
        EXPECT_EQ(board.values[slot].load(), OVK_TYPE_FILE) << slot;
        break;
      case 3:
        EXPECT_EQ(board.values[slot].load(), 1) << slot;
        break;
      case 5:
        EXPECT_EQ(code, OVK_ERR_NOT_FOUND) << slot;
        EXPECT_EQ(board.values[slot].load(), -1) << "no result object on error";
        continue;
    }
    EXPECT_EQ(code, OVK_OK) << slot;
  }
}

TEST_F(Async, WaitBlocksUntilTheCallbackHasReturnedAndPerformIsANoOp) {
  open({{"fs.async.threads", "1"}});
  Board board(2);
  std::promise<void> release;
  ovk_operation_call_t* blocker = submitBlocker(&board, 0, release.get_future().share());
  ovk_operation_call_t* queued = submitExists(&board, 1);
  EXPECT_TRUE(callOn(ovk_perform, queued).ok());

  std::atomic<bool> waited{false};
  std::thread waiter([&] {
    ovk_handle_ctx_t* c = store_->ctx();
    ovk_wait(c, queued);
    EXPECT_TRUE(Take(c).ok());
    waited = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(waited.load()) << "wait returned before the request ran";
  release.set_value();
  waiter.join();
  EXPECT_EQ(board.calls[1].load(), 1);
  EXPECT_TRUE(callOn(ovk_wait, blocker).ok()) << "wait after completion returns at once";
  EXPECT_TRUE(callOn(ovk_wait, queued).ok());
  EXPECT_TRUE(callOn(ovk_perform, blocker).ok());
  ovk_freeOperationCall(blocker);
  ovk_freeOperationCall(queued);
}

TEST_F(Async, CancelCompletesQueuedRequestsWith4009AndLeavesRunningOnes) {
  open({{"fs.async.threads", "1"}});
  constexpr size_t kQueued = 50;
  Board board(kQueued + 1);
  std::promise<void> release;
  ovk_operation_call_t* blocker = submitBlocker(&board, 0, release.get_future().share());
  std::vector<ovk_operation_call_t*> calls;
  for (size_t i = 1; i <= kQueued; ++i) {
    ovk_handle_ctx_t* c = store_->ctx();
    auto* s = new Slot{&board, i, {}, nullptr};
    ovk_options_t* o = ovk_createOptions();
    ovk_setCallbackContext(o, s);
    if (i % 2 == 0) {
      ovk_setListDirResultCallback(o, OnList);
      calls.push_back(ovk_listDirAsync(c, "/", false, o));
    } else {
      ovk_setBoolCallback(o, OnBool);
      calls.push_back(ovk_mkdirAsync(c, ("/never" + std::to_string(i)).c_str(), false, 0777, o));
    }
    ovk_freeOptions(o);
    Take(c);
  }
  EXPECT_TRUE(callOn(ovk_cancel, blocker).ok()) << "cancel of a running request is harmless";
  for (ovk_operation_call_t* call : calls) EXPECT_TRUE(callOn(ovk_cancel, call).ok());
  EXPECT_EQ(callOn(ovk_perform, calls[0]).code, OVK_ERR_CANCELLED);
  // Some calls are freed before their cancelled callback runs.
  for (size_t i = 0; i < calls.size(); i += 3) {
    ovk_freeOperationCall(calls[i]);
    calls[i] = nullptr;
  }
  release.set_value();
  for (ovk_operation_call_t* call : calls) {
    if (call != nullptr) {
      EXPECT_TRUE(callOn(ovk_wait, call).ok());
    }
  }
  ASSERT_TRUE(board.waitAll(kQueued + 1));
  EXPECT_EQ(board.codes[0].load(), OVK_OK) << "the running request was left alone";
  for (size_t i = 1; i <= kQueued; ++i) {
    EXPECT_EQ(board.calls[i].load(), 1) << i;
    EXPECT_EQ(board.codes[i].load(), OVK_ERR_CANCELLED) << i;
    EXPECT_EQ(board.values[i].load(), i % 2 == 0 ? -1 : 0) << "no result for a cancelled request";
  }
  bool found = true;
  store_->exists("/never1", &found);
  EXPECT_FALSE(found) << "a cancelled request did not run";
  for (ovk_operation_call_t* call : calls) ovk_freeOperationCall(call);
  ovk_freeOperationCall(blocker);
}

TEST_F(Async, DestroyStoreWaitsForRunningRequestsAndCancelsQueuedOnes) {
  open({{"fs.async.threads", "2"}});
  constexpr size_t kQueued = 200;
  Board board(kQueued + 1);
  std::promise<void> release;
  ovk_operation_call_t* blocker = submitBlocker(&board, 0, release.get_future().share());
  for (size_t i = 1; i <= kQueued; ++i) ovk_freeOperationCall(submitExists(&board, i));

  std::atomic<bool> destroyed{false};
  std::thread destroyer([&] {
    EXPECT_TRUE(store_->destroy().ok());
    destroyed = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(destroyed.load()) << "destroyStore returned while a request was running";
  release.set_value();
  destroyer.join();
  EXPECT_EQ(board.done.load(), kQueued + 1) << "every callback ran before destroyStore returned";
  for (size_t i = 0; i <= kQueued; ++i) {
    EXPECT_EQ(board.calls[i].load(), 1) << i;
    int32_t code = board.codes[i];
    EXPECT_TRUE(code == OVK_OK || code == OVK_ERR_CANCELLED) << i << " code " << code;
  }
  EXPECT_EQ(callOn(ovk_wait, blocker).code, OVK_ERR_NOT_INITIALISED);
  ovk_freeOperationCall(blocker);

  // Submitting after destroyStore still calls back, at once, with 4002.
  Board late(1);
  ovk_operation_call_t* call = submitExists(&late, 0);
  EXPECT_EQ(late.calls[0].load(), 1);
  EXPECT_EQ(late.codes[0].load(), OVK_ERR_NOT_INITIALISED);
  ovk_freeOperationCall(call);
}

TEST_F(Async, StreamRequestsRunInSubmissionOrder) {
  open({{"fs.async.threads", "4"}});
  Outcome o;
  ovk_io_context_t* w = store_->open("/ordered", OVK_OPEN_WRITE, &o);
  ASSERT_NE(w, nullptr);
  constexpr size_t kChunks = 300;
  std::vector<std::string> chunks;
  for (size_t i = 0; i < kChunks; ++i) chunks.push_back(std::to_string(i) + ",");
  Board board(kChunks + 1);
  std::vector<ovk_operation_call_t*> calls;
  for (size_t i = 0; i < kChunks; ++i) {
    ovk_options_t* opt = ovk_createOptions();
    ovk_setInt64Callback(opt, OnInt64);
    ovk_setCallbackContext(opt, new Slot{&board, i, {}, nullptr});
    ovk_handle_ctx_t* c = store_->ctx(w);
    calls.push_back(ovk_writeAsync(c, chunks[i].data(), chunks[i].size(), opt));
    Take(c);
    ovk_freeOptions(opt);
  }
  ovk_options_t* opt = BoolOptions(new Slot{&board, kChunks, {}, nullptr});
  ovk_handle_ctx_t* c = store_->ctx(w);
  ovk_operation_call_t* close = ovk_closeAsync(c, opt);
  Take(c);
  ovk_freeOptions(opt);
  ovk_freeIOContext(w);  // the queued requests keep the stream alive
  EXPECT_TRUE(callOn(ovk_wait, close).ok());
  EXPECT_EQ(board.codes[kChunks].load(), OVK_OK);
  EXPECT_EQ(board.values[kChunks].load(), 1);
  std::string expected;
  for (size_t i = 0; i < kChunks; ++i) {
    expected += chunks[i];
    EXPECT_EQ(board.values[i].load(), static_cast<int64_t>(chunks[i].size()));
  }
  std::string content;
  ASSERT_TRUE(store_->readFile("/ordered", &content).ok());
  EXPECT_EQ(content, expected);
  for (auto* call : calls) ovk_freeOperationCall(call);
  ovk_freeOperationCall(close);
}

TEST_F(Async, ReadsPositionAndScatterReads) {
  open();
  ASSERT_TRUE(store_->writeFile("/r", "0123456789").ok());
  Outcome o;
  ovk_io_context_t* r = store_->open("/r", OVK_OPEN_READ, &o);
  ASSERT_NE(r, nullptr);
  Board board(6);
  char b1[4], b2[4], b3[2], b4[3];
  ovk_file_buffers_t* bufs = ovk_createFileBuffers();
  ovk_longs_t* lens = ovk_createLongs();
  ovk_longs_t* offs = ovk_createLongs();
  ovk_appendFileBuffer(bufs, b3);
  ovk_appendLong(lens, 2);
  ovk_appendLong(offs, 8);
  ovk_appendFileBuffer(bufs, b4);
  ovk_appendLong(lens, 3);
  ovk_appendLong(offs, 0);
  auto submit = [&](size_t slot, auto fn) {
    ovk_options_t* opt = ovk_createOptions();
    ovk_setInt64Callback(opt, OnInt64);
    ovk_setCallbackContext(opt, new Slot{&board, slot, {}, nullptr});
    ovk_handle_ctx_t* c = store_->ctx(r);
    ovk_operation_call_t* call = fn(c, opt);
    Take(c);
    ovk_freeOptions(opt);
    EXPECT_TRUE(callOn(ovk_wait, call).ok());
    ovk_freeOperationCall(call);
  };
  submit(0, [&](ovk_handle_ctx_t* c, ovk_options_t* opt) { return ovk_readAsync(c, b1, 4, opt); });
  submit(1, [&](ovk_handle_ctx_t* c, ovk_options_t* opt) { return ovk_preadAsync(c, b2, 4, 7, opt); });
  submit(2, [&](ovk_handle_ctx_t* c, ovk_options_t* opt) { return ovk_preadvAsync(c, bufs, lens, offs, opt); });
  ovk_freeFileBuffers(bufs);  // copied at submission
  ovk_freeLongs(lens);
  ovk_freeLongs(offs);
  submit(3, [&](ovk_handle_ctx_t* c, ovk_options_t* opt) { return ovk_tellAsync(c, opt); });
  submit(4, [&](ovk_handle_ctx_t* c, ovk_options_t* opt) { return ovk_seekAsync(c, 9, opt); });
  submit(5, [&](ovk_handle_ctx_t* c, ovk_options_t* opt) { return ovk_getFileLengthAsync(c, opt); });
  EXPECT_EQ(board.values[0].load(), 4);
  EXPECT_EQ(std::string(b1, 4), "0123");
  EXPECT_EQ(board.values[1].load(), 3);
  EXPECT_EQ(std::string(b2, 3), "789");
  EXPECT_EQ(board.values[2].load(), 5);
  EXPECT_EQ(std::string(b3, 2) + std::string(b4, 3), "89012");
  EXPECT_EQ(board.values[3].load(), 4);
  EXPECT_EQ(board.values[4].load(), 9);
  EXPECT_EQ(board.values[5].load(), 10);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(board.codes[i].load(), OVK_OK) << i;
  store_->close(r);
  ovk_freeIOContext(r);
}

TEST_F(Async, CallsWithoutAMatchingCallbackAreRefused) {
  open();
  ovk_options_t* opt = ovk_createOptions();
  ovk_setInt64Callback(opt, OnInt64);  // wrong kind for exists
  ovk_handle_ctx_t* c = store_->ctx();
  EXPECT_EQ(ovk_existsAsync(c, "/", opt), nullptr);
  EXPECT_EQ(Take(c).code, OVK_ERR_INVALID_ARGUMENT);
  c = store_->ctx();
  EXPECT_EQ(ovk_mkdirAsync(c, "/x", false, 0777, nullptr), nullptr);
  EXPECT_EQ(Take(c).code, OVK_ERR_INVALID_ARGUMENT);
  ovk_freeOptions(opt);
}

struct SelfWait {
  ovk_operation_call_t* call = nullptr;
  std::atomic<bool> ready{false};
  int32_t code = -1;
  std::promise<void> done;
};

void WaitOnSelf(ovk_handle_ctx_t* ctx, bool, void* context) {
  auto* s = static_cast<SelfWait*>(context);
  while (!s->ready) std::this_thread::yield();
  ovk_handle_ctx_t* w = ovk_createHandleCtx1(nullptr);
  ovk_wait(w, s->call);
  s->code = ovk_getHandleCtxErrorCode(w);
  ovk_freeHandleCtx(w);
  ovk_freeHandleCtx(ctx);
  s->done.set_value();
}

TEST_F(Async, WaitingFromTheRequestsOwnCallbackIsRefusedNotADeadlock) {
  open();
  SelfWait self;
  ovk_options_t* opt = ovk_createOptions();
  ovk_setBoolCallback(opt, WaitOnSelf);
  ovk_setCallbackContext(opt, &self);
  ovk_handle_ctx_t* c = store_->ctx();
  self.call = ovk_existsAsync(c, "/", opt);
  Take(c);
  ovk_freeOptions(opt);
  self.ready = true;
  self.done.get_future().wait();
  EXPECT_EQ(self.code, OVK_ERR_INVALID_ARGUMENT);
  ovk_freeOperationCall(self.call);
}

struct LastReference {
  ovk_store_t* store = nullptr;
  std::promise<void> done;
};

void DestroyFromCallback(ovk_handle_ctx_t* ctx, bool, void* context) {
  auto* last = static_cast<LastReference*>(context);
  ovk_handle_ctx_t* c = ovk_createHandleCtx1(last->store);
  ovk_destroyStore(c, last->store);
  ovk_freeHandleCtx(c);
  ovk_freeStore(last->store);
  ovk_freeHandleCtx(ctx);  // drops the store's last reference, on its own pool thread
  last->done.set_value();
}

TEST_F(Async, AStoreCanBeDestroyedAndFreedFromItsOwnCallback) {
  LastReference last;
  ovk_options_t* storeOptions = ovk_createOptions();
  ovk_setOption(storeOptions, "logger.appender", "none");
  last.store = ovk_createStore(storeOptions, dir_.path().c_str());
  ovk_freeOptions(storeOptions);
  ovk_handle_ctx_t* c = ovk_createHandleCtx1(last.store);
  ovk_init(c, "");
  ASSERT_EQ(Take(c).code, OVK_OK);
  ovk_options_t* opt = ovk_createOptions();
  ovk_setBoolCallback(opt, DestroyFromCallback);
  ovk_setCallbackContext(opt, &last);
  c = ovk_createHandleCtx1(last.store);
  ovk_operation_call_t* call = ovk_existsAsync(c, "/", opt);
  ovk_freeHandleCtx(c);
  ovk_freeOptions(opt);
  ovk_freeOperationCall(call);
  EXPECT_EQ(last.done.get_future().wait_for(30s), std::future_status::ready);
}

}  // namespace
}  // namespace ovktest
