// The C functions of stores, options and handle contexts.
#include "CApi.h"

namespace ovk {

void Record(ovk_handle_ctx_t* ctx, const char* operation, const Error& err) noexcept {
  if (ctx == nullptr) return;
  ctx->code = err.code();
  try {
    ctx->message = err.message();
  } catch (...) {
    ctx->message.clear();
  }
  if (err.ok()) return;
  StoreCore* core = ctx->core ? ctx->core.get()
                    : ctx->stream ? ctx->stream->core().get()
                                  : nullptr;
  if (core == nullptr) return;
  try {
    core->logger().failure(operation, err);
  } catch (...) {
    // Logging is best effort and must not turn into a failure of its own.
  }
}

}  // namespace ovk

using ovk::Error;

extern "C" {

ovk_store_t* ovk_createStore(ovk_options_t* options, const char* uri) {
  try {
    ovk::Options copy = options != nullptr ? options->options : ovk::Options();
    auto* store = new ovk_store_t;
    store->core = std::make_shared<ovk::StoreCore>(std::move(copy), uri);
    return store;
  } catch (...) {
    return nullptr;
  }
}

void ovk_init(ovk_handle_ctx_t* ctx, const char* user) {
  ovk::WithStore(ctx, "init", [&](ovk::StoreCore& core) {
    return core.init(user != nullptr ? user : "");
  });
}

void ovk_destroyStore(ovk_handle_ctx_t* ctx, ovk_store_t* store) {
  Error err = ovk::Guard([&]() -> Error {
    if (store == nullptr || !store->core) {
      return Error::InvalidArgument("destroyStore: no store given");
    }
    return store->core->destroy();
  });
  ovk::Record(ctx, "destroyStore", err);
}

void ovk_freeStore(ovk_store_t* store) { delete store; }

ovk_options_t* ovk_createOptions(void) {
  return new (std::nothrow) ovk_options_t;
}

void ovk_setOption(ovk_options_t* options, const char* key, const char* value) {
  if (options == nullptr || key == nullptr) return;
  try {
    options->options.set(key, value != nullptr ? value : "");
  } catch (...) {
    // Out of memory: the option stays unset, as the signature cannot say more.
  }
}

void ovk_freeOptions(ovk_options_t* options) { delete options; }

void ovk_setCallbackContext(ovk_options_t* options, void* context) {
  if (options != nullptr) options->context = context;
}

void ovk_setBoolCallback(ovk_options_t* options, ovk_bool_callback_t callback) {
  if (options != nullptr) options->boolCallback = callback;
}

void ovk_setInt64Callback(ovk_options_t* options, ovk_int64_callback_t callback) {
  if (options != nullptr) options->int64Callback = callback;
}

void ovk_setFileStatusCallback(ovk_options_t* options,
                               ovk_file_status_callback_t callback) {
  if (options != nullptr) options->fileStatusCallback = callback;
}

void ovk_setListDirResultCallback(ovk_options_t* options,
                                  ovk_list_dir_result_callback_t callback) {
  if (options != nullptr) options->listDirResultCallback = callback;
}

void ovk_setContentSummaryCallback(ovk_options_t* options,
                                   ovk_content_summary_callback_t callback) {
  if (options != nullptr) options->contentSummaryCallback = callback;
}

ovk_handle_ctx_t* ovk_createHandleCtx1(ovk_store_t* store) {
  auto* ctx = new (std::nothrow) ovk_handle_ctx_t;
  if (ctx != nullptr && store != nullptr) ctx->core = store->core;
  return ctx;
}

ovk_handle_ctx_t* ovk_createHandleCtx2(ovk_store_t* store, ovk_io_context_t* stream) {
  auto* ctx = new (std::nothrow) ovk_handle_ctx_t;
  if (ctx == nullptr) return nullptr;
  if (store != nullptr) ctx->core = store->core;
  if (stream != nullptr) ctx->stream = stream->stream;
  return ctx;
}

int32_t ovk_getHandleCtxErrorCode(const ovk_handle_ctx_t* ctx) {
  return ctx != nullptr ? ctx->code : OVK_ERR_INVALID_ARGUMENT;
}

const char* ovk_getHandleCtxErrorMsg(const ovk_handle_ctx_t* ctx) {
  if (ctx == nullptr || ctx->message.empty()) return nullptr;
  return ctx->message.c_str();
}

void ovk_freeHandleCtx(ovk_handle_ctx_t* ctx) { delete ctx; }

}  // extern "C"
