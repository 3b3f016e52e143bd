#pragma once
// The least DOM of a page: elements and text nodes read from HTML with libxml2's parser, with the
// operations pages use to show state (text, attributes, inline style, children, queries by id, tag
// and class). Node ids index the document's own table, so script wrappers refer to nodes by number
// and a removed node stays valid until the document goes. Main thread only.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pf::web {

struct Node {
  enum class Kind { Element, Text };
  int id = 0;
  Kind kind = Kind::Element;
  std::string tag;   // lower case; "" for text nodes
  std::string text;  // text nodes only
  bool malformed = false;  // the text came with bytes that were not UTF-8 (replaced by U+FFFD)
  std::vector<std::pair<std::string, std::string>> attributes;
  std::map<std::string, std::string> style;  // inline style by property name ("background-color")
  Node* parent = nullptr;
  std::vector<Node*> children;

  bool isElement() const { return kind == Kind::Element; }
  const std::string* attribute(std::string_view name) const;
};

class Document {
 public:
  static constexpr std::size_t kMaxNodes = 200000;

  // An empty document: html, head (with title) and body.
  Document();
  // Reads HTML (never fails: whatever libxml2 recovers; at least the empty document).
  static std::unique_ptr<Document> parse(std::string_view html);

  Node* root() const { return root_; }
  Node* head() const { return head_; }
  Node* body() const { return body_; }
  Node* node(int id) const;
  std::size_t nodeCount() const { return nodes_.size(); }

  // Counts every change that could move the layout.
  std::uint64_t version() const { return version_; }

  // Null when the document already holds kMaxNodes nodes.
  Node* createElement(std::string_view tag);
  Node* createText(std::string_view text);
  // Moves child under parent (before `before` when given and a child of parent). False when
  // that would put a node inside itself or under a text node.
  bool insertChild(Node* parent, Node* child, Node* before = nullptr);
  bool removeChild(Node* parent, Node* child);

  std::string textContent(const Node* node) const;
  void setTextContent(Node* node, std::string_view text);
  std::string innerHtml(const Node* node) const;
  // Parses the text as HTML children of node.
  void setInnerHtml(Node* node, std::string_view html);

  std::optional<std::string> attribute(const Node* node, std::string_view name) const;
  void setAttribute(Node* node, std::string_view name, std::string_view value);
  void removeAttribute(Node* node, std::string_view name);
  std::string styleValue(const Node* node, std::string_view property) const;
  void setStyleValue(Node* node, std::string_view property, std::string_view value);

  Node* elementById(std::string_view id) const;
  // Selectors: lists of compound selectors (tag, #id, .class, *) joined by descendant (space)
  // or child (>) combinators, among the nodes below scope (below and including the root when
  // scope is null). nullopt: the selector is not understood.
  std::optional<std::vector<Node*>> query(const Node* scope, std::string_view selector, bool all) const;

  std::string title() const;
  void setTitle(std::string_view title);

  // The <script> elements of a script type, in document order.
  struct Script {
    std::string text;  // inline text
    std::string src;   // the src attribute ("" when none)
    bool wellFormed = true;  // the inline text was UTF-8 as read
  };
  std::vector<Script> scripts() const;

 private:
  Node* make(Node::Kind kind);
  void adopt(Node* parent, std::vector<Node*> children);
  void touch() { ++version_; }

  std::vector<std::unique_ptr<Node>> nodes_;
  Node* root_ = nullptr;
  Node* head_ = nullptr;
  Node* body_ = nullptr;
  std::uint64_t version_ = 0;
};

// Text from a page or a script as well-formed UTF-8: a surrogate pair written as two 3-byte forms
// (as the engine writes escaped characters beyond U+FFFF) becomes the character; any other
// malformed sequence becomes U+FFFD.
std::string wellFormedUtf8(std::string_view bytes);

}  // namespace pf::web
