// StoreUri and StorePath: where a store lives, and which entry a path names.
//
// A store URI is "file:///abs/root" (also "file:/abs/root",
// "file://localhost/abs/root" or a plain absolute path "/abs/root") for the
// local backend, and "quoll://bucket[/prefix]" (alias "s3://") for the
// S3-compatible backend. Operation paths are store-absolute ("/dir/file"),
// relative to the root ("dir/file"), or full URIs of the same store
// ("file:///abs/root/dir/file", "s3://bucket/prefix/dir/file").
//
// Every path is reduced to a StorePath by splitting on "/": empty
// components ("//", a trailing "/") are dropped, and a component that is
// "." or "..", also when written with percent escapes ("%2e", ".%2E"), is
// refused with OVK_ERR_INVALID_ARGUMENT: a StorePath can name nothing above
// the root. This is the first line of defence only; the local backend also
// resolves every path beneath an open descriptor of the root.
//
// Immutable after Parse; safe to share between threads.
#ifndef ORVIKSDK_SRC_STOREURI_H_
#define ORVIKSDK_SRC_STOREURI_H_

#include <string>
#include <vector>

#include "Error.h"

namespace ovk {

// A path inside a store, relative to its root: components joined by "/",
// with no leading or trailing "/"; the empty path is the root itself.
class StorePath {
 public:
  StorePath() = default;
  explicit StorePath(std::string rel) : rel_(std::move(rel)) {}

  const std::string& rel() const { return rel_; }
  bool isRoot() const { return rel_.empty(); }
  // The last component ("" for the root).
  std::string name() const;
  // The path without its last component (the root for a top-level entry).
  StorePath parent() const;
  // A child entry of this path.
  StorePath child(const std::string& name) const;
  // "/rel": the form used in messages.
  std::string display() const { return "/" + rel_; }

  bool operator==(const StorePath& o) const { return rel_ == o.rel_; }

 private:
  std::string rel_;
};

class StoreUri {
 public:
  enum class Scheme { kFile, kQuoll };

  // Parses a store URI. Failures are OVK_ERR_INVALID_URI, naming the URI.
  static Error Parse(const std::string& uri, StoreUri* out);

  Scheme scheme() const { return scheme_; }
  // The bucket of a quoll store; empty for a file store.
  const std::string& authority() const { return authority_; }
  // The root: for a file store the absolute directory ("/" or "/a/b"); for
  // a quoll store the key prefix without slashes at either end ("" or "a/b").
  const std::string& root() const { return root_; }
  // The URI as given to Parse.
  const std::string& original() const { return original_; }

  // Converts an operation path to a StorePath; `path` may be NULL (refused).
  Error resolve(const char* path, StorePath* out) const;

  // The full URI of an entry, as returned to callers: the store's URI, "/",
  // the entry's path, and a final "/" for directories (the root is the
  // store's URI followed by "/"). resolve() accepts every such URI back.
  std::string entryUri(const StorePath& path, bool directory) const;

 private:
  Scheme scheme_ = Scheme::kFile;
  std::string authority_;
  std::string root_;
  std::vector<std::string> rootComponents_;
  std::string base_;  // "file:///abs/root" or "quoll://bucket/prefix", no final "/"
  std::string original_;
};

}  // namespace ovk

#endif  // ORVIKSDK_SRC_STOREURI_H_
