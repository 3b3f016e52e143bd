#include "kvstore/SqDatabase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <limits>

#include "kvstore/SqResultSet.h"
#include "kvstore/SqStatement.h"
#include "platform/foundation/Log.h"
#include "support/TestSupport.h"

namespace kvstore {
namespace {

std::shared_ptr<SqDatabase> openMemory() {
  auto db = SqDatabase::databaseWithPath(std::nullopt);
  EXPECT_TRUE(db->open());
  return db;
}

// The stored type and text of the single value in table v.
std::pair<std::string, std::string> stored(SqDatabase& db) {
  auto rs = db.executeQuery("select typeof(x), quote(x) from v");
  EXPECT_TRUE(rs && rs->next());
  std::pair<std::string, std::string> out{rs->stringForColumnIndex(0).value_or(""), rs->stringForColumnIndex(1).value_or("")};
  rs->close();
  db.executeUpdate("delete from v");
  return out;
}

TEST(SqDatabase, OpensMemoryTemporaryAndFileDatabases) {
  fxtest::TempDir dir;
  for (std::optional<std::string> path : {std::optional<std::string>(), std::optional<std::string>(""),
                                          std::optional<std::string>((dir / "a.db").string())}) {
    auto db = SqDatabase::databaseWithPath(path);
    EXPECT_EQ(db->sqlitePath(), path ? *path : ":memory:");
    ASSERT_TRUE(db->open());
    sqlite3* handle = db->sqliteHandle();
    EXPECT_TRUE(db->open());  // no second handle
    EXPECT_EQ(db->sqliteHandle(), handle);
    EXPECT_TRUE(db->goodConnection());
    ASSERT_TRUE(db->executeUpdate("create table t (a)"));
    EXPECT_TRUE(db->close());
    EXPECT_TRUE(db->close());
    EXPECT_FALSE(db->goodConnection());
    ASSERT_TRUE(db->open());
    // Private databases are gone after close; the file keeps its table.
    EXPECT_EQ(db->tableExists("t"), path && !path->empty());
  }
}

TEST(SqDatabase, FailedOpenKeepsNoHandle) {
  pf::LogCapture log;
  auto db = SqDatabase::databaseWithPath("/nonexistent-dir/sub/x.db");
  EXPECT_FALSE(db->open());
  EXPECT_EQ(db->sqliteHandle(), nullptr);
  EXPECT_EQ(log.lines(), std::vector<std::string>{"error opening!: 14"});
  EXPECT_FALSE(db->open());  // a later open tries again instead of answering YES at once
  EXPECT_FALSE(db->databaseExists());
  EXPECT_TRUE(log.contains("is not open."));
  EXPECT_FALSE(db->executeUpdate("create table t (a)"));
  EXPECT_EQ(db->executeQuery("select 1"), nullptr);
  EXPECT_EQ(db->lastInsertRowId(), 0);
  EXPECT_EQ(db->changes(), 0);
}

TEST(SqDatabase, ReadOnlyFlagsRefuseWrites) {
  fxtest::TempDir dir;
  const std::string path = (dir / "ro.db").string();
  pf::LogCapture log;
  EXPECT_FALSE(SqDatabase::databaseWithPath(path)->openWithFlags(SQLITE_OPEN_READONLY));  // no file yet
  auto rw = SqDatabase::databaseWithPath(path);
  ASSERT_TRUE(rw->openWithFlags(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
  ASSERT_TRUE(rw->executeUpdate("create table t (a)"));
  auto ro = SqDatabase::databaseWithPath(path);
  ASSERT_TRUE(ro->openWithFlags(SQLITE_OPEN_READONLY));
  EXPECT_FALSE(ro->executeUpdate("insert into t values (1)"));
  EXPECT_EQ(ro->lastErrorCode(), SQLITE_READONLY);
}

TEST(SqDatabase, BindsEveryKindOfValueByItsType) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeUpdate("create table v (x)"));
  using Stored = std::pair<std::string, std::string>;
  auto put = [&](const SqValue& value) {
    EXPECT_TRUE(db->executeUpdateWithArgumentsInArray("insert into v values (?)", std::span(&value, 1)));
    return stored(*db);
  };
  EXPECT_EQ(put(SqValue()), (Stored{"null", "NULL"}));
  EXPECT_EQ(put(SqValue::null()), (Stored{"null", "NULL"}));
  EXPECT_EQ(put(pf::Bytes{0x61, 0x00, 0x62}), (Stored{"blob", "X'610062'"}));
  EXPECT_EQ(put(pf::Bytes{}), (Stored{"blob", "X''"}));  // empty data is a zero-length blob, not NULL
  EXPECT_EQ(put(SqValue::date(1.5)), (Stored{"real", "1.5"}));
  EXPECT_EQ(put(true), (Stored{"integer", "1"}));
  EXPECT_EQ(put(static_cast<signed char>(-3)), (Stored{"integer", "-3"}));
  EXPECT_EQ(put(static_cast<unsigned short>(65535)), (Stored{"integer", "65535"}));
  EXPECT_EQ(put(4294967295u), (Stored{"integer", "4294967295"}));  // zero-extended
  EXPECT_EQ(put(std::uint64_t{18446744073709551615u}), (Stored{"integer", "-1"}));
  EXPECT_EQ(put(std::int64_t{-9007199254740993}), (Stored{"integer", "-9007199254740993"}));
  EXPECT_EQ(put(0.25f), (Stored{"real", "0.25"}));
  EXPECT_EQ(put(std::string("it's \xe4\xb8\xad")), (Stored{"text", "'it''s \xe4\xb8\xad'"}));
  ASSERT_TRUE(db->executeUpdate("insert into v values (?)", std::string("a\0b", 3)));  // bound by its length
  EXPECT_EQ(db->stringForQuery("select hex(x) from v"), "610062");
  db->executeUpdate("delete from v");
  // Containers bind as the text of their description; dates and data inside values by their kind.
  EXPECT_EQ(put(pf::Value::parse(R"({"k":[1]})")), (Stored{"text", "'{\n    k =     (\n        1\n    );\n}'"}));
  EXPECT_EQ(put(pf::makeDate(2.5)), (Stored{"real", "2.5"}));
  EXPECT_EQ(put(pf::makeData({1, 2})), (Stored{"blob", "X'0102'"}));

  // Values given as a list are borrowed for the call; the query copies them before they go.
  auto rs = db->executeQuery("select ?, ?", std::string(2000, 'x'), pf::Bytes(3, 7));
  ASSERT_TRUE(rs && rs->next());
  EXPECT_EQ(rs->stringForColumnIndex(0), std::string(2000, 'x'));
  EXPECT_EQ(rs->dataForColumnIndex(1), pf::Bytes(3, 7));
}

TEST(SqDatabase, DatesBindAsSecondsOrThroughTheFormatter) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeUpdate("create table d (t TEXT)"));
  ASSERT_TRUE(db->executeUpdate("insert into d values (?)", SqValue::date(1700000000.25)));
  EXPECT_EQ(db->stringForQuery("select t from d"), "1700000000.25");  // TEXT affinity keeps the number's text
  EXPECT_EQ(db->dateForQuery("select t from d"), 1700000000.25);

  db->setDateFormat(SqDatabase::storeableDateFormat("yyyy-MM-dd HH:mm:ss"));
  ASSERT_TRUE(db->hasDateFormatter());
  ASSERT_TRUE(db->executeUpdate("update d set t = ?", SqValue::date(86400 * 365)));
  EXPECT_EQ(db->stringForQuery("select t from d"), "1971-01-01 00:00:00");
  EXPECT_EQ(db->dateForQuery("select t from d"), 86400.0 * 365);
  EXPECT_EQ(db->dateForQuery("select 'not a date'"), std::nullopt);
  db->setDateFormat(nullptr);
  EXPECT_FALSE(db->hasDateFormatter());
}

TEST(SqDatabase, ChecksTheNumberOfBoundValues) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeUpdate("create table t (a, b)"));
  pf::LogCapture log;
  EXPECT_TRUE(db->executeUpdate("insert into t values (?, ?)", 1, 2, 3));  // extra values are not read
  EXPECT_FALSE(db->executeUpdate("insert into t values (?, ?)", 1));
  EXPECT_EQ(log.lines(), std::vector<std::string>{
                             "Error: the bind count (1) is not correct for the # of variables in the query (2) "
                             "(insert into t values (?, ?)) (executeUpdate)"});
  log.clear();
  EXPECT_EQ(db->executeQuery("select * from t where a = ? and b = ?", 1), nullptr);
  EXPECT_EQ(log.lines(),
            std::vector<std::string>{"Error: the bind count is not correct for the # of variables (executeQuery)"});
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 1);
}

TEST(SqDatabase, BindsDictionaryValuesByName) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeUpdate("create table t (id, v)"));
  pf::LogCapture log;
  EXPECT_TRUE(db->executeUpdateWithParameterDictionary("insert into t values (:id, :v)",
                                                       SqDictionary{{"id", "a"}, {"v", 1}, {"zz", 2}}));
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Could not find index for zz"});
  EXPECT_FALSE(db->executeUpdateWithParameterDictionary("insert into t values (:id, :v)", SqDictionary{{"id", "b"}}));
  auto rs = db->executeQueryWithParameterDictionary("select v from t where id = :id", SqDictionary{{"id", "a"}});
  ASSERT_TRUE(rs && rs->next());
  EXPECT_EQ(rs->intForColumnIndex(0), 1);
}

TEST(SqDatabase, ReportsPreparationAndStepFailures) {
  auto db = openMemory();
  pf::LogCapture log;
  pf::Error error;
  EXPECT_FALSE(db->executeUpdateWithErrorAndBindings("insert into missing values (?)", &error, 1));
  EXPECT_EQ(error.domain, "SqDatabase");
  EXPECT_EQ(error.code, SQLITE_ERROR);
  EXPECT_EQ(error.localizedDescription(), "no such table: missing");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"DB Error: 1 \"no such table: missing\"",
                                                   "DB Query: insert into missing values (?)", "DB Path: (null)"}));
  EXPECT_TRUE(db->hadError());

  ASSERT_TRUE(db->executeUpdate("create table t (a NOT NULL)"));
  EXPECT_FALSE(db->hadError());
  log.clear();
  EXPECT_FALSE(db->update("insert into t values (?)", &error, nullptr));
  EXPECT_EQ(db->lastErrorCode(), SQLITE_CONSTRAINT);
  EXPECT_EQ(log.lines().at(0), "Unknown error calling sqlite3_step (19: NOT NULL constraint failed: t.a) eu");
  EXPECT_EQ(db->lastError().code, SQLITE_CONSTRAINT);

  db->setLogsErrors(false);
  log.clear();
  EXPECT_FALSE(db->executeUpdate("bogus"));
  EXPECT_TRUE(log.lines().empty());
}

TEST(SqDatabase, UpdateThatYieldsARowRaisesAndLeavesTheConnectionUsable) {
  for (bool cache : {false, true}) {
    auto db = openMemory();
    db->setShouldCacheStatements(cache);
    pf::LogCapture log;
    try {
      db->executeUpdate("select 1");
      FAIL() << "no exception";
    } catch (const pf::Exception& e) {
      EXPECT_EQ(e.name(), pf::kInternalInconsistencyException);
      EXPECT_EQ(e.reason(), "A executeUpdate is being called with a query string 'select 1'");
    }
    EXPECT_TRUE(db->executeUpdate("create table t (a)"));
    EXPECT_THROW(db->executeUpdate("select 1"), pf::Exception);  // the cached statement is not stuck in use
    EXPECT_EQ(db->intForQuery("select 2"), 2);
    EXPECT_FALSE(log.contains("currently in use"));
  }
}

TEST(SqDatabase, CachedStatementsAreReusedAndNeverSharedWhileInUse) {
  auto db = openMemory();
  db->setShouldCacheStatements(true);
  ASSERT_TRUE(db->executeUpdate("create table t (a)"));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(db->executeUpdate("insert into t values (?)", i));
  const auto& cache = *db->cachedStatements();
  auto inserts = cache.find("insert into t values (?)");
  ASSERT_NE(inserts, cache.end());
  ASSERT_EQ(inserts->second.size(), 1u);
  EXPECT_EQ(inserts->second[0]->useCount(), 3);

  const char* sql = "select a from t order by a";
  auto first = db->executeQuery(sql);
  ASSERT_TRUE(first && first->next());
  auto second = db->executeQuery(sql);  // the first still reads through its statement
  ASSERT_TRUE(second && second->next() && second->next());
  EXPECT_EQ(first->intForColumnIndex(0), 0);
  EXPECT_EQ(second->intForColumnIndex(0), 1);
  EXPECT_EQ(cache.find(sql)->second.size(), 2u);
  first->close();
  second->close();
  auto third = db->executeQuery(sql);
  ASSERT_TRUE(third && third->next());
  EXPECT_EQ(third->intForColumnIndex(0), 0);
  third->close();
  EXPECT_EQ(cache.find(sql)->second.size(), 2u);

  db->setShouldCacheStatements(false);
  EXPECT_EQ(db->cachedStatements(), nullptr);
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 3);
}

// An opened file database with the statement cache on and an empty table t (a).
std::shared_ptr<SqDatabase> openCachingFile(const std::filesystem::path& path) {
  auto db = SqDatabase::databaseWithPath(path.string());
  EXPECT_TRUE(db->open());
  db->setShouldCacheStatements(true);
  EXPECT_TRUE(db->executeUpdate("create table t (a)"));
  return db;
}

// The statements kept for a text, or 0 when there are none.
std::size_t cachedCount(const SqDatabase& db, std::string_view sql) {
  const auto* cache = db.cachedStatements();
  if (!cache) return 0;
  auto it = cache->find(sql);
  return it == cache->end() ? 0 : it->second.size();
}

TEST(SqDatabase, ACachedStatementServesAgainAfterEveryKindOfFailure) {
  auto db = openMemory();
  db->setShouldCacheStatements(true);
  ASSERT_TRUE(db->executeUpdate("create table t (a NOT NULL UNIQUE)"));
  pf::LogCapture log;

  // A step that fails (a constraint) leaves the statement reset, in the cache, without bindings.
  const char* insert = "insert into t values (?)";
  ASSERT_TRUE(db->executeUpdate(insert, 1));
  EXPECT_FALSE(db->executeUpdate(insert, 1));
  EXPECT_FALSE(db->executeUpdate(insert, nullptr));
  EXPECT_EQ(db->lastErrorCode(), SQLITE_CONSTRAINT);
  EXPECT_FALSE(db->executeUpdate(insert));  // too few values: refused before the step
  EXPECT_TRUE(log.contains("Error: the bind count (0) is not correct for the # of variables in the query (1)"));
  EXPECT_TRUE(db->executeUpdate(insert, 2));
  EXPECT_EQ(cachedCount(*db, insert), 1u);
  EXPECT_EQ(db->cachedStatements()->find(insert)->second[0]->useCount(), 4);  // every run that stepped

  // A query whose step fails closes its result set; the statement is handed out again.
  const char* query = "select abs(?)";
  auto failing = db->executeQuery(query, std::numeric_limits<std::int64_t>::min());
  ASSERT_TRUE(failing);
  EXPECT_FALSE(failing->next());
  EXPECT_TRUE(log.contains("integer overflow"));
  EXPECT_FALSE(db->hasOpenResultSets());
  EXPECT_EQ(db->longForQuery(query, -5), 5);
  EXPECT_EQ(db->executeQuery(query), nullptr);  // the bind count again, for a query
  EXPECT_EQ(db->longForQuery(query, -6), 6);
  EXPECT_EQ(cachedCount(*db, query), 1u);
  EXPECT_FALSE(log.contains("currently in use"));
}

TEST(SqDatabase, CloseEmptiesTheCacheAndAReopenedConnectionPreparesAfresh) {
  fxtest::TempDir dir;
  auto db = openCachingFile(dir / "cache.db");
  ASSERT_TRUE(db->executeUpdate("insert into t values (?)", 1));
  const char* query = "select a from t";
  auto open = db->executeQuery(query);  // still reading when the connection closes
  ASSERT_TRUE(open && open->next());
  auto kept = open->statement();
  EXPECT_TRUE(kept->inUse());

  EXPECT_TRUE(db->close());
  EXPECT_TRUE(db->shouldCacheStatements());
  EXPECT_TRUE(db->cachedStatements()->empty());
  EXPECT_EQ(kept->statement(), nullptr);  // finalized with the connection, not left to a later reuse
  EXPECT_FALSE(kept->inUse());
  EXPECT_FALSE(open->next());

  ASSERT_TRUE(db->open());
  ASSERT_TRUE(db->executeUpdate("insert into t values (?)", 2));
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 2);
  auto again = db->executeQuery(query);
  ASSERT_TRUE(again && again->next());
  EXPECT_NE(again->statement(), kept);
  again->close();
  EXPECT_EQ(cachedCount(*db, query), 1u);
}

TEST(SqDatabase, SavePointStatementsStayOutOfTheCache) {
  auto db = openMemory();
  db->setShouldCacheStatements(true);
  ASSERT_TRUE(db->executeUpdate("create table t (a)"));
  for (int i = 0; i < 3; ++i) {
    auto error = db->inSavePoint([&](bool* rollback) {
      db->executeUpdate("insert into t values (?)", i);
      *rollback = i == 1;
    });
    EXPECT_FALSE(error);
  }
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 2);
  for (const auto& [sql, statements] : *db->cachedStatements())
    EXPECT_EQ(sql.find("savepoint"), std::string::npos) << sql;
  EXPECT_EQ(cachedCount(*db, "insert into t values (?)"), 1u);
}

TEST(SqDatabase, CloseFinalizesLeakedStatementsAndOpenResultSets) {
  fxtest::TempDir dir;
  auto db = openCachingFile(dir / "c.db");
  ASSERT_TRUE(db->executeUpdate("insert into t values (1), (2)"));
  auto rs = db->executeQuery("select a from t");
  ASSERT_TRUE(rs && rs->next());
  sqlite3_stmt* leaked = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db->sqliteHandle(), "select 1", -1, &leaked, nullptr), SQLITE_OK);
  pf::LogCapture log;
  EXPECT_TRUE(db->close());
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Closing leaked statement"});
  EXPECT_EQ(db->sqliteHandle(), nullptr);
  EXPECT_FALSE(db->hasOpenResultSets());
  EXPECT_FALSE(rs->next());  // closed with its connection
  EXPECT_EQ(rs->parentDB(), nullptr);
}

TEST(SqDatabase, ACloseTheEngineRefusesStillLetsTheConnectionGo) {
  auto source = openMemory();
  auto target = openMemory();
  ASSERT_TRUE(source->executeUpdate("create table t (a)"));
  ASSERT_TRUE(source->executeUpdate("insert into t values (randomblob(5000))"));
  // An unfinished backup keeps the engine from closing the source outright.
  sqlite3_backup* backup = sqlite3_backup_init(target->sqliteHandle(), "main", source->sqliteHandle(), "main");
  ASSERT_NE(backup, nullptr);
  ASSERT_EQ(sqlite3_backup_step(backup, 1), SQLITE_OK);
  pf::LogCapture log;
  EXPECT_TRUE(source->close());
  EXPECT_EQ(source->sqliteHandle(), nullptr);
  EXPECT_TRUE(log.lines().empty());
  // The engine frees the connection once the backup is done with it (the leak check sees it).
  sqlite3_backup_finish(backup);
}

TEST(SqDatabase, ReentryFromAnSqlFunctionIsRefused) {
  auto db = openMemory();
  pf::LogCapture log;
  bool inner = true;
  db->makeFunctionNamed("reenter", 0, [&](sqlite3_context* context, int, sqlite3_value**) {
    inner = db->executeUpdate("create table x (a)");
    sqlite3_result_int(context, 7);
  });
  ASSERT_TRUE(db->executeUpdate("create table t (a)"));
  EXPECT_TRUE(db->executeUpdate("insert into t values (reenter())"));
  EXPECT_FALSE(inner);
  EXPECT_TRUE(log.contains("The SqDatabase <SqDatabase: 0x"));
  EXPECT_TRUE(log.contains("is currently in use."));
  EXPECT_EQ(db->intForQuery("select a from t"), 7);
  EXPECT_FALSE(db->tableExists("x"));
}

TEST(SqDatabase, CountsAndErrorCodes) {
  auto db = openMemory();
  ASSERT_TRUE(db->executeUpdate("create table t (a)"));
  ASSERT_TRUE(db->executeUpdate("insert into t values (1), (2), (3)"));
  EXPECT_EQ(db->changes(), 3);
  EXPECT_EQ(db->lastInsertRowId(), 3);
  auto rs = db->executeQuery("select a from t");
  ASSERT_TRUE(rs->next());
  EXPECT_FALSE(db->hadError());  // 100 is no error
  EXPECT_TRUE(rs->hasAnotherRow());
  while (rs->next()) {
  }
  EXPECT_FALSE(db->hadError());  // neither is 101
  EXPECT_EQ(SqDatabase::SqDBVersion(), 0x230);
  EXPECT_EQ(SqDatabase::SqDBUserVersion(), "2.3");
  EXPECT_TRUE(SqDatabase::isSQLiteThreadSafe());
  EXPECT_EQ(SqDatabase::sqliteLibVersion(), sqlite3_libversion());
  EXPECT_FALSE(db->setKey("secret"));
  EXPECT_FALSE(db->rekeyWithData(pf::Bytes{1}));
}

TEST(SqDatabase, StatementDescriptionNamesItsUseCountAndQuery) {
  SqStatement statement(nullptr, "select 1");
  statement.setUseCount(3);
  EXPECT_TRUE(statement.description().ends_with("> 3 hit(s) for query select 1"));
}

}  // namespace
}  // namespace kvstore
