#include "QuollBackend.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "BackendFactory.h"
#include "QuollReadStream.h"
#include "QuollWriteStream.h"
#include "ServerCopy.h"

namespace ovk::quoll {
namespace {

constexpr int kListPageKeys = 1000;
constexpr size_t kDeleteBatch = 1000;

// A key below the root as a path relative to it; false for keys no path
// can name (empty components, "." or ".."), which listings leave out.
bool relativePath(const std::string& rel, std::string* out) {
  if (rel.empty()) return false;
  size_t start = 0;
  while (start <= rel.size()) {
    size_t end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    std::string part = rel.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  *out = rel;
  return true;
}

int32_t parsePerm(const std::map<std::string, std::string>& metadata, int32_t fallback) {
  auto it = metadata.find(kMetaPerm);
  if (it == metadata.end()) return fallback;
  char* end = nullptr;
  long value = std::strtol(it->second.c_str(), &end, 8);
  if (end == it->second.c_str() || *end != '\0' || value < 0 || value > 07777) {
    return fallback;
  }
  return static_cast<int32_t>(value);
}

std::string metaValue(const std::map<std::string, std::string>& metadata,
                      const char* name) {
  auto it = metadata.find(name);
  return it == metadata.end() ? "" : it->second;
}

}  // namespace

std::map<std::string, std::string> QuollStore::newMetadata(int32_t perm) const {
  char octal[16];
  std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned>(perm & ~umask & 07777));
  std::map<std::string, std::string> metadata{{kMetaPerm, octal}};
  // The store knows no groups of its own: the owner's name stands for one.
  if (!user.empty()) {
    metadata[kMetaOwner] = user;
    metadata[kMetaGroup] = user;
  }
  return metadata;
}

QuollBackend::QuollBackend(std::shared_ptr<const QuollStore> store)
    : store_(std::move(store)) {}

EntryStatus QuollBackend::fileStatus(const StorePath& path, const ObjectHead& head) const {
  EntryStatus status;
  status.path = path;
  status.type = OVK_TYPE_FILE;
  status.size = head.size;
  status.mtime = head.mtimeMs;
  status.perm = parsePerm(head.metadata, 0666 & ~store_->umask);
  status.user = metaValue(head.metadata, kMetaOwner);
  status.group = metaValue(head.metadata, kMetaGroup);
  return status;
}

EntryStatus QuollBackend::directoryStatus(const StorePath& path,
                                          const ObjectHead* marker) const {
  EntryStatus status;
  status.path = path;
  status.type = OVK_TYPE_DIRECTORY;
  status.size = 0;
  status.perm = 0777 & ~store_->umask;
  if (marker != nullptr) {
    status.mtime = marker->mtimeMs;
    status.perm = parsePerm(marker->metadata, status.perm);
    status.user = metaValue(marker->metadata, kMetaOwner);
    status.group = metaValue(marker->metadata, kMetaGroup);
  }
  return status;
}

Error QuollBackend::probe(const StorePath& path, bool markerMetadata, Probe* out) {
  *out = Probe();
  S3Client& client = *store_->client;
  if (path.isRoot()) {
    out->kind = Kind::kDirectory;
    return Error();
  }
  Error error = client.headObject(store_->fileKey(path), &out->head);
  if (error.ok()) {
    out->kind = Kind::kFile;
    return Error();
  }
  if (error.code() != OVK_ERR_NOT_FOUND) return error;

  const std::string dirKey = store_->dirKey(path);
  ListPage page;
  error = client.listObjects(dirKey, "", "", 1, &page);
  if (!error.ok()) return error;
  if (page.objects.empty() && page.commonPrefixes.empty()) return Error();
  out->kind = Kind::kDirectory;
  // The marker is a prefix of every other key below it, so it lists first.
  out->marker = !page.objects.empty() && page.objects.front().key == dirKey;
  if (!out->marker || !markerMetadata) return Error();
  // Listings carry no metadata: the marker's own HEAD has it. A marker
  // removed in between leaves a directory without one.
  error = client.headObject(dirKey, &out->head);
  if (error.code() == OVK_ERR_NOT_FOUND) {
    out->marker = false;
    out->head = ObjectHead();
    return Error();
  }
  return error;
}

Error QuollBackend::listAll(const std::string& prefix, bool oneLevel,
                            std::vector<ListedObject>* objects,
                            std::vector<std::string>* prefixes) {
  std::string token;
  do {
    ListPage page;
    Error error = store_->client->listObjects(prefix, oneLevel ? "/" : "", token,
                                              kListPageKeys, &page);
    if (!error.ok()) return error;
    for (ListedObject& object : page.objects) objects->push_back(std::move(object));
    if (prefixes != nullptr) {
      for (std::string& p : page.commonPrefixes) prefixes->push_back(std::move(p));
    }
    if (page.truncated && page.nextContinuationToken.empty()) {
      return Error::Remote("ListObjectsV2 " + store_->client->bucket() + "/" + prefix +
                           ": truncated page without a continuation token");
    }
    token = page.truncated ? page.nextContinuationToken : "";
  } while (!token.empty());
  return Error();
}

Error QuollBackend::deleteKeys(const std::vector<std::string>& keys) {
  for (size_t i = 0; i < keys.size(); i += kDeleteBatch) {
    std::vector<std::string> batch(keys.begin() + i,
                                   keys.begin() + std::min(keys.size(), i + kDeleteBatch));
    Error error = store_->client->deleteObjects(batch);
    if (!error.ok()) return error;
  }
  return Error();
}

Error QuollBackend::keepParent(const StorePath& path) {
  StorePath parent = path.parent();
  if (parent.isRoot()) return Error();
  const std::string dirKey = store_->dirKey(parent);
  ListPage page;
  Error error = store_->client->listObjects(dirKey, "", "", 1, &page);
  if (!error.ok()) return error;
  if (!page.objects.empty() || !page.commonPrefixes.empty()) return Error();
  return store_->client->putObject(dirKey, nullptr, 0, store_->newMetadata(0777));
}

Error QuollBackend::mkdir(const StorePath& path, bool recursive, int32_t perm) {
  Probe probed;
  Error error = probe(path, false, &probed);
  if (!error.ok()) return error;
  if (probed.kind == Kind::kDirectory) return Error();
  if (probed.kind == Kind::kFile) {
    return Error::AlreadyExists("mkdir " + path.display() + ": a file exists there");
  }
  // Every ancestor must be a directory (or, with `recursive`, missing).
  for (StorePath up = path.parent(); !up.isRoot(); up = up.parent()) {
    Probe ancestor;
    error = probe(up, false, &ancestor);
    if (!error.ok()) return error;
    if (ancestor.kind == Kind::kDirectory) break;
    if (ancestor.kind == Kind::kFile) {
      return Error::AlreadyExists("mkdir " + path.display() + ": " + up.display() +
                                  " is a file");
    }
    if (!recursive) {
      return Error::NotFound("mkdir " + path.display() + ": parent " + up.display() +
                             " does not exist");
    }
  }
  return store_->client->putObject(store_->dirKey(path), nullptr, 0,
                                   store_->newMetadata(perm));
}

Error QuollBackend::exists(const StorePath& path, bool* found) {
  Probe probed;
  Error error = probe(path, false, &probed);
  if (!error.ok()) return error;
  *found = probed.kind != Kind::kMissing;
  return Error();
}

Error QuollBackend::getFileStatus(const StorePath& path, EntryStatus* out) {
  Probe probed;
  Error error = probe(path, true, &probed);
  if (!error.ok()) return error;
  switch (probed.kind) {
    case Kind::kMissing:
      return Error::NotFound("getFileStatus " + path.display() + ": no such file or directory");
    case Kind::kFile:
      *out = fileStatus(path, probed.head);
      return Error();
    case Kind::kDirectory:
      *out = directoryStatus(path, probed.marker ? &probed.head : nullptr);
      return Error();
  }
  return Error();
}

Error QuollBackend::listDir(const StorePath& path, bool recursive,
                            std::vector<EntryStatus>* out) {
  const std::string dirKey = store_->dirKey(path);
  std::vector<ListedObject> objects;
  std::vector<std::string> prefixes;
  Error error = listAll(dirKey, !recursive, &objects, &prefixes);
  if (!error.ok()) return error;
  if (objects.empty() && prefixes.empty() && !path.isRoot()) {
    Probe probed;
    error = probe(path, false, &probed);
    if (!error.ok()) return error;
    if (probed.kind == Kind::kFile) {
      return Error::AlreadyExists("listDir " + path.display() + ": not a directory");
    }
    return Error::NotFound("listDir " + path.display() + ": no such directory");
  }

  const std::string& rootPrefix = store_->prefix;
  std::vector<EntryStatus> entries;
  std::set<std::string> directories;
  auto addDirectory = [&](const std::string& rel) {
    if (directories.insert(rel).second) {
      entries.push_back(directoryStatus(StorePath(rel), nullptr));
    }
  };
  for (const std::string& p : prefixes) {
    std::string rel;
    if (relativePath(p.substr(rootPrefix.size(), p.size() - rootPrefix.size() - 1), &rel)) {
      addDirectory(rel);
    }
  }
  for (const ListedObject& object : objects) {
    if (object.key == dirKey) continue;  // the directory's own marker
    std::string relKey = object.key.substr(rootPrefix.size());
    bool isMarker = !relKey.empty() && relKey.back() == '/';
    if (isMarker) relKey.pop_back();
    std::string rel;
    if (!relativePath(relKey, &rel)) continue;
    if (recursive) {
      // Objects deep below imply their directories, marker or not.
      size_t base = path.isRoot() ? 0 : path.rel().size() + 1;
      for (size_t slash = rel.find('/', base); slash != std::string::npos;
           slash = rel.find('/', slash + 1)) {
        addDirectory(rel.substr(0, slash));
      }
    }
    if (isMarker) {
      if (directories.insert(rel).second) {
        EntryStatus status = directoryStatus(StorePath(rel), nullptr);
        status.mtime = object.mtimeMs;
        entries.push_back(std::move(status));
      }
      continue;
    }
    ObjectHead head;
    head.size = object.size;
    head.mtimeMs = object.mtimeMs;
    entries.push_back(fileStatus(StorePath(rel), head));
  }
  *out = std::move(entries);
  return Error();
}

Error QuollBackend::getContentSummary(const StorePath& path, bool wholeSubtree,
                                      ContentSummary* out) {
  Probe probed;
  Error error = probe(path, false, &probed);
  if (!error.ok()) return error;
  if (probed.kind == Kind::kMissing) {
    return Error::NotFound("getContentSummary " + path.display() +
                           ": no such file or directory");
  }
  ContentSummary summary;
  if (probed.kind == Kind::kFile) {
    summary.fileSize = probed.head.size;
    summary.fileCount = 1;
    *out = summary;
    return Error();
  }
  std::vector<EntryStatus> entries;
  error = listDir(path, wholeSubtree, &entries);
  if (!error.ok()) return error;
  for (const EntryStatus& entry : entries) {
    if (entry.type == OVK_TYPE_DIRECTORY) {
      ++summary.directoryCount;
    } else {
      ++summary.fileCount;
      summary.fileSize += std::max<int64_t>(entry.size, 0);
    }
  }
  *out = summary;
  return Error();
}

Error QuollBackend::remove(const StorePath& path, bool recursive) {
  if (path.isRoot()) {
    return Error::InvalidArgument("remove " + path.display() + ": the store's root");
  }
  Probe probed;
  Error error = probe(path, false, &probed);
  if (!error.ok()) return error;
  if (probed.kind == Kind::kMissing) {
    return Error::NotFound("remove " + path.display() + ": no such file or directory");
  }
  if (probed.kind == Kind::kFile) {
    error = store_->client->deleteObject(store_->fileKey(path));
    return error.ok() ? keepParent(path) : error;
  }
  const std::string dirKey = store_->dirKey(path);
  std::vector<ListedObject> objects;
  error = listAll(dirKey, false, &objects, nullptr);
  if (!error.ok()) return error;
  std::vector<std::string> keys;
  for (const ListedObject& object : objects) keys.push_back(object.key);
  if (!recursive && (keys.size() > 1 || (keys.size() == 1 && keys[0] != dirKey))) {
    return Error::NotEmpty("remove " + path.display() + ": directory not empty");
  }
  // Deepest keys first: if a batch fails, what remains is still a tree.
  std::sort(keys.begin(), keys.end(), std::greater<std::string>());
  error = deleteKeys(keys);
  return error.ok() ? keepParent(path) : error;
}

Error QuollBackend::rename(const StorePath& src, const StorePath& dst) {
  if (src.isRoot() || dst.isRoot()) {
    return Error::InvalidArgument("rename " + src.display() + " to " + dst.display() +
                                  ": the store's root cannot move");
  }
  if (src == dst) {
    bool found = false;
    Error error = exists(src, &found);
    if (!error.ok()) return error;
    return found ? Error()
                 : Error::NotFound("rename " + src.display() + ": no such file or directory");
  }
  if (dst.rel().compare(0, src.rel().size() + 1, src.rel() + "/") == 0) {
    return Error::InvalidArgument("rename " + src.display() + " to " + dst.display() +
                                  ": a directory cannot move into itself");
  }
  Probe from;
  Error error = probe(src, false, &from);
  if (!error.ok()) return error;
  if (from.kind == Kind::kMissing) {
    return Error::NotFound("rename " + src.display() + ": no such file or directory");
  }
  Probe to;
  error = probe(dst, false, &to);
  if (!error.ok()) return error;
  if (to.kind == Kind::kDirectory) {
    std::vector<EntryStatus> below;
    error = listDir(dst, false, &below);
    if (!error.ok()) return error;
    if (from.kind == Kind::kFile || !below.empty()) {
      return below.empty() || from.kind == Kind::kFile
                 ? Error::AlreadyExists("rename " + src.display() + " to " +
                                        dst.display() + ": a directory exists there")
                 : Error::NotEmpty("rename " + src.display() + " to " + dst.display() +
                                   ": the target directory is not empty");
    }
  } else if (to.kind == Kind::kFile && from.kind == Kind::kDirectory) {
    return Error::AlreadyExists("rename " + src.display() + " to " + dst.display() +
                                ": a file exists there");
  }
  if (!dst.parent().isRoot()) {
    Probe parent;
    error = probe(dst.parent(), false, &parent);
    if (!error.ok()) return error;
    if (parent.kind != Kind::kDirectory) {
      return parent.kind == Kind::kFile
                 ? Error::AlreadyExists("rename to " + dst.display() + ": " +
                                        dst.parent().display() + " is a file")
                 : Error::NotFound("rename to " + dst.display() + ": parent " +
                                   dst.parent().display() + " does not exist");
    }
  }

  if (from.kind == Kind::kFile) {
    error = CopyObjectServerSide(*store_->client,
                                 {store_->fileKey(src), from.head.size, from.head.etag},
                                 store_->fileKey(dst), nullptr, store_->settings.copyPartBytes,
                                 store_->settings.uploadConcurrency);
    if (error.ok()) error = store_->client->deleteObject(store_->fileKey(src));
    return error.ok() ? keepParent(src) : error;
  }

  const std::string srcKey = store_->dirKey(src);
  const std::string dstKey = store_->dirKey(dst);
  std::vector<ListedObject> objects;
  error = listAll(srcKey, false, &objects, nullptr);
  if (!error.ok()) return error;
  std::vector<std::string> copied;
  std::vector<std::string> sources;
  for (const ListedObject& object : objects) {
    copied.push_back(dstKey + object.key.substr(srcKey.size()));
    sources.push_back(object.key);
  }
  const QuollSettings& settings = store_->settings;
  error = RunBounded(objects.size(), settings.uploadConcurrency, [&](size_t i) {
    return CopyObjectServerSide(*store_->client, {objects[i].key, objects[i].size, ""},
                                copied[i], nullptr, settings.copyPartBytes, 1);
  });
  if (to.kind == Kind::kDirectory && to.marker) {
    // The target's own marker was there before: taking the copies back
    // must not take the empty target directory with them.
    copied.erase(std::remove(copied.begin(), copied.end(), dstKey), copied.end());
  }
  if (!error.ok()) {
    // The source is still whole; take back the copies (a target that was
    // never written is no loss to delete).
    deleteKeys(copied);
    return error;
  }
  if (sources.empty() || sources.front() != srcKey) {
    // An implicit directory moves as an explicit one, so it survives empty.
    error = store_->client->putObject(dstKey, nullptr, 0, store_->newMetadata(0777));
    if (!error.ok()) {
      deleteKeys(copied);
      return error;
    }
  }
  std::sort(sources.begin(), sources.end(), std::greater<std::string>());
  error = deleteKeys(sources);
  return error.ok() ? keepParent(src) : error;
}

Error QuollBackend::updateMetadata(const StorePath& path,
                                   const std::map<std::string, std::string>& changes) {
  Probe probed;
  Error error = probe(path, true, &probed);
  if (!error.ok()) return error;
  if (probed.kind == Kind::kMissing) {
    return Error::NotFound("set attributes of " + path.display() +
                           ": no such file or directory");
  }
  std::map<std::string, std::string> metadata = probed.head.metadata;
  for (const auto& [name, value] : changes) metadata[name] = value;
  if (probed.kind == Kind::kDirectory && !probed.marker) {
    if (metadata.count(kMetaPerm) == 0) {
      metadata[kMetaPerm] = store_->newMetadata(0777)[kMetaPerm];
    }
    return store_->client->putObject(store_->dirKey(path), nullptr, 0, metadata);
  }
  const std::string key =
      probed.kind == Kind::kFile ? store_->fileKey(path) : store_->dirKey(path);
  return CopyObjectServerSide(*store_->client, {key, probed.head.size, probed.head.etag}, key,
                              &metadata, store_->settings.copyPartBytes,
                              store_->settings.uploadConcurrency);
}

Error QuollBackend::setPermission(const StorePath& path, int32_t perm) {
  char octal[16];
  std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned>(perm & 07777));
  return updateMetadata(path, {{kMetaPerm, octal}});
}

Error QuollBackend::setOwner(const StorePath& path, const std::string& user,
                             const std::string& group) {
  std::map<std::string, std::string> changes;
  if (!user.empty()) changes[kMetaOwner] = user;
  if (!group.empty()) changes[kMetaGroup] = group;
  return updateMetadata(path, changes);
}

Error QuollBackend::open(const StorePath& path, int32_t flags, int32_t perm,
                         std::unique_ptr<Stream>* out) {
  if (path.isRoot()) {
    return Error::AlreadyExists("open " + path.display() + ": is a directory");
  }
  if (flags == OVK_OPEN_READ) {
    ObjectHead head;
    Error error = store_->client->headObject(store_->fileKey(path), &head);
    if (error.code() == OVK_ERR_NOT_FOUND) {
      Probe probed;
      Error again = probe(path, false, &probed);
      if (!again.ok()) return again;
      if (probed.kind == Kind::kDirectory) {
        return Error::AlreadyExists("open " + path.display() + ": is a directory");
      }
      return Error::NotFound("open " + path.display() + ": no such file");
    }
    if (!error.ok()) return error;
    *out = std::make_unique<QuollReadStream>(store_, store_->fileKey(path), head.size,
                                             head.etag);
    return Error();
  }

  // A writer needs its parent directory, and no directory in its place.
  Probe probed;
  Error error = probe(path, false, &probed);
  if (!error.ok()) return error;
  if (probed.kind == Kind::kDirectory) {
    return Error::AlreadyExists("open " + path.display() + ": is a directory");
  }
  if (!path.parent().isRoot()) {
    Probe parent;
    error = probe(path.parent(), false, &parent);
    if (!error.ok()) return error;
    if (parent.kind == Kind::kFile) {
      return Error::AlreadyExists("open " + path.display() + ": " +
                                  path.parent().display() + " is a file");
    }
    if (parent.kind == Kind::kMissing) {
      return Error::NotFound("open " + path.display() + ": parent " +
                             path.parent().display() + " does not exist");
    }
  }
  bool append = (flags & OVK_OPEN_APPEND) != 0 && probed.kind == Kind::kFile;
  std::map<std::string, std::string> metadata =
      append ? probed.head.metadata : store_->newMetadata(perm);
  auto stream = std::make_unique<QuollWriteStream>(store_, store_->fileKey(path),
                                                   std::move(metadata));
  if (append) {
    error = stream->startFrom({store_->fileKey(path), probed.head.size, probed.head.etag});
    if (!error.ok()) return error;
  }
  *out = std::move(stream);
  return Error();
}

}  // namespace ovk::quoll

namespace ovk {

Error CreateQuollBackend(const StoreUri& uri, const Options& options,
                         const std::string& user, std::shared_ptr<Logger> logger,
                         std::unique_ptr<Backend>* out) {
  using namespace quoll;
  auto store = std::make_shared<QuollStore>();
  Error error = ReadQuollSettings(options, uri.authority(), &store->settings);
  if (!error.ok()) return error;
  store->prefix = uri.root().empty() ? "" : uri.root() + "/";
  store->user = user;
  // umask() can only be read by setting it; done once per store, before
  // the store's threads create anything.
  mode_t mask = ::umask(0);
  ::umask(mask);
  store->umask = mask;
  error = S3Client::Create(
      store->settings.client,
      [logger](const std::string& line) {
        if (logger) logger->retry(line);
      },
      &store->client);
  if (!error.ok()) return error;
  // Fails early, with a clear message, on a wrong endpoint, bucket or key.
  error = store->client->headBucket();
  if (!error.ok()) return error;
  *out = std::make_unique<QuollBackend>(std::move(store));
  return Error();
}

}  // namespace ovk
