// QuollBackend: the file-system view of an S3-compatible bucket.
//
// Directories are key prefixes ending in "/"; an empty directory is kept by
// a zero-byte marker object named like the prefix ("dir/"). A directory
// exists when its marker or any key below it exists, so objects written by
// other clients show their parent directories without markers. Files carry
// their permission, owner and group as object metadata.
//
// Operations that touch several objects (rename and remove of directories)
// are not atomic on an object store: rename copies everything first and
// deletes the source only when every copy succeeded, so a failure leaves
// the source whole (and removes the partial copy); remove deletes in
// batches and a failure may leave part of the tree.
//
// Thread-safe: all state is the immutable QuollStore.
#ifndef ORVIKSDK_QUOLL_QUOLLBACKEND_H_
#define ORVIKSDK_QUOLL_QUOLLBACKEND_H_

#include <memory>
#include <string>
#include <vector>

#include "Backend.h"
#include "QuollStore.h"

namespace ovk::quoll {

class QuollBackend : public Backend {
 public:
  explicit QuollBackend(std::shared_ptr<const QuollStore> store);

  Error mkdir(const StorePath& path, bool recursive, int32_t perm) override;
  Error rename(const StorePath& src, const StorePath& dst) override;
  Error exists(const StorePath& path, bool* found) override;
  Error remove(const StorePath& path, bool recursive) override;
  Error getFileStatus(const StorePath& path, EntryStatus* out) override;
  Error listDir(const StorePath& path, bool recursive,
                std::vector<EntryStatus>* out) override;
  Error getContentSummary(const StorePath& path, bool wholeSubtree,
                          ContentSummary* out) override;
  Error setPermission(const StorePath& path, int32_t perm) override;
  Error setOwner(const StorePath& path, const std::string& user,
                 const std::string& group) override;
  Error open(const StorePath& path, int32_t flags, int32_t perm,
             std::unique_ptr<Stream>* out) override;

 private:
  enum class Kind { kMissing, kFile, kDirectory };
  struct Probe {
    Kind kind = Kind::kMissing;
    bool marker = false;  // a directory with its own marker object
    ObjectHead head;      // of the file, or of the marker when read
  };

  // What `path` is: HEAD of the file key, then one listing of one key below
  // it, so a file takes one request and a missing path or a directory two.
  // With `markerMetadata`, a directory that has a marker takes a third, the
  // marker's HEAD, for the metadata that listings do not return.
  Error probe(const StorePath& path, bool markerMetadata, Probe* out);
  // Every key below `prefix` (all pages), or with `delimiter` the keys and
  // sub-prefixes of one level.
  Error listAll(const std::string& prefix, bool oneLevel,
                std::vector<ListedObject>* objects,
                std::vector<std::string>* prefixes);
  Error deleteKeys(const std::vector<std::string>& keys);
  // Keeps `path`'s parent directory in existence once `path` is gone, by
  // giving it a marker when nothing else is left below it.
  Error keepParent(const StorePath& path);
  Error updateMetadata(const StorePath& path,
                       const std::map<std::string, std::string>& changes);
  EntryStatus fileStatus(const StorePath& path, const ObjectHead& head) const;
  EntryStatus directoryStatus(const StorePath& path, const ObjectHead* marker) const;

  std::shared_ptr<const QuollStore> store_;
};

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_QUOLLBACKEND_H_
