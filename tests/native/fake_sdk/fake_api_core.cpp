// The fake's store, options, handle-context and namespace functions.
#include <algorithm>

#include "fake_api.h"

using namespace ovkfake;

namespace {

// The fake answers blocking calls only when no options are given, as the
// client promises; anything else is a fault.
void checkBlockingOptions(State& state, const ovk_options_t* options,
                          const char* function) {
  if (options != nullptr) {
    state.fault(std::string(function) + ": options given to a blocking call");
  }
}

Producer fileStatusProducer(std::string path) {
  return [path](const std::optional<Answer>& answer) {
    State& state = State::get();
    if (noObject(answer)) return failedReply(*answer, 0);
    FileStatusSpec spec;
    if (answer && answer->result == Answer::Result::kStatus) {
      spec = answer->status;
    } else {
      spec.path = path;
      auto file = state.files.find(path);
      if (file != state.files.end()) {
        spec.size = static_cast<int64_t>(file->second.size());
      }
    }
    Reply reply;
    reply.object = makeStatus(state, spec);
    return reply;
  };
}

Producer listingProducer() {
  return [](const std::optional<Answer>& answer) {
    State& state = State::get();
    if (noObject(answer)) return failedReply(*answer, 0);
    Listing* listing = state.make<Listing>();
    if (answer && answer->result == Answer::Result::kListing) {
      listing->truncated = answer->truncated;
      listing->marker = answer->marker;
      for (const auto& spec : answer->entries) {
        if (!spec) {
          listing->entries.push_back(nullptr);
          continue;
        }
        auto entry = std::make_unique<FileStatus>();
        entry->spec = *spec;
        entry->owner = listing;
        state.borrowed[entry.get()] = entry.get();
        listing->entries.push_back(std::move(entry));
      }
    }
    Reply reply;
    reply.object = listing;
    return reply;
  };
}

Producer summaryProducer() {
  return [](const std::optional<Answer>& answer) {
    State& state = State::get();
    if (noObject(answer)) return failedReply(*answer, 0);
    Summary* summary = state.make<Summary>();
    if (answer && answer->result == Answer::Result::kSummary) {
      summary->file_size = answer->totals[0];
      summary->file_count = answer->totals[1];
      summary->directory_count = answer->totals[2];
    }
    Reply reply;
    reply.object = summary;
    return reply;
  };
}

// Runs one blocking namespace call: records it, checks its arguments,
// answers from the script or the default.
template <typename... Args>
Reply namespaceCall(ovk_handle_ctx_t* ctx, ovk_options_t* options,
                    const char* function, const Producer& produce,
                    const Args&... args) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line(function, args...));
  checkBlockingOptions(state, options, function);
  Ctx* c = state.use<Ctx>(ctx, Kind::kCtx, function);
  if (c == nullptr) return Reply();
  return runBlocking(state, c, function, produce);
}

template <typename... Args>
ovk_operation_call_t* namespaceAsync(ovk_handle_ctx_t* ctx,
                                     ovk_options_t* options,
                                     const char* function, Producer produce,
                                     const Args&... args) {
  State& state = State::get();
  std::unique_lock<std::mutex> lock(state.mu);
  state.record(line(function, args...));
  Ctx* c = state.use<Ctx>(ctx, Kind::kCtx, function);
  Options* o = state.use<Options>(options, Kind::kOptions, function);
  return submit(lock, state, c, o, function, std::move(produce));
}

}  // namespace

extern "C" {

// ---- store

ovk_store_t* ovk_createStore(ovk_options_t* options, const char* uri) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_createStore", uri));
  state.use<Options>(options, Kind::kOptions, "ovk_createStore");
  std::optional<Answer> answer = state.pop("ovk_createStore");
  if (noObject(answer)) return nullptr;
  return as<ovk_store_t>(state.make<Store>());
}

void ovk_init(ovk_handle_ctx_t* ctx, const char* user) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_init", user));
  Ctx* c = state.use<Ctx>(ctx, Kind::kCtx, "ovk_init");
  if (c == nullptr) return;
  runBlocking(state, c, "ovk_init", [c](const std::optional<Answer>& a) {
    Reply reply = boolReply(a);
    if (!a && c->store == nullptr) {
      reply.code = OVK_ERR_NOT_INITIALISED;
      reply.message = "no store";
    }
    return reply;
  });
}

void ovk_destroyStore(ovk_handle_ctx_t* ctx, ovk_store_t* store) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_destroyStore", state.render(store, Kind::kStore)));
  state.use<Store>(store, Kind::kStore, "ovk_destroyStore");
  Ctx* c = state.use<Ctx>(ctx, Kind::kCtx, "ovk_destroyStore");
  if (c != nullptr) runBlocking(state, c, "ovk_destroyStore", boolReply);
}

void ovk_freeStore(ovk_store_t* store) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_freeStore", state.render(store, Kind::kStore)));
  state.release(store, Kind::kStore, "ovk_freeStore");
}

// ---- options

ovk_options_t* ovk_createOptions(void) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_createOptions"));
  return as<ovk_options_t>(state.make<Options>());
}

void ovk_setOption(ovk_options_t* options, const char* key,
                   const char* value) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_setOption", key, value));
  state.use<Options>(options, Kind::kOptions, "ovk_setOption");
}

void ovk_freeOptions(ovk_options_t* options) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(
      line("ovk_freeOptions", state.render(options, Kind::kOptions)));
  state.release(options, Kind::kOptions, "ovk_freeOptions");
}

void ovk_setCallbackContext(ovk_options_t* options, void* context) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_setCallbackContext"));
  if (Options* o =
          state.use<Options>(options, Kind::kOptions, "ovk_setCallbackContext")) {
    o->context = context;
  }
}

namespace {

void setCallback(ovk_options_t* options, const char* function,
                 CallbackKind kind, void* callback) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line(function));
  if (Options* o = state.use<Options>(options, Kind::kOptions, function)) {
    o->callback_kind = kind;
    o->callback = callback;
  }
}

}  // namespace

void ovk_setBoolCallback(ovk_options_t* options,
                         ovk_bool_callback_t callback) {
  setCallback(options, "ovk_setBoolCallback", CallbackKind::kBool,
              reinterpret_cast<void*>(callback));
}

void ovk_setInt64Callback(ovk_options_t* options,
                          ovk_int64_callback_t callback) {
  setCallback(options, "ovk_setInt64Callback", CallbackKind::kInt64,
              reinterpret_cast<void*>(callback));
}

void ovk_setFileStatusCallback(ovk_options_t* options,
                               ovk_file_status_callback_t callback) {
  setCallback(options, "ovk_setFileStatusCallback", CallbackKind::kStatus,
              reinterpret_cast<void*>(callback));
}

void ovk_setListDirResultCallback(ovk_options_t* options,
                                  ovk_list_dir_result_callback_t callback) {
  setCallback(options, "ovk_setListDirResultCallback", CallbackKind::kListing,
              reinterpret_cast<void*>(callback));
}

void ovk_setContentSummaryCallback(ovk_options_t* options,
                                   ovk_content_summary_callback_t callback) {
  setCallback(options, "ovk_setContentSummaryCallback",
              CallbackKind::kSummary, reinterpret_cast<void*>(callback));
}

// ---- handle contexts

ovk_handle_ctx_t* ovk_createHandleCtx1(ovk_store_t* store) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_createHandleCtx1", state.render(store, Kind::kStore)));
  Store* s = state.use<Store>(store, Kind::kStore, "ovk_createHandleCtx1",
                              /*allow_null=*/true);
  return as<ovk_handle_ctx_t>(state.newCtx(s, nullptr, Reply()));
}

ovk_handle_ctx_t* ovk_createHandleCtx2(ovk_store_t* store,
                                       ovk_io_context_t* stream) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_createHandleCtx2", state.render(store, Kind::kStore),
                    state.render(stream, Kind::kStream)));
  Store* s = state.use<Store>(store, Kind::kStore, "ovk_createHandleCtx2",
                              /*allow_null=*/true);
  Stream* io = state.use<Stream>(stream, Kind::kStream,
                                 "ovk_createHandleCtx2", /*allow_null=*/true);
  return as<ovk_handle_ctx_t>(state.newCtx(s, io, Reply()));
}

int32_t ovk_getHandleCtxErrorCode(const ovk_handle_ctx_t* ctx) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_getHandleCtxErrorCode", state.render(ctx, Kind::kCtx)));
  Ctx* c = state.use<Ctx>(ctx, Kind::kCtx, "ovk_getHandleCtxErrorCode");
  return c != nullptr ? c->code : OVK_ERR_INVALID_ARGUMENT;
}

const char* ovk_getHandleCtxErrorMsg(const ovk_handle_ctx_t* ctx) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_getHandleCtxErrorMsg", state.render(ctx, Kind::kCtx)));
  Ctx* c = state.use<Ctx>(ctx, Kind::kCtx, "ovk_getHandleCtxErrorMsg");
  if (c == nullptr || !c->message) return nullptr;
  return c->message->c_str();
}

void ovk_freeHandleCtx(ovk_handle_ctx_t* ctx) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_freeHandleCtx", state.render(ctx, Kind::kCtx)));
  state.release(ctx, Kind::kCtx, "ovk_freeHandleCtx");
}

// ---- namespace

bool ovk_mkdir(ovk_handle_ctx_t* ctx, const char* path, bool recursive,
               int32_t perm, ovk_options_t* options) {
  return namespaceCall(ctx, options, "ovk_mkdir", boolReply, path, recursive,
                       perm).value != 0;
}

bool ovk_rename(ovk_handle_ctx_t* ctx, const char* src, const char* dst,
                ovk_options_t* options) {
  return namespaceCall(ctx, options, "ovk_rename", boolReply, src, dst)
             .value != 0;
}

bool ovk_exists(ovk_handle_ctx_t* ctx, const char* path,
                ovk_options_t* options) {
  return namespaceCall(ctx, options, "ovk_exists", boolReply, path).value !=
         0;
}

bool ovk_remove(ovk_handle_ctx_t* ctx, const char* path, bool recursive,
                ovk_options_t* options) {
  return namespaceCall(ctx, options, "ovk_remove", boolReply, path, recursive)
             .value != 0;
}

ovk_file_status_t* ovk_getFileStatus(ovk_handle_ctx_t* ctx, const char* path,
                                     ovk_options_t* options) {
  return as<ovk_file_status_t>(
      namespaceCall(ctx, options, "ovk_getFileStatus",
                    fileStatusProducer(path), path)
          .object);
}

ovk_list_dir_result_t* ovk_listDir(ovk_handle_ctx_t* ctx, const char* path,
                                   bool recursive, ovk_options_t* options) {
  return as<ovk_list_dir_result_t>(
      namespaceCall(ctx, options, "ovk_listDir", listingProducer(), path,
                    recursive)
          .object);
}

ovk_content_summary_t* ovk_getContentSummary(ovk_handle_ctx_t* ctx,
                                             const char* path,
                                             bool whole_subtree,
                                             ovk_options_t* options) {
  return as<ovk_content_summary_t>(
      namespaceCall(ctx, options, "ovk_getContentSummary", summaryProducer(),
                    path, whole_subtree)
          .object);
}

bool ovk_setPermission(ovk_handle_ctx_t* ctx, const char* path, int32_t perm,
                       ovk_options_t* options) {
  return namespaceCall(ctx, options, "ovk_setPermission", boolReply, path,
                       perm).value != 0;
}

bool ovk_setOwner(ovk_handle_ctx_t* ctx, const char* path, const char* user,
                  const char* group, ovk_options_t* options) {
  return namespaceCall(ctx, options, "ovk_setOwner", boolReply, path, user,
                       group).value != 0;
}

// ---- namespace, asynchronous

ovk_operation_call_t* ovk_mkdirAsync(ovk_handle_ctx_t* ctx, const char* path,
                                     bool recursive, int32_t perm,
                                     ovk_options_t* options) {
  return namespaceAsync(ctx, options, "ovk_mkdirAsync", boolReply, path,
                        recursive, perm);
}

ovk_operation_call_t* ovk_renameAsync(ovk_handle_ctx_t* ctx, const char* src,
                                      const char* dst,
                                      ovk_options_t* options) {
  return namespaceAsync(ctx, options, "ovk_renameAsync", boolReply, src, dst);
}

ovk_operation_call_t* ovk_existsAsync(ovk_handle_ctx_t* ctx, const char* path,
                                      ovk_options_t* options) {
  return namespaceAsync(ctx, options, "ovk_existsAsync", boolReply, path);
}

ovk_operation_call_t* ovk_removeAsync(ovk_handle_ctx_t* ctx, const char* path,
                                      bool recursive,
                                      ovk_options_t* options) {
  return namespaceAsync(ctx, options, "ovk_removeAsync", boolReply, path,
                        recursive);
}

ovk_operation_call_t* ovk_getFileStatusAsync(ovk_handle_ctx_t* ctx,
                                             const char* path,
                                             ovk_options_t* options) {
  return namespaceAsync(ctx, options, "ovk_getFileStatusAsync",
                        fileStatusProducer(path), path);
}

ovk_operation_call_t* ovk_listDirAsync(ovk_handle_ctx_t* ctx,
                                       const char* path, bool recursive,
                                       ovk_options_t* options) {
  return namespaceAsync(ctx, options, "ovk_listDirAsync", listingProducer(),
                        path, recursive);
}

ovk_operation_call_t* ovk_getContentSummaryAsync(ovk_handle_ctx_t* ctx,
                                                 const char* path,
                                                 bool whole_subtree,
                                                 ovk_options_t* options) {
  return namespaceAsync(ctx, options, "ovk_getContentSummaryAsync",
                        summaryProducer(), path, whole_subtree);
}

ovk_operation_call_t* ovk_setPermissionAsync(ovk_handle_ctx_t* ctx,
                                             const char* path, int32_t perm,
                                             ovk_options_t* options) {
  return namespaceAsync(ctx, options, "ovk_setPermissionAsync", boolReply,
                        path, perm);
}

ovk_operation_call_t* ovk_setOwnerAsync(ovk_handle_ctx_t* ctx,
                                        const char* path, const char* user,
                                        const char* group,
                                        ovk_options_t* options) {
  return namespaceAsync(ctx, options, "ovk_setOwnerAsync", boolReply, path,
                        user, group);
}

}  // extern "C"
