#include "SdkTestSupport.h"

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ovktest {

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "{code " << o.code << ", \"" << o.message << "\"}";
}

Status CopyStatus(const ovk_file_status_t* s) {
  Status out;
  auto text = [](const char* t) { return t != nullptr ? std::string(t) : std::string(); };
  out.path = text(ovk_getFileStatusPath(s));
  out.user = text(ovk_getFileStatusUser(s));
  out.group = text(ovk_getFileStatusGroup(s));
  out.type = ovk_getFileStatusType(s);
  out.perm = ovk_getFileStatusPerm(s);
  out.size = ovk_getFileStatusSize(s);
  out.mtime = ovk_getFileStatusMtime(s);
  out.atime = ovk_getFileStatusAtime(s);
  return out;
}

Outcome Take(ovk_handle_ctx_t* ctx) {
  Outcome o;
  o.code = ovk_getHandleCtxErrorCode(ctx);
  const char* m = ovk_getHandleCtxErrorMsg(ctx);
  o.message = m != nullptr ? m : "";
  ovk_freeHandleCtx(ctx);
  return o;
}

TempDir::TempDir() {
  const char* tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/ovk-sdk-test-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  // Tests make directories unreadable or unwritable; give access back first.
  nftw(
      path_.c_str(),
      [](const char* p, const struct stat* st, int flag, struct FTW*) {
        if (flag == FTW_D || flag == FTW_DNR) ::chmod(p, 0700);
        (void)st;
        return 0;
      },
      32, FTW_PHYS);
  nftw(
      path_.c_str(),
      [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 32,
      FTW_DEPTH | FTW_PHYS);
}

void WriteLocalFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
}

std::string ReadLocalFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TestStore::TestStore(const std::string& uri, const std::map<std::string, std::string>& options) {
  ovk_options_t* opt = ovk_createOptions();
  ovk_setOption(opt, "logger.appender", "none");
  for (const auto& [k, v] : options) ovk_setOption(opt, k.c_str(), v.c_str());
  store_ = ovk_createStore(opt, uri.c_str());
  ovk_freeOptions(opt);
  ovk_handle_ctx_t* c = ovk_createHandleCtx1(store_);
  ovk_init(c, "tester");
  init_ = Take(c);
}

TestStore::~TestStore() {
  if (!destroyed_) destroy();
  ovk_freeStore(store_);
}

Outcome TestStore::destroy() {
  destroyed_ = true;
  ovk_handle_ctx_t* c = ctx();
  ovk_destroyStore(c, store_);
  return Take(c);
}

Outcome TestStore::mkdir(const std::string& path, bool recursive, int32_t perm) {
  ovk_handle_ctx_t* c = ctx();
  bool r = ovk_mkdir(c, path.c_str(), recursive, perm, nullptr);
  Outcome o = Take(c);
  EXPECT_EQ(r, o.ok()) << "mkdir " << path << " returned " << r << " with " << o;
  return o;
}

Outcome TestStore::rename(const std::string& src, const std::string& dst) {
  ovk_handle_ctx_t* c = ctx();
  bool r = ovk_rename(c, src.c_str(), dst.c_str(), nullptr);
  Outcome o = Take(c);
  EXPECT_EQ(r, o.ok()) << "rename " << src << " returned " << r << " with " << o;
  return o;
}

Outcome TestStore::exists(const std::string& path, bool* found) {
  ovk_handle_ctx_t* c = ctx();
  *found = ovk_exists(c, path.c_str(), nullptr);
  return Take(c);
}

Outcome TestStore::remove(const std::string& path, bool recursive) {
  ovk_handle_ctx_t* c = ctx();
  bool r = ovk_remove(c, path.c_str(), recursive, nullptr);
  Outcome o = Take(c);
  EXPECT_EQ(r, o.ok()) << "remove " << path << " returned " << r << " with " << o;
  return o;
}

Outcome TestStore::status(const std::string& path, Status* out) {
  ovk_handle_ctx_t* c = ctx();
  ovk_file_status_t* s = ovk_getFileStatus(c, path.c_str(), nullptr);
  Outcome o = Take(c);
  EXPECT_EQ(s != nullptr, o.ok()) << "getFileStatus " << path << " " << o;
  if (s != nullptr && out != nullptr) *out = CopyStatus(s);
  ovk_freeFileStatus(s);
  return o;
}

Outcome TestStore::list(const std::string& path, bool recursive, std::vector<Status>* out,
                        bool* truncated, std::string* marker) {
  ovk_handle_ctx_t* c = ctx();
  ovk_list_dir_result_t* l = ovk_listDir(c, path.c_str(), recursive, nullptr);
  Outcome o = Take(c);
  EXPECT_EQ(l != nullptr, o.ok()) << "listDir " << path << " " << o;
  if (l != nullptr) {
    out->clear();
    for (int64_t i = 0; i < ovk_getListDirResultSize(l); ++i) {
      out->push_back(CopyStatus(ovk_getListDirFileStatus(l, i)));
    }
    if (truncated != nullptr) *truncated = ovk_isListDirResultTruncated(l);
    if (marker != nullptr) {
      const char* m = ovk_getListDirResultNextMarker(l);
      *marker = m != nullptr ? m : "";
    }
  }
  ovk_freeListDirResult(l);
  return o;
}

Outcome TestStore::summary(const std::string& path, bool whole, int64_t* size, int64_t* files,
                           int64_t* dirs) {
  ovk_handle_ctx_t* c = ctx();
  ovk_content_summary_t* s = ovk_getContentSummary(c, path.c_str(), whole, nullptr);
  Outcome o = Take(c);
  if (s != nullptr) {
    *size = ovk_getContentSummaryFileSize(s);
    *files = ovk_getContentSummaryFileCount(s);
    *dirs = ovk_getContentSummaryDirectoryCount(s);
  }
  ovk_freeContentSummary(s);
  return o;
}

Outcome TestStore::chmod(const std::string& path, int32_t perm) {
  ovk_handle_ctx_t* c = ctx();
  ovk_setPermission(c, path.c_str(), perm, nullptr);
  return Take(c);
}

Outcome TestStore::chown(const std::string& path, const char* user, const char* group) {
  ovk_handle_ctx_t* c = ctx();
  ovk_setOwner(c, path.c_str(), user, group, nullptr);
  return Take(c);
}

ovk_io_context_t* TestStore::open(const std::string& path, int32_t flags, Outcome* outcome) {
  ovk_handle_ctx_t* c = ctx();
  ovk_io_context_t* s = ovk_open(c, path.c_str(), flags, 0777, nullptr);
  *outcome = Take(c);
  EXPECT_EQ(s != nullptr, outcome->ok()) << "open " << path << " " << *outcome;
  return s;
}

Outcome TestStore::copyFrom(ovk_io_context_t* to, ovk_io_context_t* from, int64_t* copied) {
  ovk_handle_ctx_t* c = ctx(to);
  *copied = ovk_copyFrom(c, from, nullptr);
  return Take(c);
}

Outcome TestStore::write(ovk_io_context_t* s, const std::string& data) {
  ovk_handle_ctx_t* c = ctx(s);
  int64_t n = ovk_write(c, data.data(), data.size(), nullptr);
  Outcome o = Take(c);
  if (o.ok()) {
    EXPECT_EQ(n, static_cast<int64_t>(data.size()));
  }
  return o;
}

Outcome TestStore::read(ovk_io_context_t* s, char* buf, uint64_t n, int64_t* got) {
  ovk_handle_ctx_t* c = ctx(s);
  *got = ovk_read(c, buf, n, nullptr);
  return Take(c);
}

Outcome TestStore::pread(ovk_io_context_t* s, char* buf, uint64_t n, int64_t offset,
                         int64_t* got) {
  ovk_handle_ctx_t* c = ctx(s);
  *got = ovk_pread(c, buf, n, offset, nullptr);
  return Take(c);
}

Outcome TestStore::close(ovk_io_context_t* s) {
  ovk_handle_ctx_t* c = ctx(s);
  bool r = ovk_close(c, nullptr);
  Outcome o = Take(c);
  EXPECT_EQ(r, o.ok()) << "close returned " << r << " with " << o;
  return o;
}

Outcome TestStore::tell(ovk_io_context_t* s, int64_t* out) {
  ovk_handle_ctx_t* c = ctx(s);
  *out = ovk_tell(c, nullptr);
  return Take(c);
}

Outcome TestStore::seek(ovk_io_context_t* s, int64_t offset, int64_t* out) {
  ovk_handle_ctx_t* c = ctx(s);
  *out = ovk_seek(c, offset, nullptr);
  return Take(c);
}

Outcome TestStore::length(ovk_io_context_t* s, int64_t* out) {
  ovk_handle_ctx_t* c = ctx(s);
  *out = ovk_getFileLength(c, nullptr);
  return Take(c);
}

Outcome TestStore::writeFile(const std::string& path, const std::string& data, int32_t flags) {
  Outcome o;
  ovk_io_context_t* s = open(path, flags, &o);
  if (s == nullptr) return o;
  o = write(s, data);
  Outcome closed = close(s);
  ovk_freeIOContext(s);
  return o.ok() ? closed : o;
}

Outcome TestStore::readFile(const std::string& path, std::string* out) {
  Outcome o;
  ovk_io_context_t* s = open(path, OVK_OPEN_READ, &o);
  if (s == nullptr) return o;
  out->clear();
  char buf[4096];
  for (;;) {
    int64_t got = 0;
    o = read(s, buf, sizeof buf, &got);
    if (!o.ok()) break;
    EXPECT_NE(got, 0) << "read returned 0 for a non-zero request";
    if (got <= 0) break;
    out->append(buf, static_cast<size_t>(got));
  }
  Outcome closed = close(s);
  ovk_freeIOContext(s);
  return o.ok() ? closed : o;
}

}  // namespace ovktest
