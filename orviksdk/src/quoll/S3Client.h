// S3Client: the S3 REST calls the quoll backend needs, on one bucket.
//
// Each call builds its request, signs it (Signature Version 4), sends it
// through the shared HttpTransport and retries what may be retried under
// the RetryPolicy: connection failures, timeouts, truncated bodies, HTTP
// 500/502/503/504/429 and throttling codes. A request that may already have
// taken effect and is not safe to repeat (starting a multipart upload) is
// retried only when it never reached the server.
//
// Failures come back as ovk::Error with the operation, bucket/key, HTTP
// status, service error code and request id; a 404 is OVK_ERR_NOT_FOUND,
// a refused signature or access OVK_ERR_AUTH, other service errors
// OVK_ERR_REMOTE, network failures after the last retry OVK_ERR_IO. No
// message holds a credential or a signature.
//
// Thread-safe: one client serves every thread of a store.
#ifndef ORVIKSDK_QUOLL_S3CLIENT_H_
#define ORVIKSDK_QUOLL_S3CLIENT_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Error.h"
#include "HttpTransport.h"
#include "RetryPolicy.h"
#include "Sigv4Signer.h"
#include "XmlResponses.h"

namespace ovk::quoll {

struct ObjectHead {
  int64_t size = -1;
  int64_t mtimeMs = -1;
  std::string etag;
  // x-amz-meta-* headers, by name without the prefix (lower case).
  std::map<std::string, std::string> metadata;
};

class S3Client {
 public:
  struct Config {
    std::string endpoint;  // "http://host:port", "https://host", or "host[:port]" (https)
    std::string bucket;
    std::string accessKeyId;
    std::string secretKey;
    std::string region = "us-east-1";
    bool virtualHosted = false;  // bucket in the host name instead of the path
    TransportOptions transport;
    RetryPolicy::Limits retry;
  };
  // Receives one line per retry; the line names no credential.
  using RetryLog = std::function<void(const std::string&)>;

  // Fails with OVK_ERR_INVALID_ARGUMENT for an endpoint it cannot use.
  static Error Create(Config config, RetryLog log, std::unique_ptr<S3Client>* out);

  const std::string& bucket() const { return config_.bucket; }
  // Whether `other` reaches the same bucket of the same service with the
  // same key, so that this client may copy its objects server-side.
  bool sameBucket(const S3Client& other) const {
    return scheme_ == other.scheme_ && host_ == other.host_ &&
           config_.bucket == other.config_.bucket &&
           config_.accessKeyId == other.config_.accessKeyId;
  }

  // Bucket-level check used at connection time (HEAD bucket).
  Error headBucket();
  // Creates the bucket; one that this account already owns is success.
  // Stores never create buckets; tests and tools do.
  Error createBucket();
  Error headObject(const std::string& key, ObjectHead* out);
  // Reads up to `length` bytes at `offset` into `dst`; *got = bytes read,
  // fewer only at the end of the object (0 at or past it). With `etag`, the
  // read fails (HTTP 412) once the object is no longer that version, so a
  // reader never mixes bytes of two versions.
  Error getRange(const std::string& key, int64_t offset, int64_t length,
                 char* dst, int64_t* got, const std::string& etag = "");
  // `metadata`: names without the x-amz-meta- prefix.
  Error putObject(const std::string& key, const char* data, size_t size,
                  const std::map<std::string, std::string>& metadata);
  Error listObjects(const std::string& prefix, const std::string& delimiter,
                    const std::string& continuationToken, int maxKeys,
                    ListPage* page);
  Error deleteObject(const std::string& key);
  // At most 1,000 keys, as the service allows per request.
  Error deleteObjects(const std::vector<std::string>& keys);
  // Server-side copy; with `replaceMetadata` the copy gets that metadata
  // instead of the source's. With `srcEtag`, the copy fails (HTTP 412) once
  // the source is no longer that version. Objects above 5 GiB need
  // uploadPartCopy instead (ServerCopy.h chooses).
  Error copyObject(const std::string& srcKey, const std::string& dstKey,
                   const std::map<std::string, std::string>* replaceMetadata,
                   const std::string& srcEtag = "");

  Error createMultipartUpload(const std::string& key,
                              const std::map<std::string, std::string>& metadata,
                              std::string* uploadId);
  Error uploadPart(const std::string& key, const std::string& uploadId,
                   int partNumber, const char* data, size_t size,
                   std::string* etag);
  // Copies bytes [first, last] of `srcKey` as one part; `srcEtag` as for
  // copyObject.
  Error uploadPartCopy(const std::string& key, const std::string& uploadId,
                       int partNumber, const std::string& srcKey, int64_t first,
                       int64_t last, std::string* etag,
                       const std::string& srcEtag = "");
  Error completeMultipartUpload(const std::string& key,
                                const std::string& uploadId,
                                const std::vector<CompletedPart>& parts);
  Error abortMultipartUpload(const std::string& key, const std::string& uploadId);

 private:
  struct Call;

  S3Client(Config config, RetryLog log, std::string scheme, std::string host);
  Error execute(Call& call, HttpResponse* response);
  std::string objectPath(const std::string& key) const;
  std::string describe(const Call& call) const;

  Config config_;
  RetryLog log_;
  std::string scheme_;  // "http" or "https"
  std::string host_;    // host[:port] the requests go to
  Sigv4Signer signer_;
  RetryPolicy retry_;
  HttpTransport transport_;
};

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_S3CLIENT_H_
