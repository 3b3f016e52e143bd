#pragma once
// The database store of the application: the table "tbl_KeyValue" of the file "db_KeyValue" in
// the Library directory, through a TnqKeyValueStore.

#include <memory>

#include "kvstore/KeyValueProtocol.h"
#include "kvstore/TnqKeyValueStore.h"

namespace kvstore {

inline constexpr const char* kKeyValueDatabaseName = "db_KeyValue";
inline constexpr const char* kKeyValueTableName = "tbl_KeyValue";

class TnqSqliteStore : public KeyValueProtocol {
 public:
  // Opens "db_KeyValue" in the Library directory and creates the table when it is missing.
  TnqSqliteStore();
  // The same on a table store of the caller's choosing.
  explicit TnqSqliteStore(std::shared_ptr<TnqKeyValueStore> store);

  using KeyValueProtocol::putNumber;
  using KeyValueProtocol::putObject;
  using KeyValueProtocol::putString;

  bool putObject(const pf::Value* object, NullableString objectId) override;
  std::optional<pf::Value> getObjectById(NullableString objectId) override;
  std::optional<TnqKeyValueModel> getTnqKeyValueModelById(NullableString objectId) override;
  bool putString(const pf::Value* string, NullableString stringId) override;
  std::optional<pf::Value> getStringById(NullableString stringId) override;
  bool putNumber(const pf::Value* number, NullableString numberId) override;
  std::optional<pf::Value> getNumberById(NullableString numberId) override;
  // Item records with ids and times.
  std::optional<std::vector<KeyValueItem>> getAllItems() override;
  std::uint64_t getCount() override;
  void deleteObjectById(NullableString objectId) override;
  void deleteObjectsByIdArray(const std::vector<std::string>& objectIds) override;
  void deleteObjectsByIdPrefix(NullableString objectIdPrefix) override;

  const std::shared_ptr<TnqKeyValueStore>& store() const { return store_; }
  void setStore(std::shared_ptr<TnqKeyValueStore> store) { store_ = std::move(store); }

 private:
  std::shared_ptr<TnqKeyValueStore> store_;
};

}  // namespace kvstore
