#pragma once
// The operations every key-value store offers. Values are JSON values (a nil value is a null
// pointer); ids are nullable texts. Puts answer whether the value was stored.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kvstore/NullableString.h"
#include "kvstore/TnqKeyValueModel.h"
#include "platform/foundation/Value.h"

namespace kvstore {

// An entry of getAllItems: an item record (database stores) or a bare value (memory store).
using KeyValueItem = std::variant<TnqKeyValueModel, pf::Value>;

class KeyValueProtocol {
 public:
  virtual ~KeyValueProtocol() = default;

  virtual bool putObject(const pf::Value* object, NullableString objectId) = 0;
  bool putObject(const pf::Value& object, NullableString objectId) { return putObject(&object, objectId); }
  virtual std::optional<pf::Value> getObjectById(NullableString objectId) = 0;
  virtual std::optional<TnqKeyValueModel> getTnqKeyValueModelById(NullableString objectId) = 0;
  virtual bool putString(const pf::Value* string, NullableString stringId) = 0;
  bool putString(const pf::Value& string, NullableString stringId) { return putString(&string, stringId); }
  virtual std::optional<pf::Value> getStringById(NullableString stringId) = 0;
  virtual bool putNumber(const pf::Value* number, NullableString numberId) = 0;
  bool putNumber(const pf::Value& number, NullableString numberId) { return putNumber(&number, numberId); }
  virtual std::optional<pf::Value> getNumberById(NullableString numberId) = 0;
  virtual std::optional<std::vector<KeyValueItem>> getAllItems() = 0;
  virtual std::uint64_t getCount() = 0;
  virtual void deleteObjectById(NullableString objectId) = 0;
  virtual void deleteObjectsByIdArray(const std::vector<std::string>& objectIds) = 0;
  virtual void deleteObjectsByIdPrefix(NullableString objectIdPrefix) = 0;
};

}  // namespace kvstore
