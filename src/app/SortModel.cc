#include "app/SortModel.h"

namespace app {

namespace {

std::string textOf(const pf::Value& dictionary, const std::string& key) {
  auto it = dictionary.find(key);
  return it != dictionary.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

const std::map<std::string, std::string>& ProductModel::mapDict() {
  static const std::map<std::string, std::string> map{
      {"productName", "product"}, {"isInterest", "isInterest"}, {"currencyCode", "currencyCode"}};
  return map;
}

void ProductModel::initWithDict(const pf::Value& dictionary) {
  if (!dictionary.is_object()) return;
  const auto& keys = mapDict();
  productName = textOf(dictionary, keys.at("productName"));
  currencyCode = textOf(dictionary, keys.at("currencyCode"));
  auto it = dictionary.find(keys.at("isInterest"));
  isInterested = it != dictionary.end() && pf::integerValue(*it) == 1;
}

pf::Value ProductModel::JSONObj() const {
  return pf::Value{{"product", productName}, {"isInterest", isInterested ? "1" : "0"}, {"currencyCode", currencyCode}};
}

std::shared_ptr<BaseModel> ProductModel::copy() const {
  auto p = std::make_shared<ProductModel>();
  p->productName = productName;
  p->isInterested = isInterested;
  p->currencyCode = currencyCode;
  p->source = source;
  return p;
}

std::vector<BaseModel::Property> ProductModel::ownProperties() const {
  return {{"productName", pf::Value(productName)},
          {"isInterested", pf::Value(isInterested)},
          {"currencyCode", pf::Value(currencyCode)}};
}

std::shared_ptr<ProductModel> ProductModel::favouriteOf(const std::shared_ptr<ProductModel>& record) {
  auto fav = std::static_pointer_cast<ProductModel>(record->copy());
  fav->source = record;
  return fav;
}

bool ProductModel::isRecordOf(const ProductModel& favourite) const {
  if (!favourite.currencyCode.empty()) return currencyCode == favourite.currencyCode;
  return favourite.source.lock().get() == this;
}

const std::map<std::string, std::string>& SortModel::mapDict() {
  static const std::map<std::string, std::string> map{
      {"productName", "name"}, {"products", "data"}, {"isOpen", "isOpen"}};
  return map;
}

void SortModel::initWithDict(const pf::Value& dictionary) {
  if (!dictionary.is_object()) return;
  const auto& keys = mapDict();
  productName = textOf(dictionary, keys.at("productName"));
  auto open = dictionary.find(keys.at("isOpen"));
  isOpen = open == dictionary.end() || pf::integerValue(*open) == 1;
  auto data = dictionary.find(keys.at("products"));
  if (data == dictionary.end() || !data->is_array()) return;
  for (const auto& element : *data) {
    if (!element.is_object()) continue;
    auto product = std::make_shared<ProductModel>();
    product->initWithDict(element);
    products->push_back(product);
  }
  for (const auto& product : *products)
    if (product->isInterested) interstProducts->push_back(ProductModel::favouriteOf(product));
}

pf::Value SortModel::JSONObj() const {
  pf::Value data = pf::Value::array();
  for (const auto& p : *products) data.push_back(p->JSONObj());
  return pf::Value{{"name", productName}, {"data", std::move(data)}};
}

std::shared_ptr<BaseModel> SortModel::copy() const {
  auto g = std::make_shared<SortModel>();
  g->productName = productName;
  g->isOpen = isOpen;
  g->products = products;
  g->interstProducts = interstProducts;
  return g;
}

std::vector<BaseModel::Property> SortModel::ownProperties() const {
  return {{"productName", pf::Value(productName)}, {"isOpen", pf::Value(isOpen)}};
}

GroupList groupsFromArray(const pf::Value& array) {
  GroupList groups;
  if (!array.is_array()) return groups;
  for (const auto& element : array) {
    if (!element.is_object()) continue;
    auto group = std::make_shared<SortModel>();
    group->initWithDict(element);
    groups.push_back(group);
  }
  return groups;
}

}  // namespace app
