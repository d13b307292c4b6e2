// The settings of a quoll:// store, read from the store's options.
//
// | option                        | default     | meaning                                   |
// |-------------------------------|-------------|-------------------------------------------|
// | fs.quoll.endpoint             | (required)  | [http[s]://]host[:port]; https if no scheme |
// | fs.quoll.accessKeyId          | empty       | access key id; empty sends unsigned requests |
// | fs.quoll.accessKeySecret      | empty       | secret key; never logged nor echoed        |
// | fs.quoll.region               | us-east-1   | signing region                             |
// | fs.quoll.virtualHosted        | false       | bucket in the host name, not in the path   |
// | fs.quoll.tls.verify           | true        | check certificates and host names          |
// | fs.quoll.tls.caBundle         | system CAs  | PEM file of trusted certificate authorities |
// | fs.quoll.readahead.bytes      | 8388608     | first read-ahead window of sequential reads |
// | fs.quoll.part.bytes           | 8388608     | multipart part size (5 MiB .. 5 GiB)        |
// | fs.quoll.upload.concurrency   | 4           | parts of one stream uploaded at once        |
// | fs.quoll.copy.part.bytes      | 5368709120  | larger objects are copied in parts this big |
// | fs.quoll.retry.attempts       | 5           | attempts per request, the first included   |
// | fs.quoll.retry.totalMs        | 120000      | retries stop when this time would be passed |
// | fs.quoll.connectTimeoutMs     | 10000       | TCP/TLS connection timeout                  |
#ifndef ORVIKSDK_QUOLL_QUOLLOPTIONS_H_
#define ORVIKSDK_QUOLL_QUOLLOPTIONS_H_

#include <cstdint>

#include "Error.h"
#include "Options.h"
#include "S3Client.h"

namespace ovk::quoll {

struct QuollSettings {
  S3Client::Config client;
  int64_t readAheadBytes = 8 << 20;
  int64_t partBytes = 8 << 20;
  int uploadConcurrency = 4;
  int64_t copyPartBytes = int64_t{5} << 30;
};

// Reads every option of the table; a malformed value is
// OVK_ERR_INVALID_ARGUMENT naming the option.
Error ReadQuollSettings(const Options& options, const std::string& bucket,
                        QuollSettings* out);

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_QUOLLOPTIONS_H_
