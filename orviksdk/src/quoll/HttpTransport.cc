#include "HttpTransport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace ovk::quoll {
namespace {

// Bounds the idle handles kept; more only happen in bursts of threads.
constexpr size_t kMaxIdleHandles = 64;

void globalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  CURL* curl;
  const HttpRequest* request;
  HttpResponse* response;
  bool sinkOverflow = false;
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  size_t n = size * count;
  std::string_view line(data, n);
  if (line.substr(0, 5) == "HTTP/") {
    // A new status line (after "100 Continue" or a redirect) starts over.
    transfer->response->headers.clear();
    return n;
  }
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return n;
  std::string name(line.substr(0, colon));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
    value.remove_prefix(1);
  }
  while (!value.empty() &&
         (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
    value.remove_suffix(1);
  }
  transfer->response->headers.emplace_back(std::move(name), std::string(value));
  return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  size_t n = size * count;
  long status = 0;
  curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status);
  const HttpRequest& request = *transfer->request;
  HttpResponse& response = *transfer->response;
  if (request.sink != nullptr && status >= 200 && status < 300) {
    if (response.sinkBytes + n > request.sinkCapacity) {
      transfer->sinkOverflow = true;
      return 0;  // aborts the transfer with CURLE_WRITE_ERROR
    }
    std::memcpy(request.sink + response.sinkBytes, data, n);
    response.sinkBytes += n;
  } else {
    response.body.append(data, n);
  }
  return n;
}

bool isRetryable(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string HttpResponse::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (key == name) return value;
  }
  return "";
}

HttpTransport::HttpTransport(TransportOptions options)
    : options_(std::move(options)) {
  globalInitOnce();
}

HttpTransport::~HttpTransport() {
  for (void* handle : idle_) curl_easy_cleanup(static_cast<CURL*>(handle));
}

void* HttpTransport::acquire() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
      void* handle = idle_.back();
      idle_.pop_back();
      return handle;
    }
  }
  return curl_easy_init();
}

void HttpTransport::release(void* handle) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (idle_.size() < kMaxIdleHandles) {
      idle_.push_back(handle);
      return;
    }
  }
  curl_easy_cleanup(static_cast<CURL*>(handle));
}

bool HttpTransport::perform(const HttpRequest& request, HttpResponse* response,
                            TransportFailure* failure) {
  CURL* curl = static_cast<CURL*>(acquire());
  if (curl == nullptr) {
    failure->message = "cannot create an HTTP handle";
    failure->retryable = false;
    failure->requestSent = false;
    return false;
  }
  // Resetting keeps the handle's open connections, which is the point of
  // pooling handles.
  curl_easy_reset(curl);
  *response = HttpResponse();
  Transfer transfer{curl, &request, response};
  char errorBuffer[CURL_ERROR_SIZE] = {0};

  curl_slist* headers = nullptr;
  for (const auto& [name, value] : request.headers) {
    if (name == "host") continue;  // curl derives it from the URL identically
    std::string line = name + ": " + value;
    headers = curl_slist_append(headers, line.c_str());
  }
  // curl would otherwise add a form content type and wait for
  // "100 Continue" before large bodies.
  headers = curl_slist_append(headers, "Expect:");
  headers = curl_slist_append(headers, "Content-Type:");
  headers = curl_slist_append(headers, "Accept:");

  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                   std::max(1L, options_.stallTimeoutMs / 1000));
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, options_.verifyTls ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, options_.verifyTls ? 2L : 0L);
  if (!options_.caBundle.empty()) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, options_.caBundle.c_str());
  }

  if (request.method == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (request.method == "GET") {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  } else if (request.method == "DELETE" && request.bodySize == 0) {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "DELETE");
  } else {
    // POSTFIELDS sends straight from the caller's memory, without copying,
    // and with an exact Content-Length (also for empty bodies).
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.bodySize));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS,
                     request.body != nullptr ? request.body : "");
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }

  CURLcode code = curl_easy_perform(curl);
  curl_slist_free_all(headers);
  bool ok = code == CURLE_OK;
  if (ok) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response->status);
  } else if (transfer.sinkOverflow) {
    failure->message = "the response body is larger than the range asked for";
    failure->retryable = false;
  } else {
    failure->message = errorBuffer[0] != '\0' ? errorBuffer
                                              : curl_easy_strerror(code);
    failure->retryable = isRetryable(code);
    failure->requestSent = code != CURLE_COULDNT_CONNECT &&
                           code != CURLE_COULDNT_RESOLVE_HOST;
  }
  if (ok) {
    release(curl);
  } else {
    // A handle that failed mid-transfer may hold a broken connection.
    curl_easy_cleanup(curl);
  }
  return ok;
}

}  // namespace ovk::quoll
