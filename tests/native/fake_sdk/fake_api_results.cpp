// The fake's accessors of result objects and its lists for scatter reads.
#include "fake_api.h"

using namespace ovkfake;

namespace {

// Records an accessor call on a status and returns the status, or null
// after a fault.
const FileStatus* statusFor(State& state, const ovk_file_status_t* status,
                            const char* function) {
  state.record(line(function, state.render(status, Kind::kStatus)));
  return state.use<FileStatus>(status, Kind::kStatus, function);
}

const char* text(const std::optional<std::string>& value) {
  return value ? value->c_str() : nullptr;
}

}  // namespace

extern "C" {

const char* ovk_getFileStatusPath(const ovk_file_status_t* status) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const FileStatus* s = statusFor(state, status, "ovk_getFileStatusPath");
  return s != nullptr ? text(s->spec.path) : nullptr;
}

const char* ovk_getFileStatusUser(const ovk_file_status_t* status) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const FileStatus* s = statusFor(state, status, "ovk_getFileStatusUser");
  return s != nullptr ? text(s->spec.user) : nullptr;
}

const char* ovk_getFileStatusGroup(const ovk_file_status_t* status) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const FileStatus* s = statusFor(state, status, "ovk_getFileStatusGroup");
  return s != nullptr ? text(s->spec.group) : nullptr;
}

int32_t ovk_getFileStatusType(const ovk_file_status_t* status) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const FileStatus* s = statusFor(state, status, "ovk_getFileStatusType");
  return s != nullptr ? s->spec.type : 0;
}

int32_t ovk_getFileStatusPerm(const ovk_file_status_t* status) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const FileStatus* s = statusFor(state, status, "ovk_getFileStatusPerm");
  return s != nullptr ? s->spec.perm : -1;
}

int64_t ovk_getFileStatusSize(const ovk_file_status_t* status) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const FileStatus* s = statusFor(state, status, "ovk_getFileStatusSize");
  return s != nullptr ? s->spec.size : -1;
}

int64_t ovk_getFileStatusMtime(const ovk_file_status_t* status) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const FileStatus* s = statusFor(state, status, "ovk_getFileStatusMtime");
  return s != nullptr ? s->spec.mtime : -1;
}

int64_t ovk_getFileStatusAtime(const ovk_file_status_t* status) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  const FileStatus* s = statusFor(state, status, "ovk_getFileStatusAtime");
  return s != nullptr ? s->spec.atime : -1;
}

void ovk_freeFileStatus(ovk_file_status_t* status) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_freeFileStatus", state.render(status, Kind::kStatus)));
  state.release(status, Kind::kStatus, "ovk_freeFileStatus");
}

int64_t ovk_getListDirResultSize(const ovk_list_dir_result_t* list) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(
      line("ovk_getListDirResultSize", state.render(list, Kind::kListing)));
  const Listing* l =
      state.use<Listing>(list, Kind::kListing, "ovk_getListDirResultSize");
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
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(
      line("ovk_isListDirResultTruncated", state.render(list, Kind::kListing)));
  const Listing* l =
      state.use<Listing>(list, Kind::kListing, "ovk_isListDirResultTruncated");
  return l != nullptr && l->truncated;
}

const char* ovk_getListDirResultNextMarker(const ovk_list_dir_result_t* list) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_getListDirResultNextMarker",
                    state.render(list, Kind::kListing)));
  const Listing* l = state.use<Listing>(list, Kind::kListing,
                                        "ovk_getListDirResultNextMarker");
  return l != nullptr ? text(l->marker) : nullptr;
}

void ovk_freeListDirResult(ovk_list_dir_result_t* list) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(
      line("ovk_freeListDirResult", state.render(list, Kind::kListing)));
  state.release(list, Kind::kListing, "ovk_freeListDirResult");
}

int64_t ovk_getContentSummaryFileSize(const ovk_content_summary_t* summary) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_getContentSummaryFileSize",
                    state.render(summary, Kind::kSummary)));
  const Summary* s = state.use<Summary>(summary, Kind::kSummary,
                                        "ovk_getContentSummaryFileSize");
  return s != nullptr ? s->file_size : -1;
}

int64_t ovk_getContentSummaryFileCount(const ovk_content_summary_t* summary) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_getContentSummaryFileCount",
                    state.render(summary, Kind::kSummary)));
  const Summary* s = state.use<Summary>(summary, Kind::kSummary,
                                        "ovk_getContentSummaryFileCount");
  return s != nullptr ? s->file_count : -1;
}

int64_t ovk_getContentSummaryDirectoryCount(
    const ovk_content_summary_t* summary) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_getContentSummaryDirectoryCount",
                    state.render(summary, Kind::kSummary)));
  const Summary* s = state.use<Summary>(summary, Kind::kSummary,
                                        "ovk_getContentSummaryDirectoryCount");
  return s != nullptr ? s->directory_count : -1;
}

void ovk_freeContentSummary(ovk_content_summary_t* summary) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(
      line("ovk_freeContentSummary", state.render(summary, Kind::kSummary)));
  state.release(summary, Kind::kSummary, "ovk_freeContentSummary");
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
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_freeLongs", state.render(list, Kind::kLongs)));
  state.release(list, Kind::kLongs, "ovk_freeLongs");
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
  state.record(
      line("ovk_getFileBuffersSize", state.render(list, Kind::kBuffers)));
  const Buffers* l =
      state.use<Buffers>(list, Kind::kBuffers, "ovk_getFileBuffersSize");
  return l != nullptr ? static_cast<int64_t>(l->buffers.size()) : 0;
}

void ovk_freeFileBuffers(ovk_file_buffers_t* list) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(
      line("ovk_freeFileBuffers", state.render(list, Kind::kBuffers)));
  state.release(list, Kind::kBuffers, "ovk_freeFileBuffers");
}

}  // extern "C"
