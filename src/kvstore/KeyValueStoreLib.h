#pragma once
// The application's one facade over its key-value stores: two database stores on the same file
// and table (sqlStore, used by pages; fileStore, unused) and a store in memory (memStore).

#include <memory>

#include "kvstore/KeyValueProtocol.h"

namespace kvstore {

class KeyValueStoreLib {
 public:
  // The facade, made on the first call (thread-safe); it holds no store until loadStore().
  static std::shared_ptr<KeyValueStoreLib> sharedInstance();
  // Tests: the next sharedInstance() makes a new facade.
  static void resetSharedInstanceForTesting();

  // Makes the three stores, in this order: sqlStore, fileStore (both TnqSqliteStore), memStore
  // (TnqMemoryStore). A second call replaces all three.
  void loadStore();

  const std::shared_ptr<KeyValueProtocol>& sqlStore() const { return sqlStore_; }
  void setSqlStore(std::shared_ptr<KeyValueProtocol> store) { sqlStore_ = std::move(store); }
  const std::shared_ptr<KeyValueProtocol>& fileStore() const { return fileStore_; }
  void setFileStore(std::shared_ptr<KeyValueProtocol> store) { fileStore_ = std::move(store); }
  const std::shared_ptr<KeyValueProtocol>& memStore() const { return memStore_; }
  void setMemStore(std::shared_ptr<KeyValueProtocol> store) { memStore_ = std::move(store); }

 private:
  std::shared_ptr<KeyValueProtocol> sqlStore_;
  std::shared_ptr<KeyValueProtocol> fileStore_;
  std::shared_ptr<KeyValueProtocol> memStore_;
};

}  // namespace kvstore
