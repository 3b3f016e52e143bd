#pragma once
// The watch list as the page hands it over: groups (SortModel) of products (ProductModel), each
// group with its favourites as separate copies in display order. Main thread only.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/BaseModel.h"
#include "platform/foundation/Value.h"

namespace app {

class ProductModel : public BaseModelOf<ProductModel> {
 public:
  std::string productName;
  bool isInterested = false;
  std::string currencyCode;
  // For a favourite: the group's record it was copied from.
  std::weak_ptr<ProductModel> source;

  // Field name -> input key.
  static const std::map<std::string, std::string>& mapDict();
  // "product", "isInterest" and "currencyCode"; absent or non-text names and codes are "".
  void initWithDict(const pf::Value& dictionary) override;
  // {"product", "isInterest": "1" or "0", "currencyCode"}.
  pf::Value JSONObj() const override;
  std::shared_ptr<BaseModel> copy() const override;
  std::vector<Property> ownProperties() const override;

  // A favourite copied from the record.
  static std::shared_ptr<ProductModel> favouriteOf(const std::shared_ptr<ProductModel>& record);
  // Whether this record is the one the favourite stands for: the same currency code, or, for a
  // favourite without one, the record it was copied from.
  bool isRecordOf(const ProductModel& favourite) const;
};

using ProductList = std::vector<std::shared_ptr<ProductModel>>;

class SortModel : public BaseModelOf<SortModel> {
 public:
  std::string productName;
  std::shared_ptr<ProductList> products = std::make_shared<ProductList>();
  std::shared_ptr<ProductList> interstProducts = std::make_shared<ProductList>();
  bool isOpen = true;

  static const std::map<std::string, std::string>& mapDict();
  // "name", "data" (elements that are not dictionaries are skipped) and "isOpen" (open unless its
  // integer value is not 1); the favourites are copies of the products marked as favourites.
  void initWithDict(const pf::Value& dictionary) override;
  // {"name", "data": the products' JSON in the order of products}.
  pf::Value JSONObj() const override;
  // The same name and open state, sharing both product arrays.
  std::shared_ptr<BaseModel> copy() const override;
  std::shared_ptr<SortModel> copyGroup() const { return std::static_pointer_cast<SortModel>(copy()); }
  std::vector<Property> ownProperties() const override;
};

using GroupList = std::vector<std::shared_ptr<SortModel>>;

// Groups from the page's array (non-dictionaries skipped); an array is required.
GroupList groupsFromArray(const pf::Value& array);

}  // namespace app
