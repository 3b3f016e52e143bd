#include "kvstore/KeyValueStoreLib.h"

#include "platform/foundation/SharedInstance.h"

#include "kvstore/TnqMemoryStore.h"
#include "kvstore/TnqSqliteStore.h"

namespace kvstore {

namespace {
pf::SharedInstance<KeyValueStoreLib> gShared;
}  // namespace

std::shared_ptr<KeyValueStoreLib> KeyValueStoreLib::sharedInstance() {
  return gShared.get([] { return std::make_shared<KeyValueStoreLib>(); });
}

void KeyValueStoreLib::resetSharedInstanceForTesting() { gShared.reset(); }

void KeyValueStoreLib::loadStore() {
  sqlStore_ = std::make_shared<TnqSqliteStore>();
  fileStore_ = std::make_shared<TnqSqliteStore>();
  memStore_ = std::make_shared<TnqMemoryStore>();
}

}  // namespace kvstore
