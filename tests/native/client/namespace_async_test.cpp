// Asynchronous namespace operations and the operation handle that drives
// them.
#include <algorithm>
#include <functional>
#include <thread>

#include "completion.h"
#include "fake_sdk_fixture.h"

namespace {

using ::testing::ElementsAre;

struct AsyncBoolCase {
  const char* name;
  std::function<std::shared_ptr<OvkTask>(OvkFileSystem&, OvkStatusCallback)>
      start;
  const char* sdk_function;
  const char* sdk_call;
  const char* error_prefix;
  int32_t false_code;
  const char* false_message;
};

std::ostream& operator<<(std::ostream& out, const AsyncBoolCase& c) {
  return out << c.name;
}

class AsyncBoolTest : public FakeSdkTest,
                      public ::testing::WithParamInterface<AsyncBoolCase> {};

TEST_P(AsyncBoolTest, SubmitsWithABoolCallbackAndReportsLikeTheBlockingForm) {
  const AsyncBoolCase& c = GetParam();
  OvkFileSystem& fs = connected();
  Completion<> ok, failed, refused;

  auto task = c.start(fs, ok.onStatus());
  ASSERT_NE(task, nullptr);
  EXPECT_THAT(fakeCalls(OVKFAKE_SKIP_ACCESSORS),
              ElementsAre("ovk_createHandleCtx1(store#1)",
                          "ovk_createOptions()", "ovk_setBoolCallback()",
                          "ovk_setCallbackContext()", c.sdk_call,
                          "ovk_getHandleCtxErrorCode(ctx#2)",
                          "ovk_getHandleCtxErrorMsg(ctx#2)",
                          "ovk_freeHandleCtx(ctx#2)",
                          "ovk_freeOptions(options#2)"));
  EXPECT_EQ(ok.calls, 0) << "nothing reported before the SDK completes";
  ASSERT_EQ(ovkfake_complete_next(), 1);
  ASSERT_EQ(ok.calls, 1);
  EXPECT_TRUE(ok.status->ok()) << ok.status->message();

  ovkfake_push(c.sdk_function, 4011, "remote said no", 0);
  auto task2 = c.start(fs, failed.onStatus());
  ovkfake_complete_next();
  EXPECT_EQ(failed.status->code(), 4011);
  EXPECT_EQ(failed.status->message(),
            std::string(c.error_prefix) + "remote said no");

  ovkfake_push(c.sdk_function, 0, nullptr, 0);
  auto task3 = c.start(fs, refused.onStatus());
  ovkfake_complete_next();
  EXPECT_EQ(refused.status->code(), c.false_code);
  EXPECT_EQ(refused.status->message(), c.false_message);
}

TEST_P(AsyncBoolTest, UnconnectedClientStartsNothing) {
  const AsyncBoolCase& c = GetParam();
  OvkFileSystem fs;
  Completion<> done;
  EXPECT_EQ(c.start(fs, done.onStatus()), nullptr);
  EXPECT_EQ(ovkfake_pending(), 0);
  EXPECT_EQ(done.calls, 0);
  EXPECT_EQ(std::string(ovkfake_calls(0)), "");
}

TEST_P(AsyncBoolTest, EmptyCompletionFunctionIsNotCalled) {
  const AsyncBoolCase& c = GetParam();
  auto task = c.start(connected(), OvkStatusCallback());
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(ovkfake_complete_next(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Ops, AsyncBoolTest,
    ::testing::Values(
        AsyncBoolCase{"mkdir",
                      [](OvkFileSystem& fs, OvkStatusCallback done) {
                        return fs.mkdirAsync("/a", true, std::move(done));
                      },
                      "ovk_mkdirAsync", "ovk_mkdirAsync(/a,1,511)",
                      "mkdir failed: ", 3005, "mkdir failed: /a"},
        AsyncBoolCase{"exists",
                      [](OvkFileSystem& fs, OvkStatusCallback done) {
                        return fs.existsAsync("/e", std::move(done));
                      },
                      "ovk_existsAsync", "ovk_existsAsync(/e)",
                      "exists failed: ", 3001, "/e doesn't exist."},
        AsyncBoolCase{"remove",
                      [](OvkFileSystem& fs, OvkStatusCallback done) {
                        return fs.removeAsync("/r", true, std::move(done));
                      },
                      "ovk_removeAsync", "ovk_removeAsync(/r,1)",
                      "delete failed: ", 3005,
                      "delete failed: /r recursive 1"},
        AsyncBoolCase{"remove_flat",
                      [](OvkFileSystem& fs, OvkStatusCallback done) {
                        return fs.removeAsync("/r", false, std::move(done));
                      },
                      "ovk_removeAsync", "ovk_removeAsync(/r,0)",
                      "delete failed: ", 3005,
                      "delete failed: /r recursive 0"},
        AsyncBoolCase{"set_permission",
                      [](OvkFileSystem& fs, OvkStatusCallback done) {
                        return fs.setPermissionAsync("/p", int16_t{-2},
                                                     std::move(done));
                      },
                      "ovk_setPermissionAsync", "ovk_setPermissionAsync(/p,-2)",
                      "setPermission failed: ", 3005,
                      "setPermission failed: /p"},
        AsyncBoolCase{"set_owner",
                      [](OvkFileSystem& fs, OvkStatusCallback done) {
                        return fs.setOwnerAsync("/o", "ann", "staff",
                                                std::move(done));
                      },
                      "ovk_setOwnerAsync", "ovk_setOwnerAsync(/o,ann,staff)",
                      "setOwner failed: ", 3005, "setOwner failed: /o"}),
    [](const ::testing::TestParamInfo<AsyncBoolCase>& info) {
      return info.param.name;
    });

TEST_F(FakeSdkTest, RenameAsyncRunsItsPreStepsOnTheCallingThread) {
  OvkFileSystem& fs = connected();
  ovkfake_push_file_status("ovk_getFileStatus", "/s", "", "", 2, 0644, 0, 0, 0);
  ovkfake_push_file_status("ovk_getFileStatus", "/d", "", "", 2, 0644, 0, 0, 0);
  Completion<> done;
  auto task = fs.renameAsync("/s", "/d", done.onStatus());
  ASSERT_NE(task, nullptr);
  EXPECT_THAT(sdkCalls(),
              ElementsAre("ovk_exists(/d)", "ovk_getFileStatus(/s)",
                          "ovk_freeFileStatus(status#1)",
                          "ovk_getFileStatus(/d)",
                          "ovk_freeFileStatus(status#2)", "ovk_remove(/d,0)",
                          "ovk_renameAsync(/s,/d)"));
  ovkfake_push("ovk_renameAsync", 0, nullptr, 0);
  ovkfake_complete_next();
  ASSERT_EQ(done.calls, 1);
  EXPECT_TRUE(done.status->ok());

  Completion<> refused;
  ovkfake_push("ovk_renameAsync", 0, nullptr, 0);
  ovkfake_push("ovk_exists", 0, nullptr, 0);
  auto task2 = fs.renameAsync("/s", "/d", refused.onStatus());
  ovkfake_complete_next();
  EXPECT_EQ(refused.status->message(), "rename failed, from /s to /d");
}

TEST_F(FakeSdkTest, RenameAsyncStartsNothingWhenTheDestinationStays) {
  OvkFileSystem& fs = connected();
  ovkfake_push("ovk_remove", 4006, "not empty", 0);
  Completion<> done;
  EXPECT_EQ(fs.renameAsync("/s", "/d", done.onStatus()), nullptr);
  EXPECT_EQ(ovkfake_call_count("ovk_renameAsync"), 0);
  EXPECT_EQ(ovkfake_pending(), 0);
  EXPECT_EQ(done.calls, 0);
}

TEST_F(FakeSdkTest, RenameAsyncOntoItselfKeepsTheEntryAndStillReports) {
  OvkFileSystem& fs = connected();
  ovkfake_push_file_status("ovk_getFileStatus", "file:///store/f", "", "", 2,
                           0644, 0, 0, 0);
  ovkfake_push_file_status("ovk_getFileStatus", "file:///store/f", "", "", 2,
                           0644, 0, 0, 0);
  Completion<> done;
  auto task = fs.renameAsync("/f", "file:///store/f", done.onStatus());
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(ovkfake_call_count("ovk_remove"), 0);
  EXPECT_EQ(ovkfake_call_count("ovk_renameAsync"), 0);
  EXPECT_TRUE(task->wait().ok());
  ASSERT_EQ(done.calls, 1);
  EXPECT_TRUE(done.status->ok());
}

TEST_F(FakeSdkTest, GetFileInfoAsyncFillsTheRecordOrLeavesItsDefaults) {
  OvkFileSystem& fs = connected();
  Completion<OvkFileInfo> found, missing;
  ovkfake_push_file_status("ovk_getFileStatusAsync", "/dir", "u", "g", 1,
                           0700, 0, 5, 6);
  auto t1 = fs.getFileInfoAsync("/dir", found.onRecord());
  ovkfake_push("ovk_getFileStatusAsync", 3001, "gone", 0);
  auto t2 = fs.getFileInfoAsync("/m", missing.onRecord());
  EXPECT_EQ(ovkfake_call_count("ovk_setFileStatusCallback"), 2);
  ovkfake_complete_next();
  ovkfake_complete_next();

  ASSERT_TRUE(found.status->ok());
  EXPECT_EQ(found.record->path, "/dir/");
  EXPECT_EQ(found.record->perm, 0700);
  EXPECT_EQ(found.record->mtime, 5);

  EXPECT_EQ(missing.status->code(), 3001);
  EXPECT_EQ(missing.status->message(), "cant not found /m");
  ASSERT_NE(missing.record, nullptr) << "the record is always present";
  EXPECT_EQ(missing.record->type, 0);
  EXPECT_EQ(missing.record->perm, 493);
  EXPECT_EQ(missing.record->size, -1);

  Completion<OvkFileInfo> failed;
  ovkfake_push("ovk_getFileStatusAsync", 4011, "HTTP 500", 0);
  auto t3 = fs.getFileInfoAsync("/x", failed.onRecord());
  ovkfake_complete_next();
  EXPECT_EQ(failed.status->message(), "get status failed: HTTP 500");
}

TEST_F(FakeSdkTest, ListDirAsyncPassesTheFlagAndGivesEmptyListingOnError) {
  OvkFileSystem& fs = connected();
  Completion<OvkListResult> listed, failed;
  ovkfake_push_listing("ovk_listDirAsync", true, "m");
  ovkfake_listing_add("/d/a", "u", "g", 2, 0644, 1, 0, 0);
  ovkfake_listing_add_null();
  auto t1 = fs.listDirAsync("/d", true, listed.onRecord());
  ovkfake_push("ovk_listDirAsync", 4011, "HTTP 503", 0);
  auto t2 = fs.listDirAsync("/d", false, failed.onRecord());
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_listDirAsync(/d,1)",
                                      "ovk_listDirAsync(/d,0)"));
  ovkfake_complete_next();
  ovkfake_complete_next();

  ASSERT_TRUE(listed.status->ok());
  ASSERT_EQ(listed.record->entries.size(), 1u);
  EXPECT_EQ(listed.record->entries[0].path, "/d/a");
  EXPECT_TRUE(listed.record->truncated);
  EXPECT_EQ(listed.record->nextMarker, "m");

  EXPECT_EQ(failed.status->code(), 4011);
  EXPECT_EQ(failed.status->message(), "get children failed: HTTP 503");
  ASSERT_NE(failed.record, nullptr);
  EXPECT_TRUE(failed.record->entries.empty());
}

TEST_F(FakeSdkTest, ContentSummaryAsyncPassesTheFlagAndGivesZerosOnError) {
  OvkFileSystem& fs = connected();
  Completion<OvkContentSummary> summed, failed;
  ovkfake_push_summary("ovk_getContentSummaryAsync", 100, 4, 2);
  auto t1 = fs.getContentSummaryAsync("/d", true, summed.onRecord());
  ovkfake_push("ovk_getContentSummaryAsync", 4008, "no", 0);
  auto t2 = fs.getContentSummaryAsync("/d", false, failed.onRecord());
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_getContentSummaryAsync(/d,1)",
                                      "ovk_getContentSummaryAsync(/d,0)"));
  ovkfake_complete_next();
  ovkfake_complete_next();
  EXPECT_EQ(summed.record->fileSize, 100);
  EXPECT_EQ(summed.record->fileCount, 4);
  EXPECT_EQ(summed.record->directoryCount, 2);
  EXPECT_EQ(failed.status->message(), "get content summary failed: no");
  EXPECT_EQ(failed.record->fileSize, 0);
  EXPECT_EQ(failed.record->fileCount, 0);
}

TEST_F(FakeSdkTest, RecordOperationsOnUnconnectedClientStartNothing) {
  OvkFileSystem fs;
  Completion<OvkFileInfo> info;
  Completion<OvkListResult> listing;
  Completion<OvkContentSummary> summary;
  Completion<> rename;
  EXPECT_EQ(fs.getFileInfoAsync("/a", info.onRecord()), nullptr);
  EXPECT_EQ(fs.listDirAsync("/a", false, listing.onRecord()), nullptr);
  EXPECT_EQ(fs.getContentSummaryAsync("/a", false, summary.onRecord()),
            nullptr);
  EXPECT_EQ(fs.renameAsync("/a", "/b", rename.onStatus()), nullptr);
  EXPECT_EQ(std::string(ovkfake_calls(0)), "");
  EXPECT_EQ(info.calls + listing.calls + summary.calls + rename.calls, 0);
}

// ---- the operation handle

TEST_F(FakeSdkTest, SubmissionErrorIsNotReportedButTheCallbackStillIs) {
  OvkFileSystem& fs = connected();
  ovkfake_push_submit_error("ovk_mkdirAsync", 4002, "queue closed");
  Completion<> done;
  auto task = fs.mkdirAsync("/a", false, done.onStatus());
  ASSERT_NE(task, nullptr);
  EXPECT_TRUE(task->wait().ok());
  EXPECT_EQ(done.calls, 1);
}

TEST_F(FakeSdkTest, PerformWaitCancelUseANullStreamForNamespaceRequests) {
  OvkFileSystem& fs = connected();
  Completion<> done;
  auto task = fs.mkdirAsync("/a", false, done.onStatus());
  ovkfake_clear_calls();
  EXPECT_TRUE(task->perform().ok());
  EXPECT_TRUE(task->wait().ok());
  EXPECT_EQ(done.calls, 1) << "wait returns after the callback";
  EXPECT_TRUE(task->cancel().ok());
  EXPECT_EQ(done.calls, 1) << "a finished request is not called back again";
  auto calls = fakeCalls(OVKFAKE_SKIP_ACCESSORS);
  EXPECT_EQ(std::count(calls.begin(), calls.end(),
                       "ovk_createHandleCtx2(store#1,null)"),
            3);
  EXPECT_EQ(ovkfake_call_count("ovk_perform"), 1);
  EXPECT_EQ(ovkfake_call_count("ovk_wait"), 1);
  EXPECT_EQ(ovkfake_call_count("ovk_cancel"), 1);
}

TEST_F(FakeSdkTest, FailedDriveCallsKeepTheSdkCodeAndTheHandleUsable) {
  OvkFileSystem& fs = connected();
  Completion<> done;
  auto task = fs.mkdirAsync("/a", false, done.onStatus());
  ovkfake_push("ovk_perform", 4002, "store destroyed", 0);
  ovkfake_push("ovk_wait", 4010, "interrupted", 0);
  ovkfake_push("ovk_cancel", 4008, "not cancellable", 0);
  OvkStatus perform = task->perform();
  EXPECT_EQ(perform.code(), 4002);
  EXPECT_EQ(perform.message(), "failed to perform, errmsg: store destroyed");
  OvkStatus wait = task->wait();
  EXPECT_EQ(wait.code(), 4010);
  EXPECT_EQ(wait.message(), "failed to wait, errmsg: interrupted");
  OvkStatus cancel = task->cancel();
  EXPECT_EQ(cancel.code(), 4008);
  EXPECT_EQ(cancel.message(), "failed to cancel, errmsg: not cancellable");
  EXPECT_EQ(done.calls, 0);
  EXPECT_TRUE(task->wait().ok());
  EXPECT_EQ(done.calls, 1);
}

TEST_F(FakeSdkTest, CancelledRequestReportsTheCancellation) {
  OvkFileSystem& fs = connected();
  Completion<> done;
  auto task = fs.removeAsync("/r", false, done.onStatus());
  EXPECT_TRUE(task->cancel().ok());
  ASSERT_EQ(done.calls, 1);
  EXPECT_EQ(done.status->code(), OVK_ERR_CANCELLED);
  EXPECT_EQ(done.status->message(), "delete failed: request cancelled");
}

TEST_F(FakeSdkTest, LastHandleFreesTheOperationCallOnce) {
  OvkFileSystem& fs = connected();
  auto task = fs.mkdirAsync("/a", false, OvkStatusCallback());
  std::shared_ptr<OvkTask> copy = task;
  task.reset();
  EXPECT_EQ(ovkfake_call_count("ovk_freeOperationCall"), 0);
  copy.reset();
  EXPECT_EQ(ovkfake_call_count("ovk_freeOperationCall"), 1);
  EXPECT_EQ(ovkfake_live("call"), 0);
  EXPECT_EQ(ovkfake_complete_next(), 1)
      << "releasing the handle does not drop the callback";
}

TEST_F(FakeSdkTest, CallbacksRunOnTheSdksThread) {
  ovkfake_set_async_mode(OVKFAKE_ASYNC_THREAD);
  OvkFileSystem& fs = connected();
  std::vector<std::unique_ptr<Completion<>>> done;
  std::vector<std::shared_ptr<OvkTask>> tasks;
  for (int i = 0; i < 8; ++i) {
    done.push_back(std::make_unique<Completion<>>());
    tasks.push_back(fs.mkdirAsync("/d" + std::to_string(i), true,
                                  done.back()->onStatus()));
  }
  for (auto& task : tasks) EXPECT_TRUE(task->wait().ok());
  for (auto& d : done) {
    std::lock_guard<std::mutex> lock(d->mu);
    EXPECT_EQ(d->calls, 1);
    EXPECT_NE(d->thread, std::this_thread::get_id());
  }
}

}  // namespace
