#include "Options.h"

#include <cerrno>
#include <cstdlib>
#include <strings.h>

namespace ovk {

std::string Options::get(const std::string& key, const std::string& fallback) const {
  auto it = values_.find(key);
  return it == values_.end() ? fallback : it->second;
}

Error Options::getInt64(const std::string& key, int64_t fallback, int64_t min,
                        int64_t max, int64_t* out) const {
  auto it = values_.find(key);
  if (it == values_.end()) {
    *out = fallback;
    return Error();
  }
  const std::string& text = it->second;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || value < min || value > max) {
    return Error::InvalidArgument("option " + key + " must be an integer from " +
                                  std::to_string(min) + " to " + std::to_string(max) +
                                  ", not \"" + text + "\"");
  }
  *out = value;
  return Error();
}

Error Options::getBool(const std::string& key, bool fallback, bool* out) const {
  auto it = values_.find(key);
  if (it == values_.end()) {
    *out = fallback;
    return Error();
  }
  const char* text = it->second.c_str();
  if (strcasecmp(text, "true") == 0 || it->second == "1") {
    *out = true;
    return Error();
  }
  if (strcasecmp(text, "false") == 0 || it->second == "0") {
    *out = false;
    return Error();
  }
  return Error::InvalidArgument("option " + key + " must be true or false, not \"" +
                                it->second + "\"");
}

}  // namespace ovk
