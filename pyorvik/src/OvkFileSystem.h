// OvkFileSystem: the native client of one store.
//
// Owns the SDK's options and store handles while connected. Operations
// never throw and report every outcome as an OvkStatus. Not internally
// locked: init and destroy must not run while other operations are in
// progress; the namespace and stream operations may run on any number of
// threads at once on a connected client.
#ifndef PYORVIK_SRC_OVKFILESYSTEM_H_
#define PYORVIK_SRC_OVKFILESYSTEM_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "OvkConfig.h"
#include "OvkReader.h"
#include "OvkRecords.h"
#include "OvkStatus.h"
#include "OvkTask.h"
#include "OvkWriter.h"
#include "orviksdk/ovk_sdk.h"

using OvkFileInfoCallback =
    std::function<void(OvkStatus, std::shared_ptr<OvkFileInfo>)>;
using OvkListResultCallback =
    std::function<void(OvkStatus, std::shared_ptr<OvkListResult>)>;
using OvkContentSummaryCallback =
    std::function<void(OvkStatus, std::shared_ptr<OvkContentSummary>)>;

// Fills info from an SDK entry status; a null status leaves info unchanged.
void covertToFileInfo(const ovk_file_status_t* status, OvkFileInfo* info);

class OvkFileSystem {
 public:
  OvkFileSystem() = default;
  virtual ~OvkFileSystem();
  OvkFileSystem(const OvkFileSystem&) = delete;
  OvkFileSystem& operator=(const OvkFileSystem&) = delete;

  OvkStatus init(const std::string& uri, const std::string& user,
                 std::shared_ptr<OvkConfig> config);
  OvkStatus destroy();
  std::pair<ovk_store_t*, OvkStatus> GetOvkStore(const std::string& path);

  OvkStatus mkdir(const std::string& path, bool recursive);
  // Replaces an existing destination (removed first, not recursively), but
  // keeps it when both names are one entry (then OK, nothing is done) or
  // when the source's status cannot be read (the SDK's rename then fails).
  OvkStatus rename(const std::string& src, const std::string& dst);
  OvkStatus exists(const std::string& path);
  OvkStatus remove(const std::string& path, bool recursive);
  OvkStatus getFileInfo(const std::string& path, OvkFileInfo* info);
  OvkStatus getFileInfoInternal(ovk_store_t* store, const std::string& path,
                                OvkFileInfo* info);
  OvkStatus listDir(const std::string& path, bool recursive,
                    OvkListResult* result);
  OvkStatus getContentSummary(const std::string& path, bool flag,
                              OvkContentSummary* summary);
  OvkStatus setPermission(const std::string& path, int16_t perm);
  OvkStatus setOwner(const std::string& path, const std::string& user,
                     const std::string& group);

  // Asynchronous twins: each returns the request's handle, or null when
  // nothing was started (client not connected; for renameAsync also a
  // destination that could not be removed), in which case done is never
  // called. Otherwise done runs exactly once, on an SDK thread.
  std::shared_ptr<OvkTask> mkdirAsync(const std::string& path, bool recursive,
                                      OvkStatusCallback done);
  std::shared_ptr<OvkTask> renameAsync(const std::string& src,
                                       const std::string& dst,
                                       OvkStatusCallback done);
  std::shared_ptr<OvkTask> existsAsync(const std::string& path,
                                       OvkStatusCallback done);
  std::shared_ptr<OvkTask> removeAsync(const std::string& path, bool recursive,
                                       OvkStatusCallback done);
  std::shared_ptr<OvkTask> getFileInfoAsync(const std::string& path,
                                            OvkFileInfoCallback done);
  std::shared_ptr<OvkTask> listDirAsync(const std::string& path,
                                        bool recursive,
                                        OvkListResultCallback done);
  std::shared_ptr<OvkTask> getContentSummaryAsync(
      const std::string& path, bool flag, OvkContentSummaryCallback done);
  std::shared_ptr<OvkTask> setPermissionAsync(const std::string& path,
                                              int16_t perm,
                                              OvkStatusCallback done);
  std::shared_ptr<OvkTask> setOwnerAsync(const std::string& path,
                                         const std::string& user,
                                         const std::string& group,
                                         OvkStatusCallback done);

  // Opens path for reading (flags 0x10000) or writing (flags 3, or
  // 3 | 0x400 to append). On success *out owns the new stream; on failure
  // *out is untouched.
  OvkStatus openReader(const std::string& path,
                       std::unique_ptr<OvkReader>* out);
  OvkStatus openWriter(const std::string& path,
                       std::unique_ptr<OvkWriter>* out);
  OvkStatus openAppender(const std::string& path,
                         std::unique_ptr<OvkWriter>* out);

 private:
  ovk_store_t* store_ = nullptr;
  ovk_options_t* options_ = nullptr;
  bool inited_ = false;
};

#endif  // PYORVIK_SRC_OVKFILESYSTEM_H_
