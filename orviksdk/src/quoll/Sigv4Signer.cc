#include "Sigv4Signer.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/md5.h>
#include <openssl/sha.h>

#include <algorithm>

#include "UriEncoding.h"

namespace ovk::quoll {
namespace {

std::string toHex(const unsigned char* data, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string out(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    out[2 * i] = kHex[data[i] >> 4];
    out[2 * i + 1] = kHex[data[i] & 0xF];
  }
  return out;
}

std::string hmac(std::string_view key, std::string_view data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int outSize = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(data.data()), data.size(), out,
       &outSize);
  return std::string(reinterpret_cast<char*>(out), outSize);
}

// Collapses runs of blanks and trims, as the canonical form requires.
std::string canonicalValue(std::string_view value) {
  std::string out;
  bool blank = false;
  for (char c : value) {
    if (c == ' ' || c == '\t') {
      blank = !out.empty();
      continue;
    }
    if (blank) out.push_back(' ');
    blank = false;
    out.push_back(c);
  }
  return out;
}

}  // namespace

std::string sha256Hex(const void* data, size_t size) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(static_cast<const unsigned char*>(data), size, digest);
  return toHex(digest, sizeof digest);
}

std::string md5Base64(const void* data, size_t size) {
  unsigned char digest[16];
  unsigned int digestSize = 0;
  EVP_Digest(data, size, digest, &digestSize, EVP_md5(), nullptr);
  unsigned char out[32];
  int n = EVP_EncodeBlock(out, digest, static_cast<int>(digestSize));
  return std::string(reinterpret_cast<char*>(out), n);
}

std::string amzDate(std::time_t time) {
  std::tm tm{};
  gmtime_r(&time, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
  return buf;
}

std::string canonicalQuery(const QueryParams& query) {
  std::vector<std::pair<std::string, std::string>> encoded;
  encoded.reserve(query.size());
  for (const auto& [key, value] : query) {
    encoded.emplace_back(uriEncode(key, false), uriEncode(value, false));
  }
  std::sort(encoded.begin(), encoded.end());
  std::string out;
  for (const auto& [key, value] : encoded) {
    if (!out.empty()) out.push_back('&');
    out += key;
    out.push_back('=');
    out += value;
  }
  return out;
}

Sigv4Signer::Sigv4Signer(std::string accessKeyId, std::string secretKey,
                         std::string region, std::string service)
    : accessKeyId_(std::move(accessKeyId)),
      secretKey_(std::move(secretKey)),
      region_(std::move(region)),
      service_(std::move(service)) {}

std::string Sigv4Signer::canonicalRequest(std::string_view method,
                                          std::string_view encodedPath,
                                          const QueryParams& query,
                                          const Headers& headers,
                                          std::string_view payloadHash,
                                          std::string* signedHeaders) {
  std::vector<std::pair<std::string, std::string>> canonical;
  canonical.reserve(headers.size());
  for (const auto& [name, value] : headers) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    canonical.emplace_back(std::move(lower), canonicalValue(value));
  }
  std::sort(canonical.begin(), canonical.end());

  std::string out;
  out.append(method).push_back('\n');
  out.append(encodedPath.empty() ? std::string_view("/") : encodedPath)
      .push_back('\n');
  out.append(canonicalQuery(query)).push_back('\n');
  signedHeaders->clear();
  for (const auto& [name, value] : canonical) {
    out.append(name).append(":").append(value).push_back('\n');
    if (!signedHeaders->empty()) signedHeaders->push_back(';');
    signedHeaders->append(name);
  }
  out.push_back('\n');
  out.append(*signedHeaders).push_back('\n');
  out.append(payloadHash);
  return out;
}

std::string Sigv4Signer::scope(std::string_view date) const {
  std::string out(date.substr(0, 8));
  out.append("/").append(region_).append("/").append(service_).append(
      "/aws4_request");
  return out;
}

std::string Sigv4Signer::stringToSign(std::string_view date,
                                      std::string_view canonicalRequest) const {
  std::string out = "AWS4-HMAC-SHA256\n";
  out.append(date).push_back('\n');
  out.append(scope(date)).push_back('\n');
  out.append(sha256Hex(canonicalRequest.data(), canonicalRequest.size()));
  return out;
}

std::string Sigv4Signer::signature(std::string_view date,
                                   std::string_view stringToSign) const {
  std::string key = hmac("AWS4" + secretKey_, date.substr(0, 8));
  key = hmac(key, region_);
  key = hmac(key, service_);
  key = hmac(key, "aws4_request");
  std::string raw = hmac(key, stringToSign);
  return toHex(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

void Sigv4Signer::sign(std::string_view method, std::string_view encodedPath,
                       const QueryParams& query, std::string_view payloadHash,
                       std::time_t now, Headers* headers) const {
  std::string date = amzDate(now);
  headers->emplace_back("x-amz-date", date);
  headers->emplace_back("x-amz-content-sha256", std::string(payloadHash));
  if (anonymous()) return;
  std::string signedHeaders;
  std::string request = canonicalRequest(method, encodedPath, query, *headers,
                                         payloadHash, &signedHeaders);
  std::string sig = signature(date, stringToSign(date, request));
  headers->emplace_back("authorization",
                        "AWS4-HMAC-SHA256 Credential=" + accessKeyId_ + "/" +
                            scope(date) + ", SignedHeaders=" + signedHeaders +
                            ", Signature=" + sig);
}

}  // namespace ovk::quoll
