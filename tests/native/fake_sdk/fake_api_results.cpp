// The fake's accessors of result objects and its lists for scatter reads.
#include "fake_api.h"

using namespace ovkfake;

namespace {

// Records function's call on handle, as every accessor does, and returns
// the object of kind behind it, or null after a fault. The caller holds
// the lock.
template <typename T>
T* recordUse(State& state, const void* handle, Kind kind,
             const char* function) {
  state.record(line(function, state.render(handle, kind)));
  return state.use<T>(handle, kind, function);
}

// One field of the object behind handle, read under the lock after the
// call is recorded; missing is the answer after a fault.
template <typename T, typename V>
V fieldOf(const void* handle, Kind kind, const char* function, V T::*field,
          V missing) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const T* object = recordUse<T>(state, handle, kind, function);
  return object != nullptr ? object->*field : missing;
}

// The text of an optional field: null when unset. It stays valid as long
// as its object does.
const char* text(const std::optional<std::string>& value) {
  return value ? value->c_str() : nullptr;
}

// A text field of a status: null when unset or after a fault.
const char* statusText(const ovk_file_status_t* status, const char* function,
                       std::optional<std::string> FileStatusSpec::*field) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const FileStatus* s =
      recordUse<FileStatus>(state, status, Kind::kStatus, function);
  return s != nullptr ? text(s->spec.*field) : nullptr;
}

// A numeric field of a status; missing after a fault.
template <typename V>
V statusField(const ovk_file_status_t* status, const char* function,
              V FileStatusSpec::*field, V missing) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const FileStatus* s =
      recordUse<FileStatus>(state, status, Kind::kStatus, function);
  return s != nullptr ? s->spec.*field : missing;
}

// Records function's call on handle and releases it.
void recordRelease(const void* handle, Kind kind, const char* function) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line(function, state.render(handle, kind)));
  state.release(handle, kind, function);
}

}  // namespace

extern "C" {

const char* ovk_getFileStatusPath(const ovk_file_status_t* status) {
  return statusText(status, "ovk_getFileStatusPath", &FileStatusSpec::path);
}

const char* ovk_getFileStatusUser(const ovk_file_status_t* status) {
  return statusText(status, "ovk_getFileStatusUser", &FileStatusSpec::user);
}

const char* ovk_getFileStatusGroup(const ovk_file_status_t* status) {
  return statusText(status, "ovk_getFileStatusGroup", &FileStatusSpec::group);
}

int32_t ovk_getFileStatusType(const ovk_file_status_t* status) {
  return statusField<int32_t>(status, "ovk_getFileStatusType",
                              &FileStatusSpec::type, 0);
}

int32_t ovk_getFileStatusPerm(const ovk_file_status_t* status) {
  return statusField<int32_t>(status, "ovk_getFileStatusPerm",
                              &FileStatusSpec::perm, -1);
}

int64_t ovk_getFileStatusSize(const ovk_file_status_t* status) {
  return statusField<int64_t>(status, "ovk_getFileStatusSize",
                              &FileStatusSpec::size, -1);
}

int64_t ovk_getFileStatusMtime(const ovk_file_status_t* status) {
  return statusField<int64_t>(status, "ovk_getFileStatusMtime",
                              &FileStatusSpec::mtime, -1);
}

int64_t ovk_getFileStatusAtime(const ovk_file_status_t* status) {
  return statusField<int64_t>(status, "ovk_getFileStatusAtime",
                              &FileStatusSpec::atime, -1);
}

void ovk_freeFileStatus(ovk_file_status_t* status) {
  recordRelease(status, Kind::kStatus, "ovk_freeFileStatus");
}

int64_t ovk_getListDirResultSize(const ovk_list_dir_result_t* list) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const Listing* l = recordUse<Listing>(state, list, Kind::kListing,
                                        "ovk_getListDirResultSize");
  return l != nullptr ? static_cast<int64_t>(l->entries.size()) : 0;
}

const ovk_file_status_t* ovk_getListDirFileStatus(
    const ovk_list_dir_result_t* list, int64_t index) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_getListDirFileStatus",
                    state.render(list, Kind::kListing), index));
  const Listing* l =
      state.use<Listing>(list, Kind::kListing, "ovk_getListDirFileStatus");
  if (l == nullptr) return nullptr;
  if (index < 0 || index >= static_cast<int64_t>(l->entries.size())) {
    state.fault("ovk_getListDirFileStatus: index " + std::to_string(index) +
                " out of range");
    return nullptr;
  }
  return as<const ovk_file_status_t>(
      const_cast<FileStatus*>(l->entries[static_cast<size_t>(index)].get()));
}

bool ovk_isListDirResultTruncated(const ovk_list_dir_result_t* list) {
  return fieldOf(list, Kind::kListing, "ovk_isListDirResultTruncated",
                 &Listing::truncated, false);
}

const char* ovk_getListDirResultNextMarker(const ovk_list_dir_result_t* list) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const Listing* l = recordUse<Listing>(state, list, Kind::kListing,
                                        "ovk_getListDirResultNextMarker");
  return l != nullptr ? text(l->marker) : nullptr;
}

void ovk_freeListDirResult(ovk_list_dir_result_t* list) {
  recordRelease(list, Kind::kListing, "ovk_freeListDirResult");
}

int64_t ovk_getContentSummaryFileSize(const ovk_content_summary_t* summary) {
  return fieldOf(summary, Kind::kSummary, "ovk_getContentSummaryFileSize",
                 &Summary::file_size, int64_t{-1});
}

int64_t ovk_getContentSummaryFileCount(const ovk_content_summary_t* summary) {
  return fieldOf(summary, Kind::kSummary, "ovk_getContentSummaryFileCount",
                 &Summary::file_count, int64_t{-1});
}

int64_t ovk_getContentSummaryDirectoryCount(
    const ovk_content_summary_t* summary) {
  return fieldOf(summary, Kind::kSummary, "ovk_getContentSummaryDirectoryCount",
                 &Summary::directory_count, int64_t{-1});
}

void ovk_freeContentSummary(ovk_content_summary_t* summary) {
  recordRelease(summary, Kind::kSummary, "ovk_freeContentSummary");
}

ovk_longs_t* ovk_createLongs(void) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_createLongs"));
  return as<ovk_longs_t>(state.make<Longs>());
}

void ovk_appendLong(ovk_longs_t* list, int64_t value) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(
      line("ovk_appendLong", state.render(list, Kind::kLongs), value));
  if (Longs* l = state.use<Longs>(list, Kind::kLongs, "ovk_appendLong")) {
    l->values.push_back(value);
  }
}

void ovk_freeLongs(ovk_longs_t* list) {
  recordRelease(list, Kind::kLongs, "ovk_freeLongs");
}

ovk_file_buffers_t* ovk_createFileBuffers(void) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_createFileBuffers"));
  return as<ovk_file_buffers_t>(state.make<Buffers>());
}

void ovk_appendFileBuffer(ovk_file_buffers_t* list, char* buffer) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(
      line("ovk_appendFileBuffer", state.render(list, Kind::kBuffers)));
  if (Buffers* l =
          state.use<Buffers>(list, Kind::kBuffers, "ovk_appendFileBuffer")) {
    l->buffers.push_back(buffer);
  }
}

int64_t ovk_getFileBuffersSize(const ovk_file_buffers_t* list) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const Buffers* l = recordUse<Buffers>(state, list, Kind::kBuffers,
                                        "ovk_getFileBuffersSize");
  return l != nullptr ? static_cast<int64_t>(l->buffers.size()) : 0;
}

void ovk_freeFileBuffers(ovk_file_buffers_t* list) {
  recordRelease(list, Kind::kBuffers, "ovk_freeFileBuffers");
}

}  // extern "C"
