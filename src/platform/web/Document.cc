#include "platform/web/Document.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <unordered_map>

#include "platform/foundation/Text.h"
#include "platform/web/Css.h"

namespace pf::web {

namespace {

constexpr std::size_t kMaxDepth = 256;
constexpr std::size_t kMaxSelectorLength = 1024;
constexpr std::size_t kMaxSelectorSteps = 32;

bool isVoid(const std::string& tag) {
  static const char* const kVoid[] = {"br", "hr", "img", "input", "meta", "link", "area", "base", "col", "wbr"};
  return std::any_of(std::begin(kVoid), std::end(kVoid), [&](const char* t) { return tag == t; });
}

void escapeInto(std::string& out, std::string_view text, bool attribute) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"':
        if (attribute) {
          out += "&quot;";
          break;
        }
        [[fallthrough]];
      default: out += c;
    }
  }
}

std::size_t depthOf(const Node* n) {
  std::size_t d = 0;
  for (; n; n = n->parent) ++d;
  return d;
}

std::size_t heightOf(const Node* n) {
  std::size_t h = 0;
  for (const Node* c : n->children) h = std::max(h, heightOf(c));
  return h + 1;
}

htmlDocPtr readHtml(std::string_view html) {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
  const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
  return htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8", options);
}

// ---- selectors

struct Compound {
  std::string tag;  // "" or "*": any
  std::string id;
  std::vector<std::string> classes;
};
struct Step {
  Compound compound;
  bool child = false;  // joined to the previous step by '>' (else by descendant)
};
using Selector = std::vector<Step>;

bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

std::optional<std::vector<Selector>> parseSelectors(std::string_view text) {
  std::vector<Selector> list;
  Selector current;
  bool pendingChild = false;
  std::size_t i = 0;
  auto readName = [&] {
    std::size_t start = i;
    while (i < text.size() && isNameChar(text[i])) ++i;
    return std::string(text.substr(start, i - start));
  };
  while (true) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i == text.size() || text[i] == ',') {
      if (current.empty() || pendingChild) return std::nullopt;
      list.push_back(std::move(current));
      current.clear();
      if (i == text.size()) break;
      ++i;
      continue;
    }
    if (text[i] == '>') {
      if (current.empty() || pendingChild) return std::nullopt;
      pendingChild = true;
      ++i;
      continue;
    }
    Step step;
    step.child = pendingChild;
    pendingChild = false;
    if (text[i] == '*') {
      step.compound.tag = "*";
      ++i;
    } else if (isNameChar(text[i])) {
      step.compound.tag = lowerAscii(readName());
    }
    while (i < text.size() && (text[i] == '#' || text[i] == '.')) {
      char kind = text[i++];
      std::string name = readName();
      if (name.empty()) return std::nullopt;
      if (kind == '#')
        step.compound.id = name;
      else
        step.compound.classes.push_back(name);
    }
    if (step.compound.tag.empty() && step.compound.id.empty() && step.compound.classes.empty()) return std::nullopt;
    if (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])) && text[i] != ',' && text[i] != '>')
      return std::nullopt;
    current.push_back(std::move(step));
    if (current.size() > kMaxSelectorSteps) return std::nullopt;
  }
  if (list.empty()) return std::nullopt;
  return list;
}

bool hasClass(const Node* n, const std::string& cls) {
  const std::string* value = n->attribute("class");
  if (!value) return false;
  std::string_view v(*value);
  std::size_t i = 0;
  while (i < v.size()) {
    while (i < v.size() && std::isspace(static_cast<unsigned char>(v[i]))) ++i;
    std::size_t start = i;
    while (i < v.size() && !std::isspace(static_cast<unsigned char>(v[i]))) ++i;
    if (v.substr(start, i - start) == cls) return true;
  }
  return false;
}

bool matches(const Node* n, const Compound& c) {
  if (!n->isElement()) return false;
  if (!c.tag.empty() && c.tag != "*" && n->tag != c.tag) return false;
  if (!c.id.empty()) {
    const std::string* id = n->attribute("id");
    if (!id || *id != c.id) return false;
  }
  for (const auto& cls : c.classes)
    if (!hasClass(n, cls)) return false;
  return true;
}

// Does the selector's steps [0, last] match with step `last` on n? Answers are remembered per
// (node, step) for one query, so a long chain of descendant steps over a deep tree costs at most
// nodes times steps instead of trying every choice of ancestors.
class Matcher {
 public:
  explicit Matcher(const Selector& s) : s_(s) {}

  bool matchesFrom(const Node* n, std::size_t last) {
    if (!matches(n, s_[last].compound)) return false;
    if (last == 0) return true;
    return s_[last].child ? n->parent && remembered(n->parent, last - 1, false)
                          : remembered(n->parent, last - 1, true);
  }

 private:
  // Whether steps [0, k] match with step k on `n` itself (orSomeAncestor false) or on `n` or
  // any of its ancestors (true).
  bool remembered(const Node* n, std::size_t k, bool orSomeAncestor) {
    if (!n) return false;
    const std::uint64_t key = (static_cast<std::uint64_t>(n->id) << 8 | k) << 1 | (orSomeAncestor ? 1 : 0);
    if (auto it = memo_.find(key); it != memo_.end()) return it->second;
    bool result = matchesFrom(n, k) || (orSomeAncestor && remembered(n->parent, k, true));
    memo_[key] = result;
    return result;
  }

  const Selector& s_;
  std::unordered_map<std::uint64_t, bool> memo_;
};

}  // namespace

std::string wellFormedUtf8(std::string_view in) {
  if (isValidUtf8(in)) return std::string(in);
  std::string out;
  out.reserve(in.size() + 8);
  auto byte = [&](std::size_t i) { return i < in.size() ? static_cast<unsigned char>(in[i]) : 0u; };
  // A surrogate in its 3-byte form at i: 0 when there is none, else its value.
  auto surrogate = [&](std::size_t i) -> char32_t {
    if (byte(i) != 0xED || (byte(i + 1) & 0xE0) != 0xA0 || (byte(i + 2) & 0xC0) != 0x80) return 0;
    return 0xD000 + ((byte(i + 1) & 0x3Fu) << 6) + (byte(i + 2) & 0x3Fu);
  };
  std::size_t i = 0;
  while (i < in.size()) {
    if (char32_t hi = surrogate(i)) {
      char32_t lo = surrogate(i + 3);
      if (hi < 0xDC00 && lo >= 0xDC00) {
        appendUtf8(out, 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00));
        i += 6;
      } else {
        appendUtf8(out, 0xFFFD);
        i += 3;
      }
      continue;
    }
    appendUtf8(out, decodeUtf8(in, i));
  }
  return out;
}

const std::string* Node::attribute(std::string_view name) const {
  for (const auto& [k, v] : attributes)
    if (k == name) return &v;
  return nullptr;
}

Document::Document() {
  root_ = createElement("html");
  head_ = createElement("head");
  body_ = createElement("body");
  insertChild(root_, head_);
  insertChild(root_, body_);
}

Node* Document::make(Node::Kind kind) {
  if (nodes_.size() >= kMaxNodes) return nullptr;
  auto n = std::make_unique<Node>();
  n->id = static_cast<int>(nodes_.size());
  n->kind = kind;
  nodes_.push_back(std::move(n));
  return nodes_.back().get();
}

Node* Document::createElement(std::string_view tag) {
  Node* n = make(Node::Kind::Element);
  if (n) n->tag = lowerAscii(tag);
  return n;
}

Node* Document::createText(std::string_view text) {
  Node* n = make(Node::Kind::Text);
  if (n) {
    n->malformed = !isValidUtf8(text);
    n->text = n->malformed ? wellFormedUtf8(text) : std::string(text);
  }
  return n;
}

Node* Document::node(int id) const {
  return id >= 0 && static_cast<std::size_t>(id) < nodes_.size() ? nodes_[static_cast<std::size_t>(id)].get() : nullptr;
}

bool Document::insertChild(Node* parent, Node* child, Node* before) {
  if (!parent || !child || parent == child || !parent->isElement()) return false;
  for (const Node* a = parent; a; a = a->parent)
    if (a == child) return false;
  if (depthOf(parent) + heightOf(child) > kMaxDepth) return false;
  if (child->parent) removeChild(child->parent, child);
  auto at = std::find(parent->children.begin(), parent->children.end(), before);
  if (!before) at = parent->children.end();
  parent->children.insert(at, child);
  child->parent = parent;
  touch();
  return true;
}

bool Document::removeChild(Node* parent, Node* child) {
  if (!parent || !child || child->parent != parent) return false;
  auto& kids = parent->children;
  kids.erase(std::remove(kids.begin(), kids.end(), child), kids.end());
  child->parent = nullptr;
  touch();
  return true;
}

void Document::adopt(Node* parent, std::vector<Node*> children) {
  while (!parent->children.empty()) removeChild(parent, parent->children.back());
  for (Node* c : children) insertChild(parent, c);
}

std::string Document::textContent(const Node* node) const {
  if (!node) return {};
  if (!node->isElement()) return node->text;
  std::string out;
  for (const Node* c : node->children) out += textContent(c);
  return out;
}

void Document::setTextContent(Node* node, std::string_view text) {
  if (!node) return;
  if (!node->isElement()) {
    node->malformed = !isValidUtf8(text);
    node->text = wellFormedUtf8(text);
    touch();
    return;
  }
  std::vector<Node*> kids;
  if (!text.empty())
    if (Node* t = createText(text)) kids.push_back(t);
  adopt(node, std::move(kids));
  touch();
}

std::string Document::innerHtml(const Node* node) const {
  std::string out;
  if (!node) return out;
  if (!node->isElement()) {
    escapeInto(out, node->text, false);
    return out;
  }
  for (const Node* c : node->children) {
    if (!c->isElement()) {
      // Script and style text is kept as it stands.
      if (node->tag == "script" || node->tag == "style")
        out += c->text;
      else
        escapeInto(out, c->text, false);
      continue;
    }
    out += '<' + c->tag;
    for (const auto& [k, v] : c->attributes) {
      out += ' ' + k + "=\"";
      escapeInto(out, v, true);
      out += '"';
    }
    out += '>';
    if (isVoid(c->tag)) continue;
    out += innerHtml(c);
    out += "</" + c->tag + '>';
  }
  return out;
}

namespace {

// Copies the attributes of the libxml2 element `from` onto `to`, names in lower case.
void copyAttributes(Document& doc, xmlNode* from, Node* to) {
  for (xmlAttr* a = from->properties; a; a = a->next) {
    xmlChar* value = xmlNodeListGetString(from->doc, a->children, 1);
    doc.setAttribute(to, lowerAscii(reinterpret_cast<const char*>(a->name)), value ? reinterpret_cast<const char*>(value) : "");
    if (value) xmlFree(value);
  }
}

// Copies the libxml2 subtree under `from` as children of `to`.
void copyChildren(Document& doc, xmlNode* from, Node* to, std::size_t depth) {
  if (depth > kMaxDepth) return;
  for (xmlNode* x = from->children; x; x = x->next) {
    Node* n = nullptr;
    if (x->type == XML_ELEMENT_NODE) {
      n = doc.createElement(reinterpret_cast<const char*>(x->name));
      if (!n) return;
      copyAttributes(doc, x, n);
      if (!doc.insertChild(to, n)) continue;
      copyChildren(doc, x, n, depth + 1);
    } else if (x->type == XML_TEXT_NODE || x->type == XML_CDATA_SECTION_NODE) {
      if (!x->content) continue;
      n = doc.createText(reinterpret_cast<const char*>(x->content));
      if (!n) return;
      doc.insertChild(to, n);
    }
  }
}

xmlNode* findChild(xmlNode* parent, const char* name) {
  for (xmlNode* x = parent ? parent->children : nullptr; x; x = x->next)
    if (x->type == XML_ELEMENT_NODE && xmlStrcasecmp(x->name, reinterpret_cast<const xmlChar*>(name)) == 0) return x;
  return nullptr;
}

}  // namespace

std::unique_ptr<Document> Document::parse(std::string_view html) {
  auto doc = std::make_unique<Document>();
  if (html.empty() || html.size() > static_cast<std::size_t>(INT32_MAX)) return doc;
  htmlDocPtr x = readHtml(html);
  if (!x) return doc;
  xmlNode* root = xmlDocGetRootElement(x);
  if (root && xmlStrcasecmp(root->name, reinterpret_cast<const xmlChar*>("html")) == 0) {
    copyAttributes(*doc, root, doc->root_);
    if (xmlNode* head = findChild(root, "head")) copyChildren(*doc, head, doc->head_, 2);
    if (xmlNode* body = findChild(root, "body")) {
      copyAttributes(*doc, body, doc->body_);
      copyChildren(*doc, body, doc->body_, 2);
    }
    // Anything else at the top (a frameset, stray text) goes into the body.
    for (xmlNode* c = root->children; c; c = c->next) {
      if (c->type != XML_ELEMENT_NODE || (xmlStrcasecmp(c->name, reinterpret_cast<const xmlChar*>("head")) &&
                                          xmlStrcasecmp(c->name, reinterpret_cast<const xmlChar*>("body")))) {
        xmlNode holder{};
        holder.children = c;
        xmlNode* next = c->next;
        c->next = nullptr;
        copyChildren(*doc, &holder, doc->body_, 2);
        c->next = next;
      }
    }
  } else if (root) {
    xmlNode holder{};
    holder.children = root;
    copyChildren(*doc, &holder, doc->body_, 2);
  }
  xmlFreeDoc(x);
  doc->version_ = 0;
  return doc;
}

void Document::setInnerHtml(Node* node, std::string_view html) {
  if (!node || !node->isElement()) return;
  std::vector<Node*> kids;
  if (!html.empty() && html.size() < static_cast<std::size_t>(INT32_MAX) - 64) {
    std::string wrapped = "<html><body>";
    wrapped.append(html);
    wrapped += "</body></html>";
    if (htmlDocPtr x = readHtml(wrapped)) {
      if (xmlNode* body = findChild(xmlDocGetRootElement(x), "body")) {
        // Build under a detached holder element, then move the children over.
        Node* tmp = createElement("div");
        if (tmp) {
          copyChildren(*this, body, tmp, depthOf(node) + 1);
          kids = tmp->children;
          for (Node* k : kids) k->parent = nullptr;
          tmp->children.clear();
        }
      }
      xmlFreeDoc(x);
    }
  }
  adopt(node, std::move(kids));
  touch();
}

std::optional<std::string> Document::attribute(const Node* node, std::string_view name) const {
  if (!node) return std::nullopt;
  const std::string* v = node->attribute(lowerAscii(name));
  return v ? std::optional<std::string>(*v) : std::nullopt;
}

void Document::setAttribute(Node* node, std::string_view name, std::string_view value) {
  if (!node || !node->isElement()) return;
  std::string key = wellFormedUtf8(lowerAscii(name));
  std::string text = wellFormedUtf8(value);
  if (key == "style") node->style = parseStyle(text);
  for (auto& [k, v] : node->attributes) {
    if (k == key) {
      v = text;
      touch();
      return;
    }
  }
  node->attributes.emplace_back(key, std::move(text));
  touch();
}

void Document::removeAttribute(Node* node, std::string_view name) {
  if (!node) return;
  std::string key = lowerAscii(name);
  if (key == "style") node->style.clear();
  auto& a = node->attributes;
  a.erase(std::remove_if(a.begin(), a.end(), [&](const auto& kv) { return kv.first == key; }), a.end());
  touch();
}

std::string Document::styleValue(const Node* node, std::string_view property) const {
  if (!node) return {};
  auto it = node->style.find(lowerAscii(property));
  return it == node->style.end() ? std::string() : it->second;
}

void Document::setStyleValue(Node* node, std::string_view property, std::string_view value) {
  if (!node || !node->isElement()) return;
  std::string key = wellFormedUtf8(lowerAscii(property));
  std::string v = wellFormedUtf8(trimAscii(value));
  if (v.empty())
    node->style.erase(key);
  else
    node->style[key] = v;
  std::string text = serializeStyle(node->style);
  bool found = false;
  for (auto& [k, val] : node->attributes)
    if (k == "style") {
      val = text;
      found = true;
    }
  if (!found) node->attributes.emplace_back("style", text);
  touch();
}

Node* Document::elementById(std::string_view id) const {
  if (id.empty()) return nullptr;
  // Document order: the first element in the tree with the id.
  std::vector<Node*> stack{root_};
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    if (n->isElement()) {
      const std::string* v = n->attribute("id");
      if (v && *v == id) return n;
    }
    for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back(*it);
  }
  return nullptr;
}

std::optional<std::vector<Node*>> Document::query(const Node* scope, std::string_view selector, bool all) const {
  if (selector.size() > kMaxSelectorLength) return std::nullopt;
  auto selectors = parseSelectors(selector);
  if (!selectors) return std::nullopt;
  std::vector<Matcher> matchers(selectors->begin(), selectors->end());
  std::vector<Node*> out;
  std::vector<Node*> stack;
  if (scope)
    stack.assign(scope->children.rbegin(), scope->children.rend());
  else
    stack.push_back(root_);
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    for (std::size_t i = 0; i < matchers.size(); ++i) {
      if (matchers[i].matchesFrom(n, (*selectors)[i].size() - 1)) {
        out.push_back(n);
        if (!all) return out;
        break;
      }
    }
    for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back(*it);
  }
  return out;
}

std::string Document::title() const {
  auto found = query(root_, "title", false);
  if (!found || found->empty()) return {};
  // Whitespace collapsed and trimmed, as browsers give it.
  std::string raw = textContent(found->front()), out;
  bool space = false;
  for (char c : raw) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

void Document::setTitle(std::string_view title) {
  auto found = query(root_, "title", false);
  Node* t = found && !found->empty() ? found->front() : nullptr;
  if (!t) {
    t = createElement("title");
    if (!t) return;
    insertChild(head_, t);
  }
  setTextContent(t, title);
}

std::vector<Document::Script> Document::scripts() const {
  std::vector<Script> out;
  auto found = query(root_, "script", true);
  if (!found) return out;
  for (Node* s : *found) {
    std::string type = lowerAscii(trimAscii(s->attribute("type") ? *s->attribute("type") : std::string()));
    if (!type.empty() && type.find("javascript") == std::string::npos && type.find("ecmascript") == std::string::npos)
      continue;
    const std::string* src = s->attribute("src");
    bool wellFormed = std::none_of(s->children.begin(), s->children.end(), [](const Node* c) { return c->malformed; });
    out.push_back({textContent(s), src ? *src : std::string(), wellFormed});
  }
  return out;
}

}  // namespace pf::web
