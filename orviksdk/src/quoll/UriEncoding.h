// Percent-encoding of object keys and query values for S3 requests.
//
// S3 signs the request path and query exactly as sent, so the encoder and the
// signer must agree byte for byte: both use this function. Everything but
// the RFC 3986 unreserved characters is encoded, bytes of UTF-8 sequences one
// by one, so spaces, "+", "%" and non-ASCII keys reach the service unchanged.
#ifndef ORVIKSDK_QUOLL_URIENCODING_H_
#define ORVIKSDK_QUOLL_URIENCODING_H_

#include <string>
#include <string_view>

namespace ovk::quoll {

// Encodes `text` for a path (keepSlash true: "/" stays) or a query value.
std::string uriEncode(std::string_view text, bool keepSlash);

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_URIENCODING_H_
