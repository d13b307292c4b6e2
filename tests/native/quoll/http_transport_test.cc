// The libcurl transport against a scripted loopback server: bodies in and
// out, connection reuse, and the failures a retry may cure.
#include <gtest/gtest.h>

#include "HttpTransport.h"
#include "loopback_server.h"

namespace ovk::quoll {
namespace {

using testing::LoopbackServer;

HttpRequest makeRequest(const std::string& method, const std::string& url,
                        Headers headers = {}) {
  HttpRequest request;
  request.method = method;
  request.url = url;
  request.headers = std::move(headers);
  return request;
}

TEST(HttpTransport, ReusesOneConnectionForConsecutiveRequests) {
  LoopbackServer server;
  HttpTransport transport{TransportOptions{}};
  for (int i = 0; i < 3; ++i) server.script(LoopbackServer::ok("body" + std::to_string(i)));
  for (int i = 0; i < 3; ++i) {
    HttpResponse response;
    TransportFailure failure;
    ASSERT_TRUE(transport.perform(makeRequest("GET", server.url("/b/k")), &response, &failure))
        << failure.message;
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "body" + std::to_string(i));
  }
  EXPECT_EQ(server.connectionCount(), 1);
}

TEST(HttpTransport, SendsTheBodyExactlyWithoutExpectOrFormType) {
  LoopbackServer server;
  HttpTransport transport{TransportOptions{}};
  server.script(LoopbackServer::ok("", 200, "ETag: \"abc\"\r\n"));
  std::string payload(3 * 1024 * 1024, 'x');
  payload[12345] = '\0';
  HttpRequest request = makeRequest("PUT", server.url("/b/k"), {{"x-amz-meta-a", "1"}});
  request.body = payload.data();
  request.bodySize = payload.size();
  HttpResponse response;
  TransportFailure failure;
  ASSERT_TRUE(transport.perform(request, &response, &failure)) << failure.message;
  EXPECT_EQ(response.header("etag"), "\"abc\"");
  auto received = server.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].body, payload);
  EXPECT_EQ(received[0].head.find("Expect:"), std::string::npos);
  EXPECT_EQ(received[0].head.find("application/x-www-form-urlencoded"),
            std::string::npos);
  EXPECT_NE(received[0].head.find("x-amz-meta-a: 1"), std::string::npos);
}

TEST(HttpTransport, SendsEmptyBodiesWithZeroLength) {
  LoopbackServer server;
  HttpTransport transport{TransportOptions{}};
  server.script(LoopbackServer::ok(""));
  HttpResponse response;
  TransportFailure failure;
  ASSERT_TRUE(transport.perform(makeRequest("PUT", server.url("/b/dir/")), &response, &failure));
  auto received = server.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].head.rfind("PUT /b/dir/ ", 0), 0u);
  EXPECT_NE(received[0].head.find("Content-Length: 0"), std::string::npos);
}

TEST(HttpTransport, WritesSuccessBodiesToTheSinkAndErrorsToTheBody) {
  LoopbackServer server;
  HttpTransport transport{TransportOptions{}};
  server.script(LoopbackServer::ok("0123456789", 206));
  server.script(LoopbackServer::ok("<Error><Code>NoSuchKey</Code></Error>", 404));
  char sink[10];
  HttpRequest request = makeRequest("GET", server.url("/b/k"));
  request.sink = sink;
  request.sinkCapacity = sizeof sink;
  HttpResponse response;
  TransportFailure failure;
  ASSERT_TRUE(transport.perform(request, &response, &failure));
  EXPECT_EQ(response.sinkBytes, 10u);
  EXPECT_EQ(std::string(sink, 10), "0123456789");
  ASSERT_TRUE(transport.perform(request, &response, &failure));
  EXPECT_EQ(response.status, 404);
  EXPECT_EQ(response.sinkBytes, 0u);
  EXPECT_EQ(response.body, "<Error><Code>NoSuchKey</Code></Error>");
}

TEST(HttpTransport, RefusesMoreBytesThanTheSinkHolds) {
  LoopbackServer server;
  HttpTransport transport{TransportOptions{}};
  server.script(LoopbackServer::ok("0123456789", 200));
  char sink[4];
  HttpRequest request = makeRequest("GET", server.url("/b/k"));
  request.sink = sink;
  request.sinkCapacity = sizeof sink;
  HttpResponse response;
  TransportFailure failure;
  EXPECT_FALSE(transport.perform(request, &response, &failure));
  EXPECT_FALSE(failure.retryable);
}

TEST(HttpTransport, ReportsATruncatedBodyAsRetryableFailure) {
  LoopbackServer server;
  HttpTransport transport{TransportOptions{}};
  server.script({"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this", true});
  server.script(LoopbackServer::ok("whole"));
  HttpResponse response;
  TransportFailure failure;
  EXPECT_FALSE(transport.perform(makeRequest("GET", server.url("/b/k")), &response, &failure));
  EXPECT_TRUE(failure.retryable) << failure.message;
  // The broken connection is not reused: the next request opens a new one.
  ASSERT_TRUE(transport.perform(makeRequest("GET", server.url("/b/k")), &response, &failure));
  EXPECT_EQ(response.body, "whole");
  EXPECT_EQ(server.connectionCount(), 2);
}

TEST(HttpTransport, ReportsARefusedConnectionAsNotSent) {
  int port;
  {
    LoopbackServer server;
    port = std::stoi(server.hostPort().substr(10));
  }
  HttpTransport transport{TransportOptions{}};
  HttpResponse response;
  TransportFailure failure;
  EXPECT_FALSE(transport.perform(
      makeRequest("GET", "http://127.0.0.1:" + std::to_string(port) + "/b/k"), &response,
      &failure));
  EXPECT_TRUE(failure.retryable);
  EXPECT_FALSE(failure.requestSent);
}

}  // namespace
}  // namespace ovk::quoll
