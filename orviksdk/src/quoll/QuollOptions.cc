#include "QuollOptions.h"

namespace ovk::quoll {

Error ReadQuollSettings(const Options& options, const std::string& bucket,
                        QuollSettings* out) {
  QuollSettings s;
  S3Client::Config& c = s.client;
  c.bucket = bucket;
  c.endpoint = options.get("fs.quoll.endpoint");
  if (c.endpoint.empty()) {
    return Error::InvalidArgument("quoll://" + bucket +
                                  ": no endpoint; set fs.quoll.endpoint");
  }
  c.accessKeyId = options.get("fs.quoll.accessKeyId");
  c.secretKey = options.get("fs.quoll.accessKeySecret");
  c.region = options.get("fs.quoll.region", "us-east-1");
  if (c.region.empty()) c.region = "us-east-1";
  c.transport.caBundle = options.get("fs.quoll.tls.caBundle");

  Error e = options.getBool("fs.quoll.virtualHosted", false, &c.virtualHosted);
  if (e.ok()) e = options.getBool("fs.quoll.tls.verify", true, &c.transport.verifyTls);
  int64_t value = 0;
  if (e.ok()) e = options.getInt64("fs.quoll.readahead.bytes", 8 << 20, 0, int64_t{1} << 30,
                                   &s.readAheadBytes);
  if (e.ok()) e = options.getInt64("fs.quoll.part.bytes", 8 << 20, 5 << 20,
                                   int64_t{5} << 30, &s.partBytes);
  if (e.ok()) e = options.getInt64("fs.quoll.copy.part.bytes", int64_t{5} << 30, 5 << 20,
                                   int64_t{5} << 30, &s.copyPartBytes);
  if (e.ok() && (e = options.getInt64("fs.quoll.upload.concurrency", 4, 1, 64, &value)).ok()) {
    s.uploadConcurrency = static_cast<int>(value);
  }
  if (e.ok() && (e = options.getInt64("fs.quoll.retry.attempts", 5, 1, 100, &value)).ok()) {
    c.retry.maxAttempts = static_cast<int>(value);
  }
  if (e.ok() && (e = options.getInt64("fs.quoll.retry.totalMs", 120000, 0,
                                      int64_t{24} * 3600 * 1000, &value)).ok()) {
    c.retry.maxTotal = std::chrono::milliseconds(value);
  }
  if (e.ok() && (e = options.getInt64("fs.quoll.connectTimeoutMs", 10000, 1,
                                      600000, &value)).ok()) {
    c.transport.connectTimeoutMs = static_cast<long>(value);
  }
  if (!e.ok()) return e;
  *out = std::move(s);
  return Error();
}

}  // namespace ovk::quoll
