// A GoogleTest environment that starts the RADOS Gateway of
// tests/quoll/rgw.sh for the process, creates the test bucket, and stops
// the gateway at the end if it started it. Tests fail (never skip) when the
// gateway cannot start; the script's logs are kept for a failed run.
#ifndef TESTS_NATIVE_QUOLL_RGW_ENVIRONMENT_H_
#define TESTS_NATIVE_QUOLL_RGW_ENVIRONMENT_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "S3Client.h"

namespace ovk::quoll::testing {

inline constexpr char kRgwEndpoint[] = "http://127.0.0.1:7480";
inline constexpr char kRgwAccessKey[] = "OVKTESTACCESSKEY0001";
inline constexpr char kRgwSecretKey[] = "ovkTestSecretKey/0001+forLoopbackOnly";
inline constexpr char kTestBucket[] = "ovk-native";
inline constexpr char kRgwTlsEndpoint[] = "https://127.0.0.1:7443";

// The self-signed certificate of the https endpoint, made by rgw.sh.
inline std::string RgwCaBundle() {
  const char* dir = std::getenv("OVK_RGW_DIR");
  return std::string(dir != nullptr ? dir : "/tmp/ovk-rgw") + "/tls.pem";
}

class RgwEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string script = std::string(OVK_RGW_SCRIPT);
    startedHere_ = std::system((script + " status").c_str()) != 0;
    ASSERT_EQ(std::system((script + " start >/dev/null").c_str()), 0)
        << "the RADOS Gateway did not start; see /tmp/ovk-rgw/log";
    S3Client::Config config;
    config.endpoint = kRgwEndpoint;
    config.bucket = kTestBucket;
    config.accessKeyId = kRgwAccessKey;
    config.secretKey = kRgwSecretKey;
    std::unique_ptr<S3Client> client;
    ASSERT_TRUE(S3Client::Create(config, nullptr, &client).ok());
    Error error = client->createBucket();
    ASSERT_TRUE(error.ok()) << error.message();
  }

  void TearDown() override {
    if (!startedHere_) return;
    std::string keep = ::testing::UnitTest::GetInstance()->Failed()
                           ? "OVK_RGW_KEEP_LOGS=1 "
                           : "";
    std::system((keep + OVK_RGW_SCRIPT + " stop").c_str());
  }

 private:
  bool startedHere_ = false;
};

}  // namespace ovk::quoll::testing

#endif  // TESTS_NATIVE_QUOLL_RGW_ENVIRONMENT_H_
