// The namespace operations and ovk_open as the core runs them, shared by the
// blocking C functions and the asynchronous executor: argument checks, path
// resolution through the store's URI, the backend call, and the conversion
// of results into the public result objects (full URIs, sorted and capped
// listings).
//
// Each returns an Error and writes its result only on success. Thread-safe.
#ifndef ORVIKSDK_SRC_OPERATIONS_H_
#define ORVIKSDK_SRC_OPERATIONS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "Handles.h"

namespace ovk {
namespace ops {

Error Mkdir(StoreCore& core, const char* path, bool recursive, int32_t perm);
Error Rename(StoreCore& core, const char* src, const char* dst);
Error Exists(StoreCore& core, const char* path, bool* found);
Error Remove(StoreCore& core, const char* path, bool recursive);
Error GetFileStatus(StoreCore& core, const char* path,
                    std::unique_ptr<ovk_file_status_t>* out);
Error ListDir(StoreCore& core, const char* path, bool recursive,
              std::unique_ptr<ovk_list_dir_result_t>* out);
Error GetContentSummary(StoreCore& core, const char* path, bool wholeSubtree,
                        std::unique_ptr<ovk_content_summary_t>* out);
Error SetPermission(StoreCore& core, const char* path, int32_t perm);
Error SetOwner(StoreCore& core, const char* path, const char* user, const char* group);
Error Open(const std::shared_ptr<StoreCore>& core, const char* path, int32_t flags,
           int32_t perm, std::unique_ptr<ovk_io_context_t>* out);

}  // namespace ops
}  // namespace ovk

#endif  // ORVIKSDK_SRC_OPERATIONS_H_
