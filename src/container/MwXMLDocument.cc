#include "container/MwXMLDocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <mutex>

namespace container {
namespace {

void initLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

std::shared_ptr<MwXMLDocument> refuse(pf::Error* error, std::int64_t code, const std::string& reason) {
  if (error) *error = pf::Error(kMwXMLErrorDomain, code, {{pf::kLocalizedDescriptionKey, reason}});
  return nullptr;
}

const xmlChar* x(std::string_view text, std::string& holder) {
  holder.assign(text);
  return reinterpret_cast<const xmlChar*>(holder.c_str());
}

bool withinDepth(xmlNode* node, int depth) {
  if (depth > kMwXMLMaxDepth) return false;
  for (xmlNode* child = node->children; child; child = child->next)
    if (child->type == XML_ELEMENT_NODE && !withinDepth(child, depth + 1)) return false;
  return true;
}

}  // namespace

std::string MwXMLElement::name() const { return reinterpret_cast<const char*>(node_->name); }

std::vector<MwXMLElement> MwXMLElement::children() const {
  std::vector<MwXMLElement> out;
  for (xmlNode* child = node_->children; child; child = child->next)
    if (child->type == XML_ELEMENT_NODE) out.emplace_back(document_, child);
  return out;
}

std::optional<MwXMLNode> MwXMLElement::attributeForName(std::string_view name) const {
  std::string holder;
  xmlAttr* attribute = xmlHasProp(node_, x(name, holder));
  if (!attribute) return std::nullopt;
  xmlChar* value = xmlNodeListGetString(node_->doc, attribute->children, 1);
  std::string text = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return MwXMLNode(std::move(text));
}

void MwXMLElement::addAttribute(std::string_view name, std::string_view value) {
  std::string n, v;
  xmlSetProp(node_, x(name, n), x(value, v));
}

void MwXMLElement::removeAttributeForName(std::string_view name) {
  std::string holder;
  if (xmlAttr* attribute = xmlHasProp(node_, x(name, holder))) xmlRemoveProp(attribute);
}

MwXMLElement MwXMLElement::addChild(std::string_view name) {
  std::string holder;
  xmlNode* child = xmlNewChild(node_, nullptr, x(name, holder), nullptr);
  return MwXMLElement(document_, child);
}

std::string MwXMLElement::XMLString() const {
  xmlBuffer* buffer = xmlBufferCreate();
  xmlNodeDump(buffer, node_->doc, node_, 0, 0);
  std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<std::size_t>(xmlBufferLength(buffer)));
  xmlBufferFree(buffer);
  return text;
}

std::shared_ptr<MwXMLDocument> MwXMLDocument::initWithXMLString(std::string_view text, int, pf::Error* error) {
  initLibrary();
  if (text.size() > kMwXMLMaxBytes) return refuse(error, 1, "document too large");
  // A document type declaration is where entities live: none is accepted.
  if (text.find("<!DOCTYPE") != std::string_view::npos || text.find("<!ENTITY") != std::string_view::npos)
    return refuse(error, 2, "document type declarations are not accepted");
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
  xmlDoc* doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, options);
  if (!doc) return refuse(error, 3, "not well-formed XML");
  std::shared_ptr<MwXMLDocument> document(new MwXMLDocument(doc));
  xmlNode* root = xmlDocGetRootElement(doc);
  if (doc->intSubset || doc->extSubset) return refuse(error, 2, "document type declarations are not accepted");
  if (!root) return refuse(error, 3, "no root element");
  if (!withinDepth(root, 1)) return refuse(error, 4, "document too deep");
  return document;
}

std::shared_ptr<MwXMLDocument> MwXMLDocument::initWithRootName(std::string_view rootName) {
  initLibrary();
  xmlDoc* doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
  std::string holder;
  xmlDocSetRootElement(doc, xmlNewNode(nullptr, x(rootName, holder)));
  return std::shared_ptr<MwXMLDocument>(new MwXMLDocument(doc));
}

MwXMLDocument::~MwXMLDocument() { xmlFreeDoc(doc_); }

std::optional<MwXMLElement> MwXMLDocument::rootElement() {
  xmlNode* root = xmlDocGetRootElement(doc_);
  if (!root) return std::nullopt;
  return MwXMLElement(shared_from_this(), root);
}

std::string MwXMLDocument::XMLString() const {
  xmlChar* buffer = nullptr;
  int length = 0;
  xmlDocDumpMemoryEnc(doc_, &buffer, &length, "UTF-8");
  std::string text(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
  xmlFree(buffer);
  return text;
}

pf::Bytes MwXMLDocument::XMLData() const {
  auto text = XMLString();
  return pf::Bytes(text.begin(), text.end());
}

}  // namespace container
