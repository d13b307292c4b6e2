// The blocking C functions of the namespace.
#include "CApi.h"
#include "Operations.h"

using ovk::StoreCore;
namespace ops = ovk::ops;

extern "C" {

bool ovk_mkdir(ovk_handle_ctx_t* ctx, const char* path, bool recursive, int32_t perm,
               ovk_options_t*) {
  return ovk::WithStore(ctx, "mkdir", [&](StoreCore& core) {
    return ops::Mkdir(core, path, recursive, perm);
  });
}

bool ovk_rename(ovk_handle_ctx_t* ctx, const char* src, const char* dst, ovk_options_t*) {
  return ovk::WithStore(ctx, "rename",
                        [&](StoreCore& core) { return ops::Rename(core, src, dst); });
}

bool ovk_exists(ovk_handle_ctx_t* ctx, const char* path, ovk_options_t*) {
  bool found = false;
  bool ok = ovk::WithStore(ctx, "exists",
                           [&](StoreCore& core) { return ops::Exists(core, path, &found); });
  return ok && found;
}

bool ovk_remove(ovk_handle_ctx_t* ctx, const char* path, bool recursive, ovk_options_t*) {
  return ovk::WithStore(ctx, "remove",
                        [&](StoreCore& core) { return ops::Remove(core, path, recursive); });
}

ovk_file_status_t* ovk_getFileStatus(ovk_handle_ctx_t* ctx, const char* path,
                                     ovk_options_t*) {
  std::unique_ptr<ovk_file_status_t> out;
  ovk::WithStore(ctx, "getFileStatus",
                 [&](StoreCore& core) { return ops::GetFileStatus(core, path, &out); });
  return out.release();
}

ovk_list_dir_result_t* ovk_listDir(ovk_handle_ctx_t* ctx, const char* path, bool recursive,
                                   ovk_options_t*) {
  std::unique_ptr<ovk_list_dir_result_t> out;
  ovk::WithStore(ctx, "listDir",
                 [&](StoreCore& core) { return ops::ListDir(core, path, recursive, &out); });
  return out.release();
}

ovk_content_summary_t* ovk_getContentSummary(ovk_handle_ctx_t* ctx, const char* path,
                                             bool whole_subtree, ovk_options_t*) {
  std::unique_ptr<ovk_content_summary_t> out;
  ovk::WithStore(ctx, "getContentSummary", [&](StoreCore& core) {
    return ops::GetContentSummary(core, path, whole_subtree, &out);
  });
  return out.release();
}

bool ovk_setPermission(ovk_handle_ctx_t* ctx, const char* path, int32_t perm,
                       ovk_options_t*) {
  return ovk::WithStore(ctx, "setPermission",
                        [&](StoreCore& core) { return ops::SetPermission(core, path, perm); });
}

bool ovk_setOwner(ovk_handle_ctx_t* ctx, const char* path, const char* user,
                  const char* group, ovk_options_t*) {
  return ovk::WithStore(ctx, "setOwner", [&](StoreCore& core) {
    return ops::SetOwner(core, path, user, group);
  });
}

}  // extern "C"
