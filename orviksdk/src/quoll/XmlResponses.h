// The XML bodies of the S3 API: parsing responses and building requests,
// with libxml2.
//
// Parsers are pure functions over a complete body; they return false for a
// body that is not the expected document (which the caller reports as a
// remote error). Element names are matched without namespace, so the
// documents of every S3-compatible service parse alike.
#ifndef ORVIKSDK_QUOLL_XMLRESPONSES_H_
#define ORVIKSDK_QUOLL_XMLRESPONSES_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ovk::quoll {

struct ServiceError {
  std::string code;       // "NoSuchKey", "SlowDown" ...
  std::string message;
  std::string requestId;
};

struct ListedObject {
  std::string key;
  int64_t size = 0;
  int64_t mtimeMs = -1;
};

struct ListPage {
  std::vector<ListedObject> objects;
  std::vector<std::string> commonPrefixes;
  bool truncated = false;
  std::string nextContinuationToken;
};

struct DeleteFailure {
  std::string key;
  std::string code;
  std::string message;
};

struct CompletedPart {
  int partNumber;
  std::string etag;
};

// <Error> documents, returned with error statuses and, for a multipart
// completion or a copy, also with 200.
bool parseError(const std::string& xml, ServiceError* error);

bool parseListObjectsV2(const std::string& xml, ListPage* page);

bool parseInitiateMultipartUpload(const std::string& xml, std::string* uploadId);

// CopyObjectResult and CopyPartResult: the new ETag.
bool parseCopyResult(const std::string& xml, std::string* etag);

// CompleteMultipartUploadResult: the final ETag.
bool parseCompleteMultipartUpload(const std::string& xml, std::string* etag);

// DeleteResult: the keys that could not be deleted.
bool parseDeleteResult(const std::string& xml,
                       std::vector<DeleteFailure>* failures);

// Request bodies, with keys escaped for XML.
std::string buildDeleteObjects(const std::vector<std::string>& keys);
std::string buildCompleteMultipartUpload(const std::vector<CompletedPart>& parts);

// ISO 8601 "2024-01-02T03:04:05.678Z" to milliseconds since the epoch; -1
// when unreadable.
int64_t parseIsoTimeMs(const std::string& text);

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_XMLRESPONSES_H_
