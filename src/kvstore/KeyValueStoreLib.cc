#include "kvstore/KeyValueStoreLib.h"

#include <mutex>

#include "kvstore/TnqMemoryStore.h"
#include "kvstore/TnqSqliteStore.h"

namespace kvstore {

namespace {
std::mutex gSharedMutex;
std::shared_ptr<KeyValueStoreLib> gShared;
}  // namespace

std::shared_ptr<KeyValueStoreLib> KeyValueStoreLib::sharedInstance() {
  std::lock_guard lock(gSharedMutex);
  if (!gShared) gShared = std::make_shared<KeyValueStoreLib>();
  return gShared;
}

void KeyValueStoreLib::resetSharedInstanceForTesting() {
  std::lock_guard lock(gSharedMutex);
  gShared.reset();
}

void KeyValueStoreLib::loadStore() {
  sqlStore_ = std::make_shared<TnqSqliteStore>();
  fileStore_ = std::make_shared<TnqSqliteStore>();
  memStore_ = std::make_shared<TnqMemoryStore>();
}

}  // namespace kvstore
