// The behaviour every backend keeps: the namespace (directories, entries,
// listings, summaries, permissions). Streams follow in StoreConformanceStreams.cpp.
#include "StoreConformance.h"

#include <chrono>
#include <vector>

namespace ovktest {

std::string TargetName(const ::testing::TestParamInfo<StoreTarget>& info) {
  return info.param.name;
}

void StoreConformance::SetUp() {
  location_ = GetParam().makeStore();
  store_ = std::make_unique<TestStore>(location_.uri, GetParam().options);
  ASSERT_TRUE(store_->initOutcome().ok()) << store_->initOutcome();
}

std::unique_ptr<TestStore> StoreConformance::reopen(
    const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> options = GetParam().options;
  for (const auto& [k, v] : extra) options[k] = v;
  return std::make_unique<TestStore>(location_.uri, options);
}

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::vector<std::string> Paths(const std::vector<Status>& entries) {
  std::vector<std::string> out;
  for (const Status& s : entries) out.push_back(s.path);
  return out;
}

}  // namespace

// ---- namespace ----

TEST_P(StoreConformance, MkdirCreatesADirectoryAndIsIdempotent) {
  ASSERT_TRUE(store().mkdir("/d").ok());
  EXPECT_TRUE(store().mkdir("/d").ok()) << "mkdir of an existing directory must succeed";
  Status st;
  ASSERT_TRUE(store().status("/d", &st).ok());
  EXPECT_EQ(st.type, OVK_TYPE_DIRECTORY);
  EXPECT_EQ(st.path, prefix() + "d/");
}

TEST_P(StoreConformance, MkdirRecursiveCreatesEveryLevel) {
  ASSERT_TRUE(store().mkdir("/a/b/c", true).ok());
  for (const char* p : {"/a", "/a/b", "/a/b/c"}) {
    Status st;
    ASSERT_TRUE(store().status(p, &st).ok()) << p;
    EXPECT_EQ(st.type, OVK_TYPE_DIRECTORY) << p;
  }
}

TEST_P(StoreConformance, MkdirWithoutParentFailsUnlessRecursive) {
  if (GetParam().implicitDirectories) GTEST_SKIP() << "directories are implicit here";
  Outcome o = store().mkdir("/missing/child");
  EXPECT_EQ(o.code, OVK_ERR_NOT_FOUND) << o;
  EXPECT_NE(o.message.find("/missing/child"), std::string::npos) << o;
}

TEST_P(StoreConformance, MkdirWhereAFileIsFailsWithWrongType) {
  ASSERT_TRUE(store().writeFile("/f", "x").ok());
  EXPECT_EQ(store().mkdir("/f").code, OVK_ERR_ALREADY_EXISTS);
  EXPECT_EQ(store().mkdir("/f/sub", true).code, OVK_ERR_ALREADY_EXISTS);
  std::string content;
  ASSERT_TRUE(store().readFile("/f", &content).ok());
  EXPECT_EQ(content, "x");
}

TEST_P(StoreConformance, ExistsTellsEntriesFromMissingPaths) {
  ASSERT_TRUE(store().mkdir("/dir").ok());
  ASSERT_TRUE(store().writeFile("/dir/file", "abc").ok());
  struct Case {
    const char* path;
    bool found;
  } cases[] = {{"/", true},         {"/dir", true},          {"/dir/", true},
               {"/dir/file", true}, {"/dir/missing", false}, {"/missing/deeper", false},
               {"/dir/file/below", false}};
  for (const Case& c : cases) {
    bool found = !c.found;
    Outcome o = store().exists(c.path, &found);
    EXPECT_TRUE(o.ok()) << c.path << " " << o;
    EXPECT_EQ(found, c.found) << c.path;
  }
}

TEST_P(StoreConformance, GetFileStatusDescribesAFile) {
  int64_t before = NowMs();
  ASSERT_TRUE(store().writeFile("/file.bin", std::string(1234, 'z')).ok());
  Status st;
  ASSERT_TRUE(store().status("/file.bin", &st).ok());
  EXPECT_EQ(st.path, prefix() + "file.bin");
  EXPECT_EQ(st.type, OVK_TYPE_FILE);
  EXPECT_EQ(st.size, 1234);
  EXPECT_GE(st.mtime, before - 2000);
  EXPECT_LE(st.mtime, NowMs() + 2000);
  if (GetParam().posixPermissions) {
    EXPECT_GE(st.perm, 0);
    EXPECT_LE(st.perm, 07777);
    EXPECT_FALSE(st.user.empty());
    EXPECT_FALSE(st.group.empty());
  }
}

TEST_P(StoreConformance, GetFileStatusOfAMissingPathIsNotFoundNamingIt) {
  Outcome o = store().status("/no/such/entry");
  EXPECT_EQ(o.code, OVK_ERR_NOT_FOUND);
  EXPECT_NE(o.message.find("/no/such/entry"), std::string::npos) << o;
}

TEST_P(StoreConformance, RemoveHandlesFilesDirectoriesAndErrors) {
  ASSERT_TRUE(store().mkdir("/full/sub", true).ok());
  ASSERT_TRUE(store().writeFile("/full/sub/f", "1").ok());
  ASSERT_TRUE(store().mkdir("/empty").ok());
  ASSERT_TRUE(store().writeFile("/plain", "2").ok());

  EXPECT_EQ(store().remove("/missing").code, OVK_ERR_NOT_FOUND);
  Outcome o = store().remove("/full");
  EXPECT_EQ(o.code, OVK_ERR_NOT_EMPTY) << o;
  EXPECT_NE(o.message.find("/full"), std::string::npos) << o;
  bool found = false;
  store().exists("/full/sub/f", &found);
  EXPECT_TRUE(found) << "a refused remove must not delete anything";

  EXPECT_EQ(store().remove("/", true).code, OVK_ERR_INVALID_ARGUMENT);
  EXPECT_TRUE(store().remove("/plain").ok());
  EXPECT_TRUE(store().remove("/empty").ok());
  EXPECT_TRUE(store().remove("/full", true).ok());
  for (const char* p : {"/plain", "/empty", "/full", "/full/sub/f"}) {
    store().exists(p, &found);
    EXPECT_FALSE(found) << p;
  }
}

TEST_P(StoreConformance, RenameMovesFilesAndDirectories) {
  ASSERT_TRUE(store().mkdir("/src/inner", true).ok());
  ASSERT_TRUE(store().writeFile("/src/inner/f", "payload").ok());
  ASSERT_TRUE(store().rename("/src", "/dst").ok());
  std::string content;
  ASSERT_TRUE(store().readFile("/dst/inner/f", &content).ok());
  EXPECT_EQ(content, "payload");
  bool found = true;
  store().exists("/src", &found);
  EXPECT_FALSE(found);

  ASSERT_TRUE(store().writeFile("/a", "new").ok());
  ASSERT_TRUE(store().writeFile("/b", "old").ok());
  ASSERT_TRUE(store().rename("/a", "/b").ok()) << "a file replaces a file";
  ASSERT_TRUE(store().readFile("/b", &content).ok());
  EXPECT_EQ(content, "new");
}

TEST_P(StoreConformance, FailedRenameKeepsTheSource) {
  ASSERT_TRUE(store().mkdir("/d/sub", true).ok());
  ASSERT_TRUE(store().writeFile("/d/f", "keep").ok());
  EXPECT_EQ(store().rename("/missing", "/x").code, OVK_ERR_NOT_FOUND);
  EXPECT_EQ(store().rename("/d", "/d/sub/inside").code, OVK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(store().rename("/", "/x").code, OVK_ERR_INVALID_ARGUMENT);
  EXPECT_TRUE(store().rename("/d/f", "/d/f").ok()) << "renaming onto itself is a no-op";
  std::string content;
  ASSERT_TRUE(store().readFile("/d/f", &content).ok());
  EXPECT_EQ(content, "keep");
}

TEST_P(StoreConformance, ListDirIsCompleteSortedAndMarksDirectories) {
  for (const char* f : {"/l/c", "/l/a", "/l/a-1", "/l/b/x"}) {
    ASSERT_TRUE(store().mkdir("/l/b", true).ok());
    ASSERT_TRUE(store().writeFile(f, f).ok());
  }
  std::vector<Status> entries;
  ASSERT_TRUE(store().list("/l", false, &entries).ok());
  std::string p = prefix() + "l/";
  EXPECT_EQ(Paths(entries),
            (std::vector<std::string>{p + "a", p + "a-1", p + "b/", p + "c"}));
  ASSERT_TRUE(store().list("/l/", true, &entries).ok());
  EXPECT_EQ(Paths(entries),
            (std::vector<std::string>{p + "a", p + "a-1", p + "b/", p + "b/x", p + "c"}));
  EXPECT_EQ(entries[2].type, OVK_TYPE_DIRECTORY);
  EXPECT_EQ(entries[0].type, OVK_TYPE_FILE);
  EXPECT_EQ(entries[0].size, 4);
}

TEST_P(StoreConformance, ListDirErrors) {
  ASSERT_TRUE(store().writeFile("/file", "x").ok());
  std::vector<Status> entries;
  EXPECT_EQ(store().list("/missing", false, &entries).code, OVK_ERR_NOT_FOUND);
  EXPECT_EQ(store().list("/file", false, &entries).code, OVK_ERR_ALREADY_EXISTS);
}

TEST_P(StoreConformance, ListDirOfAnEmptyDirectoryIsEmpty) {
  ASSERT_TRUE(store().mkdir("/e").ok());
  std::vector<Status> entries{Status()};
  bool truncated = true;
  ASSERT_TRUE(store().list("/e", true, &entries, &truncated).ok());
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(truncated);
}

TEST_P(StoreConformance, MaxEntriesCapsTheListingAndMarksItTruncated) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(store().writeFile("/f" + std::to_string(i), "").ok());
  auto capped = reopen({{"fs.list.max.entries", "3"}});
  ASSERT_TRUE(capped->initOutcome().ok()) << capped->initOutcome();
  std::vector<Status> entries;
  bool truncated = false;
  std::string marker;
  ASSERT_TRUE(capped->list("/", false, &entries, &truncated, &marker).ok());
  std::string p = prefix();
  EXPECT_EQ(Paths(entries), (std::vector<std::string>{p + "f0", p + "f1", p + "f2"}));
  EXPECT_TRUE(truncated);
  EXPECT_EQ(marker, p + "f2");

  ASSERT_TRUE(store().list("/", false, &entries, &truncated, &marker).ok());
  EXPECT_EQ(entries.size(), 5u);
  EXPECT_FALSE(truncated);
  EXPECT_EQ(marker, "");
}

TEST_P(StoreConformance, EveryReturnedPathIsAcceptedBack) {
  ASSERT_TRUE(store().mkdir("/r/sub", true).ok());
  ASSERT_TRUE(store().writeFile("/r/sub/f", "v").ok());
  std::vector<Status> entries;
  ASSERT_TRUE(store().list("/", true, &entries).ok());
  ASSERT_EQ(entries.size(), 3u);
  for (const Status& e : entries) {
    Status again;
    ASSERT_TRUE(store().status(e.path, &again).ok()) << e.path;
    EXPECT_EQ(again.path, e.path);
    std::vector<Status> below;
    if (e.type == OVK_TYPE_DIRECTORY) {
      EXPECT_TRUE(store().list(e.path, false, &below).ok());
    }
  }
  Status root;
  ASSERT_TRUE(store().status("/", &root).ok());
  EXPECT_EQ(root.path, prefix());
  EXPECT_TRUE(store().status(root.path, nullptr).ok());
  EXPECT_TRUE(store().rename(entries[2].path, prefix() + "moved").ok());
  EXPECT_TRUE(store().remove(prefix() + "r", true).ok());
}

TEST_P(StoreConformance, ContentSummaryCountsTheSubtreeOrTheChildren) {
  ASSERT_TRUE(store().mkdir("/s/d1/d2", true).ok());
  ASSERT_TRUE(store().writeFile("/s/a", "12345").ok());
  ASSERT_TRUE(store().writeFile("/s/d1/b", "123").ok());
  ASSERT_TRUE(store().writeFile("/s/d1/d2/c", "1").ok());
  int64_t size = -1, files = -1, dirs = -1;
  ASSERT_TRUE(store().summary("/s", true, &size, &files, &dirs).ok());
  EXPECT_EQ(size, 9);
  EXPECT_EQ(files, 3);
  EXPECT_EQ(dirs, 2);
  ASSERT_TRUE(store().summary("/s", false, &size, &files, &dirs).ok());
  EXPECT_EQ(size, 5);
  EXPECT_EQ(files, 1);
  EXPECT_EQ(dirs, 1);
  ASSERT_TRUE(store().summary("/s/a", true, &size, &files, &dirs).ok());
  EXPECT_EQ(size, 5);
  EXPECT_EQ(files, 1);
  EXPECT_EQ(store().summary("/none", true, &size, &files, &dirs).code, OVK_ERR_NOT_FOUND);
}

TEST_P(StoreConformance, SetPermissionIsReported) {
  if (!GetParam().posixPermissions) GTEST_SKIP() << "no permission bits here";
  ASSERT_TRUE(store().writeFile("/p", "x").ok());
  ASSERT_TRUE(store().chmod("/p", 0640).ok());
  Status st;
  ASSERT_TRUE(store().status("/p", &st).ok());
  EXPECT_EQ(st.perm, 0640);
  EXPECT_EQ(store().chmod("/p", 010000).code, OVK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(store().chmod("/p", -1).code, OVK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(store().chmod("/missing", 0600).code, OVK_ERR_NOT_FOUND);
}

}  // namespace ovktest
