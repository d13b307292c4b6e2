// OvkConfig: a map of byte-string settings with typed accessors.
//
// Not thread-safe: the Python layer reads and writes it only while holding
// the interpreter lock. Getters never fail: a stored text that cannot be
// read as the requested type writes one diagnostic line to standard error
// and yields the caller's default.
#ifndef PYORVIK_SRC_OVKCONFIG_H_
#define PYORVIK_SRC_OVKCONFIG_H_

#include <cstdint>
#include <map>
#include <string>

class OvkConfig {
 public:
  using Entries = std::map<std::string, std::string>;

  OvkConfig() = default;
  explicit OvkConfig(const Entries& entries) : entries_(entries) {}

  std::string getString(const std::string& key,
                        const std::string& default_value) const;
  void setString(const std::string& key, const std::string& value);
  int64_t getInt64(const std::string& key, int64_t default_value) const;
  void setInt64(const std::string& key, int64_t value);
  int32_t getInt32(const std::string& key, int32_t default_value) const;
  void setInt32(const std::string& key, int32_t value);
  double getDouble(const std::string& key, double default_value) const;
  void setDouble(const std::string& key, double value);
  bool getBool(const std::string& key, bool default_value) const;
  void setBool(const std::string& key, bool value);
  bool contains(const std::string& key) const;
  Entries getAll() const { return entries_; }

 private:
  Entries entries_;
};

#endif  // PYORVIK_SRC_OVKCONFIG_H_
