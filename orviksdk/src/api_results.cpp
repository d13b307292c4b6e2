// The C functions of result objects and of the lists of ovk_preadv.
#include <new>

#include "Handles.h"

namespace {

const char* TextOrNull(const std::string& text) {
  return text.empty() ? nullptr : text.c_str();
}

}  // namespace

extern "C" {

const char* ovk_getFileStatusPath(const ovk_file_status_t* status) {
  return status != nullptr ? TextOrNull(status->path) : nullptr;
}

const char* ovk_getFileStatusUser(const ovk_file_status_t* status) {
  return status != nullptr ? TextOrNull(status->user) : nullptr;
}

const char* ovk_getFileStatusGroup(const ovk_file_status_t* status) {
  return status != nullptr ? TextOrNull(status->group) : nullptr;
}

int32_t ovk_getFileStatusType(const ovk_file_status_t* status) {
  return status != nullptr ? status->type : OVK_TYPE_UNKNOWN;
}

int32_t ovk_getFileStatusPerm(const ovk_file_status_t* status) {
  return status != nullptr ? status->perm : -1;
}

int64_t ovk_getFileStatusSize(const ovk_file_status_t* status) {
  return status != nullptr ? status->size : -1;
}

int64_t ovk_getFileStatusMtime(const ovk_file_status_t* status) {
  return status != nullptr ? status->mtime : -1;
}

int64_t ovk_getFileStatusAtime(const ovk_file_status_t* status) {
  return status != nullptr ? status->atime : -1;
}

void ovk_freeFileStatus(ovk_file_status_t* status) { delete status; }

int64_t ovk_getListDirResultSize(const ovk_list_dir_result_t* list) {
  return list != nullptr ? static_cast<int64_t>(list->entries.size()) : 0;
}

const ovk_file_status_t* ovk_getListDirFileStatus(const ovk_list_dir_result_t* list,
                                                  int64_t index) {
  if (list == nullptr || index < 0 || static_cast<uint64_t>(index) >= list->entries.size()) {
    return nullptr;
  }
  return &list->entries[static_cast<size_t>(index)];
}

bool ovk_isListDirResultTruncated(const ovk_list_dir_result_t* list) {
  return list != nullptr && list->truncated;
}

const char* ovk_getListDirResultNextMarker(const ovk_list_dir_result_t* list) {
  return list != nullptr ? TextOrNull(list->nextMarker) : nullptr;
}

void ovk_freeListDirResult(ovk_list_dir_result_t* list) { delete list; }

int64_t ovk_getContentSummaryFileSize(const ovk_content_summary_t* summary) {
  return summary != nullptr ? summary->fileSize : 0;
}

int64_t ovk_getContentSummaryFileCount(const ovk_content_summary_t* summary) {
  return summary != nullptr ? summary->fileCount : 0;
}

int64_t ovk_getContentSummaryDirectoryCount(const ovk_content_summary_t* summary) {
  return summary != nullptr ? summary->directoryCount : 0;
}

void ovk_freeContentSummary(ovk_content_summary_t* summary) { delete summary; }

ovk_longs_t* ovk_createLongs(void) { return new (std::nothrow) ovk_longs_t; }

void ovk_appendLong(ovk_longs_t* list, int64_t value) {
  if (list == nullptr) return;
  try {
    list->values.push_back(value);
  } catch (...) {
    // Out of memory: the list stays shorter, which ovk_preadv then refuses.
  }
}

void ovk_freeLongs(ovk_longs_t* list) { delete list; }

ovk_file_buffers_t* ovk_createFileBuffers(void) {
  return new (std::nothrow) ovk_file_buffers_t;
}

void ovk_appendFileBuffer(ovk_file_buffers_t* list, char* buffer) {
  if (list == nullptr) return;
  try {
    list->buffers.push_back(buffer);
  } catch (...) {
    // Out of memory: the list stays shorter, which ovk_preadv then refuses.
  }
}

int64_t ovk_getFileBuffersSize(const ovk_file_buffers_t* list) {
  return list != nullptr ? static_cast<int64_t>(list->buffers.size()) : 0;
}

void ovk_freeFileBuffers(ovk_file_buffers_t* list) { delete list; }

}  // extern "C"
