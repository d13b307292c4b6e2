// QuollStore: what the quoll backend and its streams share about one store.
//
// Immutable after creation, so it is shared without locks: the streams keep
// it alive through a shared_ptr even after the backend is gone.
#ifndef ORVIKSDK_QUOLL_QUOLLSTORE_H_
#define ORVIKSDK_QUOLL_QUOLLSTORE_H_

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

#include "QuollOptions.h"
#include "S3Client.h"
#include "StoreUri.h"

namespace ovk::quoll {

// Object metadata names (after x-amz-meta-) that hold what a file system
// keeps but an object store does not.
inline constexpr const char* kMetaPerm = "perm";    // octal, e.g. "644"
inline constexpr const char* kMetaOwner = "owner";
inline constexpr const char* kMetaGroup = "group";

struct QuollStore {
  std::unique_ptr<S3Client> client;
  QuollSettings settings;
  std::string prefix;  // the root's key prefix: "" or "a/b/"
  std::string user;    // owner recorded on what this store creates
  mode_t umask = 022;

  // The object key of a file at `path`.
  std::string fileKey(const StorePath& path) const { return prefix + path.rel(); }
  // The key prefix of the directory `path` (also its marker object's key).
  std::string dirKey(const StorePath& path) const {
    return path.isRoot() ? prefix : prefix + path.rel() + "/";
  }
  // The metadata a new entry gets: its permission and this store's user.
  std::map<std::string, std::string> newMetadata(int32_t perm) const;
};

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_QUOLLSTORE_H_
