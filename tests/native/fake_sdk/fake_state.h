// The fake SDK's state: its objects, the script, the recorded calls, the
// in-memory files and the asynchronous requests. One lock guards all of it;
// callbacks into the client always run with the lock released.
#ifndef TESTS_NATIVE_FAKE_SDK_FAKE_STATE_H_
#define TESTS_NATIVE_FAKE_SDK_FAKE_STATE_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "orviksdk/ovk_sdk.h"

namespace ovkfake {

enum class Kind {
  kStore,
  kOptions,
  kCtx,
  kStream,
  kCall,
  kStatus,
  kListing,
  kSummary,
  kLongs,
  kBuffers,
  kCount
};
const char* kindName(Kind kind);

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  Kind kind;
  int id = 0;
  bool freed = false;
  std::string label() const;  // kind#id
};

struct Store : Object {
  Store() : Object(Kind::kStore) {}
};

enum class CallbackKind { kNone, kBool, kInt64, kStatus, kListing, kSummary };

struct Options : Object {
  Options() : Object(Kind::kOptions) {}
  CallbackKind callback_kind = CallbackKind::kNone;
  void* callback = nullptr;
  void* context = nullptr;
};

struct Stream;

struct Ctx : Object {
  Ctx() : Object(Kind::kCtx) {}
  Store* store = nullptr;
  Stream* stream = nullptr;
  int32_t code = 0;
  std::optional<std::string> message;
};

struct Stream : Object {
  Stream() : Object(Kind::kStream) {}
  std::string path;
  bool writing = false;
  std::string bytes;  // the file's bytes (reading) or those written
  int64_t position = 0;
};

struct FileStatusSpec {
  std::optional<std::string> path, user, group;
  int32_t type = OVK_TYPE_FILE;
  int32_t perm = 0644;
  int64_t size = 0;
  int64_t mtime = 0;
  int64_t atime = 0;
};

struct FileStatus : Object {
  FileStatus() : Object(Kind::kStatus) {}
  FileStatusSpec spec;
  Object* owner = nullptr;  // the listing of a borrowed entry
};

struct Listing : Object {
  Listing() : Object(Kind::kListing) {}
  std::vector<std::unique_ptr<FileStatus>> entries;  // null entries allowed
  bool truncated = false;
  std::optional<std::string> marker;
};

struct Summary : Object {
  Summary() : Object(Kind::kSummary) {}
  int64_t file_size = 0, file_count = 0, directory_count = 0;
};

struct Longs : Object {
  Longs() : Object(Kind::kLongs) {}
  std::vector<int64_t> values;
};

struct Buffers : Object {
  Buffers() : Object(Kind::kBuffers) {}
  std::vector<char*> buffers;
};

struct Request;

struct Call : Object {
  Call() : Object(Kind::kCall) {}
  std::shared_ptr<Request> request;
};

// One scripted answer; see fake_sdk_control.h.
struct Answer {
  enum class Result { kDefault, kStatus, kListing, kSummary };
  int32_t code = 0;
  std::optional<std::string> message;
  int64_t ret = 1;
  std::optional<std::string> data;  // bytes delivered by a read
  Result result = Result::kDefault;
  FileStatusSpec status;
  std::vector<std::optional<FileStatusSpec>> entries;
  bool truncated = false;
  std::optional<std::string> marker;
  int64_t totals[3] = {0, 0, 0};
};

// What a call hands back: the outcome recorded on its handle context, its
// value (bool or int64) and, for object results, the new object.
struct Reply {
  int32_t code = 0;
  std::optional<std::string> message;
  int64_t value = 0;
  Object* object = nullptr;
};

// Computes a call's reply from its answer (or the default when there is
// none); runs with the lock held.
using Producer = std::function<Reply(const std::optional<Answer>&)>;

struct Request {
  std::string function;
  CallbackKind kind = CallbackKind::kNone;
  void* callback = nullptr;
  void* context = nullptr;
  Store* store = nullptr;
  Stream* stream = nullptr;
  std::optional<Answer> answer;
  Producer produce;
  enum class State { kPending, kRunning, kDone } state = State::kPending;
  std::condition_variable done;
};

class State {
 public:
  static State& get();

  std::mutex mu;

  // All under mu.
  void record(std::string call);
  void fault(std::string what);
  template <typename T>
  T* make() {
    auto object = std::make_unique<T>();
    T* raw = object.get();
    track(std::move(object));
    return raw;
  }
  // The live object of kind at pointer, or null after recording a fault
  // naming function. Null pointers are accepted silently when allow_null.
  Object* find(const void* pointer, Kind kind, const char* function,
               bool allow_null = false);
  template <typename T>
  T* use(const void* pointer, Kind kind, const char* function,
         bool allow_null = false) {
    return static_cast<T*>(find(pointer, kind, function, allow_null));
  }
  void release(const void* pointer, Kind kind, const char* function);
  std::optional<Answer> pop(const std::string& function);
  std::optional<Answer> popSubmitError(const std::string& function);
  Ctx* newCtx(Store* store, Stream* stream, const Reply& reply);
  std::string render(const void* pointer, Kind kind);

  void resetLocked(std::vector<std::thread>* threads);

  std::vector<std::string> calls;
  std::vector<std::string> faults;
  std::map<std::string, std::deque<Answer>> script;
  std::map<std::string, std::deque<Answer>> submit_errors;
  std::map<std::string, std::string> files;
  std::deque<std::shared_ptr<Request>> pending;
  std::vector<std::thread> threads;
  int async_mode = 0;
  uint64_t read_chunk = 0;  // most bytes one default read delivers; 0: any
  int64_t created[static_cast<int>(Kind::kCount)] = {};
  int64_t live[static_cast<int>(Kind::kCount)] = {};
  std::map<const void*, std::unique_ptr<Object>> objects;
  // Listing entries, borrowed from their listing.
  std::map<const void*, FileStatus*> borrowed;

 private:
  void track(std::unique_ptr<Object> object);
};

// Runs a blocking call: takes its answer, produces its reply, records the
// outcome on ctx. Returns the reply. Lock held by the caller.
Reply runBlocking(State& state, Ctx* ctx, const std::string& function,
                  const Producer& produce);

// Starts an asynchronous call (lock held by the caller: released inside
// when the mode completes it at once). Returns the operation call.
ovk_operation_call_t* submit(std::unique_lock<std::mutex>& lock, State& state,
                             Ctx* ctx, const Options* options,
                             const std::string& function, Producer produce);

// Completes request: its callback runs on the calling thread with the lock
// released. forced_code, when set, replaces the reply by a failure with
// that code (cancellation). Does nothing unless the request is pending.
void complete(std::unique_lock<std::mutex>& lock,
              const std::shared_ptr<Request>& request,
              std::optional<int32_t> forced_code);

FileStatus* makeStatus(State& state, const FileStatusSpec& spec);

}  // namespace ovkfake

#endif  // TESTS_NATIVE_FAKE_SDK_FAKE_STATE_H_
