// Identity: user and group names of the local system, both ways.
//
// Name lookups go through NSS (getpwuid_r and friends), which can be slow,
// so names of ids are cached for the life of the backend: a listing of a
// large directory costs one lookup per distinct owner. Thread-safe.
#ifndef ORVIKSDK_SRC_LOCAL_IDENTITY_H_
#define ORVIKSDK_SRC_LOCAL_IDENTITY_H_

#include <sys/types.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "../Error.h"

namespace ovk {
namespace local {

class Identity {
 public:
  // The name of a user or group id; its decimal form when it has no name.
  std::string userName(uid_t uid);
  std::string groupName(gid_t gid);

  // A user or group given by name or as a decimal id. Unknown names are
  // OVK_ERR_INVALID_ARGUMENT naming `shown` (the path of the call).
  static Error UserId(const std::string& name, const std::string& shown, uid_t* out);
  static Error GroupId(const std::string& name, const std::string& shown, gid_t* out);

 private:
  std::mutex mu_;
  std::unordered_map<uid_t, std::string> users_;   // guarded by mu_
  std::unordered_map<gid_t, std::string> groups_;  // guarded by mu_
};

}  // namespace local
}  // namespace ovk

#endif  // ORVIKSDK_SRC_LOCAL_IDENTITY_H_
