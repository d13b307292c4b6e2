#include "UriEncoding.h"

namespace ovk::quoll {
namespace {

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~';
}

}  // namespace

std::string uriEncode(std::string_view text, bool keepSlash) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3 / 2);
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (isUnreserved(c) || (keepSlash && c == '/')) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

}  // namespace ovk::quoll
