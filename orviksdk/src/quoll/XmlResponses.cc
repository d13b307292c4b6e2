#include "XmlResponses.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace ovk::quoll {
namespace {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc parse(const std::string& xml) {
  if (xml.empty()) return nullptr;
  // NONET: never fetch anything a document points at; NOBLANKS keeps the
  // tree to the elements we walk.
  return Doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr,
                           nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS |
                                        XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

bool named(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::string text(const xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  if (content == nullptr) return "";
  std::string out(reinterpret_cast<char*>(content));
  xmlFree(content);
  return out;
}

const xmlNode* child(const xmlNode* parent, const char* name) {
  for (const xmlNode* n = parent->children; n != nullptr; n = n->next) {
    if (named(n, name)) return n;
  }
  return nullptr;
}

std::string childText(const xmlNode* parent, const char* name) {
  const xmlNode* n = child(parent, name);
  return n != nullptr ? text(n) : "";
}

const xmlNode* rootNamed(const Doc& doc, const char* name) {
  if (!doc) return nullptr;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  return root != nullptr && named(root, name) ? root : nullptr;
}

std::string stripQuotes(std::string etag) {
  if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"') {
    etag = etag.substr(1, etag.size() - 2);
  }
  return etag;
}

void appendEscaped(std::string* out, const std::string& value) {
  for (char c : value) {
    switch (c) {
      case '&': *out += "&amp;"; break;
      case '<': *out += "&lt;"; break;
      case '>': *out += "&gt;"; break;
      case '"': *out += "&quot;"; break;
      case '\'': *out += "&apos;"; break;
      case '\r': *out += "&#13;"; break;
      case '\n': *out += "&#10;"; break;
      case '\t': *out += "&#9;"; break;
      default: out->push_back(c);
    }
  }
}

}  // namespace

bool parseError(const std::string& xml, ServiceError* error) {
  Doc doc = parse(xml);
  const xmlNode* root = rootNamed(doc, "Error");
  if (root == nullptr) return false;
  error->code = childText(root, "Code");
  error->message = childText(root, "Message");
  error->requestId = childText(root, "RequestId");
  return !error->code.empty();
}

bool parseListObjectsV2(const std::string& xml, ListPage* page) {
  Doc doc = parse(xml);
  const xmlNode* root = rootNamed(doc, "ListBucketResult");
  if (root == nullptr) return false;
  *page = ListPage();
  for (const xmlNode* n = root->children; n != nullptr; n = n->next) {
    if (named(n, "Contents")) {
      ListedObject object;
      object.key = childText(n, "Key");
      object.size = std::strtoll(childText(n, "Size").c_str(), nullptr, 10);
      object.mtimeMs = parseIsoTimeMs(childText(n, "LastModified"));
      page->objects.push_back(std::move(object));
    } else if (named(n, "CommonPrefixes")) {
      page->commonPrefixes.push_back(childText(n, "Prefix"));
    } else if (named(n, "IsTruncated")) {
      page->truncated = text(n) == "true";
    } else if (named(n, "NextContinuationToken")) {
      page->nextContinuationToken = text(n);
    }
  }
  return true;
}

bool parseInitiateMultipartUpload(const std::string& xml, std::string* uploadId) {
  Doc doc = parse(xml);
  const xmlNode* root = rootNamed(doc, "InitiateMultipartUploadResult");
  if (root == nullptr) return false;
  *uploadId = childText(root, "UploadId");
  return !uploadId->empty();
}

bool parseCopyResult(const std::string& xml, std::string* etag) {
  Doc doc = parse(xml);
  const xmlNode* root = rootNamed(doc, "CopyObjectResult");
  if (root == nullptr) root = rootNamed(doc, "CopyPartResult");
  if (root == nullptr) return false;
  *etag = stripQuotes(childText(root, "ETag"));
  return !etag->empty();
}

bool parseCompleteMultipartUpload(const std::string& xml, std::string* etag) {
  Doc doc = parse(xml);
  const xmlNode* root = rootNamed(doc, "CompleteMultipartUploadResult");
  if (root == nullptr) return false;
  *etag = stripQuotes(childText(root, "ETag"));
  return true;
}

bool parseDeleteResult(const std::string& xml,
                       std::vector<DeleteFailure>* failures) {
  Doc doc = parse(xml);
  const xmlNode* root = rootNamed(doc, "DeleteResult");
  if (root == nullptr) return false;
  failures->clear();
  for (const xmlNode* n = root->children; n != nullptr; n = n->next) {
    if (named(n, "Error")) {
      failures->push_back({childText(n, "Key"), childText(n, "Code"),
                           childText(n, "Message")});
    }
  }
  return true;
}

std::string buildDeleteObjects(const std::vector<std::string>& keys) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<Delete xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\"><Quiet>true</Quiet>";
  for (const std::string& key : keys) {
    out += "<Object><Key>";
    appendEscaped(&out, key);
    out += "</Key></Object>";
  }
  out += "</Delete>";
  return out;
}

std::string buildCompleteMultipartUpload(const std::vector<CompletedPart>& parts) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<CompleteMultipartUpload xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">";
  for (const CompletedPart& part : parts) {
    out += "<Part><PartNumber>" + std::to_string(part.partNumber) +
           "</PartNumber><ETag>\"";
    appendEscaped(&out, part.etag);
    out += "\"</ETag></Part>";
  }
  out += "</CompleteMultipartUpload>";
  return out;
}

int64_t parseIsoTimeMs(const std::string& text) {
  std::tm tm{};
  int millis = 0;
  const char* rest = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
  if (rest == nullptr) return -1;
  if (*rest == '.') {
    ++rest;
    int digits = 0;
    while (*rest >= '0' && *rest <= '9') {
      if (digits < 3) millis = millis * 10 + (*rest - '0');
      ++digits;
      ++rest;
    }
    for (; digits < 3; ++digits) millis *= 10;
  }
  return static_cast<int64_t>(timegm(&tm)) * 1000 + millis;
}

}  // namespace ovk::quoll
