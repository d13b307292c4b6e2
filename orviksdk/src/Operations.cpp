#include "Operations.h"

#include <algorithm>

namespace ovk {
namespace ops {

namespace {

// The backend of a ready store and `path` resolved beneath its root.
Error Prepare(StoreCore& core, const char* operation, const char* path,
              Backend** backend, StorePath* resolved) {
  Error err = core.backend(operation, backend);
  if (!err.ok()) return err;
  err = core.uri().resolve(path, resolved);
  if (!err.ok()) {
    return Error(err.code(), std::string(operation) + ": " + err.message());
  }
  return Error();
}

Error CheckPerm(const char* operation, const StorePath& path, int32_t perm) {
  if (perm < 0 || perm > 07777) {
    return Error::InvalidArgument(std::string(operation) + " " + path.display() +
                                  ": permission " + std::to_string(perm) +
                                  " is outside 0 to 07777");
  }
  return Error();
}

void Convert(const StoreUri& uri, EntryStatus&& in, ovk_file_status_t* out) {
  out->path = uri.entryUri(in.path, in.type == OVK_TYPE_DIRECTORY);
  out->user = std::move(in.user);
  out->group = std::move(in.group);
  out->type = in.type;
  out->perm = in.perm;
  out->size = in.size;
  out->mtime = in.mtime;
  out->atime = in.atime;
}

}  // namespace

Error Mkdir(StoreCore& core, const char* path, bool recursive, int32_t perm) {
  Backend* backend;
  StorePath p;
  Error err = Prepare(core, "mkdir", path, &backend, &p);
  if (!err.ok()) return err;
  err = CheckPerm("mkdir", p, perm);
  if (!err.ok()) return err;
  return backend->mkdir(p, recursive, perm);
}

Error Rename(StoreCore& core, const char* src, const char* dst) {
  Backend* backend;
  StorePath from;
  StorePath to;
  Error err = Prepare(core, "rename", src, &backend, &from);
  if (!err.ok()) return err;
  err = Prepare(core, "rename", dst, &backend, &to);
  if (!err.ok()) return err;
  if (from.isRoot() || to.isRoot()) {
    return Error::InvalidArgument("rename " + from.display() + " to " + to.display() +
                                  ": the store's root cannot be renamed or replaced");
  }
  if (from == to) {
    // Renaming an entry onto itself leaves it where it is.
    bool found = false;
    err = backend->exists(from, &found);
    if (!err.ok()) return err;
    return found ? Error()
                 : Error::NotFound("rename " + from.display() + ": No such file or directory");
  }
  const std::string& a = from.rel();
  const std::string& b = to.rel();
  if (b.size() > a.size() && b.compare(0, a.size(), a) == 0 && b[a.size()] == '/') {
    return Error::InvalidArgument("rename " + from.display() + " to " + to.display() +
                                  ": a directory cannot move inside itself");
  }
  return backend->rename(from, to);
}

Error Exists(StoreCore& core, const char* path, bool* found) {
  Backend* backend;
  StorePath p;
  Error err = Prepare(core, "exists", path, &backend, &p);
  if (!err.ok()) return err;
  return backend->exists(p, found);
}

Error Remove(StoreCore& core, const char* path, bool recursive) {
  Backend* backend;
  StorePath p;
  Error err = Prepare(core, "remove", path, &backend, &p);
  if (!err.ok()) return err;
  if (p.isRoot()) {
    return Error::InvalidArgument("remove /: the store's root cannot be removed");
  }
  return backend->remove(p, recursive);
}

Error GetFileStatus(StoreCore& core, const char* path,
                    std::unique_ptr<ovk_file_status_t>* out) {
  Backend* backend;
  StorePath p;
  Error err = Prepare(core, "getFileStatus", path, &backend, &p);
  if (!err.ok()) return err;
  EntryStatus status;
  err = backend->getFileStatus(p, &status);
  if (!err.ok()) return err;
  auto result = std::make_unique<ovk_file_status_t>();
  Convert(core.uri(), std::move(status), result.get());
  *out = std::move(result);
  return Error();
}

Error ListDir(StoreCore& core, const char* path, bool recursive,
              std::unique_ptr<ovk_list_dir_result_t>* out) {
  Backend* backend;
  StorePath p;
  Error err = Prepare(core, "listDir", path, &backend, &p);
  if (!err.ok()) return err;
  std::vector<EntryStatus> entries;
  err = backend->listDir(p, recursive, &entries);
  if (!err.ok()) return err;

  auto result = std::make_unique<ovk_list_dir_result_t>();
  result->entries.resize(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    Convert(core.uri(), std::move(entries[i]), &result->entries[i]);
  }
  std::sort(result->entries.begin(), result->entries.end(),
            [](const ovk_file_status_t& x, const ovk_file_status_t& y) {
              return x.path < y.path;
            });
  auto cap = static_cast<uint64_t>(core.listMaxEntries());
  if (result->entries.size() > cap) {
    result->entries.resize(cap);
    result->truncated = true;
    result->nextMarker = result->entries.back().path;
  }
  *out = std::move(result);
  return Error();
}

Error GetContentSummary(StoreCore& core, const char* path, bool wholeSubtree,
                        std::unique_ptr<ovk_content_summary_t>* out) {
  Backend* backend;
  StorePath p;
  Error err = Prepare(core, "getContentSummary", path, &backend, &p);
  if (!err.ok()) return err;
  ContentSummary summary;
  err = backend->getContentSummary(p, wholeSubtree, &summary);
  if (!err.ok()) return err;
  auto result = std::make_unique<ovk_content_summary_t>();
  result->fileSize = summary.fileSize;
  result->fileCount = summary.fileCount;
  result->directoryCount = summary.directoryCount;
  *out = std::move(result);
  return Error();
}

Error SetPermission(StoreCore& core, const char* path, int32_t perm) {
  Backend* backend;
  StorePath p;
  Error err = Prepare(core, "setPermission", path, &backend, &p);
  if (!err.ok()) return err;
  err = CheckPerm("setPermission", p, perm);
  if (!err.ok()) return err;
  return backend->setPermission(p, perm);
}

Error SetOwner(StoreCore& core, const char* path, const char* user, const char* group) {
  Backend* backend;
  StorePath p;
  Error err = Prepare(core, "setOwner", path, &backend, &p);
  if (!err.ok()) return err;
  return backend->setOwner(p, user != nullptr ? user : "", group != nullptr ? group : "");
}

Error Open(const std::shared_ptr<StoreCore>& core, const char* path, int32_t flags,
           int32_t perm, std::unique_ptr<ovk_io_context_t>* out) {
  Backend* backend;
  StorePath p;
  Error err = Prepare(*core, "open", path, &backend, &p);
  if (!err.ok()) return err;
  if (flags != OVK_OPEN_READ && flags != OVK_OPEN_WRITE &&
      flags != (OVK_OPEN_WRITE | OVK_OPEN_APPEND)) {
    return Error::InvalidArgument("open " + p.display() + ": unsupported flags " +
                                  std::to_string(flags) +
                                  " (read 0x10000, write 3, append 3|0x400)");
  }
  err = CheckPerm("open", p, perm);
  if (!err.ok()) return err;
  std::unique_ptr<Stream> stream;
  err = backend->open(p, flags, perm, &stream);
  if (!err.ok()) return err;
  auto handle = std::make_unique<ovk_io_context_t>();
  handle->stream = std::make_shared<StreamState>(core, std::move(stream), p,
                                                 flags == OVK_OPEN_READ);
  *out = std::move(handle);
  return Error();
}

}  // namespace ops
}  // namespace ovk
