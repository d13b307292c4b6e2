// HTTP(S) over libcurl for the quoll backend.
//
// One transport per store, shared by all its threads: it keeps a pool of
// curl easy handles, and each handle keeps its connections open between
// requests, so consecutive requests of a thread (and of the whole store,
// over time) reuse TCP and TLS connections instead of opening new ones.
// `perform` is thread-safe; a handle is used by one request at a time.
//
// The transport does not sign, retry or interpret status codes: it reports
// what happened on the wire, and whether a failure is one that a retry may
// cure.
#ifndef ORVIKSDK_QUOLL_HTTPTRANSPORT_H_
#define ORVIKSDK_QUOLL_HTTPTRANSPORT_H_

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Sigv4Signer.h"

namespace ovk::quoll {

struct TransportOptions {
  bool verifyTls = true;   // certificate and host name checks for https
  std::string caBundle;    // PEM file of trusted CAs; empty: the system's
  long connectTimeoutMs = 10000;
  // A transfer slower than 1 byte/s for this long is abandoned as stalled.
  long stallTimeoutMs = 60000;
};

struct HttpRequest {
  std::string method;  // GET, HEAD, PUT, POST, DELETE
  std::string url;     // fully encoded
  Headers headers;     // sent as given; "host" is replaced by curl's own
  const char* body = nullptr;  // borrowed for the duration of `perform`
  size_t bodySize = 0;
  // When set, a 2xx response body is written here (at most sinkCapacity
  // bytes; more is an error) instead of into HttpResponse::body.
  char* sink = nullptr;
  size_t sinkCapacity = 0;
};

struct HttpResponse {
  long status = 0;
  Headers headers;     // lower-case names
  std::string body;    // error bodies always land here
  size_t sinkBytes = 0;

  // The value of header `name` (lower case), or empty.
  std::string header(const std::string& name) const;
};

struct TransportFailure {
  std::string message;     // curl's description; never holds headers
  bool retryable = false;  // connection reset, timeout, truncated body ...
  bool requestSent = true; // false when no byte reached the server
};

class HttpTransport {
 public:
  explicit HttpTransport(TransportOptions options);
  ~HttpTransport();
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;

  // Sends `request`; true with `response` filled when an HTTP response came
  // back whole (whatever its status), false with `failure` otherwise.
  bool perform(const HttpRequest& request, HttpResponse* response,
               TransportFailure* failure);

 private:
  void* acquire();
  void release(void* handle);

  TransportOptions options_;
  std::mutex mutex_;
  std::vector<void*> idle_;  // CURL* handles with their open connections
};

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_HTTPTRANSPORT_H_
