#include "kvstore/TnqMemoryStore.h"

#include "platform/foundation/Log.h"

namespace kvstore {

TnqMemoryStore::Dictionary& TnqMemoryStore::store() {
  if (!store_) store_ = std::make_unique<Dictionary>();
  return *store_;
}

bool TnqMemoryStore::putObject(const pf::Value* object, NullableString objectId) {
  if (!object || objectId.isNil()) {
    pf::logLine("ERROR, memory store refuses a put without " + std::string(objectId.isNil() ? "id" : "value"));
    return false;
  }
  store().insert_or_assign(std::string(objectId.text()), *object);
  return true;
}

std::optional<pf::Value> TnqMemoryStore::getObjectById(NullableString objectId) {
  if (objectId.isNil()) return std::nullopt;
  auto& dictionary = store();
  auto it = dictionary.find(std::string(objectId.text()));
  if (it == dictionary.end()) return std::nullopt;
  return it->second;
}

std::optional<TnqKeyValueModel> TnqMemoryStore::getTnqKeyValueModelById(NullableString) {
  pf::logLine("do not support now");
  return std::nullopt;
}

bool TnqMemoryStore::putString(const pf::Value* string, NullableString stringId) { return putObject(string, stringId); }

std::optional<pf::Value> TnqMemoryStore::getStringById(NullableString stringId) { return getObjectById(stringId); }

bool TnqMemoryStore::putNumber(const pf::Value* number, NullableString numberId) { return putObject(number, numberId); }

std::optional<pf::Value> TnqMemoryStore::getNumberById(NullableString numberId) { return getObjectById(numberId); }

std::optional<std::vector<KeyValueItem>> TnqMemoryStore::getAllItems() {
  std::vector<KeyValueItem> items;
  items.reserve(store().size());
  for (const auto& [id, value] : store()) items.emplace_back(std::in_place_type<pf::Value>, value);
  return items;
}

std::uint64_t TnqMemoryStore::getCount() { return store().size(); }

void TnqMemoryStore::deleteObjectById(NullableString objectId) {
  if (objectId.isNil()) return;
  store().erase(std::string(objectId.text()));
}

void TnqMemoryStore::deleteObjectsByIdArray(const std::vector<std::string>& objectIds) {
  for (const auto& id : objectIds) deleteObjectById(id);
}

void TnqMemoryStore::deleteObjectsByIdPrefix(NullableString) { pf::logLine("do not support now"); }

}  // namespace kvstore
