#pragma once
// A store that keeps nothing: every put and delete does nothing, every read answers nil or 0.

#include "kvstore/KeyValueProtocol.h"

namespace kvstore {

class TnqFileStore : public KeyValueProtocol {
 public:
  using KeyValueProtocol::putNumber;
  using KeyValueProtocol::putObject;
  using KeyValueProtocol::putString;

  bool putObject(const pf::Value*, NullableString) override { return false; }
  std::optional<pf::Value> getObjectById(NullableString) override { return std::nullopt; }
  std::optional<TnqKeyValueModel> getTnqKeyValueModelById(NullableString) override { return std::nullopt; }
  bool putString(const pf::Value*, NullableString) override { return false; }
  std::optional<pf::Value> getStringById(NullableString) override { return std::nullopt; }
  bool putNumber(const pf::Value*, NullableString) override { return false; }
  std::optional<pf::Value> getNumberById(NullableString) override { return std::nullopt; }
  std::optional<std::vector<KeyValueItem>> getAllItems() override { return std::nullopt; }
  std::uint64_t getCount() override { return 0; }
  void deleteObjectById(NullableString) override {}
  void deleteObjectsByIdArray(const std::vector<std::string>&) override {}
  void deleteObjectsByIdPrefix(NullableString) override {}
};

}  // namespace kvstore
