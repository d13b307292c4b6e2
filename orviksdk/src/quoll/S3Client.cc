#include "S3Client.h"

#include <curl/curl.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "UriEncoding.h"

namespace ovk::quoll {

struct S3Client::Call {
  Call(const char* op, std::string verb, std::string objectKey = "")
      : operation(op), method(std::move(verb)), key(std::move(objectKey)) {}

  const char* operation;  // the S3 action, for messages: "GetObject"
  std::string method;
  std::string key;  // empty for bucket-level requests
  QueryParams query;
  Headers headers;
  const char* body = nullptr;
  size_t bodySize = 0;
  char* sink = nullptr;
  size_t sinkCapacity = 0;
  // False when sending twice could do something once-only (a second upload
  // id); such a call is repeated only when it never reached the server.
  bool repeatable = true;
  // The service may answer 200 and put an <Error> in the body (copies and
  // multipart completions do, when they fail after the headers went out).
  bool errorIn200 = false;
};

namespace {

constexpr char kMetaPrefix[] = "x-amz-meta-";

void addMetadata(const std::map<std::string, std::string>& metadata,
                 Headers* headers) {
  for (const auto& [name, value] : metadata) {
    headers->emplace_back(kMetaPrefix + name, value);
  }
}

int64_t headerInt(const HttpResponse& response, const char* name) {
  std::string value = response.header(name);
  return value.empty() ? -1 : std::strtoll(value.c_str(), nullptr, 10);
}

// x-amz-copy-source-if-match with the ETag unquoted: the service accepts
// either form, and the RADOS Gateway compares the bare value only.
void addCopySourceCondition(const std::string& etag, Headers* headers) {
  if (etag.empty()) return;
  bool quoted = etag.size() >= 2 && etag.front() == '"' && etag.back() == '"';
  headers->emplace_back("x-amz-copy-source-if-match",
                        quoted ? etag.substr(1, etag.size() - 2) : etag);
}

}  // namespace

Error S3Client::Create(Config config, RetryLog log, std::unique_ptr<S3Client>* out) {
  std::string endpoint = config.endpoint;
  std::string scheme = "https";
  size_t sep = endpoint.find("://");
  if (sep != std::string::npos) {
    scheme = endpoint.substr(0, sep);
    endpoint = endpoint.substr(sep + 3);
  }
  while (!endpoint.empty() && endpoint.back() == '/') endpoint.pop_back();
  if (scheme != "http" && scheme != "https") {
    return Error::InvalidArgument("quoll endpoint " + config.endpoint +
                                  ": the scheme must be http or https");
  }
  if (endpoint.empty() || endpoint.find('/') != std::string::npos) {
    return Error::InvalidArgument("quoll endpoint " + config.endpoint +
                                  ": expected [http[s]://]host[:port]");
  }
  std::string host = config.virtualHosted ? config.bucket + "." + endpoint : endpoint;
  out->reset(new S3Client(std::move(config), std::move(log), scheme, host));
  return Error();
}

S3Client::S3Client(Config config, RetryLog log, std::string scheme, std::string host)
    : config_(std::move(config)),
      log_(std::move(log)),
      scheme_(std::move(scheme)),
      host_(std::move(host)),
      signer_(config_.accessKeyId, config_.secretKey, config_.region),
      retry_(config_.retry),
      transport_(config_.transport) {}

std::string S3Client::objectPath(const std::string& key) const {
  std::string path = "/";
  if (!config_.virtualHosted) {
    path += uriEncode(config_.bucket, false);
    if (key.empty()) return path;
    path += "/";
  }
  return path + uriEncode(key, true);
}

std::string S3Client::describe(const Call& call) const {
  std::string out = call.operation;
  out += " ";
  out += config_.bucket;
  if (!call.key.empty()) out += "/" + call.key;
  out += " at " + scheme_ + "://" + host_;
  return out;
}

Error S3Client::execute(Call& call, HttpResponse* response) {
  const std::string path = objectPath(call.key);
  const std::string query = canonicalQuery(call.query);
  const std::string url =
      scheme_ + "://" + host_ + path + (query.empty() ? "" : "?" + query);
  const auto start = retry_.now();

  for (int attempt = 1;; ++attempt) {
    HttpRequest request;
    request.method = call.method;
    request.url = url;
    request.headers = call.headers;
    request.headers.emplace_back("host", host_);
    signer_.sign(call.method, path, call.query, kUnsignedPayload,
                 std::time(nullptr), &request.headers);
    request.body = call.body;
    request.bodySize = call.bodySize;
    request.sink = call.sink;
    request.sinkCapacity = call.sinkCapacity;

    TransportFailure failure;
    std::string cause;
    bool retryable = false;
    Error error;
    if (!transport_.perform(request, response, &failure)) {
      cause = failure.message;
      retryable = failure.retryable && (call.repeatable || !failure.requestSent);
      error = Error::Io(describe(call) + ": " + cause);
    } else {
      ServiceError service;
      bool ok = response->status >= 200 && response->status < 300;
      if (ok && call.errorIn200 && parseError(response->body, &service)) ok = false;
      if (ok) return Error();

      if (service.code.empty()) parseError(response->body, &service);
      cause = "HTTP " + std::to_string(response->status);
      if (!service.code.empty()) cause += " " + service.code;
      if (!service.message.empty()) cause += ": " + service.message;
      if (!service.requestId.empty()) cause += " (request id " + service.requestId + ")";
      if (response->status == 403 && service.code.empty()) {
        cause += " (access refused: check fs.quoll.accessKeyId and fs.quoll.accessKeySecret)";
      }
      std::string message = describe(call) + ": " + cause;
      long status = response->status;
      const std::string& code = service.code;
      if (status == 404 || code == "NoSuchKey" || code == "NoSuchBucket" ||
          code == "NoSuchUpload") {
        return Error::NotFound(message);
      }
      if (status == 403 || code == "AccessDenied" ||
          code == "SignatureDoesNotMatch" || code == "InvalidAccessKeyId") {
        return Error::Auth(message);
      }
      retryable = call.repeatable && RetryPolicy::isRetryableStatus(status, code);
      error = Error::Remote(message);
    }
    if (!retryable) return error;
    auto delay = retry_.nextDelay(attempt, start);
    if (!delay) {
      return Error(error.code(), error.message() + " (after " +
                                     std::to_string(attempt) + " attempts)");
    }
    if (log_) {
      log_(describe(call) + ": " + cause + "; attempt " + std::to_string(attempt + 1) +
           " in " + std::to_string(delay->count()) + " ms");
    }
    std::this_thread::sleep_for(*delay);
  }
}

Error S3Client::headBucket() {
  Call call{"HeadBucket", "HEAD"};
  HttpResponse response;
  return execute(call, &response);
}

Error S3Client::createBucket() {
  Call call{"CreateBucket", "PUT"};
  HttpResponse response;
  Error error = execute(call, &response);
  if (!error.ok() && error.message().find("BucketAlreadyOwnedByYou") != std::string::npos) {
    return Error();
  }
  return error;
}

Error S3Client::headObject(const std::string& key, ObjectHead* out) {
  Call call{"HeadObject", "HEAD", key};
  HttpResponse response;
  Error error = execute(call, &response);
  if (!error.ok()) return error;
  ObjectHead head;
  head.size = headerInt(response, "content-length");
  std::string modified = response.header("last-modified");
  if (!modified.empty()) {
    time_t t = curl_getdate(modified.c_str(), nullptr);
    if (t >= 0) head.mtimeMs = static_cast<int64_t>(t) * 1000;
  }
  head.etag = response.header("etag");
  for (const auto& [name, value] : response.headers) {
    if (name.compare(0, sizeof kMetaPrefix - 1, kMetaPrefix) == 0) {
      head.metadata[name.substr(sizeof kMetaPrefix - 1)] = value;
    }
  }
  *out = std::move(head);
  return Error();
}

Error S3Client::getRange(const std::string& key, int64_t offset, int64_t length,
                         char* dst, int64_t* got, const std::string& etag) {
  if (length <= 0) {
    *got = 0;
    return Error();
  }
  Call call{"GetObject", "GET", key};
  call.headers.emplace_back("range", "bytes=" + std::to_string(offset) + "-" +
                                         std::to_string(offset + length - 1));
  if (!etag.empty()) call.headers.emplace_back("if-match", etag);
  call.sink = dst;
  call.sinkCapacity = static_cast<size_t>(length);
  HttpResponse response;
  Error error = execute(call, &response);
  if (!error.ok()) {
    // Asking at or past the end is end of file, not a failure.
    if (response.status == 416) {
      *got = 0;
      return Error();
    }
    return error;
  }
  if (response.status == 200 && offset != 0) {
    return Error::Remote(describe(call) + ": the service ignored the byte range");
  }
  *got = static_cast<int64_t>(response.sinkBytes);
  return Error();
}

Error S3Client::putObject(const std::string& key, const char* data, size_t size,
                          const std::map<std::string, std::string>& metadata) {
  Call call{"PutObject", "PUT", key};
  addMetadata(metadata, &call.headers);
  call.body = data;
  call.bodySize = size;
  HttpResponse response;
  return execute(call, &response);
}

Error S3Client::listObjects(const std::string& prefix, const std::string& delimiter,
                            const std::string& continuationToken, int maxKeys,
                            ListPage* page) {
  Call call{"ListObjectsV2", "GET"};
  call.query = {{"list-type", "2"}, {"max-keys", std::to_string(maxKeys)}};
  if (!prefix.empty()) call.query.emplace_back("prefix", prefix);
  if (!delimiter.empty()) call.query.emplace_back("delimiter", delimiter);
  if (!continuationToken.empty()) {
    call.query.emplace_back("continuation-token", continuationToken);
  }
  HttpResponse response;
  Error error = execute(call, &response);
  if (!error.ok()) return error;
  if (!parseListObjectsV2(response.body, page)) {
    return Error::Remote(describe(call) + ": unreadable listing");
  }
  return Error();
}

Error S3Client::deleteObject(const std::string& key) {
  Call call{"DeleteObject", "DELETE", key};
  HttpResponse response;
  return execute(call, &response);
}

Error S3Client::deleteObjects(const std::vector<std::string>& keys) {
  if (keys.empty()) return Error();
  std::string body = buildDeleteObjects(keys);
  Call call{"DeleteObjects", "POST"};
  call.query = {{"delete", ""}};
  call.headers.emplace_back("content-md5", md5Base64(body.data(), body.size()));
  call.headers.emplace_back("content-type", "application/xml");
  call.body = body.data();
  call.bodySize = body.size();
  HttpResponse response;
  Error error = execute(call, &response);
  if (!error.ok()) return error;
  std::vector<DeleteFailure> failures;
  if (!parseDeleteResult(response.body, &failures)) {
    return Error::Remote(describe(call) + ": unreadable result");
  }
  if (!failures.empty()) {
    const DeleteFailure& first = failures.front();
    return Error::Remote(describe(call) + ": " + std::to_string(failures.size()) +
                         " of " + std::to_string(keys.size()) +
                         " objects not deleted, first " + config_.bucket + "/" +
                         first.key + ": " + first.code + " " + first.message);
  }
  return Error();
}

Error S3Client::copyObject(const std::string& srcKey, const std::string& dstKey,
                           const std::map<std::string, std::string>* replaceMetadata,
                           const std::string& srcEtag) {
  Call call{"CopyObject", "PUT", dstKey};
  call.headers.emplace_back("x-amz-copy-source",
                            uriEncode("/" + config_.bucket + "/" + srcKey, true));
  addCopySourceCondition(srcEtag, &call.headers);
  if (replaceMetadata != nullptr) {
    call.headers.emplace_back("x-amz-metadata-directive", "REPLACE");
    addMetadata(*replaceMetadata, &call.headers);
  }
  call.errorIn200 = true;
  HttpResponse response;
  return execute(call, &response);
}

Error S3Client::createMultipartUpload(const std::string& key,
                                      const std::map<std::string, std::string>& metadata,
                                      std::string* uploadId) {
  Call call{"CreateMultipartUpload", "POST", key};
  call.query = {{"uploads", ""}};
  addMetadata(metadata, &call.headers);
  call.repeatable = false;
  HttpResponse response;
  Error error = execute(call, &response);
  if (!error.ok()) return error;
  if (!parseInitiateMultipartUpload(response.body, uploadId)) {
    return Error::Remote(describe(call) + ": no upload id in the answer");
  }
  return Error();
}

Error S3Client::uploadPart(const std::string& key, const std::string& uploadId,
                           int partNumber, const char* data, size_t size,
                           std::string* etag) {
  Call call{"UploadPart", "PUT", key};
  call.query = {{"partNumber", std::to_string(partNumber)}, {"uploadId", uploadId}};
  call.body = data;
  call.bodySize = size;
  HttpResponse response;
  Error error = execute(call, &response);
  if (!error.ok()) return error;
  *etag = response.header("etag");
  if (etag->size() >= 2 && etag->front() == '"') *etag = etag->substr(1, etag->size() - 2);
  if (etag->empty()) {
    return Error::Remote(describe(call) + ": no ETag for part " +
                         std::to_string(partNumber));
  }
  return Error();
}

Error S3Client::uploadPartCopy(const std::string& key, const std::string& uploadId,
                               int partNumber, const std::string& srcKey,
                               int64_t first, int64_t last, std::string* etag,
                               const std::string& srcEtag) {
  Call call{"UploadPartCopy", "PUT", key};
  call.query = {{"partNumber", std::to_string(partNumber)}, {"uploadId", uploadId}};
  call.headers.emplace_back("x-amz-copy-source",
                            uriEncode("/" + config_.bucket + "/" + srcKey, true));
  addCopySourceCondition(srcEtag, &call.headers);
  call.headers.emplace_back("x-amz-copy-source-range", "bytes=" + std::to_string(first) +
                                                           "-" + std::to_string(last));
  call.errorIn200 = true;
  HttpResponse response;
  Error error = execute(call, &response);
  if (!error.ok()) return error;
  if (!parseCopyResult(response.body, etag)) {
    return Error::Remote(describe(call) + ": no ETag for part " +
                         std::to_string(partNumber));
  }
  return Error();
}

Error S3Client::completeMultipartUpload(const std::string& key,
                                        const std::string& uploadId,
                                        const std::vector<CompletedPart>& parts) {
  std::string body = buildCompleteMultipartUpload(parts);
  Call call{"CompleteMultipartUpload", "POST", key};
  call.query = {{"uploadId", uploadId}};
  call.headers.emplace_back("content-type", "application/xml");
  call.body = body.data();
  call.bodySize = body.size();
  call.errorIn200 = true;
  HttpResponse response;
  Error error = execute(call, &response);
  if (!error.ok()) return error;
  std::string etag;
  if (!parseCompleteMultipartUpload(response.body, &etag)) {
    return Error::Remote(describe(call) + ": unreadable completion answer");
  }
  return Error();
}

Error S3Client::abortMultipartUpload(const std::string& key,
                                     const std::string& uploadId) {
  Call call{"AbortMultipartUpload", "DELETE", key};
  call.query = {{"uploadId", uploadId}};
  HttpResponse response;
  Error error = execute(call, &response);
  // Already gone is what an abort wants.
  if (error.code() == OVK_ERR_NOT_FOUND) return Error();
  return error;
}

}  // namespace ovk::quoll
