// Server-side copies: the bytes of an object move inside the service, never
// through this process.
//
// An object up to `partBytes` is copied with one CopyObject. A larger one
// (and the service refuses CopyObject above 5 GiB) is copied as a multipart
// upload of UploadPartCopy parts of `partBytes`, `concurrency` at a time;
// the copy appears whole when the upload completes, and a failed one is
// aborted, leaving nothing at the destination.
//
// A source with an ETag is copied only as that version: the requests carry
// x-amz-copy-source-if-match, and since some services ignore it (the RADOS
// Gateway up to at least 16.2), a multipart copy also checks the source's
// ETag before completing, so parts of two versions are never joined. A
// single CopyObject is atomic: where the condition is ignored, it copies
// the newer version whole.
#ifndef ORVIKSDK_QUOLL_SERVERCOPY_H_
#define ORVIKSDK_QUOLL_SERVERCOPY_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Error.h"
#include "S3Client.h"

namespace ovk::quoll {

// One version of an object to copy from.
struct CopySource {
  std::string key;
  int64_t size = 0;
  std::string etag;  // the version copied; empty accepts whatever is there
};

// Runs work(0) .. work(count - 1), at most `concurrency` at once, in
// windows of that many; stops starting new ones after a window with a
// failure and returns the first failure in index order.
Error RunBounded(size_t count, int concurrency, const std::function<Error(size_t)>& work);

// Copies `source` to `dstKey` with `metadata` (the source's own when null,
// or replaced by the given map).
Error CopyObjectServerSide(S3Client& client, const CopySource& source,
                           const std::string& dstKey,
                           const std::map<std::string, std::string>* metadata,
                           int64_t partBytes, int concurrency);

// Adds bytes [begin, end) of `source` to the multipart upload `uploadId` of
// `dstKey` as parts numbered from parts->size() + 1, each `partBytes` but
// the last, and appends them to `parts`. The caller keeps every part but
// the upload's last at 5 MiB or more, as the service requires.
Error CopyParts(S3Client& client, const CopySource& source, int64_t begin, int64_t end,
                const std::string& dstKey, const std::string& uploadId, int64_t partBytes,
                int concurrency, std::vector<CompletedPart>* parts);

// Fails unless `source` is still the version it names, for a multipart
// upload of copied parts that is about to complete.
Error CheckSourceUnchanged(S3Client& client, const CopySource& source,
                           const std::string& dstKey);

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_SERVERCOPY_H_
