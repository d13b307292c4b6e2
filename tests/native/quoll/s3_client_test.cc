// The S3 client's retry decisions against a scripted loopback server: what
// is retried, what is not, and what a final failure says.
#include <gtest/gtest.h>

#include "S3Client.h"
#include "loopback_server.h"

namespace ovk::quoll {
namespace {

using testing::LoopbackServer;

constexpr char kSecret[] = "secret/never+shown";

std::unique_ptr<S3Client> clientFor(const LoopbackServer& server, int attempts = 4) {
  S3Client::Config config;
  config.endpoint = "http://" + server.hostPort();
  config.bucket = "bkt";
  config.accessKeyId = "AKIDTEST";
  config.secretKey = kSecret;
  config.retry.maxAttempts = attempts;
  config.retry.base = std::chrono::milliseconds(1);
  config.retry.cap = std::chrono::milliseconds(5);
  std::unique_ptr<S3Client> client;
  EXPECT_TRUE(S3Client::Create(config, nullptr, &client).ok());
  return client;
}

std::string errorBody(const std::string& code) {
  return "<Error><Code>" + code + "</Code><Message>m</Message><RequestId>r1</RequestId></Error>";
}

TEST(S3Client, RetriesThrottlingThenSucceeds) {
  LoopbackServer server;
  server.script(LoopbackServer::ok(errorBody("SlowDown"), 503));
  server.script(LoopbackServer::ok("", 200));
  auto client = clientFor(server);
  EXPECT_TRUE(client->putObject("k", "abc", 3, {}).ok());
  auto received = server.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].body, "abc");
}

TEST(S3Client, RetriesACompletionAnswered200WithAnError) {
  LoopbackServer server;
  server.script(LoopbackServer::ok(errorBody("InternalError"), 200));
  server.script(LoopbackServer::ok(
      "<CompleteMultipartUploadResult><ETag>\"e-1\"</ETag></CompleteMultipartUploadResult>"));
  auto client = clientFor(server);
  EXPECT_TRUE(client->completeMultipartUpload("k", "up1", {{1, "e"}}).ok());
  EXPECT_EQ(server.received().size(), 2u);
}

TEST(S3Client, DoesNotRepeatAnUploadStartWhoseAnswerWasLost) {
  LoopbackServer server;
  server.script({"", true});  // the request arrives, the answer never does
  auto client = clientFor(server);
  std::string uploadId;
  Error error = client->createMultipartUpload("k", {}, &uploadId);
  EXPECT_EQ(error.code(), OVK_ERR_IO);
  EXPECT_EQ(server.received().size(), 1u);
}

TEST(S3Client, AFinalFailureNamesEverythingButTheCredentials) {
  LoopbackServer server;
  for (int i = 0; i < 3; ++i) server.script(LoopbackServer::ok(errorBody("SlowDown"), 503));
  auto client = clientFor(server, 3);
  int64_t got = 0;
  char buffer[8];
  Error error = client->getRange("dir/a b", 0, 8, buffer, &got);
  EXPECT_EQ(error.code(), OVK_ERR_REMOTE);
  for (const char* part : {"GetObject", "bkt/dir/a b", "HTTP 503", "SlowDown", "r1",
                           "after 3 attempts"}) {
    EXPECT_NE(error.message().find(part), std::string::npos) << part << " in "
                                                              << error.message();
  }
  for (const char* secret : {kSecret, "AKIDTEST", "Signature"}) {
    EXPECT_EQ(error.message().find(secret), std::string::npos) << secret;
  }
}

TEST(S3Client, MapsStatusesToErrorCodesWithoutRetrying) {
  struct Case {
    int status;
    const char* code;
    int32_t expected;
  } cases[] = {{404, "NoSuchKey", OVK_ERR_NOT_FOUND},
               {403, "SignatureDoesNotMatch", OVK_ERR_AUTH},
               {400, "InvalidArgument", OVK_ERR_REMOTE}};
  for (const Case& c : cases) {
    LoopbackServer server;
    server.script(LoopbackServer::ok(errorBody(c.code), c.status));
    auto client = clientFor(server);
    EXPECT_EQ(client->deleteObject("k").code(), c.expected) << c.code;
    EXPECT_EQ(server.received().size(), 1u) << c.code;
  }
}

TEST(S3Client, SignsEveryRequest) {
  LoopbackServer server;
  server.script(LoopbackServer::ok(""));
  auto client = clientFor(server);
  ASSERT_TRUE(client->deleteObject("a+b").ok());
  const std::string head = server.received().at(0).head;
  EXPECT_EQ(head.rfind("DELETE /bkt/a%2Bb HTTP/1.1", 0), 0u) << head;
  EXPECT_NE(head.find("authorization: AWS4-HMAC-SHA256 Credential=AKIDTEST/"),
            std::string::npos);
  EXPECT_NE(head.find("x-amz-content-sha256: UNSIGNED-PAYLOAD"), std::string::npos);
}

}  // namespace
}  // namespace ovk::quoll
