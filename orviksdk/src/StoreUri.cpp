#include "StoreUri.h"

#include <strings.h>

#include <cctype>
#include <cstring>

namespace ovk {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// True for ".", "..", and the same written with percent escapes: names a
// layer that decodes escapes would read as a step up or a no-op.
bool IsDotComponent(const std::string& c) {
  std::string decoded;
  for (size_t i = 0; i < c.size(); ++i) {
    if (c[i] == '%' && i + 2 < c.size() && HexValue(c[i + 1]) >= 0 &&
        HexValue(c[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(c[i + 1]) * 16 + HexValue(c[i + 2]));
      i += 2;
    } else {
      decoded += c[i];
    }
    if (decoded.size() > 2) return false;
  }
  return decoded == "." || decoded == "..";
}

// Splits `text` on "/", dropping empty components. False when a component
// is a dot component.
bool Split(const std::string& text, size_t from, std::vector<std::string>* out) {
  size_t i = from;
  while (i <= text.size()) {
    size_t slash = text.find('/', i);
    if (slash == std::string::npos) slash = text.size();
    if (slash > i) {
      std::string c = text.substr(i, slash - i);
      if (IsDotComponent(c)) return false;
      out->push_back(std::move(c));
    }
    i = slash + 1;
  }
  return true;
}

std::string Join(const std::vector<std::string>& parts, size_t from) {
  std::string out;
  for (size_t i = from; i < parts.size(); ++i) {
    if (!out.empty()) out += '/';
    out += parts[i];
  }
  return out;
}

// Recognises "<scheme>:" at the start of `text`; returns the offset after
// the colon, or 0 when `text` does not start with a scheme.
size_t SchemeEnd(const std::string& text, std::string* scheme) {
  size_t i = 0;
  while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) ||
                             text[i] == '+' || text[i] == '-' || text[i] == '.')) {
    ++i;
  }
  if (i == 0 || i >= text.size() || text[i] != ':' ||
      !std::isalpha(static_cast<unsigned char>(text[0]))) {
    return 0;
  }
  scheme->clear();
  for (size_t k = 0; k < i; ++k) {
    *scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(text[k])));
  }
  return i + 1;
}

// Parsed "<scheme>://<authority><path>" or "file:<path>".
struct Parts {
  std::string scheme;
  std::string authority;
  size_t pathStart = 0;
};

bool SplitUri(const std::string& text, Parts* out) {
  size_t i = SchemeEnd(text, &out->scheme);
  if (i == 0) return false;
  if (text.compare(i, 2, "//") == 0) {
    size_t slash = text.find('/', i + 2);
    if (slash == std::string::npos) slash = text.size();
    out->authority = text.substr(i + 2, slash - i - 2);
    out->pathStart = slash;
  } else {
    out->authority.clear();
    out->pathStart = i;
  }
  return true;
}

}  // namespace

std::string StorePath::name() const {
  size_t slash = rel_.rfind('/');
  return slash == std::string::npos ? rel_ : rel_.substr(slash + 1);
}

StorePath StorePath::parent() const {
  size_t slash = rel_.rfind('/');
  return slash == std::string::npos ? StorePath() : StorePath(rel_.substr(0, slash));
}

StorePath StorePath::child(const std::string& name) const {
  return StorePath(rel_.empty() ? name : rel_ + "/" + name);
}

Error StoreUri::Parse(const std::string& uri, StoreUri* out) {
  StoreUri result;
  result.original_ = uri;
  auto invalid = [&uri](const char* why) {
    return Error::InvalidUri("invalid store URI \"" + uri + "\": " + why);
  };
  if (uri.empty()) return invalid("empty");

  std::vector<std::string> components;
  if (uri[0] == '/') {
    result.scheme_ = Scheme::kFile;
    if (!Split(uri, 0, &components)) return invalid("\".\" and \"..\" are not allowed");
  } else {
    Parts parts;
    if (!SplitUri(uri, &parts)) return invalid("not an absolute path or a URI");
    if (parts.scheme == "file") {
      result.scheme_ = Scheme::kFile;
      if (!parts.authority.empty() && strcasecmp(parts.authority.c_str(), "localhost") != 0) {
        return invalid("a file URI names a local directory: file:///abs/path");
      }
      if (parts.pathStart >= uri.size() || uri[parts.pathStart] != '/') {
        return invalid("a file URI needs an absolute path");
      }
    } else if (parts.scheme == "quoll" || parts.scheme == "s3") {
      result.scheme_ = Scheme::kQuoll;
      if (parts.authority.empty()) return invalid("the bucket is missing");
      result.authority_ = parts.authority;
    } else {
      return invalid("unsupported scheme; use file://, quoll:// or s3://");
    }
    if (!Split(uri, parts.pathStart, &components)) {
      return invalid("\".\" and \"..\" are not allowed");
    }
  }

  std::string joined = Join(components, 0);
  if (result.scheme_ == Scheme::kFile) {
    result.root_ = "/" + joined;
    result.base_ = "file://" + (joined.empty() ? std::string() : "/" + joined);
  } else {
    result.root_ = joined;
    result.base_ = "quoll://" + result.authority_ + (joined.empty() ? "" : "/" + joined);
  }
  result.rootComponents_ = std::move(components);
  *out = std::move(result);
  return Error();
}

Error StoreUri::resolve(const char* path, StorePath* out) const {
  if (path == nullptr || *path == '\0') {
    return Error::InvalidArgument("invalid path: empty");
  }
  std::string text(path);
  std::vector<std::string> components;
  auto escaping = [&text]() {
    return Error::InvalidArgument("invalid path " + text +
                                  ": \".\" and \"..\" are not allowed in a path");
  };
  Parts parts;
  if (text[0] != '/' && SplitUri(text, &parts)) {
    bool sameScheme = scheme_ == Scheme::kFile
                          ? parts.scheme == "file"
                          : (parts.scheme == "quoll" || parts.scheme == "s3");
    bool sameAuthority =
        scheme_ == Scheme::kFile
            ? parts.authority.empty() || strcasecmp(parts.authority.c_str(), "localhost") == 0
            : parts.authority == authority_;
    if (!sameScheme || !sameAuthority) {
      return Error::InvalidArgument("path " + text + " is not in the store " + base_);
    }
    if (!Split(text, parts.pathStart, &components)) return escaping();
    if (components.size() < rootComponents_.size()) {
      return Error::InvalidArgument("path " + text + " is not in the store " + base_);
    }
    for (size_t i = 0; i < rootComponents_.size(); ++i) {
      if (components[i] != rootComponents_[i]) {
        return Error::InvalidArgument("path " + text + " is not in the store " + base_);
      }
    }
    *out = StorePath(Join(components, rootComponents_.size()));
    return Error();
  }
  if (!Split(text, 0, &components)) return escaping();
  *out = StorePath(Join(components, 0));
  return Error();
}

std::string StoreUri::entryUri(const StorePath& path, bool directory) const {
  std::string out;
  out.reserve(base_.size() + path.rel().size() + 2);
  out += base_;
  out += '/';
  out += path.rel();
  if (directory && !path.isRoot()) out += '/';
  return out;
}

}  // namespace ovk
