// The blocking namespace operations: the SDK calls they make, their
// statuses, and the records they fill.
#include <functional>

#include "fake_sdk_fixture.h"

namespace {

using ::testing::ElementsAre;

// One operation that answers with the SDK's boolean.
struct BoolOpCase {
  const char* name;
  std::function<OvkStatus(OvkFileSystem&)> call;
  const char* sdk_function;
  const char* sdk_call;        // as recorded by the fake
  const char* error_prefix;    // before the SDK's message
  int32_t false_code;          // when the SDK says false without an error
  const char* false_message;
};

std::ostream& operator<<(std::ostream& out, const BoolOpCase& c) {
  return out << c.name;
}

class BoolOpTest : public FakeSdkTest,
                   public ::testing::WithParamInterface<BoolOpCase> {};

TEST_P(BoolOpTest, TrueIsOk) {
  const BoolOpCase& c = GetParam();
  OvkStatus status = c.call(connected());
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_THAT(sdkCalls(), ElementsAre(c.sdk_call));
}

TEST_P(BoolOpTest, SdkErrorKeepsItsCodeBehindThePrefix) {
  const BoolOpCase& c = GetParam();
  OvkFileSystem& fs = connected();
  ovkfake_push(c.sdk_function, 4011, "remote said no", 0);
  OvkStatus status = c.call(fs);
  EXPECT_EQ(status.code(), 4011);
  EXPECT_EQ(status.message(), std::string(c.error_prefix) + "remote said no");
}

TEST_P(BoolOpTest, FalseWithoutErrorIsTheClientsOwnFailure) {
  const BoolOpCase& c = GetParam();
  OvkFileSystem& fs = connected();
  ovkfake_push(c.sdk_function, 0, nullptr, 0);
  OvkStatus status = c.call(fs);
  EXPECT_EQ(status.code(), c.false_code);
  EXPECT_EQ(status.message(), c.false_message);
}

TEST_P(BoolOpTest, UnconnectedClientMakesNoSdkCall) {
  const BoolOpCase& c = GetParam();
  OvkFileSystem fs;
  OvkStatus status = c.call(fs);
  if (std::string(c.sdk_function) == "ovk_exists") {
    EXPECT_EQ(status.code(), 3005);
    EXPECT_EQ(status.message(), "code: 1000 msg: init failed ");
  } else {
    EXPECT_EQ(status.code(), 1000);
    EXPECT_EQ(status.message(), "init failed ");
  }
  EXPECT_EQ(std::string(ovkfake_calls(0)), "");
}

INSTANTIATE_TEST_SUITE_P(
    Ops, BoolOpTest,
    ::testing::Values(
        BoolOpCase{"mkdir_recursive",
                   [](OvkFileSystem& fs) { return fs.mkdir("/a/b", true); },
                   "ovk_mkdir", "ovk_mkdir(/a/b,1,511)", "mkdir failed: ",
                   3005, "mkdir failed: /a/b"},
        BoolOpCase{"mkdir_flat",
                   [](OvkFileSystem& fs) { return fs.mkdir("/a", false); },
                   "ovk_mkdir", "ovk_mkdir(/a,0,511)", "mkdir failed: ", 3005,
                   "mkdir failed: /a"},
        BoolOpCase{"exists",
                   [](OvkFileSystem& fs) { return fs.exists("/e x"); },
                   "ovk_exists", "ovk_exists(/e x)", "exists failed: ", 3001,
                   "/e x doesn't exist."},
        BoolOpCase{"remove_recursive",
                   [](OvkFileSystem& fs) { return fs.remove("/r", true); },
                   "ovk_remove", "ovk_remove(/r,1)", "delete failed: ", 3005,
                   "delete failed: /r recursive 1"},
        BoolOpCase{"remove_flat",
                   [](OvkFileSystem& fs) { return fs.remove("/r", false); },
                   "ovk_remove", "ovk_remove(/r,0)", "delete failed: ", 3005,
                   "delete failed: /r recursive 0"},
        BoolOpCase{"set_permission",
                   [](OvkFileSystem& fs) {
                     return fs.setPermission("/p", 0755);
                   },
                   "ovk_setPermission", "ovk_setPermission(/p,493)",
                   "setPermission failed: ", 3005, "setPermission failed: /p"},
        BoolOpCase{"set_permission_negative_widens_with_sign",
                   [](OvkFileSystem& fs) {
                     return fs.setPermission("/p", int16_t{-2});
                   },
                   "ovk_setPermission", "ovk_setPermission(/p,-2)",
                   "setPermission failed: ", 3005, "setPermission failed: /p"},
        BoolOpCase{"set_owner",
                   [](OvkFileSystem& fs) {
                     return fs.setOwner("/o", "ann", "staff");
                   },
                   "ovk_setOwner", "ovk_setOwner(/o,ann,staff)",
                   "setOwner failed: ", 3005, "setOwner failed: /o"}),
    [](const ::testing::TestParamInfo<BoolOpCase>& info) {
      return info.param.name;
    });

TEST_F(FakeSdkTest, EachCallGetsItsOwnHandleContextFreedAfterReading) {
  OvkFileSystem& fs = connected();
  ASSERT_TRUE(fs.mkdir("/a", false).ok());
  EXPECT_THAT(fakeCalls(0),
              ElementsAre("ovk_createHandleCtx1(store#1)",
                          "ovk_mkdir(/a,0,511)",
                          "ovk_getHandleCtxErrorCode(ctx#2)",
                          "ovk_getHandleCtxErrorMsg(ctx#2)",
                          "ovk_freeHandleCtx(ctx#2)"));
}

TEST_F(FakeSdkTest, SdkErrorWithoutMessageLeavesOnlyThePrefix) {
  OvkFileSystem& fs = connected();
  ovkfake_push("ovk_mkdir", 4005, nullptr, 0);
  EXPECT_EQ(fs.mkdir("/f", false).message(), "mkdir failed: ");
}

// ---- rename

void pushStatus(const char* path, int32_t type) {
  ovkfake_push_file_status("ovk_getFileStatus", path, "u", "g", type, 0644, 1,
                           0, 0);
}

TEST_F(FakeSdkTest, RenameOntoMissingDestinationRenamesDirectly) {
  OvkFileSystem& fs = connected();
  ovkfake_push("ovk_exists", 0, nullptr, 0);
  EXPECT_TRUE(fs.rename("/s", "/d").ok());
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_exists(/d)", "ovk_rename(/s,/d)"));
}

TEST_F(FakeSdkTest, RenameGoesOnWhenExistsFails) {
  OvkFileSystem& fs = connected();
  ovkfake_push("ovk_exists", 4010, "timeout", 0);
  EXPECT_TRUE(fs.rename("/s", "/d").ok());
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_exists(/d)", "ovk_rename(/s,/d)"));
}

TEST_F(FakeSdkTest, RenameReplacesAnExistingDifferentEntry) {
  OvkFileSystem& fs = connected();
  pushStatus("file:///store/s", 2);
  pushStatus("file:///store/d", 2);
  EXPECT_TRUE(fs.rename("/s", "/d").ok());
  EXPECT_THAT(sdkCalls(),
              ElementsAre("ovk_exists(/d)", "ovk_getFileStatus(/s)",
                          "ovk_freeFileStatus(status#1)",
                          "ovk_getFileStatus(/d)",
                          "ovk_freeFileStatus(status#2)", "ovk_remove(/d,0)",
                          "ovk_rename(/s,/d)"));
}

TEST_F(FakeSdkTest, RenameStopsWhenTheDestinationCannotBeRemoved) {
  OvkFileSystem& fs = connected();
  pushStatus("file:///store/s", 1);
  pushStatus("file:///store/d", 1);
  ovkfake_push("ovk_remove", 4006, "directory not empty: /d", 0);
  OvkStatus status = fs.rename("/s", "/d");
  EXPECT_EQ(status.code(), 4006);
  EXPECT_EQ(status.message(), "delete failed: directory not empty: /d");
  EXPECT_EQ(ovkfake_call_count("ovk_rename"), 0);

  pushStatus("file:///store/s", 2);
  pushStatus("file:///store/d", 2);
  ovkfake_push("ovk_remove", 0, nullptr, 0);
  status = fs.rename("/s", "/d");
  EXPECT_EQ(status.code(), 3005);
  EXPECT_EQ(status.message(), "delete failed: /d recursive 0");
  EXPECT_EQ(ovkfake_call_count("ovk_rename"), 0);
}

TEST_F(FakeSdkTest, RenameFailuresCarryBothNames) {
  OvkFileSystem& fs = connected();
  ovkfake_push("ovk_exists", 0, nullptr, 0);
  ovkfake_push("ovk_rename", 4007, "denied", 0);
  OvkStatus status = fs.rename("/s", "/d");
  EXPECT_EQ(status.code(), 4007);
  EXPECT_EQ(status.message(), "rename failed: denied");

  ovkfake_push("ovk_exists", 0, nullptr, 0);
  ovkfake_push("ovk_rename", 0, nullptr, 0);
  status = fs.rename("/s", "/d");
  EXPECT_EQ(status.code(), 3005);
  EXPECT_EQ(status.message(), "rename failed, from /s to /d");
}

struct SameEntryCase {
  const char* name;
  const char* src;
  const char* dst;
  const char* sdk_path;  // what the SDK reports for both spellings
  int32_t type;
  const char* dst_sdk_path;
};

std::ostream& operator<<(std::ostream& out, const SameEntryCase& c) {
  return out << c.name;
}

class RenameOntoItselfTest
    : public FakeSdkTest,
      public ::testing::WithParamInterface<SameEntryCase> {};

// Removing the destination first would delete the source itself.
TEST_P(RenameOntoItselfTest, KeepsTheEntryAndSucceeds) {
  const SameEntryCase& c = GetParam();
  OvkFileSystem& fs = connected();
  pushStatus(c.sdk_path, c.type);
  pushStatus(c.dst_sdk_path, c.type);
  OvkStatus status = fs.rename(c.src, c.dst);
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(ovkfake_call_count("ovk_remove"), 0);
  EXPECT_EQ(ovkfake_call_count("ovk_rename"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, RenameOntoItselfTest,
    ::testing::Values(
        SameEntryCase{"same_text", "/a/f", "/a/f", "file:///store/a/f", 2,
                      "file:///store/a/f"},
        SameEntryCase{"absolute_and_uri", "/a/f", "file:///store/a/f",
                      "file:///store/a/f", 2, "file:///store/a/f"},
        SameEntryCase{"directory_with_and_without_slash", "/dir", "/dir/",
                      "file:///store/dir", 1, "file:///store/dir/"}),
    [](const ::testing::TestParamInfo<SameEntryCase>& info) {
      return info.param.name;
    });

// The destination exists but the source does not: removing the destination
// first would lose it for a rename that cannot succeed.
TEST_F(FakeSdkTest, RenameOfMissingSourceKeepsTheDestination) {
  OvkFileSystem& fs = connected();
  ovkfake_push("ovk_getFileStatus", 3001, "no such entry: /s", 0);
  ovkfake_push("ovk_rename", 3001, "no such entry: /s", 0);
  OvkStatus status = fs.rename("/s", "/d");
  EXPECT_EQ(status.code(), 3001);
  EXPECT_EQ(status.message(), "rename failed: no such entry: /s");
  EXPECT_EQ(ovkfake_call_count("ovk_remove"), 0);
}

TEST_F(FakeSdkTest, RenameOnUnconnectedClient) {
  OvkFileSystem fs;
  OvkStatus status = fs.rename("/s", "/d");
  EXPECT_EQ(status.code(), 1000);
  EXPECT_EQ(status.message(), "init failed ");
  EXPECT_EQ(std::string(ovkfake_calls(0)), "");
}

// ---- entry status

TEST_F(FakeSdkTest, GetFileInfoCopiesEveryFieldAndFreesTheStatus) {
  OvkFileSystem& fs = connected();
  ovkfake_push_file_status("ovk_getFileStatus", "file:///store/a/b", "ann",
                           "staff", 2, 0640, 4096, 1700000000123, -1);
  OvkFileInfo info;
  ASSERT_TRUE(fs.getFileInfo("/a/b", &info).ok());
  EXPECT_EQ(info.path, "file:///store/a/b");
  EXPECT_EQ(info.user, "ann");
  EXPECT_EQ(info.group, "staff");
  EXPECT_EQ(info.type, 2);
  EXPECT_EQ(info.perm, 0640);
  EXPECT_EQ(info.size, 4096);
  EXPECT_EQ(info.mtime, 1700000000123);
  EXPECT_EQ(info.atime, -1);
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_getFileStatus(/a/b)",
                                      "ovk_freeFileStatus(status#1)"));
}

struct ConvertCase {
  const char* name;
  const char* sdk_path;  // may be null
  int32_t type;
  const char* expected_path;
};

std::ostream& operator<<(std::ostream& out, const ConvertCase& c) {
  return out << c.name;
}

class CovertToFileInfoTest
    : public FakeSdkTest,
      public ::testing::WithParamInterface<ConvertCase> {};

TEST_P(CovertToFileInfoTest, DirectoriesEndWithOneSlash) {
  const ConvertCase& c = GetParam();
  OvkFileSystem& fs = connected();
  ovkfake_push_file_status("ovk_getFileStatus", c.sdk_path, nullptr, nullptr,
                           c.type, 0755, 0, 0, 0);
  OvkFileInfo info;
  info.path = "before";
  info.user = "old-user";
  info.group = "old-group";
  ASSERT_TRUE(fs.getFileInfo("/x", &info).ok());
  EXPECT_EQ(info.path, c.expected_path);
  EXPECT_EQ(info.user, "old-user") << "a null text leaves the field";
  EXPECT_EQ(info.group, "old-group");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CovertToFileInfoTest,
    ::testing::Values(
        ConvertCase{"directory_gets_slash", "/a/b", 1, "/a/b/"},
        ConvertCase{"directory_keeps_slash", "/a/b/", 1, "/a/b/"},
        ConvertCase{"file_untouched", "/a/b", 2, "/a/b"},
        ConvertCase{"symlink_untouched", "/a/l", 3, "/a/l"},
        ConvertCase{"null_path_keeps_previous", nullptr, 2, "before"},
        ConvertCase{"directory_null_path_appends_to_previous", nullptr, 1,
                    "before/"}),
    [](const ::testing::TestParamInfo<ConvertCase>& info) {
      return info.param.name;
    });

TEST(CovertToFileInfoNullTest, NullStatusLeavesInfoUnchanged) {
  OvkFileInfo info;
  info.path = "p";
  info.size = 7;
  covertToFileInfo(nullptr, &info);
  EXPECT_EQ(info.path, "p");
  EXPECT_EQ(info.size, 7);
}

TEST_F(FakeSdkTest, GetFileInfoFailuresLeaveTheRecordAlone) {
  OvkFileSystem& fs = connected();
  OvkFileInfo info;
  info.path = "untouched";

  ovkfake_push("ovk_getFileStatus", 3001, "gone", 0);
  OvkStatus missing = fs.getFileInfo("/m", &info);
  EXPECT_EQ(missing.code(), 3001);
  EXPECT_EQ(missing.message(), "cant not found /m");

  ovkfake_push("ovk_getFileStatus", 4004, "bad path", 0);
  OvkStatus bad = fs.getFileInfo("/../x", &info);
  EXPECT_EQ(bad.code(), 4004);
  EXPECT_EQ(bad.message(), "get status failed: bad path");
  EXPECT_EQ(info.path, "untouched");

  OvkFileSystem unconnected;
  EXPECT_EQ(unconnected.getFileInfo("/m", &info).message(), "init failed ");
}

// ---- listings and summaries

TEST_F(FakeSdkTest, ListDirAppendsEntriesSkippingNullOnes) {
  OvkFileSystem& fs = connected();
  ovkfake_push_listing("ovk_listDir", true, "next-page");
  ovkfake_listing_add("file:///store/d/a", "u", "g", 2, 0644, 3, 10, 20);
  ovkfake_listing_add_null();
  ovkfake_listing_add("file:///store/d/sub", "u", "g", 1, 0755, 0, 30, 40);
  OvkListResult result;
  result.entries.emplace_back();
  result.entries.back().path = "kept";
  ASSERT_TRUE(fs.listDir("/d", true, &result).ok());
  ASSERT_EQ(result.entries.size(), 3u);
  EXPECT_EQ(result.entries[0].path, "kept");
  EXPECT_EQ(result.entries[1].path, "file:///store/d/a");
  EXPECT_EQ(result.entries[1].size, 3);
  EXPECT_EQ(result.entries[1].mtime, 10);
  EXPECT_EQ(result.entries[2].path, "file:///store/d/sub/");
  EXPECT_EQ(result.entries[2].type, 1);
  EXPECT_TRUE(result.truncated);
  EXPECT_EQ(result.nextMarker, "next-page");
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_listDir(/d,1)",
                                      "ovk_freeListDirResult(listing#1)"))
      << "one listing call, even when truncated";
}

TEST_F(FakeSdkTest, ListDirWithoutMarkerKeepsThePreviousOne) {
  OvkFileSystem& fs = connected();
  ovkfake_push_listing("ovk_listDir", false, nullptr);
  OvkListResult result;
  result.nextMarker = "old";
  result.truncated = true;
  ASSERT_TRUE(fs.listDir("/d", false, &result).ok());
  EXPECT_EQ(result.nextMarker, "old");
  EXPECT_FALSE(result.truncated);
  EXPECT_EQ(sdkCalls().front(), "ovk_listDir(/d,0)");
}

TEST_F(FakeSdkTest, ListDirErrorLeavesTheResultUntouched) {
  OvkFileSystem& fs = connected();
  ovkfake_push("ovk_listDir", 4011, "HTTP 500 InternalError", 0);
  OvkListResult result;
  result.nextMarker = "m";
  OvkStatus status = fs.listDir("/d", false, &result);
  EXPECT_EQ(status.code(), 4011);
  EXPECT_EQ(status.message(), "get children failed: HTTP 500 InternalError");
  EXPECT_TRUE(result.entries.empty());
  EXPECT_EQ(result.nextMarker, "m");
  EXPECT_EQ(ovkfake_call_count("ovk_getListDirResultSize"), 0);
}

TEST_F(FakeSdkTest, ContentSummaryPassesTheFlagAndCopiesTotals) {
  OvkFileSystem& fs = connected();
  ovkfake_push_summary("ovk_getContentSummary", 1 << 20, 12, 3);
  OvkContentSummary summary;
  ASSERT_TRUE(fs.getContentSummary("/d", true, &summary).ok());
  EXPECT_EQ(summary.fileSize, 1 << 20);
  EXPECT_EQ(summary.fileCount, 12);
  EXPECT_EQ(summary.directoryCount, 3);
  ASSERT_TRUE(fs.getContentSummary("/d", false, &summary).ok());
  EXPECT_THAT(sdkCalls(),
              ElementsAre("ovk_getContentSummary(/d,1)",
                          "ovk_freeContentSummary(summary#1)",
                          "ovk_getContentSummary(/d,0)",
                          "ovk_freeContentSummary(summary#2)"));

  ovkfake_push("ovk_getContentSummary", 4008, "not supported", 0);
  OvkContentSummary untouched;
  untouched.fileCount = 5;
  OvkStatus status = fs.getContentSummary("/d", true, &untouched);
  EXPECT_EQ(status.code(), 4008);
  EXPECT_EQ(status.message(), "get content summary failed: not supported");
  EXPECT_EQ(untouched.fileCount, 5);
}

}  // namespace
