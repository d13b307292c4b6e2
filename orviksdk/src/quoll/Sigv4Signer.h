// AWS Signature Version 4 for S3 requests.
//
// The signer is immutable after construction and safe to share between
// threads. The request time is passed in, so tests can sign against fixed
// vectors. The secret key never leaves this object: nothing here logs, and
// the Authorization header carries only the derived signature.
#ifndef ORVIKSDK_QUOLL_SIGV4SIGNER_H_
#define ORVIKSDK_QUOLL_SIGV4SIGNER_H_

#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ovk::quoll {

// Header names are stored lower case; order is the order they are sent in.
using Headers = std::vector<std::pair<std::string, std::string>>;

// One query parameter, raw (not yet encoded).
using QueryParams = std::vector<std::pair<std::string, std::string>>;

// Payload hash for bodies that are not hashed (S3 accepts it on every
// request; it saves hashing every uploaded byte).
inline constexpr std::string_view kUnsignedPayload = "UNSIGNED-PAYLOAD";

std::string sha256Hex(const void* data, size_t size);

// Base64 of the MD5 of `data`, for the Content-MD5 header that S3 demands on
// DeleteObjects.
std::string md5Base64(const void* data, size_t size);

// Formats `time` (UTC) as 20150830T123600Z.
std::string amzDate(std::time_t time);

// "a=b&c=d" with keys and values encoded and sorted by key, as sent and
// as signed.
std::string canonicalQuery(const QueryParams& query);

class Sigv4Signer {
 public:
  Sigv4Signer(std::string accessKeyId, std::string secretKey,
              std::string region, std::string service = "s3");

  // Adds x-amz-date, x-amz-content-sha256 and Authorization to `headers`
  // (which must already hold "host"), signing every header in it.
  // `encodedPath` is the path exactly as sent.
  void sign(std::string_view method, std::string_view encodedPath,
            const QueryParams& query, std::string_view payloadHash,
            std::time_t now, Headers* headers) const;

  // The pieces of `sign`, exposed for the published test vectors.
  static std::string canonicalRequest(std::string_view method,
                                      std::string_view encodedPath,
                                      const QueryParams& query,
                                      const Headers& headers,
                                      std::string_view payloadHash,
                                      std::string* signedHeaders);
  std::string stringToSign(std::string_view amzDate,
                           std::string_view canonicalRequest) const;
  std::string signature(std::string_view amzDate,
                        std::string_view stringToSign) const;

  bool anonymous() const { return accessKeyId_.empty(); }

 private:
  std::string scope(std::string_view date) const;

  std::string accessKeyId_;
  std::string secretKey_;
  std::string region_;
  std::string service_;
};

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_SIGV4SIGNER_H_
