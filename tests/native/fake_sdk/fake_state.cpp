#include "fake_state.h"

#include "fake_sdk_control.h"

#include <utility>

namespace ovkfake {

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::kStore: return "store";
    case Kind::kOptions: return "options";
    case Kind::kCtx: return "ctx";
    case Kind::kStream: return "stream";
    case Kind::kCall: return "call";
    case Kind::kStatus: return "status";
    case Kind::kListing: return "listing";
    case Kind::kSummary: return "summary";
    case Kind::kLongs: return "longs";
    case Kind::kBuffers: return "buffers";
    case Kind::kCount: break;
  }
  return "?";
}

std::string Object::label() const {
  return std::string(kindName(kind)) + "#" + std::to_string(id);
}

State& State::get() {
  // Never destroyed: client objects may still call in from static
  // destructors at exit.
  static State* state = new State();
  return *state;
}

void State::record(std::string call) { calls.push_back(std::move(call)); }

void State::fault(std::string what) { faults.push_back(std::move(what)); }

void State::track(std::unique_ptr<Object> object) {
  int index = static_cast<int>(object->kind);
  object->id = static_cast<int>(++created[index]);
  ++live[index];
  const void* key = object.get();
  objects[key] = std::move(object);
}

Object* State::find(const void* pointer, Kind kind, const char* function,
                    bool allow_null) {
  if (pointer == nullptr) {
    if (!allow_null) {
      fault(std::string(function) + ": null " + kindName(kind));
    }
    return nullptr;
  }
  auto it = objects.find(pointer);
  if (it != objects.end()) {
    Object* object = it->second.get();
    if (object->kind != kind) {
      fault(std::string(function) + ": " + object->label() + " given for a " +
            kindName(kind));
      return nullptr;
    }
    if (object->freed) {
      fault(std::string(function) + ": " + object->label() +
            " used after free");
      return nullptr;
    }
    return object;
  }
  auto entry = borrowed.find(pointer);
  if (entry != borrowed.end() && kind == Kind::kStatus) {
    if (entry->second->owner->freed) {
      fault(std::string(function) + ": entry of " +
            entry->second->owner->label() + " used after free");
      return nullptr;
    }
    return entry->second;
  }
  fault(std::string(function) + ": unknown " + kindName(kind) + " pointer");
  return nullptr;
}

void State::release(const void* pointer, Kind kind, const char* function) {
  if (pointer == nullptr) return;
  auto it = objects.find(pointer);
  if (it == objects.end()) {
    fault(std::string(function) + (borrowed.count(pointer) != 0
                                       ? ": frees a borrowed listing entry"
                                       : ": frees an unknown pointer"));
    return;
  }
  Object* object = it->second.get();
  if (object->kind != kind) {
    fault(std::string(function) + ": frees " + object->label());
    return;
  }
  if (object->freed) {
    fault(std::string(function) + ": " + object->label() + " freed twice");
    return;
  }
  object->freed = true;
  --live[static_cast<int>(kind)];
}

namespace {

std::optional<Answer> popFrom(std::map<std::string, std::deque<Answer>>& map,
                              const std::string& function) {
  auto it = map.find(function);
  if (it == map.end() || it->second.empty()) return std::nullopt;
  Answer answer = std::move(it->second.front());
  it->second.pop_front();
  return answer;
}

}  // namespace

std::optional<Answer> State::pop(const std::string& function) {
  return popFrom(script, function);
}

std::optional<Answer> State::popSubmitError(const std::string& function) {
  return popFrom(submit_errors, function);
}

Ctx* State::newCtx(Store* store, Stream* stream, const Reply& reply) {
  Ctx* ctx = make<Ctx>();
  ctx->store = store;
  ctx->stream = stream;
  ctx->code = reply.code;
  ctx->message = reply.message;
  return ctx;
}

std::string State::render(const void* pointer, Kind kind) {
  if (pointer == nullptr) return "null";
  if (kind == Kind::kStatus && borrowed.count(pointer) != 0) return "entry";
  auto it = objects.find(pointer);
  if (it == objects.end() || it->second->kind != kind) return "?";
  return it->second->label();
}

void State::resetLocked(std::vector<std::thread>* finished) {
  *finished = std::move(threads);
  threads.clear();
  calls.clear();
  faults.clear();
  script.clear();
  submit_errors.clear();
  files.clear();
  pending.clear();
  async_mode = OVKFAKE_ASYNC_MANUAL;
  read_chunk = 0;
  for (auto& count : created) count = 0;
  for (auto& count : live) count = 0;
  borrowed.clear();
  objects.clear();
}

FileStatus* makeStatus(State& state, const FileStatusSpec& spec) {
  FileStatus* status = state.make<FileStatus>();
  status->spec = spec;
  return status;
}

Reply runBlocking(State& state, Ctx* ctx, const std::string& function,
                  const Producer& produce) {
  Reply reply = produce(state.pop(function));
  if (ctx != nullptr) {
    ctx->code = reply.code;
    ctx->message = reply.message;
  }
  return reply;
}

ovk_operation_call_t* submit(std::unique_lock<std::mutex>& lock, State& state,
                             Ctx* ctx, const Options* options,
                             const std::string& function, Producer produce) {
  auto request = std::make_shared<Request>();
  request->function = function;
  request->answer = state.pop(function);
  request->produce = std::move(produce);
  if (ctx != nullptr) {
    request->store = ctx->store;
    request->stream = ctx->stream;
    if (auto error = state.popSubmitError(function)) {
      ctx->code = error->code;
      ctx->message = error->message;
    }
  }
  Call* call = state.make<Call>();
  call->request = request;
  if (options == nullptr || options->callback == nullptr) {
    state.fault(function + ": options without a callback");
    request->state = Request::State::kDone;
    return reinterpret_cast<ovk_operation_call_t*>(call);
  }
  request->kind = options->callback_kind;
  request->callback = options->callback;
  request->context = options->context;
  state.pending.push_back(request);
  if (state.async_mode == OVKFAKE_ASYNC_INLINE) {
    complete(lock, request, std::nullopt);
  } else if (state.async_mode == OVKFAKE_ASYNC_THREAD) {
    state.threads.emplace_back([request] {
      std::unique_lock<std::mutex> thread_lock(State::get().mu);
      complete(thread_lock, request, std::nullopt);
    });
  }
  return reinterpret_cast<ovk_operation_call_t*>(call);
}

void complete(std::unique_lock<std::mutex>& lock,
              const std::shared_ptr<Request>& request,
              std::optional<int32_t> forced_code) {
  if (request->state != Request::State::kPending) return;
  request->state = Request::State::kRunning;
  State& state = State::get();
  Reply reply;
  if (forced_code) {
    reply.code = *forced_code;
    reply.message = "request cancelled";
    reply.value = request->kind == CallbackKind::kInt64 ? -1 : 0;
  } else {
    reply = request->produce(request->answer);
  }
  Ctx* ctx = state.newCtx(request->store, request->stream, reply);
  auto* handle = reinterpret_cast<ovk_handle_ctx_t*>(ctx);
  void* context = request->context;
  void* callback = request->callback;
  lock.unlock();
  switch (request->kind) {
    case CallbackKind::kBool:
      reinterpret_cast<ovk_bool_callback_t>(callback)(handle, reply.value != 0,
                                                      context);
      break;
    case CallbackKind::kInt64:
      reinterpret_cast<ovk_int64_callback_t>(callback)(handle, reply.value,
                                                       context);
      break;
    case CallbackKind::kStatus:
      reinterpret_cast<ovk_file_status_callback_t>(callback)(
          handle, reinterpret_cast<ovk_file_status_t*>(reply.object),
          context);
      break;
    case CallbackKind::kListing:
      reinterpret_cast<ovk_list_dir_result_callback_t>(callback)(
          handle, reinterpret_cast<ovk_list_dir_result_t*>(reply.object),
          context);
      break;
    case CallbackKind::kSummary:
      reinterpret_cast<ovk_content_summary_callback_t>(callback)(
          handle, reinterpret_cast<ovk_content_summary_t*>(reply.object),
          context);
      break;
    case CallbackKind::kNone:
      break;
  }
  lock.lock();
  request->state = Request::State::kDone;
  request->done.notify_all();
}

}  // namespace ovkfake
