// A GoogleTest fixture over the fake SDK: a clean script before each test,
// and after it a check that the client neither misused nor leaked any SDK
// object and left no asynchronous request without its callback.
#ifndef TESTS_NATIVE_CLIENT_FAKE_SDK_FIXTURE_H_
#define TESTS_NATIVE_CLIENT_FAKE_SDK_FIXTURE_H_

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "OvkConfig.h"
#include "OvkFileSystem.h"
#include "fake_sdk_control.h"

// The recorded calls, one string each.
inline std::vector<std::string> fakeCalls(int skip_flags) {
  std::vector<std::string> calls;
  std::istringstream text(ovkfake_calls(skip_flags));
  for (std::string call; std::getline(text, call);) calls.push_back(call);
  return calls;
}

// The calls that show what the client asked of the SDK, without the
// handle-context, options and list bookkeeping around them.
inline std::vector<std::string> sdkCalls() {
  return fakeCalls(OVKFAKE_SKIP_CTX | OVKFAKE_SKIP_ACCESSORS |
                   OVKFAKE_SKIP_OPTIONS | OVKFAKE_SKIP_LISTS);
}

class FakeSdkTest : public ::testing::Test {
 protected:
  void SetUp() override { ovkfake_reset(); }

  void TearDown() override {
    ovkfake_join_threads();
    fs_.reset();
    EXPECT_EQ(std::string(ovkfake_faults()), "") << "SDK objects misused";
    EXPECT_EQ(ovkfake_pending(), 0) << "callbacks never delivered";
    EXPECT_EQ(std::string(ovkfake_live_report()), "") << "SDK objects leaked";
    ovkfake_reset();
  }

  // A client connected to a fake store; the calls that connected it are
  // forgotten. Destroyed (and its store freed) before the leak check.
  OvkFileSystem& connected() {
    fs_ = std::make_unique<ConnectedClient>();
    OvkStatus status =
        fs_->init("file:///store", "tester", std::make_shared<OvkConfig>());
    EXPECT_TRUE(status.ok()) << status.message();
    ovkfake_clear_calls();
    return *fs_;
  }

 private:
  // Destroys the store before the client is deleted, as the Python layer
  // does on deallocation.
  struct ConnectedClient : OvkFileSystem {
    ~ConnectedClient() override { destroy(); }
  };
  std::unique_ptr<OvkFileSystem> fs_;
};

#endif  // TESTS_NATIVE_CLIENT_FAKE_SDK_FIXTURE_H_
