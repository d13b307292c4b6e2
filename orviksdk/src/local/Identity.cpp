#include "Identity.h"

#include <grp.h>
#include <pwd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace ovk {
namespace local {

namespace {

// Parses a whole decimal id; false for anything else.
bool ParseId(const std::string& text, unsigned long* out) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *out = std::strtoul(text.c_str(), nullptr, 10);
  return *out < 0xFFFFFFFFul;
}

// Calls a *_r lookup with a buffer that grows while the entry does not fit.
template <typename Entry, typename Lookup>
bool Find(Lookup lookup, Entry* entry, std::vector<char>* buffer) {
  buffer->resize(1024);
  for (;;) {
    Entry* found = nullptr;
    int err = lookup(entry, buffer->data(), buffer->size(), &found);
    if (err == ERANGE && buffer->size() < (1u << 20)) {
      buffer->resize(buffer->size() * 2);
      continue;
    }
    return err == 0 && found != nullptr;
  }
}

}  // namespace

std::string Identity::userName(uid_t uid) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = users_.find(uid);
    if (it != users_.end()) return it->second;
  }
  struct passwd pw;
  std::vector<char> buffer;
  std::string name = Find(
                         [uid](passwd* e, char* b, size_t n, passwd** r) {
                           return getpwuid_r(uid, e, b, n, r);
                         },
                         &pw, &buffer)
                         ? std::string(pw.pw_name)
                         : std::to_string(uid);
  std::lock_guard<std::mutex> lock(mu_);
  users_.emplace(uid, name);
  return name;
}

std::string Identity::groupName(gid_t gid) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = groups_.find(gid);
    if (it != groups_.end()) return it->second;
  }
  struct group gr;
  std::vector<char> buffer;
  std::string name = Find(
                         [gid](group* e, char* b, size_t n, group** r) {
                           return getgrgid_r(gid, e, b, n, r);
                         },
                         &gr, &buffer)
                         ? std::string(gr.gr_name)
                         : std::to_string(gid);
  std::lock_guard<std::mutex> lock(mu_);
  groups_.emplace(gid, name);
  return name;
}

Error Identity::UserId(const std::string& name, const std::string& shown, uid_t* out) {
  struct passwd pw;
  std::vector<char> buffer;
  if (Find([&name](passwd* e, char* b, size_t n,
                   passwd** r) { return getpwnam_r(name.c_str(), e, b, n, r); },
           &pw, &buffer)) {
    *out = pw.pw_uid;
    return Error();
  }
  unsigned long id;
  if (ParseId(name, &id)) {
    *out = static_cast<uid_t>(id);
    return Error();
  }
  return Error::InvalidArgument("setOwner " + shown + ": unknown user \"" + name + "\"");
}

Error Identity::GroupId(const std::string& name, const std::string& shown, gid_t* out) {
  struct group gr;
  std::vector<char> buffer;
  if (Find([&name](group* e, char* b, size_t n,
                   group** r) { return getgrnam_r(name.c_str(), e, b, n, r); },
           &gr, &buffer)) {
    *out = gr.gr_gid;
    return Error();
  }
  unsigned long id;
  if (ParseId(name, &id)) {
    *out = static_cast<gid_t>(id);
    return Error();
  }
  return Error::InvalidArgument("setOwner " + shown + ": unknown group \"" + name + "\"");
}

}  // namespace local
}  // namespace ovk
