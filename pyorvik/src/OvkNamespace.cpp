// The blocking namespace operations of OvkFileSystem and the conversion of
// SDK entry statuses, listings and summaries into the client's records.
#include "OvkFileSystem.h"

#include "OvkNamespaceOutcome.h"
#include "OvkSdkCall.h"

namespace {

constexpr int32_t kMkdirPermission = 0777;

}  // namespace

ExistingDestination existingDestination(OvkFileSystem& fs, ovk_store_t* store,
                                        const std::string& src,
                                        const std::string& dst) {
  OvkFileInfo src_info;
  if (!fs.getFileInfoInternal(store, src, &src_info).ok()) {
    return ExistingDestination::kKeep;
  }
  OvkFileInfo dst_info;
  if (fs.getFileInfoInternal(store, dst, &dst_info).ok() &&
      src_info.path == dst_info.path) {
    return ExistingDestination::kSameEntry;
  }
  return ExistingDestination::kReplace;
}

void covertToFileInfo(const ovk_file_status_t* status, OvkFileInfo* info) {
  if (status == nullptr) return;
  if (const char* path = ovk_getFileStatusPath(status)) info->path = path;
  if (const char* user = ovk_getFileStatusUser(status)) info->user = user;
  if (const char* group = ovk_getFileStatusGroup(status)) info->group = group;
  info->type = static_cast<int8_t>(ovk_getFileStatusType(status));
  info->perm = static_cast<int16_t>(ovk_getFileStatusPerm(status));
  info->size = ovk_getFileStatusSize(status);
  info->mtime = ovk_getFileStatusMtime(status);
  info->atime = ovk_getFileStatusAtime(status);
  if (info->type == OVK_TYPE_DIRECTORY &&
      (info->path.empty() || info->path.back() != '/')) {
    info->path.push_back('/');
  }
}

void appendListing(const ovk_list_dir_result_t* listing,
                   OvkListResult* result) {
  int64_t size = ovk_getListDirResultSize(listing);
  for (int64_t i = 0; i < size; ++i) {
    const ovk_file_status_t* entry = ovk_getListDirFileStatus(listing, i);
    if (entry == nullptr) continue;
    OvkFileInfo info;
    covertToFileInfo(entry, &info);
    result->entries.push_back(std::move(info));
  }
  result->truncated = ovk_isListDirResultTruncated(listing);
  if (const char* marker = ovk_getListDirResultNextMarker(listing)) {
    result->nextMarker = marker;
  }
}

void copySummary(const ovk_content_summary_t* sdk_summary,
                 OvkContentSummary* summary) {
  summary->fileSize = ovk_getContentSummaryFileSize(sdk_summary);
  summary->fileCount = ovk_getContentSummaryFileCount(sdk_summary);
  summary->directoryCount = ovk_getContentSummaryDirectoryCount(sdk_summary);
}

OvkStatus OvkFileSystem::mkdir(const std::string& path, bool recursive) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return status;
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  bool done =
      ovk_mkdir(ctx, path.c_str(), recursive, kMkdirPermission, nullptr);
  return mkdirOutcome(takeOutcome(ctx), done, path);
}

// An existing destination is replaced: removed first (not recursively, so
// a non-empty directory is refused with the removal's status), then the
// source renamed onto it. Two cases keep it, because removing it would lose
// data: source and destination are one entry (the call then succeeds
// without touching anything, as rename(2) does for a file renamed onto
// itself), or the source cannot be found (the SDK's rename then reports
// the failure).
OvkStatus OvkFileSystem::rename(const std::string& src,
                                const std::string& dst) {
  auto [store, status] = GetOvkStore(src);
  if (!status.ok()) return status;
  if (exists(dst).ok()) {
    switch (existingDestination(*this, store, src, dst)) {
      case ExistingDestination::kSameEntry:
        return OvkStatus();
      case ExistingDestination::kReplace: {
        OvkStatus removed = remove(dst, false);
        if (!removed.ok()) return removed;
        break;
      }
      case ExistingDestination::kKeep:
        break;
    }
  }
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  bool done = ovk_rename(ctx, src.c_str(), dst.c_str(), nullptr);
  return renameOutcome(takeOutcome(ctx), done, src, dst);
}

OvkStatus OvkFileSystem::exists(const std::string& path) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return OvkStatus::IOError(status);
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  bool found = ovk_exists(ctx, path.c_str(), nullptr);
  return existsOutcome(takeOutcome(ctx), found, path);
}

OvkStatus OvkFileSystem::remove(const std::string& path, bool recursive) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return status;
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  bool done = ovk_remove(ctx, path.c_str(), recursive, nullptr);
  return removeOutcome(takeOutcome(ctx), done, path, recursive);
}

OvkStatus OvkFileSystem::getFileInfo(const std::string& path,
                                     OvkFileInfo* info) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return status;
  return getFileInfoInternal(store, path, info);
}

OvkStatus OvkFileSystem::getFileInfoInternal(ovk_store_t* store,
                                             const std::string& path,
                                             OvkFileInfo* info) {
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  ovk_file_status_t* sdk_status = ovk_getFileStatus(ctx, path.c_str(), nullptr);
  SdkOutcome outcome = takeOutcome(ctx);
  if (outcome.ok()) covertToFileInfo(sdk_status, info);
  if (sdk_status != nullptr) ovk_freeFileStatus(sdk_status);
  return fileStatusOutcome(outcome, path);
}

OvkStatus OvkFileSystem::listDir(const std::string& path, bool recursive,
                                 OvkListResult* result) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return status;
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  ovk_list_dir_result_t* listing =
      ovk_listDir(ctx, path.c_str(), recursive, nullptr);
  SdkOutcome outcome = takeOutcome(ctx);
  if (outcome.ok() && listing != nullptr) appendListing(listing, result);
  if (listing != nullptr) ovk_freeListDirResult(listing);
  return listDirOutcome(outcome);
}

OvkStatus OvkFileSystem::getContentSummary(const std::string& path, bool flag,
                                           OvkContentSummary* summary) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return status;
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  ovk_content_summary_t* sdk_summary =
      ovk_getContentSummary(ctx, path.c_str(), flag, nullptr);
  SdkOutcome outcome = takeOutcome(ctx);
  if (outcome.ok() && sdk_summary != nullptr) copySummary(sdk_summary, summary);
  if (sdk_summary != nullptr) ovk_freeContentSummary(sdk_summary);
  return contentSummaryOutcome(outcome);
}

OvkStatus OvkFileSystem::setPermission(const std::string& path,
                                       int16_t perm) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return status;
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  bool done = ovk_setPermission(ctx, path.c_str(),
                                static_cast<int32_t>(perm), nullptr);
  return setPermissionOutcome(takeOutcome(ctx), done, path);
}

OvkStatus OvkFileSystem::setOwner(const std::string& path,
                                  const std::string& user,
                                  const std::string& group) {
  auto [store, status] = GetOvkStore(path);
  if (!status.ok()) return status;
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  bool done = ovk_setOwner(ctx, path.c_str(), user.c_str(), group.c_str(),
                           nullptr);
  return setOwnerOutcome(takeOutcome(ctx), done, path);
}
