#include "kvstore/TnqSqliteStore.h"

namespace kvstore {

TnqSqliteStore::TnqSqliteStore() : TnqSqliteStore(TnqKeyValueStore::initDBWithName(kKeyValueDatabaseName)) {}

TnqSqliteStore::TnqSqliteStore(std::shared_ptr<TnqKeyValueStore> store) : store_(std::move(store)) {
  if (store_ && !store_->isTableExists(kKeyValueTableName)) store_->createTableWithName(kKeyValueTableName);
}

bool TnqSqliteStore::putObject(const pf::Value* object, NullableString objectId) {
  return store_ && store_->putObject(object, objectId, kKeyValueTableName);
}

std::optional<pf::Value> TnqSqliteStore::getObjectById(NullableString objectId) {
  return store_ ? store_->getObjectById(objectId, kKeyValueTableName) : std::nullopt;
}

std::optional<TnqKeyValueModel> TnqSqliteStore::getTnqKeyValueModelById(NullableString objectId) {
  return store_ ? store_->getTnqKeyValueModelById(objectId, kKeyValueTableName) : std::nullopt;
}

bool TnqSqliteStore::putString(const pf::Value* string, NullableString stringId) {
  return store_ && store_->putString(string, stringId, kKeyValueTableName);
}

std::optional<pf::Value> TnqSqliteStore::getStringById(NullableString stringId) {
  return store_ ? store_->getStringById(stringId, kKeyValueTableName) : std::nullopt;
}

bool TnqSqliteStore::putNumber(const pf::Value* number, NullableString numberId) {
  return store_ && store_->putNumber(number, numberId, kKeyValueTableName);
}

std::optional<pf::Value> TnqSqliteStore::getNumberById(NullableString numberId) {
  return store_ ? store_->getNumberById(numberId, kKeyValueTableName) : std::nullopt;
}

std::optional<std::vector<KeyValueItem>> TnqSqliteStore::getAllItems() {
  if (!store_) return std::nullopt;
  auto models = store_->getAllItemsFromTable(kKeyValueTableName);
  if (!models) return std::nullopt;
  std::vector<KeyValueItem> items;
  items.reserve(models->size());
  for (auto& model : *models) items.emplace_back(std::in_place_type<TnqKeyValueModel>, std::move(model));
  return items;
}

std::uint64_t TnqSqliteStore::getCount() { return store_ ? store_->getCountFromTabel(kKeyValueTableName) : 0; }

void TnqSqliteStore::deleteObjectById(NullableString objectId) {
  if (store_) store_->deleteObjectById(objectId, kKeyValueTableName);
}

void TnqSqliteStore::deleteObjectsByIdArray(const std::vector<std::string>& objectIds) {
  if (store_) store_->deleteObjectsByIdArray(objectIds, kKeyValueTableName);
}

void TnqSqliteStore::deleteObjectsByIdPrefix(NullableString objectIdPrefix) {
  if (store_) store_->deleteObjectsByIdPrefix(objectIdPrefix, kKeyValueTableName);
}

}  // namespace kvstore
