// Connecting a client to a store and tearing it down.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "fake_sdk_fixture.h"

namespace {

using ::testing::ElementsAre;

// Sets (or, for nullopt, unsets) the three store variables for one test
// and restores what the process had afterwards.
class QuollEnv {
 public:
  QuollEnv(std::optional<std::string> endpoint, std::optional<std::string> id,
           std::optional<std::string> key) {
    const std::optional<std::string> values[] = {endpoint, id, key};
    for (int i = 0; i < 3; ++i) {
      const char* old = std::getenv(kNames[i]);
      saved_[i] = old ? std::optional<std::string>(old) : std::nullopt;
      apply(kNames[i], values[i]);
    }
  }
  ~QuollEnv() {
    for (int i = 0; i < 3; ++i) apply(kNames[i], saved_[i]);
  }

 private:
  static void apply(const char* name, const std::optional<std::string>& v) {
    if (v) {
      setenv(name, v->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  static constexpr const char* kNames[3] = {"QUOLL_ENDPOINT", "QUOLL_ACCESS_ID",
                                            "QUOLL_ACCESS_KEY"};
  std::optional<std::string> saved_[3];
};

struct InitCase {
  const char* name;
  OvkConfig::Entries config;
  std::optional<std::string> endpoint, id, key;
  std::vector<std::string> options;  // the ovk_setOption calls, in order
};

std::ostream& operator<<(std::ostream& out, const InitCase& c) {
  return out << c.name;
}

class InitOptionsTest : public FakeSdkTest,
                        public ::testing::WithParamInterface<InitCase> {};

TEST_P(InitOptionsTest, OptionsComeFromConfigThenEnvironmentThenLogger) {
  const InitCase& c = GetParam();
  QuollEnv env(c.endpoint, c.id, c.key);
  OvkFileSystem fs;
  OvkStatus status =
      fs.init("quoll://bucket", "alice", std::make_shared<OvkConfig>(c.config));
  ASSERT_TRUE(status.ok()) << status.message();

  std::vector<std::string> expected = {"ovk_createOptions()"};
  for (const std::string& option : c.options) {
    expected.push_back("ovk_setOption(" + option + ")");
  }
  expected.push_back("ovk_createStore(quoll://bucket)");
  expected.push_back("ovk_init(alice)");
  EXPECT_EQ(fakeCalls(OVKFAKE_SKIP_CTX), expected);
  EXPECT_TRUE(fs.destroy().ok());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InitOptionsTest,
    ::testing::Values(
        InitCase{"empty", {}, std::nullopt, std::nullopt, std::nullopt,
                 {"logger.appender,file"}},
        InitCase{"sorted_config",
                 {{"b", "2"}, {"a", "1"}},
                 std::nullopt, std::nullopt, std::nullopt,
                 {"a,1", "b,2", "logger.appender,file"}},
        InitCase{"endpoint_only", {}, "http://127.0.0.1:9000", std::nullopt,
                 std::nullopt,
                 {"fs.quoll.endpoint,http://127.0.0.1:9000",
                  "logger.appender,file"}},
        InitCase{"empty_id_counts_as_set", {}, std::nullopt, "", std::nullopt,
                 {"fs.quoll.accessKeyId,", "logger.appender,file"}},
        InitCase{"all_three_after_config",
                 {{"fs.quoll.endpoint", "cfg"}, {"logger.appender", "stderr"}},
                 "env-endpoint", "env-id", "env-key",
                 {"fs.quoll.endpoint,cfg", "logger.appender,stderr",
                  "fs.quoll.endpoint,env-endpoint",
                  "fs.quoll.accessKeyId,env-id",
                  "fs.quoll.accessKeySecret,env-key",
                  "logger.appender,file"}}),
    [](const ::testing::TestParamInfo<InitCase>& info) {
      return info.param.name;
    });

TEST_F(FakeSdkTest, GetOvkStoreFollowsTheConnection) {
  OvkFileSystem fs;
  auto [before, before_status] = fs.GetOvkStore("/any");
  EXPECT_EQ(before, nullptr);
  EXPECT_EQ(before_status.code(), 1000);
  EXPECT_EQ(before_status.message(), "init failed ");

  ASSERT_TRUE(fs.init("file:///s", "u", std::make_shared<OvkConfig>()).ok());
  auto [during, during_status] = fs.GetOvkStore("/any");
  EXPECT_NE(during, nullptr);
  EXPECT_TRUE(during_status.ok());

  ASSERT_TRUE(fs.destroy().ok());
  auto [after, after_status] = fs.GetOvkStore("/any");
  EXPECT_EQ(after, nullptr);
  EXPECT_EQ(after_status.message(), "init failed ");
}

TEST_F(FakeSdkTest, SecondInitFailsWithoutTouchingTheSdk) {
  OvkFileSystem& fs = connected();
  OvkStatus again = fs.init("file:///other", "u", std::make_shared<OvkConfig>());
  EXPECT_EQ(again.code(), 1000);
  EXPECT_EQ(again.message(), "init failed already inited");
  EXPECT_EQ(std::string(ovkfake_calls(0)), "");
  EXPECT_TRUE(fs.GetOvkStore("/").second.ok()) << "still connected";
}

TEST_F(FakeSdkTest, RefusedInitReleasesEverythingAndCanBeRetried) {
  OvkFileSystem fs;
  ovkfake_push("ovk_init", 4003, "access denied", 0);
  OvkStatus status =
      fs.init("quoll://b/p", "bob", std::make_shared<OvkConfig>());
  EXPECT_EQ(status.code(), 1000) << "the SDK's code is not passed on";
  EXPECT_EQ(status.message(),
            "init failed create ovk filesystem failed, uri: quoll://b/p, "
            "user: bob, error:  access denied");
  EXPECT_THAT(fakeCalls(OVKFAKE_SKIP_CTX),
              ElementsAre("ovk_createOptions()",
                          "ovk_setOption(logger.appender,file)",
                          "ovk_createStore(quoll://b/p)", "ovk_init(bob)",
                          "ovk_destroyStore(store#1)", "ovk_freeStore(store#1)",
                          "ovk_freeOptions(options#1)"));
  EXPECT_EQ(ovkfake_live("store"), 0);
  EXPECT_EQ(ovkfake_live("options"), 0);
  EXPECT_EQ(fs.GetOvkStore("/").second.message(), "init failed ");

  EXPECT_TRUE(fs.init("quoll://b/p", "bob", std::make_shared<OvkConfig>()).ok());
  EXPECT_TRUE(fs.destroy().ok());
}

TEST_F(FakeSdkTest, RefusedInitWithoutMessageEndsWithTheTwoBlanks) {
  OvkFileSystem fs;
  ovkfake_push("ovk_init", 4001, nullptr, 0);
  OvkStatus status = fs.init("bad://", "u", std::make_shared<OvkConfig>());
  EXPECT_EQ(status.message(),
            "init failed create ovk filesystem failed, uri: bad://, user: u, "
            "error:  ");
}

TEST_F(FakeSdkTest, StoreThatCannotBeCreatedFailsInitCleanly) {
  OvkFileSystem fs;
  ovkfake_push("ovk_createStore", 0, nullptr, 0);
  OvkStatus status = fs.init("bad://", "u", std::make_shared<OvkConfig>());
  EXPECT_EQ(status.code(), 1000);
  EXPECT_EQ(ovkfake_call_count("ovk_destroyStore"), 0)
      << "no store to destroy";
  EXPECT_EQ(ovkfake_call_count("ovk_freeOptions"), 1);
}

TEST_F(FakeSdkTest, DestroyTearsDownOnceAndIgnoresSdkErrors) {
  OvkFileSystem fs;
  ASSERT_TRUE(fs.init("file:///s", "u", std::make_shared<OvkConfig>()).ok());
  ovkfake_clear_calls();
  ovkfake_push("ovk_destroyStore", 4010, "disk gone", 0);
  EXPECT_TRUE(fs.destroy().ok());
  EXPECT_THAT(fakeCalls(OVKFAKE_SKIP_CTX),
              ElementsAre("ovk_destroyStore(store#1)", "ovk_freeStore(store#1)",
                          "ovk_freeOptions(options#1)"));
  ovkfake_clear_calls();
  EXPECT_TRUE(fs.destroy().ok());
  EXPECT_EQ(std::string(ovkfake_calls(0)), "") << "second destroy is a no-op";
}

TEST_F(FakeSdkTest, DestructorFreesHandlesWithoutDestroyingTheStore) {
  {
    OvkFileSystem fs;
    ASSERT_TRUE(fs.init("file:///s", "u", std::make_shared<OvkConfig>()).ok());
    ovkfake_clear_calls();
  }
  EXPECT_THAT(fakeCalls(0), ElementsAre("ovk_freeStore(store#1)",
                                        "ovk_freeOptions(options#1)"));
}

TEST_F(FakeSdkTest, MissingConfigurationCountsAsEmpty) {
  QuollEnv env(std::nullopt, std::nullopt, std::nullopt);
  OvkFileSystem fs;
  ASSERT_TRUE(fs.init("file:///s", "u", nullptr).ok());
  EXPECT_EQ(ovkfake_call_count("ovk_setOption"), 1);
  EXPECT_TRUE(fs.destroy().ok());
}

TEST_F(FakeSdkTest, ClientCanReconnectAfterDestroy) {
  OvkFileSystem fs;
  ASSERT_TRUE(fs.init("file:///a", "u", std::make_shared<OvkConfig>()).ok());
  ASSERT_TRUE(fs.destroy().ok());
  ASSERT_TRUE(fs.init("file:///b", "u", std::make_shared<OvkConfig>()).ok());
  EXPECT_TRUE(fs.mkdir("/d", false).ok());
  EXPECT_TRUE(fs.destroy().ok());
}

}  // namespace
