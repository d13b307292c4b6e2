// The control interface of the fake SDK (fake_sdk_control.h).
#include "fake_sdk_control.h"

#include <algorithm>
#include <cstring>

#include "fake_state.h"

using ovkfake::Answer;
using ovkfake::FileStatusSpec;
using ovkfake::Kind;
using ovkfake::Request;
using ovkfake::State;

namespace {

std::optional<std::string> optionalText(const char* text) {
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

std::string functionName(const std::string& call) {
  return call.substr(0, call.find('('));
}

bool skipped(const std::string& name, int flags) {
  static const char* const kCtx[] = {
      "ovk_createHandleCtx1", "ovk_createHandleCtx2",
      "ovk_getHandleCtxErrorCode", "ovk_getHandleCtxErrorMsg",
      "ovk_freeHandleCtx"};
  static const char* const kOptions[] = {
      "ovk_createOptions",           "ovk_freeOptions",
      "ovk_setCallbackContext",      "ovk_setBoolCallback",
      "ovk_setInt64Callback",        "ovk_setFileStatusCallback",
      "ovk_setListDirResultCallback", "ovk_setContentSummaryCallback"};
  static const char* const kLists[] = {
      "ovk_createLongs", "ovk_appendLong", "ovk_freeLongs",
      "ovk_createFileBuffers", "ovk_appendFileBuffer",
      "ovk_freeFileBuffers"};
  auto in = [&](const auto& names) {
    return std::any_of(std::begin(names), std::end(names),
                       [&](const char* n) { return name == n; });
  };
  if ((flags & OVKFAKE_SKIP_CTX) && in(kCtx)) return true;
  if ((flags & OVKFAKE_SKIP_OPTIONS) && in(kOptions)) return true;
  if ((flags & OVKFAKE_SKIP_LISTS) && in(kLists)) return true;
  if (flags & OVKFAKE_SKIP_ACCESSORS) {
    bool accessor = name.rfind("ovk_getFileStatus", 0) == 0 &&
                    name != "ovk_getFileStatus" &&
                    name != "ovk_getFileStatusAsync";
    accessor = accessor || name.rfind("ovk_getListDir", 0) == 0 ||
               name == "ovk_isListDirResultTruncated" ||
               name == "ovk_getFileBuffersSize" ||
               (name.rfind("ovk_getContentSummary", 0) == 0 &&
                name != "ovk_getContentSummary" &&
                name != "ovk_getContentSummaryAsync");
    if (accessor) return true;
  }
  return false;
}

std::vector<std::string> selectedCalls(int flags) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  std::vector<std::string> selected;
  for (const std::string& call : state.calls) {
    if (!skipped(functionName(call), flags)) selected.push_back(call);
  }
  return selected;
}

Answer& pushAnswer(const char* function) {
  State& state = State::get();
  auto& queue = state.script[function];
  queue.emplace_back();
  return queue.back();
}

FileStatusSpec statusSpec(const char* path, const char* user,
                          const char* group, int32_t type, int32_t perm,
                          int64_t size, int64_t mtime, int64_t atime) {
  FileStatusSpec spec;
  spec.path = optionalText(path);
  spec.user = optionalText(user);
  spec.group = optionalText(group);
  spec.type = type;
  spec.perm = perm;
  spec.size = size;
  spec.mtime = mtime;
  spec.atime = atime;
  return spec;
}

// The listing pushed last, wherever it was queued.
Answer* lastListing = nullptr;

Kind kindNamed(const char* name) {
  for (int i = 0; i < static_cast<int>(Kind::kCount); ++i) {
    if (std::strcmp(ovkfake::kindName(static_cast<Kind>(i)), name) == 0) {
      return static_cast<Kind>(i);
    }
  }
  return Kind::kCount;
}

void appendJsonString(std::string& out, const std::string& text) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

extern "C" {

void ovkfake_reset(void) {
  State& state = State::get();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(state.mu);
    threads = std::move(state.threads);
    state.threads.clear();
  }
  for (std::thread& thread : threads) thread.join();
  std::lock_guard<std::mutex> lock(state.mu);
  std::vector<std::thread> none;
  state.resetLocked(&none);
  lastListing = nullptr;
}

const char* ovkfake_calls(int skip_flags) {
  thread_local std::string text;
  text.clear();
  for (const std::string& call : selectedCalls(skip_flags)) {
    text += call;
    text += '\n';
  }
  return text.c_str();
}

const char* ovkfake_calls_json(int skip_flags) {
  thread_local std::string text;
  text = "[";
  bool first = true;
  for (const std::string& call : selectedCalls(skip_flags)) {
    if (!first) text += ',';
    first = false;
    appendJsonString(text, call);
  }
  text += ']';
  return text.c_str();
}

int64_t ovkfake_call_count(const char* function) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  return std::count_if(state.calls.begin(), state.calls.end(),
                       [&](const std::string& call) {
                         return functionName(call) == function;
                       });
}

void ovkfake_clear_calls(void) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.calls.clear();
}

void ovkfake_push(const char* function, int32_t code, const char* message,
                  int64_t ret) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  Answer& answer = pushAnswer(function);
  answer.code = code;
  answer.message = optionalText(message);
  answer.ret = ret;
}

void ovkfake_push_read(const char* function, const char* data, int64_t len) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  Answer& answer = pushAnswer(function);
  answer.data = data != nullptr ? std::string(data, static_cast<size_t>(len))
                                : std::string();
  answer.ret = len;
}

void ovkfake_push_file_status(const char* function, const char* path,
                              const char* user, const char* group,
                              int32_t type, int32_t perm, int64_t size,
                              int64_t mtime, int64_t atime) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  Answer& answer = pushAnswer(function);
  answer.result = Answer::Result::kStatus;
  answer.status =
      statusSpec(path, user, group, type, perm, size, mtime, atime);
}

void ovkfake_push_listing(const char* function, bool truncated,
                          const char* next_marker) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  Answer& answer = pushAnswer(function);
  answer.result = Answer::Result::kListing;
  answer.truncated = truncated;
  answer.marker = optionalText(next_marker);
  lastListing = &answer;
}

void ovkfake_listing_add(const char* path, const char* user,
                         const char* group, int32_t type, int32_t perm,
                         int64_t size, int64_t mtime, int64_t atime) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  if (lastListing == nullptr) {
    state.fault("ovkfake_listing_add: no listing pushed");
    return;
  }
  lastListing->entries.push_back(
      statusSpec(path, user, group, type, perm, size, mtime, atime));
}

void ovkfake_listing_add_null(void) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  if (lastListing == nullptr) {
    state.fault("ovkfake_listing_add_null: no listing pushed");
    return;
  }
  lastListing->entries.push_back(std::nullopt);
}

void ovkfake_push_summary(const char* function, int64_t file_size,
                          int64_t file_count, int64_t directory_count) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  Answer& answer = pushAnswer(function);
  answer.result = Answer::Result::kSummary;
  answer.totals[0] = file_size;
  answer.totals[1] = file_count;
  answer.totals[2] = directory_count;
}

void ovkfake_push_submit_error(const char* function, int32_t code,
                               const char* message) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  Answer answer;
  answer.code = code;
  answer.message = optionalText(message);
  state.submit_errors[function].push_back(std::move(answer));
}

void ovkfake_set_file(const char* path, const char* data, int64_t len) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.files[path] = data != nullptr
                         ? std::string(data, static_cast<size_t>(len))
                         : std::string();
}

void ovkfake_set_read_chunk(int64_t bytes) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.read_chunk = bytes > 0 ? static_cast<uint64_t>(bytes) : 0;
}

int64_t ovkfake_get_file(const char* path, char* buffer, int64_t capacity) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  auto it = state.files.find(path);
  if (it == state.files.end()) return -1;
  if (buffer != nullptr && capacity > 0) {
    size_t n = std::min(it->second.size(), static_cast<size_t>(capacity));
    std::memcpy(buffer, it->second.data(), n);
  }
  return static_cast<int64_t>(it->second.size());
}

void ovkfake_set_async_mode(int mode) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.async_mode = mode;
}

int64_t ovkfake_pending(void) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  return std::count_if(state.pending.begin(), state.pending.end(),
                       [](const std::shared_ptr<Request>& request) {
                         return request->state != Request::State::kDone;
                       });
}

int ovkfake_complete_next(void) {
  State& state = State::get();
  std::unique_lock<std::mutex> lock(state.mu);
  for (const auto& request : state.pending) {
    if (request->state == Request::State::kPending) {
      std::shared_ptr<Request> chosen = request;
      ovkfake::complete(lock, chosen, std::nullopt);
      return 1;
    }
  }
  return 0;
}

void ovkfake_join_threads(void) {
  State& state = State::get();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(state.mu);
    threads = std::move(state.threads);
    state.threads.clear();
  }
  for (std::thread& thread : threads) thread.join();
}

int64_t ovkfake_created(const char* kind) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  Kind k = kindNamed(kind);
  return k == Kind::kCount ? -1 : state.created[static_cast<int>(k)];
}

int64_t ovkfake_live(const char* kind) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  Kind k = kindNamed(kind);
  return k == Kind::kCount ? -1 : state.live[static_cast<int>(k)];
}

const char* ovkfake_live_report(void) {
  thread_local std::string text;
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  std::vector<const ovkfake::Object*> live;
  for (const auto& entry : state.objects) {
    if (!entry.second->freed) live.push_back(entry.second.get());
  }
  std::sort(live.begin(), live.end(), [](const auto* a, const auto* b) {
    return a->kind != b->kind ? a->kind < b->kind : a->id < b->id;
  });
  text.clear();
  for (const auto* object : live) text += object->label() + "\n";
  return text.c_str();
}

const char* ovkfake_faults(void) {
  thread_local std::string text;
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  text.clear();
  for (const std::string& fault : state.faults) text += fault + "\n";
  return text.c_str();
}

}  // extern "C"
