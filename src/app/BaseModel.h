#pragma once
// The base of the app's records built from a dictionary. A subclass reads the dictionary in
// initWithDict, gives its JSON form, copies its fields and lists its own properties (name and
// value, in declaration order) for description(). BaseModelOf<Derived> supplies the empty
// instance of the receiver's own class that copy() starts from.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"

namespace app {

class BaseModel {
 public:
  // A property's name and value; nullopt stands for nil.
  using Property = std::pair<std::string, std::optional<pf::Value>>;

  BaseModel() = default;
  virtual ~BaseModel() = default;

  // The base ignores the dictionary.
  virtual void initWithDict(const pf::Value& dictionary) {}
  // The base's JSON form is the empty dictionary.
  virtual pf::Value JSONObj() const { return pf::Value::object(); }
  // A new instance of the receiver's class; the base copies no field.
  virtual std::shared_ptr<BaseModel> copy() const { return newInstance(); }
  // The properties declared by the receiver's own class (not its bases), in declaration order.
  virtual std::vector<Property> ownProperties() const { return {}; }

  // "name =  value \n " for each of ownProperties().
  std::string description() const;

 protected:
  virtual std::shared_ptr<BaseModel> newInstance() const { return std::make_shared<BaseModel>(); }
};

template <class Derived, class Base = BaseModel>
class BaseModelOf : public Base {
 protected:
  std::shared_ptr<BaseModel> newInstance() const override { return std::make_shared<Derived>(); }
};

}  // namespace app
