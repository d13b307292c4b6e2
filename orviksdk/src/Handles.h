// The opaque handle types of ovk_sdk.h, as the core defines them.
//
// Each handle is a thin owner of shared internals (StoreCore, StreamState,
// Request), so handles may be freed in any order: a stream or operation
// call outlives its store handle safely, and a handle context made for one
// call keeps what that call needs alive.
#ifndef ORVIKSDK_SRC_HANDLES_H_
#define ORVIKSDK_SRC_HANDLES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Executor.h"
#include "Options.h"
#include "StoreCore.h"
#include "StreamState.h"
#include "orviksdk/ovk_sdk.h"

struct ovk_options_t {
  ovk::Options options;
  // The one callback and context of an asynchronous call.
  void* context = nullptr;
  ovk_bool_callback_t boolCallback = nullptr;
  ovk_int64_callback_t int64Callback = nullptr;
  ovk_file_status_callback_t fileStatusCallback = nullptr;
  ovk_list_dir_result_callback_t listDirResultCallback = nullptr;
  ovk_content_summary_callback_t contentSummaryCallback = nullptr;
};

struct ovk_store_t {
  std::shared_ptr<ovk::StoreCore> core;
};

struct ovk_io_context_t {
  std::shared_ptr<ovk::StreamState> stream;
};

struct ovk_handle_ctx_t {
  std::shared_ptr<ovk::StoreCore> core;      // null for a context made without a store
  std::shared_ptr<ovk::StreamState> stream;  // null for store calls
  int32_t code = OVK_OK;
  std::string message;
};

struct ovk_operation_call_t {
  std::shared_ptr<ovk::StoreCore> core;
  std::shared_ptr<ovk::Request> request;
};

struct ovk_file_status_t {
  std::string path;  // full URI; directories end in "/"
  std::string user;
  std::string group;
  int32_t type = OVK_TYPE_UNKNOWN;
  int32_t perm = -1;
  int64_t size = -1;
  int64_t mtime = -1;
  int64_t atime = -1;
};

struct ovk_list_dir_result_t {
  std::vector<ovk_file_status_t> entries;  // sorted by path
  bool truncated = false;
  std::string nextMarker;  // path of the last entry when truncated
};

struct ovk_content_summary_t {
  int64_t fileSize = 0;
  int64_t fileCount = 0;
  int64_t directoryCount = 0;
};

struct ovk_longs_t {
  std::vector<int64_t> values;
};

struct ovk_file_buffers_t {
  std::vector<char*> buffers;  // borrowed
};

#endif  // ORVIKSDK_SRC_HANDLES_H_
