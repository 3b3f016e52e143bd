#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <set>
#include <thread>

#include "kvstore/SqDatabase.h"
#include "kvstore/SqResultSet.h"
#include "platform/foundation/Log.h"
#include "support/TestSupport.h"

namespace kvstore {
namespace {

std::shared_ptr<SqDatabase> openMemory() {
  auto db = SqDatabase::databaseWithPath(std::nullopt);
  EXPECT_TRUE(db->open());
  return db;
}

TEST(SqDatabaseQuestions, SingleValues) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeUpdate("create table t (a, s)"));
  ASSERT_TRUE(db->executeUpdate("insert into t values (?, ?), (?, ?)", 1, nullptr, 2, "two"));
  EXPECT_EQ(db->intForQuery("select a from t where s = ?", "two"), 2);
  EXPECT_EQ(db->longForQuery("select 1 << 40"), std::int64_t{1} << 40);
  EXPECT_TRUE(db->boolForQuery("select 3"));
  EXPECT_EQ(db->doubleForQuery("select 0.5"), 0.5);
  EXPECT_EQ(db->dataForQuery("select x'ff'"), pf::Bytes{0xff});
  EXPECT_EQ(db->dateForQuery("select 10.5"), 10.5);
  EXPECT_EQ(db->stringForQuery("select s from t where a = 1"), std::nullopt);  // NULL
  EXPECT_EQ(db->intForQuery("select a from t where a > 5"), 0);                // no row
  EXPECT_EQ(db->stringForQuery("select s from t where a > 5"), std::nullopt);
  EXPECT_FALSE(db->hasOpenResultSets());
  pf::LogCapture log;
  EXPECT_EQ(db->intForQuery("select from"), 0);
  EXPECT_TRUE(log.contains("DB Error: 1 "));
}

TEST(SqDatabaseQuestions, TablesAndColumns) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeStatements("create table Tbl_KeyValue (id text, json text); create view w as select 1;"
                                    "create table \"o'q\" (Mixed)"));
  EXPECT_TRUE(db->tableExists("tbl_keyvalue"));
  EXPECT_TRUE(db->tableExists("TBL_KEYVALUE"));
  EXPECT_FALSE(db->tableExists("w"));  // views do not count
  EXPECT_FALSE(db->tableExists("missing"));
  EXPECT_TRUE(db->columnExists("ID", "tbl_keyvalue"));
  EXPECT_TRUE(db->columnExistsColumnName("TBL_KEYVALUE", "Json"));
  EXPECT_FALSE(db->columnExists("other", "tbl_keyvalue"));
  EXPECT_FALSE(db->columnExists("id", "missing"));
  EXPECT_TRUE(db->columnExists("mixed", "o'q"));  // a quote in the name stays inside the literal
  auto schema = db->getSchema();
  std::vector<std::string> names;
  while (schema->next()) names.push_back(*schema->stringForColumn("name"));
  EXPECT_EQ(names, (std::vector<std::string>{"Tbl_KeyValue", "o'q", "w"}));
  EXPECT_FALSE(db->hasOpenResultSets());
}

TEST(SqDatabaseQuestions, FileHeaderNumbersKeepAll32Bits) {
  fxtest::TempDir dir;
  auto db = SqDatabase::databaseWithPath((dir / "h.db").string());
  ASSERT_TRUE(db->open());
  db->setUserVersion(7);
  EXPECT_EQ(db->userVersion(), 7u);
  db->setUserVersion(4294967295u);
  db->setApplicationID(0x80000001u);
  ASSERT_TRUE(db->close());
  ASSERT_TRUE(db->open());
  EXPECT_EQ(db->userVersion(), 4294967295u);
  EXPECT_EQ(db->applicationID(), 0x80000001u);
}

TEST(SqDatabaseQuestions, ValidateSQLCompilesOnly) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeUpdate("create table t (a)"));
  pf::Error error;
  EXPECT_FALSE(db->validateSQL("select * from", &error));
  EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
  EXPECT_EQ(error.code, SQLITE_ERROR);
  EXPECT_TRUE(db->validateSQL("insert into t values (1)", &error));
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 0);
  db->close();
  EXPECT_FALSE(db->validateSQL("select 1", &error));
  EXPECT_EQ(error.code, SQLITE_MISUSE);
}

TEST(SqDatabaseTransactions, BeginCommitRollback) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeUpdate("create table t (a)"));
  ASSERT_TRUE(db->beginTransaction());
  EXPECT_TRUE(db->inTransaction());
  pf::LogCapture log;
  EXPECT_FALSE(db->beginTransaction());  // nested: the engine refuses
  EXPECT_TRUE(db->inTransaction());
  ASSERT_TRUE(db->executeUpdate("insert into t values (1)"));
  ASSERT_TRUE(db->rollback());
  EXPECT_FALSE(db->inTransaction());
  EXPECT_FALSE(db->commit());  // nothing open
  ASSERT_TRUE(db->beginDeferredTransaction());
  ASSERT_TRUE(db->executeUpdate("insert into t values (2)"));
  ASSERT_TRUE(db->commit());
  EXPECT_EQ(db->intForQuery("select group_concat(a) from t"), 2);
}

TEST(SqDatabaseTransactions, SavePoints) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeUpdate("create table t (a)"));
  db->setTraceExecution(true);
  pf::LogCapture log;
  pf::Error error;
  ASSERT_TRUE(db->startSavePointWithName("O'Brien", &error));
  EXPECT_TRUE(log.contains("executeUpdate: savepoint 'O''Brien';"));
  ASSERT_TRUE(db->executeUpdate("insert into t values (1)"));
  ASSERT_TRUE(db->rollbackToSavePointWithName("O'Brien", &error));
  ASSERT_TRUE(db->releaseSavePointWithName("O'Brien", &error));
  EXPECT_FALSE(db->releaseSavePointWithName("nope", &error));
  EXPECT_EQ(error.domain, "SqDatabase");
  EXPECT_EQ(error.localizedDescription(), "no such savepoint: nope");
  db->setTraceExecution(false);

  auto none = db->inSavePoint([&](bool* rollback) {
    db->executeUpdate("insert into t values (2)");
    *rollback = true;
  });
  EXPECT_FALSE(none);
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 0);  // as before the call
  EXPECT_FALSE(db->inSavePoint([&](bool*) { db->executeUpdate("insert into t values (3)"); }));
  EXPECT_EQ(db->intForQuery("select a from t"), 3);

  // A failed start runs no block and answers the error.
  db->close();
  bool ran = false;
  auto failed = db->inSavePoint([&](bool*) { ran = true; });
  EXPECT_FALSE(ran);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->domain, "SqDatabase");
}

TEST(SqDatabaseTransactions, SavePointNamesAreUniqueAcrossConnectionsAndThreads) {
  pf::LogCapture log;
  auto run = [] {
    auto db = openMemory();
    db->setTraceExecution(true);
    for (int i = 0; i < 200; ++i) db->inSavePoint([](bool*) {});
  };
  std::thread a(run), b(run);
  a.join();
  b.join();
  std::set<std::string> names;
  std::vector<long> numbers;
  for (const auto& line : log.lines()) {
    auto at = line.find("executeUpdate: savepoint 'dbSavePoint");
    if (at == std::string::npos) continue;
    names.insert(line.substr(at));
  }
  EXPECT_EQ(names.size(), 400u);
}

TEST(SqDatabaseTransactions, Batches) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeStatements("create table t (a, b); insert into t values (1, null), (2, 'x')"));
  pf::LogCapture log;
  EXPECT_FALSE(db->executeStatements("insert into t values (3, 3); insert into nowhere values (1)"));
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Error inserting batch: no such table: nowhere"});
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 3);  // the first statement stays done

  std::vector<SqDictionary> rows;
  EXPECT_TRUE(db->executeStatementsWithResultBlock("select a, b from t order by a", [&](const SqDictionary& row) {
    rows.push_back(row);
    return 0;
  }));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (SqDictionary{{"a", "1"}, {"b", SqValue::null()}}));
  EXPECT_EQ(rows[2], (SqDictionary{{"a", "3"}, {"b", "3"}}));

  int calls = 0;
  EXPECT_FALSE(db->executeStatementsWithResultBlock("select a from t", [&](const SqDictionary&) {
    ++calls;
    return 1;
  }));
  EXPECT_EQ(calls, 1);

  // An exception of the block does not cross the engine; it reaches the caller afterwards.
  EXPECT_THROW(db->executeStatementsWithResultBlock("select a from t",
                                                    [](const SqDictionary&) -> int { throw std::runtime_error("x"); }),
               std::runtime_error);
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 3);
  db->close();
  EXPECT_FALSE(db->executeStatements("select 1"));
}

TEST(SqDatabaseTransactions, SqlFunctions) {
  auto db = openMemory();
  db->makeFunctionNamed("twice", 1, [](sqlite3_context* context, int, sqlite3_value** argv) {
    sqlite3_result_int64(context, 2 * sqlite3_value_int64(argv[0]));
  });
  db->makeFunctionNamed("fails", 0, [](sqlite3_context*, int, sqlite3_value**) { throw std::runtime_error("bad"); });
  EXPECT_EQ(db->intForQuery("select twice(21)"), 42);
  pf::LogCapture log;
  EXPECT_EQ(db->intForQuery("select fails()"), 0);
  EXPECT_TRUE(log.contains("Error calling sqlite3_step (1: bad) rs"));
}

}  // namespace
}  // namespace kvstore
