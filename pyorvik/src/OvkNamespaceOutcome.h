// The statuses of the namespace operations, built in one place so that the
// blocking operations and the completion callbacks of their asynchronous
// twins report the same codes and messages. Internal to the client.
#ifndef PYORVIK_SRC_OVKNAMESPACEOUTCOME_H_
#define PYORVIK_SRC_OVKNAMESPACEOUTCOME_H_

#include <string>

#include "OvkFileSystem.h"
#include "OvkSdkCall.h"
#include "OvkStatus.h"

// What rename does with a destination that exists.
enum class ExistingDestination {
  kReplace,    // a different entry: removed first, then the source renamed
  kSameEntry,  // the source itself (both names resolve to one path): kept,
               // and the rename succeeds without a call
  kKeep,       // the source's status cannot be read: kept, and the rename
               // left to the SDK, which reports what is wrong
};

// Decides from the statuses of src and dst (read through fs on store).
// Removing the destination before a rename that cannot succeed would lose
// it, so it is removed only when the source is known to exist and to be a
// different entry.
ExistingDestination existingDestination(OvkFileSystem& fs, ovk_store_t* store,
                                        const std::string& src,
                                        const std::string& dst);

// An SDK error becomes prefix + the SDK's message with the SDK's code; a
// false result without an error becomes on_false(); otherwise OK.
template <typename OnFalse>
OvkStatus boolOutcome(const SdkOutcome& outcome, bool result,
                      const char* prefix, OnFalse on_false) {
  if (!outcome.ok()) return sdkStatus(outcome, prefix);
  if (!result) return on_false();
  return OvkStatus();
}

inline OvkStatus mkdirOutcome(const SdkOutcome& outcome, bool result,
                              const std::string& path) {
  return boolOutcome(outcome, result, "mkdir failed: ", [&] {
    return OvkStatus::IOError("mkdir failed: ", path);
  });
}

inline OvkStatus renameOutcome(const SdkOutcome& outcome, bool result,
                               const std::string& src,
                               const std::string& dst) {
  return boolOutcome(outcome, result, "rename failed: ", [&] {
    return OvkStatus::IOError("rename failed, from ", src, " to ", dst);
  });
}

inline OvkStatus existsOutcome(const SdkOutcome& outcome, bool result,
                               const std::string& path) {
  return boolOutcome(outcome, result, "exists failed: ", [&] {
    return OvkStatus::NotFound(path, " doesn't exist.");
  });
}

inline OvkStatus removeOutcome(const SdkOutcome& outcome, bool result,
                               const std::string& path, bool recursive) {
  return boolOutcome(outcome, result, "delete failed: ", [&] {
    return OvkStatus::IOError("delete failed: ", path, " recursive ",
                              recursive);
  });
}

inline OvkStatus setPermissionOutcome(const SdkOutcome& outcome, bool result,
                                      const std::string& path) {
  return boolOutcome(outcome, result, "setPermission failed: ", [&] {
    return OvkStatus::IOError("setPermission failed: ", path);
  });
}

inline OvkStatus setOwnerOutcome(const SdkOutcome& outcome, bool result,
                                 const std::string& path) {
  return boolOutcome(outcome, result, "setOwner failed: ", [&] {
    return OvkStatus::IOError("setOwner failed: ", path);
  });
}

// The SDK's not-found code is reported as the client's own NotFound.
inline OvkStatus fileStatusOutcome(const SdkOutcome& outcome,
                                   const std::string& path) {
  if (outcome.code == OvkStatus::kNotFound) {
    return OvkStatus::NotFound("cant not found ", path);
  }
  return sdkStatus(outcome, "get status failed: ");
}

inline OvkStatus listDirOutcome(const SdkOutcome& outcome) {
  return sdkStatus(outcome, "get children failed: ");
}

inline OvkStatus contentSummaryOutcome(const SdkOutcome& outcome) {
  return sdkStatus(outcome, "get content summary failed: ");
}

#endif  // PYORVIK_SRC_OVKNAMESPACEOUTCOME_H_
