// The fake SDK's own guarantees that the client tests rely on: misuse of
// its objects is recorded, never silently accepted.
#include <gtest/gtest.h>

#include <string>

#include "fake_sdk_control.h"
#include "orviksdk/ovk_sdk.h"

namespace {

class FakeSdkSelfTest : public ::testing::Test {
 protected:
  void SetUp() override { ovkfake_reset(); }
  void TearDown() override { ovkfake_reset(); }
};

TEST_F(FakeSdkSelfTest, DoubleFreeAndUseAfterFreeAreFaults) {
  ovk_options_t* options = ovk_createOptions();
  ovk_store_t* store = ovk_createStore(options, "file:///s");
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  ovk_freeHandleCtx(ctx);
  EXPECT_EQ(std::string(ovkfake_faults()), "");
  ovk_freeHandleCtx(ctx);
  ovk_getHandleCtxErrorCode(ctx);
  EXPECT_EQ(std::string(ovkfake_faults()),
            "ovk_freeHandleCtx: ctx#1 freed twice\n"
            "ovk_getHandleCtxErrorCode: ctx#1 used after free\n");
  EXPECT_EQ(std::string(ovkfake_live_report()), "store#1\noptions#1\n");
  ovk_freeStore(store);
  ovk_freeOptions(options);
  EXPECT_EQ(ovkfake_live("store"), 0);
  EXPECT_EQ(ovkfake_created("ctx"), 1);
}

TEST_F(FakeSdkSelfTest, ListingEntriesAreBorrowedNotOwned) {
  ovk_options_t* options = ovk_createOptions();
  ovk_store_t* store = ovk_createStore(options, "file:///s");
  ovkfake_push_listing("ovk_listDir", false, nullptr);
  ovkfake_listing_add("/a", nullptr, nullptr, 2, 0644, 0, 0, 0);
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  ovk_list_dir_result_t* list = ovk_listDir(ctx, "/", false, nullptr);
  const ovk_file_status_t* entry = ovk_getListDirFileStatus(list, 0);
  EXPECT_STREQ(ovk_getFileStatusPath(entry), "/a");
  ovk_freeListDirResult(list);
  ovk_getFileStatusPath(entry);
  ovk_freeFileStatus(const_cast<ovk_file_status_t*>(entry));
  EXPECT_EQ(std::string(ovkfake_faults()),
            "ovk_getFileStatusPath: entry of listing#1 used after free\n"
            "ovk_freeFileStatus: frees a borrowed listing entry\n");
  ovk_freeHandleCtx(ctx);
  ovk_freeStore(store);
  ovk_freeOptions(options);
}

TEST_F(FakeSdkSelfTest, BlockingCallWithOptionsIsAFault) {
  ovk_options_t* options = ovk_createOptions();
  ovk_store_t* store = ovk_createStore(options, "file:///s");
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  EXPECT_TRUE(ovk_mkdir(ctx, "/a", false, 511, options));
  EXPECT_EQ(std::string(ovkfake_faults()),
            "ovk_mkdir: options given to a blocking call\n");
  EXPECT_STREQ(ovkfake_calls_json(OVKFAKE_SKIP_CTX | OVKFAKE_SKIP_OPTIONS),
               "[\"ovk_createStore(file:///s)\",\"ovk_mkdir(/a,0,511)\"]");
  ovk_freeHandleCtx(ctx);
  ovk_freeStore(store);
  ovk_freeOptions(options);
}

}  // namespace
