// Store lifecycle, URIs, options and logging, through the C interface.
#include <unistd.h>

#include <fstream>

#include "SdkTestSupport.h"

namespace ovktest {
namespace {

TEST(StoreInit, RefusesBadUrisAndOptions) {
  TempDir dir;
  struct Case {
    std::string uri;
    std::map<std::string, std::string> options;
    int32_t code;
  } cases[] = {
      {"", {}, OVK_ERR_INVALID_URI},
      {"relative/dir", {}, OVK_ERR_INVALID_URI},
      {"ftp://host/x", {}, OVK_ERR_INVALID_URI},
      {"file://otherhost/tmp", {}, OVK_ERR_INVALID_URI},
      {"file://" + dir.path() + "/../x", {}, OVK_ERR_INVALID_URI},
      {"file://" + dir.path() + "/missing", {}, OVK_ERR_NOT_FOUND},
      {dir.path(), {{"fs.async.threads", "zero"}}, OVK_ERR_INVALID_ARGUMENT},
      {dir.path(), {{"fs.async.threads", "0"}}, OVK_ERR_INVALID_ARGUMENT},
      {dir.path(), {{"fs.list.max.entries", "-3"}}, OVK_ERR_INVALID_ARGUMENT},
      {dir.path(), {{"fs.local.fsync", "maybe"}}, OVK_ERR_INVALID_ARGUMENT},
      {dir.path(), {{"logger.appender", "syslog"}}, OVK_ERR_INVALID_ARGUMENT},
  };
  for (const Case& c : cases) {
    TestStore store(c.uri, c.options);
    EXPECT_EQ(store.initOutcome().code, c.code) << "uri " << c.uri << " " << store.initOutcome();
    bool found = true;
    EXPECT_EQ(store.exists("/", &found).code, OVK_ERR_NOT_INITIALISED)
        << "a store whose init failed serves nothing";
  }
}

TEST(StoreInit, AcceptsEveryFormOfALocalUri) {
  TempDir dir;
  WriteLocalFile(dir.path() + "/f", "x");
  const std::vector<std::string> uris = {
      dir.path(), dir.path() + "/", "file://" + dir.path(), "file:" + dir.path(),
      "file://localhost" + dir.path(), "FILE://" + dir.path() + "//"};
  for (const std::string& uri : uris) {
    TestStore store(uri);
    ASSERT_TRUE(store.initOutcome().ok()) << uri << " " << store.initOutcome();
    Status st;
    ASSERT_TRUE(store.status("/f", &st).ok()) << uri;
    EXPECT_EQ(st.path, "file://" + dir.path() + "/f") << uri;
    EXPECT_TRUE(store.status("file://localhost" + dir.path() + "/f").ok()) << uri;
  }
}

TEST(StoreInit, CallsBeforeInitFailWithNotInitialised) {
  TempDir dir;
  ovk_store_t* store = ovk_createStore(nullptr, dir.path().c_str());
  ASSERT_NE(store, nullptr);
  ovk_handle_ctx_t* c = ovk_createHandleCtx1(store);
  EXPECT_FALSE(ovk_mkdir(c, "/a", false, 0777, nullptr));
  EXPECT_EQ(ovk_getHandleCtxErrorCode(c), OVK_ERR_NOT_INITIALISED);
  ovk_init(c, "me");
  EXPECT_EQ(ovk_getHandleCtxErrorCode(c), OVK_OK) << "the context records the latest call";
  EXPECT_EQ(ovk_getHandleCtxErrorMsg(c), nullptr) << "an empty message is NULL";
  ovk_init(c, "me");
  EXPECT_EQ(ovk_getHandleCtxErrorCode(c), OVK_OK) << "init of a ready store is harmless";
  ovk_destroyStore(c, store);
  ovk_freeHandleCtx(c);
  ovk_freeStore(store);
}

TEST(StoreInit, ContextsWithoutAStoreOrStreamFail) {
  ovk_handle_ctx_t* c = ovk_createHandleCtx1(nullptr);
  EXPECT_FALSE(ovk_exists(c, "/", nullptr));
  EXPECT_EQ(ovk_getHandleCtxErrorCode(c), OVK_ERR_NOT_INITIALISED);
  char buf[1];
  EXPECT_EQ(ovk_read(c, buf, 1, nullptr), -1);
  EXPECT_EQ(ovk_getHandleCtxErrorCode(c), OVK_ERR_INVALID_ARGUMENT);
  ovk_freeHandleCtx(c);
}

TEST(StoreInit, FreeFunctionsAcceptNull) {
  ovk_freeStore(nullptr);
  ovk_freeOptions(nullptr);
  ovk_freeHandleCtx(nullptr);
  ovk_freeIOContext(nullptr);
  ovk_freeOperationCall(nullptr);
  ovk_freeFileStatus(nullptr);
  ovk_freeListDirResult(nullptr);
  ovk_freeContentSummary(nullptr);
  ovk_freeLongs(nullptr);
  ovk_freeFileBuffers(nullptr);
  EXPECT_EQ(ovk_getListDirResultSize(nullptr), 0);
  EXPECT_EQ(ovk_getFileStatusPath(nullptr), nullptr);
}

TEST(StorePaths, EscapingOrForeignPathsAreRefused) {
  TempDir dir;
  TestStore store("file://" + dir.path());
  ASSERT_TRUE(store.initOutcome().ok());
  const std::vector<std::string> paths = {
      "", "/a/../b", "/./a", "/%2e%2E/x", "/a/.%2e/b", "/%2E", "file:///elsewhere/x",
      "file://" + dir.path() + "-sibling/x", "s3://bucket/x", "file://" + dir.path() + "/../x"};
  for (const std::string& path : paths) {
    Outcome o = store.status(path);
    EXPECT_EQ(o.code, OVK_ERR_INVALID_ARGUMENT) << "path \"" << path << "\" " << o;
  }
  ovk_handle_ctx_t* c = store.ctx();
  EXPECT_FALSE(ovk_exists(c, nullptr, nullptr));
  EXPECT_EQ(Take(c).code, OVK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(store.mkdir("/ok%2ename").code, OVK_OK) << "escapes inside a name are just bytes";
}

TEST(StoreLogging, OneLinePerFailedCallWithoutSecrets) {
  TempDir dir;
  TempDir logs;
  {
    TestStore store(dir.path(), {{"logger.appender", "file"},
                                 {"logger.dir", logs.path()},
                                 {"fs.quoll.accessKeySecret", "TOPSECRET"}});
    ASSERT_TRUE(store.initOutcome().ok());
    ASSERT_TRUE(store.mkdir("/fine").ok());
    EXPECT_EQ(access((logs.path() + "/orviksdk.log").c_str(), F_OK), -1)
        << "a store without failures writes no log";
    EXPECT_EQ(store.status("/missing/one").code, OVK_ERR_NOT_FOUND);
    EXPECT_EQ(store.remove("/fine\nforged line").code, OVK_ERR_NOT_FOUND);
  }
  std::string log = ReadLocalFile(logs.path() + "/orviksdk.log");
  size_t lines = 0;
  for (char ch : log) lines += ch == '\n';
  EXPECT_EQ(lines, 2u) << log;
  EXPECT_NE(log.find("getFileStatus code 3001"), std::string::npos) << log;
  EXPECT_NE(log.find("/missing/one"), std::string::npos) << log;
  EXPECT_EQ(log.find("TOPSECRET"), std::string::npos) << log;
}

TEST(StoreLogging, NoneWritesNothing) {
  TempDir dir;
  TempDir logs;
  {
    TestStore store(dir.path(), {{"logger.appender", "none"}, {"logger.dir", logs.path()}});
    ASSERT_TRUE(store.initOutcome().ok());
    EXPECT_EQ(store.status("/missing").code, OVK_ERR_NOT_FOUND);
  }
  EXPECT_EQ(access((logs.path() + "/orviksdk.log").c_str(), F_OK), -1);
}

TEST(StoreLogging, ALinkPlantedAsTheLogIsNotFollowed) {
  TempDir dir;
  TempDir logs;
  WriteLocalFile(logs.path() + "/victim", "victim");
  ASSERT_EQ(symlink((logs.path() + "/victim").c_str(), (logs.path() + "/orviksdk.log").c_str()), 0);
  {
    TestStore store(dir.path(), {{"logger.appender", "file"}, {"logger.dir", logs.path()}});
    ASSERT_TRUE(store.initOutcome().ok());
    EXPECT_EQ(store.status("/missing").code, OVK_ERR_NOT_FOUND) << "the call itself still works";
  }
  EXPECT_EQ(ReadLocalFile(logs.path() + "/victim"), "victim");
}

TEST(StoreOptions, TheLastValueOfAKeyHolds) {
  TempDir dir;
  for (int i = 0; i < 3; ++i) WriteLocalFile(dir.path() + "/f" + std::to_string(i), "");
  ovk_options_t* opt = ovk_createOptions();
  ovk_setOption(opt, "logger.appender", "none");
  ovk_setOption(opt, "fs.list.max.entries", "1");
  ovk_setOption(opt, "fs.list.max.entries", "2");
  ovk_store_t* raw = ovk_createStore(opt, dir.path().c_str());
  ovk_setOption(opt, "fs.list.max.entries", "1");  // after creation: no effect
  ovk_freeOptions(opt);
  ovk_handle_ctx_t* c = ovk_createHandleCtx1(raw);
  ovk_init(c, "");
  ASSERT_EQ(ovk_getHandleCtxErrorCode(c), 0);
  ovk_list_dir_result_t* l = ovk_listDir(c, "/", false, nullptr);
  EXPECT_EQ(ovk_getListDirResultSize(l), 2);
  ovk_freeListDirResult(l);
  ovk_destroyStore(c, raw);
  ovk_freeHandleCtx(c);
  ovk_freeStore(raw);
}

}  // namespace
}  // namespace ovktest
