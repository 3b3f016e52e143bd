#pragma once
// A key-value store held in a dictionary for the life of the process. Values are kept as they
// are given. Not thread-safe: its one user runs on the main thread.

#include <memory>
#include <string>
#include <unordered_map>

#include "kvstore/KeyValueProtocol.h"

namespace kvstore {

class TnqMemoryStore : public KeyValueProtocol {
 public:
  using Dictionary = std::unordered_map<std::string, pf::Value>;

  using KeyValueProtocol::putNumber;
  using KeyValueProtocol::putObject;
  using KeyValueProtocol::putString;

  // A put without id or value stores nothing and answers false (with a log line).
  bool putObject(const pf::Value* object, NullableString objectId) override;
  std::optional<pf::Value> getObjectById(NullableString objectId) override;
  // Not supported: logs "do not support now" and answers nil.
  std::optional<TnqKeyValueModel> getTnqKeyValueModelById(NullableString objectId) override;
  bool putString(const pf::Value* string, NullableString stringId) override;
  std::optional<pf::Value> getStringById(NullableString stringId) override;
  bool putNumber(const pf::Value* number, NullableString numberId) override;
  std::optional<pf::Value> getNumberById(NullableString numberId) override;
  // The bare values, in the dictionary's order.
  std::optional<std::vector<KeyValueItem>> getAllItems() override;
  std::uint64_t getCount() override;
  void deleteObjectById(NullableString objectId) override;
  void deleteObjectsByIdArray(const std::vector<std::string>& objectIds) override;
  // Not supported: logs "do not support now" and removes nothing.
  void deleteObjectsByIdPrefix(NullableString objectIdPrefix) override;

  // The dictionary, made empty on first use.
  Dictionary& store();
  void setStore(std::unique_ptr<Dictionary> store) { store_ = std::move(store); }

 private:
  std::unique_ptr<Dictionary> store_;
};

}  // namespace kvstore
