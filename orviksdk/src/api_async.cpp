// The asynchronous C functions and the functions of operation calls.
//
// A request is queued on the store's executor at submission. Its completion
// callback always runs exactly once, with a fresh handle context and result
// that it owns: normally on an executor thread; with OVK_ERR_CANCELLED if
// it was cancelled before it started or the store was destroyed first; and,
// when the store is not ready at submission, at once on the submitting
// thread with OVK_ERR_NOT_INITIALISED (also recorded on the submitting
// context). Only a call without a matching callback is refused outright
// (OVK_ERR_INVALID_ARGUMENT, no operation call): there is nobody to tell.
#include "CApi.h"
#include "Operations.h"
#include "StreamRanges.h"

using ovk::Error;
using ovk::Request;
using ovk::StoreCore;
using ovk::StreamState;
namespace ops = ovk::ops;

namespace {

std::string Copy(const char* text) { return text != nullptr ? text : ""; }

// `work(StoreCore&, StreamState*, R*) -> Error` runs on a pool thread.
template <typename R, typename Callback, typename Work>
ovk_operation_call_t* Submit(ovk_handle_ctx_t* ctx, const char* operation,
                             ovk_options_t* options, Callback ovk_options_t::*slot,
                             R failValue, bool onStream, Work work) {
  if (ctx == nullptr) return nullptr;
  std::unique_ptr<ovk_operation_call_t> call;
  Error err = ovk::Guard([&]() -> Error {
    Callback callback = options != nullptr ? options->*slot : nullptr;
    if (callback == nullptr) {
      return Error::InvalidArgument(std::string(operation) +
                                    "Async: the options carry no completion callback of "
                                    "the kind this call needs");
    }
    void* context = options->context;
    std::shared_ptr<StreamState> stream;
    std::shared_ptr<StoreCore> core;
    if (onStream) {
      if (!ctx->stream) {
        return Error::InvalidArgument(std::string(operation) +
                                      "Async: the handle context was made without a stream");
      }
      stream = ctx->stream;
      core = stream->core();
    } else {
      if (!ctx->core) {
        return Error::NotInitialised(std::string(operation) +
                                     "Async: the handle context was made without a store");
      }
      core = ctx->core;
    }

    auto request = std::make_shared<Request>(
        [core, stream, operation, callback, context, failValue,
         work = std::move(work)](const Error* stopped) {
          auto* done = new ovk_handle_ctx_t;
          done->core = core;
          done->stream = stream;
          R result = failValue;
          Error outcome = stopped != nullptr
                              ? *stopped
                              : ovk::Guard([&] { return work(*core, stream.get(), &result); });
          ovk::Record(done, operation, outcome);
          if (!outcome.ok()) result = failValue;
          callback(done, result, context);
        });
    call = std::make_unique<ovk_operation_call_t>();
    call->core = core;
    call->request = request;

    ovk::Backend* unused;
    Error ready = core->backend(operation, &unused);
    if (!ready.ok()) {
      request->run(&ready);
      return ready;
    }
    core->executor().submit(std::move(request), stream ? stream->strand() : nullptr);
    return Error();
  });
  ovk::Record(ctx, operation, err);
  return call.release();
}

template <typename Work>
ovk_operation_call_t* SubmitBool(ovk_handle_ctx_t* ctx, const char* operation,
                                 ovk_options_t* options, bool onStream, Work work) {
  return Submit<bool>(ctx, operation, options, &ovk_options_t::boolCallback, false,
                      onStream, std::move(work));
}

template <typename Work>
ovk_operation_call_t* SubmitInt64(ovk_handle_ctx_t* ctx, const char* operation,
                                  ovk_options_t* options, Work work) {
  return Submit<int64_t>(ctx, operation, options, &ovk_options_t::int64Callback, -1, true,
                         std::move(work));
}

}  // namespace

extern "C" {

ovk_operation_call_t* ovk_mkdirAsync(ovk_handle_ctx_t* ctx, const char* path,
                                     bool recursive, int32_t perm, ovk_options_t* options) {
  return SubmitBool(ctx, "mkdir", options, false,
                    [path = Copy(path), recursive, perm](StoreCore& core, StreamState*,
                                                         bool* out) {
                      Error err = ops::Mkdir(core, path.c_str(), recursive, perm);
                      *out = err.ok();
                      return err;
                    });
}

ovk_operation_call_t* ovk_renameAsync(ovk_handle_ctx_t* ctx, const char* src,
                                      const char* dst, ovk_options_t* options) {
  return SubmitBool(ctx, "rename", options, false,
                    [src = Copy(src), dst = Copy(dst)](StoreCore& core, StreamState*,
                                                       bool* out) {
                      Error err = ops::Rename(core, src.c_str(), dst.c_str());
                      *out = err.ok();
                      return err;
                    });
}

ovk_operation_call_t* ovk_existsAsync(ovk_handle_ctx_t* ctx, const char* path,
                                      ovk_options_t* options) {
  return SubmitBool(ctx, "exists", options, false,
                    [path = Copy(path)](StoreCore& core, StreamState*, bool* out) {
                      return ops::Exists(core, path.c_str(), out);
                    });
}

ovk_operation_call_t* ovk_removeAsync(ovk_handle_ctx_t* ctx, const char* path,
                                      bool recursive, ovk_options_t* options) {
  return SubmitBool(ctx, "remove", options, false,
                    [path = Copy(path), recursive](StoreCore& core, StreamState*, bool* out) {
                      Error err = ops::Remove(core, path.c_str(), recursive);
                      *out = err.ok();
                      return err;
                    });
}

ovk_operation_call_t* ovk_getFileStatusAsync(ovk_handle_ctx_t* ctx, const char* path,
                                             ovk_options_t* options) {
  return Submit<ovk_file_status_t*>(
      ctx, "getFileStatus", options, &ovk_options_t::fileStatusCallback, nullptr, false,
      [path = Copy(path)](StoreCore& core, StreamState*, ovk_file_status_t** out) {
        std::unique_ptr<ovk_file_status_t> status;
        Error err = ops::GetFileStatus(core, path.c_str(), &status);
        *out = status.release();
        return err;
      });
}

ovk_operation_call_t* ovk_listDirAsync(ovk_handle_ctx_t* ctx, const char* path,
                                       bool recursive, ovk_options_t* options) {
  return Submit<ovk_list_dir_result_t*>(
      ctx, "listDir", options, &ovk_options_t::listDirResultCallback, nullptr, false,
      [path = Copy(path), recursive](StoreCore& core, StreamState*,
                                     ovk_list_dir_result_t** out) {
        std::unique_ptr<ovk_list_dir_result_t> list;
        Error err = ops::ListDir(core, path.c_str(), recursive, &list);
        *out = list.release();
        return err;
      });
}

ovk_operation_call_t* ovk_getContentSummaryAsync(ovk_handle_ctx_t* ctx, const char* path,
                                                 bool whole_subtree,
                                                 ovk_options_t* options) {
  return Submit<ovk_content_summary_t*>(
      ctx, "getContentSummary", options, &ovk_options_t::contentSummaryCallback, nullptr,
      false,
      [path = Copy(path), whole_subtree](StoreCore& core, StreamState*,
                                         ovk_content_summary_t** out) {
        std::unique_ptr<ovk_content_summary_t> summary;
        Error err = ops::GetContentSummary(core, path.c_str(), whole_subtree, &summary);
        *out = summary.release();
        return err;
      });
}

ovk_operation_call_t* ovk_setPermissionAsync(ovk_handle_ctx_t* ctx, const char* path,
                                             int32_t perm, ovk_options_t* options) {
  return SubmitBool(ctx, "setPermission", options, false,
                    [path = Copy(path), perm](StoreCore& core, StreamState*, bool* out) {
                      Error err = ops::SetPermission(core, path.c_str(), perm);
                      *out = err.ok();
                      return err;
                    });
}

ovk_operation_call_t* ovk_setOwnerAsync(ovk_handle_ctx_t* ctx, const char* path,
                                        const char* user, const char* group,
                                        ovk_options_t* options) {
  return SubmitBool(ctx, "setOwner", options, false,
                    [path = Copy(path), user = Copy(user), group = Copy(group)](
                        StoreCore& core, StreamState*, bool* out) {
                      Error err =
                          ops::SetOwner(core, path.c_str(), user.c_str(), group.c_str());
                      *out = err.ok();
                      return err;
                    });
}

ovk_operation_call_t* ovk_readAsync(ovk_handle_ctx_t* ctx, char* buffer, uint64_t n,
                                    ovk_options_t* options) {
  return SubmitInt64(ctx, "read", options,
                     [buffer, n](StoreCore&, StreamState* s, int64_t* out) {
                       return s->read(buffer, n, out);
                     });
}

ovk_operation_call_t* ovk_preadAsync(ovk_handle_ctx_t* ctx, char* buffer, uint64_t n,
                                     int64_t offset, ovk_options_t* options) {
  return SubmitInt64(ctx, "pread", options,
                     [buffer, n, offset](StoreCore&, StreamState* s, int64_t* out) {
                       return s->pread(buffer, n, offset, out);
                     });
}

ovk_operation_call_t* ovk_preadvAsync(ovk_handle_ctx_t* ctx, ovk_file_buffers_t* buffers,
                                      ovk_longs_t* lengths, ovk_longs_t* offsets,
                                      ovk_options_t* options) {
  // The lists are copied now; a list error is reported through the callback.
  std::vector<ovk::ReadRange> ranges;
  Error listError = ovk::Guard([&] { return ovk::MakeRanges(buffers, lengths, offsets, &ranges); });
  return SubmitInt64(ctx, "preadv", options,
                     [ranges = std::move(ranges), listError](StoreCore&, StreamState* s,
                                                             int64_t* out) {
                       if (!listError.ok()) return listError;
                       return s->preadv(ranges, out);
                     });
}

ovk_operation_call_t* ovk_writeAsync(ovk_handle_ctx_t* ctx, const char* data, uint64_t n,
                                     ovk_options_t* options) {
  return SubmitInt64(ctx, "write", options,
                     [data, n](StoreCore&, StreamState* s, int64_t* out) {
                       Error err = s->write(data, n);
                       *out = static_cast<int64_t>(n);
                       return err;
                     });
}

ovk_operation_call_t* ovk_flushAsync(ovk_handle_ctx_t* ctx, ovk_options_t* options) {
  return SubmitBool(ctx, "flush", options, true, [](StoreCore&, StreamState* s, bool* out) {
    Error err = s->flush();
    *out = err.ok();
    return err;
  });
}

ovk_operation_call_t* ovk_tellAsync(ovk_handle_ctx_t* ctx, ovk_options_t* options) {
  return SubmitInt64(ctx, "tell", options, [](StoreCore&, StreamState* s, int64_t* out) {
    return s->tell(out);
  });
}

ovk_operation_call_t* ovk_seekAsync(ovk_handle_ctx_t* ctx, int64_t offset,
                                    ovk_options_t* options) {
  return SubmitInt64(ctx, "seek", options,
                     [offset](StoreCore&, StreamState* s, int64_t* out) {
                       return s->seek(offset, out);
                     });
}

ovk_operation_call_t* ovk_getFileLengthAsync(ovk_handle_ctx_t* ctx, ovk_options_t* options) {
  return SubmitInt64(ctx, "getFileLength", options,
                     [](StoreCore&, StreamState* s, int64_t* out) { return s->length(out); });
}

ovk_operation_call_t* ovk_closeAsync(ovk_handle_ctx_t* ctx, ovk_options_t* options) {
  return SubmitBool(ctx, "close", options, true, [](StoreCore&, StreamState* s, bool* out) {
    Error err = s->close();
    *out = err.ok();
    return err;
  });
}

void ovk_perform(ovk_handle_ctx_t* ctx, ovk_operation_call_t* call) {
  Error err = ovk::Guard([&]() -> Error {
    if (call == nullptr) return Error::InvalidArgument("perform: no operation call given");
    ovk::Backend* unused;
    Error ready = call->core->backend("perform", &unused);
    if (!ready.ok()) return ready;
    // Requests start at submission, so there is nothing left to start.
    if (call->request->cancelled()) {
      return Error::Cancelled("perform: the request was cancelled");
    }
    return Error();
  });
  ovk::Record(ctx, "perform", err);
}

void ovk_wait(ovk_handle_ctx_t* ctx, ovk_operation_call_t* call) {
  Error err = ovk::Guard([&]() -> Error {
    if (call == nullptr) return Error::InvalidArgument("wait: no operation call given");
    ovk::Backend* unused;
    Error ready = call->core->backend("wait", &unused);
    // Even on a destroyed store, return only once the callback has run, so
    // a caller may free what its callback uses.
    Error waited = call->request->wait();
    return waited.ok() ? ready : waited;
  });
  ovk::Record(ctx, "wait", err);
}

void ovk_cancel(ovk_handle_ctx_t* ctx, ovk_operation_call_t* call) {
  Error err = ovk::Guard([&]() -> Error {
    if (call == nullptr) return Error::InvalidArgument("cancel: no operation call given");
    ovk::Backend* unused;
    Error ready = call->core->backend("cancel", &unused);
    if (!ready.ok()) return ready;
    call->request->cancel();
    return Error();
  });
  ovk::Record(ctx, "cancel", err);
}

void ovk_freeOperationCall(ovk_operation_call_t* call) { delete call; }

}  // extern "C"
