#include "OvkConfig.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <limits>
#include <locale>
#include <sstream>

namespace {

// The only trace of an unreadable value: one line on standard error.
void reportBadValue(const char* what, const std::string& text) {
  std::cerr.write(what, static_cast<std::streamsize>(std::char_traits<char>::length(what)));
  std::cerr.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cerr << '\n' << std::flush;
}

// The whole stored text must be one number: nothing converted, or anything
// left after the number (trailing blanks included), makes it invalid.
bool convertedWhole(const std::string& text, const char* end, int saved_errno) {
  if (end == text.c_str() || saved_errno == EINVAL) return false;
  return end == text.c_str() + text.size();
}

bool equalsIgnoringCase(const std::string& text, const char* word) {
  size_t length = std::char_traits<char>::length(word);
  if (text.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

}  // namespace

std::string OvkConfig::getString(const std::string& key,
                                 const std::string& default_value) const {
  auto it = entries_.find(key);
  return it == entries_.end() ? default_value : it->second;
}

void OvkConfig::setString(const std::string& key, const std::string& value) {
  entries_[key] = value;
}

int64_t OvkConfig::getInt64(const std::string& key,
                            int64_t default_value) const {
  auto it = entries_.find(key);
  if (it == entries_.end()) return default_value;
  const std::string& text = it->second;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text.c_str(), &end, 0);
  int saved_errno = errno;
  if (!convertedWhole(text, end, saved_errno)) {
    reportBadValue("Invalid int64_t type: ", text);
    return default_value;
  }
  if (saved_errno == ERANGE) {
    reportBadValue("Underflow/Overflow int64_t type: ", text);
    return default_value;
  }
  return static_cast<int64_t>(value);
}

void OvkConfig::setInt64(const std::string& key, int64_t value) {
  entries_[key] = std::to_string(value);
}

int32_t OvkConfig::getInt32(const std::string& key,
                            int32_t default_value) const {
  auto it = entries_.find(key);
  if (it == entries_.end()) return default_value;
  const std::string& text = it->second;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text.c_str(), &end, 0);
  int saved_errno = errno;
  if (!convertedWhole(text, end, saved_errno)) {
    reportBadValue("Invalid int32_t type: ", text);
    return default_value;
  }
  if (saved_errno == ERANGE || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max()) {
    reportBadValue("Underflow/Overflow int32_t type: ", text);
    return default_value;
  }
  return static_cast<int32_t>(value);
}

void OvkConfig::setInt32(const std::string& key, int32_t value) {
  entries_[key] = std::to_string(value);
}

double OvkConfig::getDouble(const std::string& key,
                            double default_value) const {
  auto it = entries_.find(key);
  if (it == entries_.end()) return default_value;
  const std::string& text = it->second;
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(text.c_str(), &end);
  int saved_errno = errno;
  if (!convertedWhole(text, end, saved_errno)) {
    reportBadValue("Invalid double type: ", text);
    return default_value;
  }
  // Doubles share the int64 wording of the range diagnostic.
  if (saved_errno == ERANGE || std::isinf(value)) {
    reportBadValue("Underflow/Overflow int64_t type: ", text);
    return default_value;
  }
  return value;
}

void OvkConfig::setDouble(const std::string& key, double value) {
  // The classic locale keeps the decimal point a '.' whatever the process
  // locale is, so the stored text reads back with any parser.
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << std::fixed << std::setprecision(6) << value;
  entries_[key] = out.str();
}

bool OvkConfig::getBool(const std::string& key, bool default_value) const {
  auto it = entries_.find(key);
  if (it == entries_.end()) return default_value;
  const std::string& text = it->second;
  if (text == "1" || equalsIgnoringCase(text, "true")) return true;
  if (text == "0" || equalsIgnoringCase(text, "false")) return false;
  reportBadValue("Invalid bool type: ", text);
  return default_value;
}

void OvkConfig::setBool(const std::string& key, bool value) {
  entries_[key] = value ? "1" : "0";
}

bool OvkConfig::contains(const std::string& key) const {
  return entries_.count(key) != 0;
}
