#pragma once
// The container's XML document wrapper over libxml2: read, build and write the menu, business and
// similar files.
//
// Reading is closed to the outside: no DTD is accepted (a document declaring one is refused, so no
// internal or external entity is ever expanded), the parser never touches the network, and input
// is bounded (4 MiB, 64 levels of elements). Elements are handles into their document and keep it
// alive; they are not thread-safe (one document is used from one thread at a time).

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

struct _xmlDoc;
struct _xmlNode;

namespace container {

inline constexpr const char* kMwXMLErrorDomain = "MwXMLErrorDomain";
inline constexpr std::size_t kMwXMLMaxBytes = 4u << 20;
inline constexpr int kMwXMLMaxDepth = 64;

class MwXMLDocument;

// An attribute's value, as the platform's attribute node answers it.
class MwXMLNode {
 public:
  explicit MwXMLNode(std::string value) : value_(std::move(value)) {}
  const std::string& stringValue() const { return value_; }

 private:
  std::string value_;
};

class MwXMLElement {
 public:
  MwXMLElement(std::shared_ptr<MwXMLDocument> document, _xmlNode* node) : document_(std::move(document)), node_(node) {}

  std::string name() const;
  // Element children in document order (text and comments are left out).
  std::vector<MwXMLElement> children() const;
  std::optional<MwXMLNode> attributeForName(std::string_view name) const;
  // Sets (adds or replaces) an attribute.
  void addAttribute(std::string_view name, std::string_view value);
  void removeAttributeForName(std::string_view name);
  // Appends a new empty element child and answers it.
  MwXMLElement addChild(std::string_view name);
  // The element's XML text (no formatting added).
  std::string XMLString() const;

  bool operator==(const MwXMLElement& other) const { return node_ == other.node_; }

 private:
  std::shared_ptr<MwXMLDocument> document_;
  _xmlNode* node_;
};

class MwXMLDocument : public std::enable_shared_from_this<MwXMLDocument> {
 public:
  // Parses the text; null with *error set (domain kMwXMLErrorDomain) when it is not well formed,
  // declares a DTD, is larger than 4 MiB or deeper than 64 levels. options is not used.
  static std::shared_ptr<MwXMLDocument> initWithXMLString(std::string_view text, int options = 0,
                                                          pf::Error* error = nullptr);
  // A new document holding one empty root element.
  static std::shared_ptr<MwXMLDocument> initWithRootName(std::string_view rootName);

  ~MwXMLDocument();
  MwXMLDocument(const MwXMLDocument&) = delete;
  MwXMLDocument& operator=(const MwXMLDocument&) = delete;

  std::optional<MwXMLElement> rootElement();
  // The whole document as UTF-8 text with an XML declaration.
  std::string XMLString() const;
  pf::Bytes XMLData() const;

 private:
  explicit MwXMLDocument(_xmlDoc* doc) : doc_(doc) {}
  _xmlDoc* doc_;
};

}  // namespace container
