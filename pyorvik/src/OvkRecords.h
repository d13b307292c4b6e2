// Plain records the client fills from the SDK's result objects.
// Times are milliseconds since the Unix epoch; -1 in size, perm or a time
// means the store did not report it.
#ifndef PYORVIK_SRC_OVKRECORDS_H_
#define PYORVIK_SRC_OVKRECORDS_H_

#include <cstdint>
#include <string>
#include <vector>

struct OvkFileInfo {
  std::string path;   // full path; a directory's ends with "/"
  std::string user;
  std::string group;
  int8_t type = 0;    // 0 unknown, 1 directory, 2 file, 3 symlink, 4 mount
  int16_t perm = 493; // 0755
  int64_t size = -1;
  int64_t mtime = 0;
  int64_t atime = 0;
};

struct OvkListResult {
  std::vector<OvkFileInfo> entries;  // in the order the SDK gave them
  bool truncated = false;
  std::string nextMarker;
};

struct OvkContentSummary {
  int64_t fileSize = 0;
  int64_t fileCount = 0;
  int64_t directoryCount = 0;
};

#endif  // PYORVIK_SRC_OVKRECORDS_H_
