// The asynchronous namespace operations of OvkFileSystem and their
// completion callbacks. Each callback reports exactly the status (and
// record) the blocking form would, through the caller's completion
// function, on the SDK's thread.
#include <utility>

#include "OvkAsyncSubmit.h"
#include "OvkFileSystem.h"
#include "OvkNamespaceOutcome.h"
#include "OvkSdkCall.h"

namespace {

constexpr int32_t kMkdirPermission = 0777;

// Callback contexts: made by the asynchronous methods with copies of what
// the callback needs, owned by the SDK until the callback runs, then
// destroyed by the callback first of all.

struct MkdirContext {
  std::string path;
  bool recursive;
  OvkStatusCallback done;
};

struct RenameContext {
  std::string src;
  std::string dst;
  OvkStatusCallback done;
};

struct PathContext {
  std::string path;
  OvkStatusCallback done;
};

struct RemoveContext {
  std::string path;
  bool recursive;
  OvkStatusCallback done;
};

struct FileInfoContext {
  std::string path;
  OvkFileInfoCallback done;
};

struct ListDirContext {
  std::string path;
  OvkListResultCallback done;
};

struct ContentSummaryContext {
  std::string path;
  OvkContentSummaryCallback done;
};

struct SetPermissionContext {
  std::string path;
  int16_t perm;
  OvkStatusCallback done;
};

struct SetOwnerContext {
  std::string path;
  std::string user;
  std::string group;
  OvkStatusCallback done;
};

void mkdirCallback(ovk_handle_ctx_t* ctx, bool result, void* context) {
  MkdirContext c = takeContext<MkdirContext>(context);
  OvkStatus status = mkdirOutcome(takeOutcome(ctx), result, c.path);
  if (c.done) c.done(std::move(status));
}

void renameCallback(ovk_handle_ctx_t* ctx, bool result, void* context) {
  RenameContext c = takeContext<RenameContext>(context);
  OvkStatus status = renameOutcome(takeOutcome(ctx), result, c.src, c.dst);
  if (c.done) c.done(std::move(status));
}

void existsCallback(ovk_handle_ctx_t* ctx, bool result, void* context) {
  PathContext c = takeContext<PathContext>(context);
  OvkStatus status = existsOutcome(takeOutcome(ctx), result, c.path);
  if (c.done) c.done(std::move(status));
}

void removeCallback(ovk_handle_ctx_t* ctx, bool result, void* context) {
  RemoveContext c = takeContext<RemoveContext>(context);
  OvkStatus status =
      removeOutcome(takeOutcome(ctx), result, c.path, c.recursive);
  if (c.done) c.done(std::move(status));
}

// The record is filled (and the SDK's status freed) before the outcome is
// looked at, so after an error it keeps its defaults.
void getFileInfoCallback(ovk_handle_ctx_t* ctx, ovk_file_status_t* result,
                         void* context) {
  FileInfoContext c = takeContext<FileInfoContext>(context);
  auto info = std::make_shared<OvkFileInfo>();
  covertToFileInfo(result, info.get());
  if (result != nullptr) ovk_freeFileStatus(result);
  OvkStatus status = fileStatusOutcome(takeOutcome(ctx), c.path);
  if (c.done) c.done(std::move(status), std::move(info));
}

void listDirCallback(ovk_handle_ctx_t* ctx, ovk_list_dir_result_t* result,
                     void* context) {
  ListDirContext c = takeContext<ListDirContext>(context);
  SdkOutcome outcome = takeOutcome(ctx);
  auto listing = std::make_shared<OvkListResult>();
  if (outcome.ok() && result != nullptr) appendListing(result, listing.get());
  if (result != nullptr) ovk_freeListDirResult(result);
  if (c.done) c.done(listDirOutcome(outcome), std::move(listing));
}

void getContentSummaryCallback(ovk_handle_ctx_t* ctx,
                               ovk_content_summary_t* result, void* context) {
  ContentSummaryContext c = takeContext<ContentSummaryContext>(context);
  SdkOutcome outcome = takeOutcome(ctx);
  auto summary = std::make_shared<OvkContentSummary>();
  if (outcome.ok() && result != nullptr) copySummary(result, summary.get());
  if (result != nullptr) ovk_freeContentSummary(result);
  if (c.done) c.done(contentSummaryOutcome(outcome), std::move(summary));
}

void setPermissionCallback(ovk_handle_ctx_t* ctx, bool result,
                           void* context) {
  SetPermissionContext c = takeContext<SetPermissionContext>(context);
  OvkStatus status = setPermissionOutcome(takeOutcome(ctx), result, c.path);
  if (c.done) c.done(std::move(status));
}

void setOwnerCallback(ovk_handle_ctx_t* ctx, bool result, void* context) {
  SetOwnerContext c = takeContext<SetOwnerContext>(context);
  OvkStatus status = setOwnerOutcome(takeOutcome(ctx), result, c.path);
  if (c.done) c.done(std::move(status));
}

// Starts one namespace request on store; the handle context is on the store
// alone, and the handle carries no stream.
template <typename Context, typename Callback, typename Submit>
std::shared_ptr<OvkTask> submitNamespace(ovk_store_t* store,
                                         std::unique_ptr<Context> context,
                                         Callback callback, Submit submit) {
  return submitAsync(store, nullptr, ovk_createHandleCtx1(store),
                     std::move(context), callback, std::move(submit));
}

}  // namespace

std::shared_ptr<OvkTask> OvkFileSystem::mkdirAsync(const std::string& path,
                                                   bool recursive,
                                                   OvkStatusCallback done) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return nullptr;
  auto context = std::unique_ptr<MkdirContext>(
      new MkdirContext{path, recursive, std::move(done)});
  return submitNamespace(
      store, std::move(context), mkdirCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        return ovk_mkdirAsync(ctx, path.c_str(), recursive, kMkdirPermission,
                              options);
      });
}

// The pre-steps of rename run here, blocking, on the caller's thread, with
// the same choices as rename: an existing destination is removed first
// (when that fails nothing is started), or kept. When source and
// destination are one entry no rename is made (it would lose the entry);
// the request asks instead whether the source exists, so the completion
// function still reports once, with the rename's messages, whether the
// entry is there.
std::shared_ptr<OvkTask> OvkFileSystem::renameAsync(const std::string& src,
                                                    const std::string& dst,
                                                    OvkStatusCallback done) {
  auto [store, status] = GetOvkStore(src);
  if (!status.ok()) return nullptr;
  bool same_entry = false;
  if (exists(dst).ok()) {
    switch (existingDestination(*this, store, src, dst)) {
      case ExistingDestination::kSameEntry:
        same_entry = true;
        break;
      case ExistingDestination::kReplace:
        if (!remove(dst, false).ok()) return nullptr;
        break;
      case ExistingDestination::kKeep:
        break;
    }
  }
  auto context = std::unique_ptr<RenameContext>(
      new RenameContext{src, dst, std::move(done)});
  return submitNamespace(
      store, std::move(context), renameCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        if (same_entry) return ovk_existsAsync(ctx, src.c_str(), options);
        return ovk_renameAsync(ctx, src.c_str(), dst.c_str(), options);
      });
}

std::shared_ptr<OvkTask> OvkFileSystem::existsAsync(const std::string& path,
                                                    OvkStatusCallback done) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return nullptr;
  auto context =
      std::unique_ptr<PathContext>(new PathContext{path, std::move(done)});
  return submitNamespace(store, std::move(context), existsCallback,
                         [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                           return ovk_existsAsync(ctx, path.c_str(), options);
                         });
}

std::shared_ptr<OvkTask> OvkFileSystem::removeAsync(const std::string& path,
                                                    bool recursive,
                                                    OvkStatusCallback done) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return nullptr;
  auto context = std::unique_ptr<RemoveContext>(
      new RemoveContext{path, recursive, std::move(done)});
  return submitNamespace(
      store, std::move(context), removeCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        return ovk_removeAsync(ctx, path.c_str(), recursive, options);
      });
}

std::shared_ptr<OvkTask> OvkFileSystem::getFileInfoAsync(
    const std::string& path, OvkFileInfoCallback done) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return nullptr;
  auto context = std::unique_ptr<FileInfoContext>(
      new FileInfoContext{path, std::move(done)});
  return submitNamespace(
      store, std::move(context), getFileInfoCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        return ovk_getFileStatusAsync(ctx, path.c_str(), options);
      });
}

std::shared_ptr<OvkTask> OvkFileSystem::listDirAsync(
    const std::string& path, bool recursive, OvkListResultCallback done) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return nullptr;
  auto context = std::unique_ptr<ListDirContext>(
      new ListDirContext{path, std::move(done)});
  return submitNamespace(
      store, std::move(context), listDirCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        return ovk_listDirAsync(ctx, path.c_str(), recursive, options);
      });
}

std::shared_ptr<OvkTask> OvkFileSystem::getContentSummaryAsync(
    const std::string& path, bool flag, OvkContentSummaryCallback done) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return nullptr;
  auto context = std::unique_ptr<ContentSummaryContext>(
      new ContentSummaryContext{path, std::move(done)});
  return submitNamespace(
      store, std::move(context), getContentSummaryCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        return ovk_getContentSummaryAsync(ctx, path.c_str(), flag, options);
      });
}

std::shared_ptr<OvkTask> OvkFileSystem::setPermissionAsync(
    const std::string& path, int16_t perm, OvkStatusCallback done) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return nullptr;
  auto context = std::unique_ptr<SetPermissionContext>(
      new SetPermissionContext{path, perm, std::move(done)});
  return submitNamespace(
      store, std::move(context), setPermissionCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        return ovk_setPermissionAsync(ctx, path.c_str(),
                                      static_cast<int32_t>(perm), options);
      });
}

std::shared_ptr<OvkTask> OvkFileSystem::setOwnerAsync(
    const std::string& path, const std::string& user, const std::string& group,
    OvkStatusCallback done) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return nullptr;
  auto context = std::unique_ptr<SetOwnerContext>(
      new SetOwnerContext{path, user, group, std::move(done)});
  return submitNamespace(
      store, std::move(context), setOwnerCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        return ovk_setOwnerAsync(ctx, path.c_str(), user.c_str(),
                                 group.c_str(), options);
      });
}
