// "store.do": pages keep values in memory and in the database; refused writes reach the page as
// errors; database values outlive the process and are the table's rows; a damaged database file is
// replaced by a new one.

#include <gtest/gtest.h>

#include <fstream>

#include "PluginPageSupport.h"
#include "app/PylStorePlugin.h"
#include "kvstore/KeyValueStoreLib.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Sandbox.h"

namespace app {
namespace {

using plugintest::PluginPage;

class StorePluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::Sandbox::setHome(home.path());
    plugintest::registerBuiltInPlugins();
    load();
  }
  void TearDown() override {
    kvstore::KeyValueStoreLib::resetSharedInstanceForTesting();
    container::MwServletManager::resetForTesting();
    pf::Sandbox::setHome({});
  }
  static void load() {
    kvstore::KeyValueStoreLib::resetSharedInstanceForTesting();
    kvstore::KeyValueStoreLib::sharedInstance()->loadStore();
  }
  // The one answer of a call from the page.
  pf::Value call(const std::string& action, const std::string& args) {
    auto answers = page.call("store.do", action, args);
    EXPECT_EQ(answers.size(), 1u) << action << " " << args;
    return answers.empty() ? pf::Value() : answers[0];
  }
  std::string database() const { return (home.path() / "Library" / "db_KeyValue").string(); }

  pf::LogCapture quiet;
  fxtest::TempDir home;
  PluginPage page;
};

TEST_F(StorePluginTest, MemoryAndDatabaseHoldSeparateValues) {
  EXPECT_EQ(call("memSet", "{key: 'pair', value: 'USDJPY'}")["data"], (pf::Value{{"wdata", "success"}}));
  EXPECT_EQ(call("memGet", "{key: 'pair'}")["data"], (pf::Value{{"wdata", "USDJPY"}}));
  EXPECT_EQ(call("get", "{key: 'pair'}")["data"], (pf::Value{{"wdata", ""}})) << "the database has no such value";
  EXPECT_EQ(call("set", "{key: 'pair', value: 'EURUSD \\u2028 \\uD83D\\uDCB1'}")["data"],
            (pf::Value{{"wdata", "success"}}));
  EXPECT_EQ(call("get", "{key: 'pair'}")["data"]["wdata"], "EURUSD \u2028 \xF0\x9F\x92\xB1");
  EXPECT_EQ(call("memGet", "{key: 'pair'}")["data"]["wdata"], "USDJPY");
  EXPECT_EQ(call("memGet", "{key: 'none'}")["data"]["wdata"], "");

  auto unknown = call("Get", "{key: 'pair'}");
  EXPECT_EQ(unknown, (pf::Value{{"result", 0}, {"responseId", unknown["responseId"]}})) << "case matters";

  // A new process finds the database value, not the memory one; the table row is plain JSON.
  load();
  EXPECT_EQ(call("get", "{key: 'pair'}")["data"]["wdata"], "EURUSD \u2028 \xF0\x9F\x92\xB1");
  EXPECT_EQ(call("memGet", "{key: 'pair'}")["data"]["wdata"], "");
  fxtest::ChildProcess sqlite({"/usr/bin/sqlite3", database(), "select json from tbl_KeyValue where id = 'pair'"});
  EXPECT_EQ(sqlite.readLine(), "[\"EURUSD \u2028 \xF0\x9F\x92\xB1\"]");
}

TEST_F(StorePluginTest, RefusedWritesAnswerErrors) {
  for (const char* args : {"{value: 'v'}", "{key: 'k'}", "{key: 5, value: 'v'}", "{key: 'k', value: null}", "[1, 2]",
                           "'text'"}) {
    for (const char* op : {"set", "memSet"}) {
      auto answer = call(op, args);
      EXPECT_EQ(answer["result"], 100) << op << " " << args;
      EXPECT_FALSE(answer.contains("data"));
    }
  }
  // A key of another type reads as "".
  call("memSet", "{key: '5', value: 'five'}");
  EXPECT_EQ(call("memGet", "{key: 5}")["data"]["wdata"], "");
  EXPECT_EQ(call("get", "{key: {a: 1}}")["data"]["wdata"], "");

  // A database file that is none is set aside at the next start (its bytes kept) and the page's
  // values go to a new one.
  kvstore::KeyValueStoreLib::resetSharedInstanceForTesting();
  std::filesystem::remove(database());
  std::ofstream(database()) << "this is no database file, only text that fills the header and more";
  load();
  EXPECT_EQ(call("get", "{key: '5'}")["data"]["wdata"], "");
  EXPECT_EQ(call("set", "{key: 'k', value: 'v'}")["data"]["wdata"], "success");
  EXPECT_EQ(call("get", "{key: 'k'}")["data"]["wdata"], "v");
  EXPECT_TRUE(std::filesystem::is_regular_file(database() + ".damaged"));
}

// Two sets in one turn of the page, one of them above what the bridge takes (a 16 MiB value): the
// small one is stored and answered, the large one answered with an error.
TEST_F(StorePluginTest, ACallTooLargeForTheBridgeIsAnsweredAndTheCallsBesideItAreHandled) {
  // A page heap that holds the value, its JSON text and the fetched queue at once.
  page.page->webView()->setScriptLimits({.timeBudgetSeconds = 10, .heapCap = 256u << 20});
  page.page->webView()->loadFile((fxtest::dataPath("app/pages") / "plugins.html").string());
  const std::size_t before = page.answerCount();
  page.eval("var big = 'x'; while (big.length < 16 * 1024 * 1024) big += big;"
            "call('store.do', 'set', {key: 'small', value: 'v'}, {});"
            "call('store.do', 'set', {key: 'big', value: big}, {});"
            "call('store.do', 'get', {key: 'small'}, {}); big = null;");
  plugintest::pump();
  auto answers = page.answersFrom(before);
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0]["data"], (pf::Value{{"wdata", "success"}}));
  EXPECT_EQ(answers[1]["result"], 100);
  EXPECT_TRUE(answers[1]["data"]["ERRMSG"].is_string());
  EXPECT_EQ(answers[2]["data"], (pf::Value{{"wdata", "v"}}));
  EXPECT_EQ(call("get", "{key: 'big'}")["data"]["wdata"], "");
  EXPECT_EQ(page.page->openCallCount(), 0u);
}

TEST(StorePlugin, DirectCallsAnswerThroughTheirTask) {
  kvstore::KeyValueStoreLib::resetSharedInstanceForTesting();
  kvstore::KeyValueStoreLib::sharedInstance()->setMemStore(nullptr);
  StorePlugin plugin;
  plugintest::DirectCall unloaded(plugin, "store.do", "memSet", pf::Value{{"key", "k"}, {"value", "v"}});
  EXPECT_TRUE(unloaded.handled);
  EXPECT_EQ(unloaded.recorder->kinds(), std::vector<std::string>{"error"}) << "no store loaded";
  EXPECT_EQ(unloaded.recorder->unregistered, std::vector<std::string>{"direct1"});

  pf::LogCapture quiet;
  kvstore::KeyValueStoreLib::sharedInstance()->loadStore();
  StorePlugin again;
  plugintest::DirectCall set(again, "store.do", "memSet", pf::Value{{"key", "k"}, {"value", pf::Value{{"n", 1}}}});
  plugintest::DirectCall get(again, "store.do", "memGet", pf::Value{{"key", "k"}});
  ASSERT_EQ(get.data().size(), 1u);
  EXPECT_EQ(get.data()[0], (pf::Value{{"wdata", {{"n", 1}}}})) << "a value of any type is kept";
  kvstore::KeyValueStoreLib::resetSharedInstanceForTesting();
}

}  // namespace
}  // namespace app
