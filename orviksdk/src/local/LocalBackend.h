// LocalBackend: the file:// backend, a directory tree on a local file system.
//
// Every operation is confined beneath the store's root by RootDir: parents
// are opened beneath the root's descriptor without following links, and
// the last component is handled with *at() calls that do not follow links
// either (AT_SYMLINK_NOFOLLOW, O_NOFOLLOW). Symbolic links are reported as
// OVK_TYPE_SYMLINK and can be listed, renamed and removed, never followed:
// opening or listing through one fails with OVK_ERR_INVALID_ARGUMENT.
// Writers' hidden temporary files never appear in listings or summaries.
//
// Thread-safe: it keeps no mutable state besides the name cache of
// Identity.
#ifndef ORVIKSDK_SRC_LOCAL_LOCALBACKEND_H_
#define ORVIKSDK_SRC_LOCAL_LOCALBACKEND_H_

#include <sys/stat.h>

#include "../Backend.h"
#include "Identity.h"
#include "RootDir.h"

namespace ovk {
namespace local {

class LocalBackend : public Backend {
 public:
  LocalBackend(RootDir root, bool fsync) : root_(std::move(root)), fsync_(fsync) {}

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
  // Opens the parent of `path` (not the root) for *at() calls.
  Error parentOf(const StorePath& path, const char* operation, Fd* out) const;
  // lstat of `path`; a missing path or parent is OVK_ERR_NOT_FOUND.
  Error statOf(const StorePath& path, const char* operation, struct stat* st) const;
  void fill(const StorePath& path, const struct stat& st, EntryStatus* out);
  // Appends the entries of the open directory `dir` (its path `path`).
  Error listInto(int dir, const StorePath& path, bool recursive,
                 std::vector<EntryStatus>* out);
  Error summarise(int dir, const StorePath& path, bool recursive, ContentSummary* out);
  Error removeTree(int parent, const StorePath& path);

  const RootDir root_;
  const bool fsync_;
  Identity ids_;
};

}  // namespace local
}  // namespace ovk

#endif  // ORVIKSDK_SRC_LOCAL_LOCALBACKEND_H_
