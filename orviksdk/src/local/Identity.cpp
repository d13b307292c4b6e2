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

// The name of an id through lookup (getpwuid_r or getgrgid_r); the id's
// decimal form when it has none.
template <typename Entry, typename Id, typename Lookup>
std::string NameOf(Id id, Lookup lookup, char* Entry::*name) {
  Entry entry;
  std::vector<char> buffer;
  bool found = Find([id, lookup](Entry* e, char* b, size_t n,
                                 Entry** r) { return lookup(id, e, b, n, r); },
                    &entry, &buffer);
  return found ? std::string(entry.*name) : std::to_string(id);
}

// The id of a name through lookup (getpwnam_r or getgrnam_r), or the name
// read as a decimal id; false when it is neither.
template <typename Entry, typename Id, typename Lookup>
bool IdOf(const std::string& name, Lookup lookup, Id Entry::*id_field,
          Id* out) {
  Entry entry;
  std::vector<char> buffer;
  if (Find([&name, lookup](Entry* e, char* b, size_t n, Entry** r) {
        return lookup(name.c_str(), e, b, n, r);
      },
           &entry, &buffer)) {
    *out = entry.*id_field;
    return true;
  }
  unsigned long id;
  if (!ParseId(name, &id)) return false;
  *out = static_cast<Id>(id);
  return true;
}

// The cached name of id, or resolve(id), cached. The lock is not held
// while resolving: two threads may both resolve one id, to the same name.
template <typename Id, typename Resolve>
std::string CachedName(std::mutex& mu,
                       std::unordered_map<Id, std::string>& cache, Id id,
                       Resolve resolve) {
  {
    std::lock_guard<std::mutex> lock(mu);
    auto it = cache.find(id);
    if (it != cache.end()) return it->second;
  }
  std::string name = resolve(id);
  std::lock_guard<std::mutex> lock(mu);
  cache.emplace(id, name);
  return name;
}

}  // namespace

std::string Identity::userName(uid_t uid) {
  return CachedName(mu_, users_, uid, [](uid_t id) {
    return NameOf(id, getpwuid_r, &passwd::pw_name);
  });
}

std::string Identity::groupName(gid_t gid) {
  return CachedName(mu_, groups_, gid, [](gid_t id) {
    return NameOf(id, getgrgid_r, &group::gr_name);
  });
}

Error Identity::UserId(const std::string& name, const std::string& shown, uid_t* out) {
  if (IdOf(name, getpwnam_r, &passwd::pw_uid, out)) return Error();
  return Error::InvalidArgument("setOwner " + shown + ": unknown user \"" + name + "\"");
}

Error Identity::GroupId(const std::string& name, const std::string& shown, gid_t* out) {
  if (IdOf(name, getgrnam_r, &group::gr_gid, out)) return Error();
  return Error::InvalidArgument("setOwner " + shown + ": unknown group \"" + name + "\"");
}

}  // namespace local
}  // namespace ovk
