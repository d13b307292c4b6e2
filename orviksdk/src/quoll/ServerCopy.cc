#include "ServerCopy.h"

#include <algorithm>
#include <future>

namespace ovk::quoll {
namespace {

// The service's limit for one CopyObject and for one copied part.
constexpr int64_t kMaxCopyBytes = int64_t{5} << 30;

}  // namespace

Error RunBounded(size_t count, int concurrency, const std::function<Error(size_t)>& work) {
  size_t window = static_cast<size_t>(std::max(1, concurrency));
  std::vector<Error> errors(count);
  for (size_t start = 0; start < count; start += window) {
    size_t end = std::min(count, start + window);
    std::vector<std::future<void>> running;
    // The calling thread takes the first of each window itself.
    for (size_t i = start + 1; i < end; ++i) {
      running.push_back(std::async(std::launch::async, [&, i] { errors[i] = work(i); }));
    }
    errors[start] = work(start);
    for (auto& task : running) task.wait();
    for (size_t i = start; i < end; ++i) {
      if (!errors[i].ok()) return errors[i];
    }
  }
  return Error();
}

Error CopyParts(S3Client& client, const CopySource& source, int64_t begin, int64_t end,
                const std::string& dstKey, const std::string& uploadId, int64_t partBytes,
                int concurrency, std::vector<CompletedPart>* parts) {
  partBytes = std::min(partBytes, kMaxCopyBytes);
  int64_t count = std::max<int64_t>(1, (end - begin + partBytes - 1) / partBytes);
  int firstNumber = static_cast<int>(parts->size()) + 1;
  std::vector<CompletedPart> copied(static_cast<size_t>(count));
  Error error = RunBounded(copied.size(), concurrency, [&](size_t i) {
    int64_t first = begin + static_cast<int64_t>(i) * partBytes;
    int64_t last = std::min(end, first + partBytes) - 1;
    copied[i].partNumber = firstNumber + static_cast<int>(i);
    return client.uploadPartCopy(dstKey, uploadId, copied[i].partNumber, source.key, first,
                                 last, &copied[i].etag, source.etag);
  });
  if (!error.ok()) return error;
  parts->insert(parts->end(), copied.begin(), copied.end());
  return Error();
}

Error CheckSourceUnchanged(S3Client& client, const CopySource& source,
                           const std::string& dstKey) {
  if (source.etag.empty()) return Error();
  ObjectHead head;
  Error error = client.headObject(source.key, &head);
  if (!error.ok()) return error;
  if (head.etag != source.etag) {
    return Error::Io("copy " + client.bucket() + "/" + source.key + " to " + dstKey +
                     ": the source was replaced during the copy");
  }
  return Error();
}

Error CopyObjectServerSide(S3Client& client, const CopySource& source,
                           const std::string& dstKey,
                           const std::map<std::string, std::string>* metadata,
                           int64_t partBytes, int concurrency) {
  if (source.size <= std::min(partBytes, kMaxCopyBytes)) {
    return client.copyObject(source.key, dstKey, metadata, source.etag);
  }
  std::map<std::string, std::string> kept;
  if (metadata == nullptr) {
    // A multipart upload takes its metadata at the start, not from a source.
    ObjectHead head;
    Error error = client.headObject(source.key, &head);
    if (!error.ok()) return error;
    kept = std::move(head.metadata);
    metadata = &kept;
  }
  std::string uploadId;
  Error error = client.createMultipartUpload(dstKey, *metadata, &uploadId);
  if (!error.ok()) return error;
  std::vector<CompletedPart> parts;
  error = CopyParts(client, source, 0, source.size, dstKey, uploadId, partBytes, concurrency,
                    &parts);
  if (error.ok()) error = CheckSourceUnchanged(client, source, dstKey);
  if (error.ok()) error = client.completeMultipartUpload(dstKey, uploadId, parts);
  if (!error.ok()) client.abortMultipartUpload(dstKey, uploadId);
  return error;
}

}  // namespace ovk::quoll
