#include "kvstore/KeyValueStoreLib.h"

#include <gtest/gtest.h>

#include <thread>

#include "kvstore/SqResultSet.h"
#include "kvstore/TnqFileStore.h"
#include "kvstore/TnqMemoryStore.h"
#include "kvstore/TnqSqliteStore.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Sandbox.h"
#include "support/TestSupport.h"

namespace kvstore {
namespace {

// Each test gets its own home, so its own Library directory and "db_KeyValue".
class KeyValueStoreLibTest : public testing::Test {
 protected:
  void SetUp() override {
    pf::Sandbox::setHome(home.path());
    KeyValueStoreLib::resetSharedInstanceForTesting();
  }
  void TearDown() override {
    KeyValueStoreLib::resetSharedInstanceForTesting();
    pf::Sandbox::setHome({});
  }
  std::shared_ptr<KeyValueStoreLib> loaded() {
    pf::LogCapture quiet;
    auto lib = KeyValueStoreLib::sharedInstance();
    lib->loadStore();
    return lib;
  }

  fxtest::TempDir home;
};

TEST_F(KeyValueStoreLibTest, PagesKeepValuesInTheDatabaseAndInMemory) {
  auto lib = KeyValueStoreLib::sharedInstance();
  EXPECT_EQ(lib, KeyValueStoreLib::sharedInstance());
  EXPECT_EQ(lib->sqlStore(), nullptr);  // nothing before loadStore
  lib = loaded();
  const pf::Value page = pf::Value::parse(R"({"rate":6.5,"pairs":["USDCNY"]})");
  EXPECT_TRUE(lib->sqlStore()->putString("v1", "k"));
  EXPECT_TRUE(lib->sqlStore()->putString(page, "page"));
  EXPECT_TRUE(lib->memStore()->putString("m1", "k"));
  EXPECT_EQ(lib->sqlStore()->getStringById("k"), pf::Value("v1"));
  EXPECT_EQ(lib->memStore()->getStringById("k"), pf::Value("m1"));  // separate values
  EXPECT_EQ(lib->fileStore()->getStringById("page"), page);          // same file and table

  // The table holds the value as a one-element JSON array.
  auto store = std::dynamic_pointer_cast<TnqSqliteStore>(lib->sqlStore())->store();
  store->dbQueue()->inDatabase([](SqDatabase* db) {
    EXPECT_EQ(db->stringForQuery("select json from tbl_KeyValue where id = 'k'"), "[\"v1\"]");
  });

  // A second load drops the memory store; a new process finds the database values again.
  {
    pf::LogCapture quiet;
    lib->loadStore();
  }
  EXPECT_EQ(lib->memStore()->getStringById("k"), std::nullopt);
  KeyValueStoreLib::resetSharedInstanceForTesting();
  lib.reset();
  store.reset();
  auto next = loaded();
  EXPECT_EQ(next->sqlStore()->getStringById("k"), pf::Value("v1"));
  EXPECT_EQ(next->sqlStore()->getStringById("page"), page);
  EXPECT_EQ(next->sqlStore()->getCount(), 2u);
}

TEST_F(KeyValueStoreLibTest, TheStoresAnswerInTheirOwnWays) {
  auto lib = loaded();
  lib->sqlStore()->putNumber(7, "n");
  lib->memStore()->putNumber(7, "n");
  auto sqlItems = lib->sqlStore()->getAllItems();
  ASSERT_TRUE(sqlItems && sqlItems->size() == 1);
  const auto& model = std::get<TnqKeyValueModel>((*sqlItems)[0]);
  EXPECT_EQ(model.modelId, "n");
  EXPECT_EQ(model.modelObject, pf::Value::array({7}));
  EXPECT_TRUE(model.createdDate);
  auto memItems = lib->memStore()->getAllItems();
  ASSERT_TRUE(memItems && memItems->size() == 1);
  EXPECT_EQ(std::get<pf::Value>((*memItems)[0]), pf::Value(7));
  EXPECT_EQ(TnqFileStore().getAllItems(), std::nullopt);

  lib->sqlStore()->deleteObjectsByIdPrefix("N");
  EXPECT_EQ(lib->sqlStore()->getCount(), 0u);
  lib->sqlStore()->putObject(pf::Value::object({{"a", 1}}), "o");
  lib->sqlStore()->deleteObjectsByIdArray({"o"});
  EXPECT_EQ(lib->sqlStore()->getObjectById("o"), std::nullopt);
}

TEST(TnqMemoryStore, KeepsValuesAsGiven) {
  TnqMemoryStore store;
  store.putString("a", "x");
  store.putNumber(1, "x");
  store.putObject(pf::Value::array({1}), "y");
  EXPECT_EQ(store.getCount(), 2u);
  EXPECT_EQ(store.getStringById("x"), pf::Value(1));  // a number, as stored
  pf::LogCapture log;
  EXPECT_EQ(store.getTnqKeyValueModelById("x"), std::nullopt);
  store.deleteObjectsByIdPrefix("x");
  EXPECT_EQ(store.getCount(), 2u);
  EXPECT_EQ(log.lines(), std::vector<std::string>(2, "do not support now"));
  // Puts without id or value are refused; the other entries stay.
  EXPECT_FALSE(store.putString(nullptr, "x"));
  EXPECT_FALSE(store.putString("v", std::nullopt));
  EXPECT_FALSE(store.putString("v", static_cast<const char*>(nullptr)));
  store.deleteObjectById(std::nullopt);
  EXPECT_EQ(store.getStringById("x"), pf::Value(1));
  store.deleteObjectsByIdArray({"x", "y", "z"});
  EXPECT_EQ(store.getCount(), 0u);
}

TEST(KeyValueStoreLib, IsMadeOnceUnderConcurrentFirstCalls) {
  KeyValueStoreLib::resetSharedInstanceForTesting();
  std::vector<std::shared_ptr<KeyValueStoreLib>> seen(8);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = KeyValueStoreLib::sharedInstance(); });
  for (auto& t : threads) t.join();
  for (const auto& lib : seen) EXPECT_EQ(lib, seen[0]);
  KeyValueStoreLib::resetSharedInstanceForTesting();
}

}  // namespace
}  // namespace kvstore
