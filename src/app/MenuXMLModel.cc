#include "app/MenuXMLModel.h"

#include "container/MwXMLDocument.h"

namespace app {

namespace {

std::string textOf(const pf::Value& dictionary, const char* key) {
  if (!dictionary.is_object()) return {};
  auto it = dictionary.find(key);
  return it != dictionary.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

void MenuXMLModel::initWithDict(const pf::Value& dictionary) {
  menuId = textOf(dictionary, "id");
  version = textOf(dictionary, "version");
  intactUrl = textOf(dictionary, "url");
  type.clear();
  url.clear();
  // The type is what stands before the first "|", the page what stands between it and the next.
  auto bar = intactUrl.find('|');
  if (bar != std::string::npos) {
    type = intactUrl.substr(0, bar);
    auto rest = intactUrl.substr(bar + 1);
    url = rest.substr(0, rest.find('|'));
  }
}

pf::Value MenuXMLModel::JSONObj() const {
  return {{"menuId", menuId}, {"url", url}, {"type", type}, {"version", version}, {"intactUrl", intactUrl}};
}

std::shared_ptr<BaseModel> MenuXMLModel::copy() const { return std::make_shared<MenuXMLModel>(*this); }

std::vector<BaseModel::Property> MenuXMLModel::ownProperties() const {
  return {{"menuId", menuId}, {"url", url}, {"type", type}, {"version", version}, {"intactUrl", intactUrl}};
}

MenuXMLModel MenuXMLModel::fromElement(const container::MwXMLElement& element) {
  pf::Value dictionary = pf::Value::object();
  for (const char* key : {"id", "url", "version"})
    if (auto attribute = element.attributeForName(key)) dictionary[key] = attribute->stringValue();
  MenuXMLModel model;
  model.initWithDict(dictionary);
  return model;
}

std::vector<MenuXMLModel> MenuXMLModel::parseMenu(std::string_view text) {
  std::vector<MenuXMLModel> models;
  auto document = container::MwXMLDocument::initWithXMLString(text);
  if (!document) return models;
  auto root = document->rootElement();
  if (!root) return models;
  for (const auto& child : root->children()) models.push_back(fromElement(child));
  return models;
}

}  // namespace app
