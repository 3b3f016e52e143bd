// The plug-in base: the answer record and the registry filled from the bundle's table or the
// built-in one.

#include <gtest/gtest.h>

#include "app/PylPluginHandle.h"
#include "app/PylResult.h"
#include "container/MwServletManager.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "support/TestSupport.h"

namespace app {
namespace {

TEST(PylResult, SuccessResultKeysAndDefaults) {
  EXPECT_EQ(PylResult(pf::Value{{"k", 1}}).getSuccessResult(),
            (pf::Value{{"data", {{"k", 1}}}, {"result", 0}, {"continue", false}}));
  EXPECT_EQ(PylResult(nullptr, true, 7).getSuccessResult(), (pf::Value{{"data", ""}, {"result", 0}, {"continue", true}}))
      << "null data gives \"\"; result is always 0";
  PylResult record(pf::Value::array({1, 2}), false);
  EXPECT_EQ(record.result(), 0);
  record.setNeedContinue(true);
  EXPECT_EQ(record.getSuccessResult()["continue"], true);
}

struct FakePlugin : container::MwServlet {};

class PluginHandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    container::MwServletManager::resetForTesting();
    container::MwServletClasses::shared().add<FakePlugin>("TestFakePlugin");
  }
  void TearDown() override {
    pf::Bundle::setMainPath({});
    container::MwServletManager::resetForTesting();
  }
  void useTable(const pf::Value& table) {
    auto bytes = pf::writePropertyList(table, pf::PropertyListFormat::Xml);
    ASSERT_TRUE(bytes);
    ASSERT_TRUE(pf::FileManager::writeFile(dir / "plugin.plist", *bytes, true));
    pf::Bundle::setMainPath(dir.path());
  }
  fxtest::TempDir dir;
};

TEST_F(PluginHandleTest, BundleTableRegistersEveryKeyWithAKnownClass) {
  useTable(pf::Value::array({pf::Value{{"a.do", "TestFakePlugin"}, {"b.do", "TestFakePlugin"}},
                             pf::Value{{"c.do", "NoSuchPluginClass"}}, pf::Value("not a dictionary"),
                             pf::Value{{"a.do", "MwServerServlet"}}}));
  PylPluginHandle handle;
  handle.registerPlugin();
  auto& manager = container::MwServletManager::getInstance();
  EXPECT_EQ(manager.classNameForServlet("b.do"), "TestFakePlugin");
  EXPECT_EQ(manager.classNameForServlet("a.do"), "MwServerServlet") << "a later entry replaces";
  EXPECT_FALSE(manager.classNameForServlet("c.do"));
  EXPECT_FALSE(manager.classNameForServlet("store.do")) << "the built-in table is not used";
}

TEST_F(PluginHandleTest, EmptyTableRegistersNothingAndNoTableFallsBack) {
  useTable(pf::Value::array());
  PylPluginHandle empty;
  EXPECT_TRUE(empty.pluginArray().empty());

  pf::Bundle::setMainPath(dir.path() / "missing");
  PylPluginHandle builtIn;
  const pf::Value& table = builtIn.pluginArray();
  ASSERT_EQ(table.size(), 12u);
  EXPECT_EQ(table[0], (pf::Value{{"webnet.do", "PylWebnetPlugin"}}));
  EXPECT_EQ(table[11], (pf::Value{{"statistics.do", "StatisticPlugin"}}));

  builtIn.setPluginArray(pf::Value::array({pf::Value{{"x.do", "TestFakePlugin"}}}));
  builtIn.registerPlugin();
  EXPECT_TRUE(container::MwServletManager::getInstance().getServletWithName("x.do", container::kSchemeClient));
}

}  // namespace
}  // namespace app
