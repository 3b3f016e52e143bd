#include "kvstore/TnqKeyValueStore.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "kvstore/KeyValueJson.h"
#include "kvstore/SqResultSet.h"
#include "kvstore/SqStatement.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "support/TestSupport.h"

namespace kvstore {
namespace {

const char* const kTable = "tbl_KeyValue";

class TnqKeyValueStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    pf::LogCapture quiet;
    store = TnqKeyValueStore::initWithDBWithPath(path());
    store->createTableWithName(kTable);
  }
  std::string path() const { return (home / "db_KeyValue").string(); }
  // The raw text in the json column of an id.
  std::optional<std::string> storedText(const std::string& id) {
    std::optional<std::string> text;
    store->dbQueue()->inDatabase(
        [&](SqDatabase* db) { text = db->stringForQuery("select json from tbl_KeyValue where id = ?", id); });
    return text;
  }
  void storeRaw(const std::string& id, const std::string& json) {
    store->dbQueue()->inDatabase([&](SqDatabase* db) {
      ASSERT_TRUE(db->executeUpdate("replace into tbl_KeyValue values (?, ?, ?)", id, json, SqValue::date(0)));
    });
  }

  fxtest::TempDir dir;
  std::filesystem::path home = dir.path();  // the folder of the store's file
  std::shared_ptr<TnqKeyValueStore> store;
};

TEST_F(TnqKeyValueStoreTest, StringsAndNumbersAreStoredAsOneElementArrays) {
  pf::LogCapture log;
  EXPECT_TRUE(store->putString(pf::Value("h\xc3\xa9llo/\"q\""), "s", kTable));
  EXPECT_TRUE(store->putNumber(pf::Value(2.5), "n", kTable));
  EXPECT_TRUE(store->putString(pf::Value("plain"), "p", kTable));
  EXPECT_EQ(storedText("n"), "[2.5]");
  EXPECT_EQ(storedText("p"), "[\"plain\"]");
  EXPECT_EQ(store->getStringById("s", kTable), pf::Value("h\xc3\xa9llo/\"q\""));
  EXPECT_EQ(store->getStringById("p", kTable), pf::Value("plain"));
  // Reads take the first element whatever it holds.
  EXPECT_EQ(store->getNumberById("p", kTable), pf::Value("plain"));
  EXPECT_EQ(store->getStringById("n", kTable), pf::Value(2.5));
  // Any JSON value goes through the string put, as pages send it.
  const pf::Value page = pf::Value::parse(R"({"list":[1,null,"x"],"ok":true})");
  EXPECT_TRUE(store->putString(page, "page", kTable));
  EXPECT_EQ(store->getStringById("page", kTable), page);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(TnqKeyValueStoreTest, ObjectsAndTheFirstElementOfWhatWasStored) {
  const pf::Value dictionary = {{"a", 1}};
  ASSERT_TRUE(store->putObject(dictionary, "d", kTable));
  ASSERT_TRUE(store->putObject(pf::Value::array({7, 8}), "a", kTable));
  ASSERT_TRUE(store->putObject(pf::Value::array(), "e", kTable));
  EXPECT_EQ(store->getObjectById("d", kTable), dictionary);
  EXPECT_EQ(store->getStringById("d", kTable), std::nullopt);
  EXPECT_EQ(store->getStringById("a", kTable), pf::Value(7));
  EXPECT_EQ(store->getStringById("e", kTable), std::nullopt);
  pf::LogCapture log;
  EXPECT_EQ(store->getTnqKeyValueModelById("missing", kTable), std::nullopt);
  EXPECT_EQ(store->getStringById("missing", kTable), std::nullopt);
  EXPECT_TRUE(log.lines().empty());  // a missing row is no failure
}

TEST_F(TnqKeyValueStoreTest, ARepeatedPutReplacesValueAndTime) {
  pf::VirtualTimeScope time(1700000000.125);
  ASSERT_TRUE(store->putString(pf::Value("first"), "k", kTable));
  time.advance(90.5);
  ASSERT_TRUE(store->putString(pf::Value("second"), "k", kTable));
  EXPECT_EQ(store->getCountFromTabel(kTable), 1u);
  auto model = store->getTnqKeyValueModelById("k", kTable);
  ASSERT_TRUE(model);
  EXPECT_EQ(model->modelId, "k");
  EXPECT_EQ(model->modelObject, pf::Value::array({"second"}));
  ASSERT_TRUE(model->createdDate);
  EXPECT_NEAR(*model->createdDate, 1700000090.625, 1e-6);
  EXPECT_EQ(model->description(), "id=k, value=(\n    second\n), timeStamp=2023-11-14 22:14:50 +0000");
}

TEST_F(TnqKeyValueStoreTest, ValuesSurviveCloseAndReopen) {
  ASSERT_TRUE(store->putString(pf::Value("kept"), "k", kTable));
  store->close();
  EXPECT_EQ(store->dbQueue(), nullptr);
  pf::LogCapture log;
  EXPECT_EQ(store->getStringById("k", kTable), std::nullopt);  // no queue any more
  EXPECT_FALSE(store->putString(pf::Value("lost"), "k", kTable));
  EXPECT_EQ(log.lines(), std::vector<std::string>{"ERROR, failed to insert/replace into table: tbl_KeyValue"});
  store.reset();
  auto reopened = TnqKeyValueStore::initWithDBWithPath(path());
  EXPECT_TRUE(reopened->isTableExists(kTable));
  EXPECT_EQ(reopened->getStringById("k", kTable), pf::Value("kept"));
}

TEST_F(TnqKeyValueStoreTest, RefusesWhatCannotBeWritten) {
  pf::LogCapture log;
  EXPECT_FALSE(store->putObject(pf::Value("scalar"), "k", kTable));
  EXPECT_FALSE(store->putObject(pf::Value::array({std::nan("")}), "k", kTable));
  EXPECT_FALSE(store->putString(pf::Value(std::string("\xff\xfe")), "k", kTable));
  pf::Value deep = pf::Value::array();
  for (int i = 0; i < kMaxJsonDepth + 5; ++i) deep = pf::Value::array({std::move(deep)});
  EXPECT_FALSE(store->putObject(deep, "k", kTable));
  EXPECT_EQ(log.lines(), std::vector<std::string>(4, "ERROR, faild to get json data"));
  log.clear();
  EXPECT_FALSE(store->putString(nullptr, "k", kTable));
  EXPECT_FALSE(store->putNumber(nullptr, "k", kTable));
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"error, string is nil", "error,number is nil"}));
  log.clear();
  EXPECT_FALSE(store->putString(pf::Value("v"), std::nullopt, kTable));  // NOT NULL id
  EXPECT_FALSE(store->putString(pf::Value("v"), "k", "missing"));
  EXPECT_TRUE(log.contains("ERROR, failed to insert/replace into table: tbl_KeyValue"));
  EXPECT_TRUE(log.contains("ERROR, failed to insert/replace into table: missing"));
  EXPECT_EQ(store->getCountFromTabel(kTable), 0u);
}

TEST_F(TnqKeyValueStoreTest, StoredTextThatDoesNotDecode) {
  storeRaw("bad", "not json");
  storeRaw("deep", std::string(kMaxJsonDepth + 1, '[') + std::string(kMaxJsonDepth + 1, ']'));
  storeRaw("good", "[1]");
  pf::LogCapture log;
  EXPECT_EQ(store->getStringById("bad", kTable), std::nullopt);
  EXPECT_EQ(store->getObjectById("deep", kTable), std::nullopt);
  EXPECT_EQ(log.lines(), std::vector<std::string>(2, "ERROR, faild to prase to json"));
  log.clear();
  auto all = store->getAllItemsFromTable(kTable);
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 3u);
  EXPECT_EQ(log.lines(), std::vector<std::string>(2, "ERROR, faild to prase to json."));
  for (const auto& item : *all) {
    if (item.modelId == "bad") {
      EXPECT_EQ(item.modelObject, pf::Value("not json"));  // kept as its text
    } else if (item.modelId == "good") {
      EXPECT_EQ(item.modelObject, pf::Value::array({1}));
    }
    EXPECT_EQ(item.createdDate, 0.0);
  }
}

TEST_F(TnqKeyValueStoreTest, TableNamesAreCheckedAndQuoted) {
  pf::LogCapture log;
  for (NullableString bad : {NullableString(std::nullopt), NullableString(""), NullableString("two words"),
                             NullableString(std::string_view("nul\0", 4))}) {
    EXPECT_FALSE(TnqKeyValueStore::checkTableName(bad));
    EXPECT_EQ(store->getAllItemsFromTable(bad), std::nullopt);
    EXPECT_EQ(store->getCountFromTabel(bad), 0u);
    EXPECT_FALSE(store->putString(pf::Value("v"), "k", bad));
  }
  EXPECT_TRUE(log.contains("ERROR, table name: (null) format error."));
  EXPECT_TRUE(log.contains("ERROR, table name: two words format error."));
  // Quotes, semicolons and keywords are names like any other.
  for (const char* name : {"t\"x", "\"a\"\"b\"", "a;drop", "order", "tab\tname"}) {
    store->createTableWithName(name);
    EXPECT_TRUE(store->isTableExists(name)) << name;
    EXPECT_TRUE(store->putString(pf::Value(name), "k", name));
    EXPECT_EQ(store->getStringById("k", name), pf::Value(name));
  }
  EXPECT_EQ(store->getCountFromTabel(kTable), 0u);
  log.clear();
  EXPECT_FALSE(store->isTableExists("never"));
  EXPECT_EQ(log.lines(), std::vector<std::string>{"ERROR, table: never not exists in current DB"});
}

TEST_F(TnqKeyValueStoreTest, DeletesByIdListAndPrefix) {
  for (const char* id : {"ab", "abc", "AB1", "xab", "a%b", "a_b", "azb", "it's", "x"})
    ASSERT_TRUE(store->putString(pf::Value(id), id, kTable));
  pf::LogCapture log;
  store->deleteObjectsByIdArray({}, kTable);
  EXPECT_EQ(store->getCountFromTabel(kTable), 9u);
  store->deleteObjectsByIdArray({"it's", "x", "absent"}, kTable);  // bound, not written between quotes
  EXPECT_EQ(store->getCountFromTabel(kTable), 7u);
  store->deleteObjectsByIdPrefix("ab", kTable);  // ASCII letters without regard to case
  store->deleteObjectsByIdPrefix("a%", kTable);  // "%" and "_" stand for themselves
  store->deleteObjectsByIdPrefix("a_", kTable);
  std::vector<std::string> left;
  const auto items = store->getAllItemsFromTable(kTable);
  for (const auto& item : *items) left.push_back(*item.modelId);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"azb", "xab"}));
  store->deleteObjectById("azb", kTable);
  EXPECT_EQ(store->getCountFromTabel(kTable), 1u);
  EXPECT_TRUE(log.lines().empty());

  // A NUL inside the prefix (or the id) is compared like any other byte.
  using namespace std::string_literals;
  for (const std::string& id : {"k"s, "k\0a"s, "K\0b"s, "k\0"s, "k\0ab"s, "\0"s, "q\0a"s})
    ASSERT_TRUE(store->putString(pf::Value(id), id, kTable));
  store->deleteObjectsByIdPrefix("k\0a"s, kTable);
  store->deleteObjectsByIdPrefix("\0"s, kTable);
  left.clear();
  const auto rest = store->getAllItemsFromTable(kTable);
  for (const auto& item : *rest) left.push_back(*item.modelId);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"K\0b"s, "k"s, "k\0"s, "q\0a"s, "xab"s}));
  EXPECT_TRUE(log.lines().empty());
  store->deleteObjectsByIdPrefix(""s, kTable);  // every id starts with nothing
  EXPECT_EQ(store->getCountFromTabel(kTable), 0u);

  // Long lists go in chunks, all or nothing.
  std::vector<std::string> ids;
  for (int i = 0; i < 1234; ++i) ids.push_back("id" + std::to_string(i));
  ASSERT_TRUE(store->dbQueue()->inTransaction([&](SqDatabase* db, bool*) {
    for (const auto& id : ids) db->executeUpdate("insert into tbl_KeyValue values (?, '[1]', 0)", id);
  }));
  EXPECT_EQ(store->getCountFromTabel(kTable), 1234u);
  store->deleteObjectsByIdArray(ids, kTable);
  EXPECT_EQ(store->getCountFromTabel(kTable), 0u);
  ASSERT_TRUE(store->putString(pf::Value(1), "kept", kTable));
  store->clearTable(kTable);
  EXPECT_EQ(store->getCountFromTabel(kTable), 0u);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(TnqKeyValueStoreTest, KeepsItsStatementsPreparedAcrossCallsAndReopens) {
  const std::string get = "SELECT json,createdTime from \"tbl_KeyValue\" where id = ? limit 1";
  // How often the cached get statement ran (-1 when the connection keeps no cache).
  auto getRuns = [&] {
    std::int64_t runs = -1;
    store->dbQueue()->inDatabase([&](SqDatabase* db) {
      if (!db->shouldCacheStatements()) return;
      runs = 0;
      auto it = db->cachedStatements()->find(get);
      if (it == db->cachedStatements()->end()) return;
      EXPECT_EQ(it->second.size(), 1u);
      runs = it->second[0]->useCount();
    });
    return runs;
  };
  ASSERT_TRUE(store->putString(pf::Value("a"), "k", kTable));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(store->getStringById("k", kTable), pf::Value("a"));
  EXPECT_EQ(store->getNumberById("absent", kTable), std::nullopt);
  EXPECT_EQ(getRuns(), 4);

  store->dbQueue()->close();  // the queue reopens its connection for the next block
  EXPECT_EQ(getRuns(), -1);
  ASSERT_TRUE(store->putString(pf::Value("b"), "k", kTable));
  EXPECT_EQ(store->getObjectById("k", kTable), pf::Value::array({"b"}));
  EXPECT_EQ(getRuns(), 1);
}

TEST_F(TnqKeyValueStoreTest, IdListsOfEveryLengthShareAFewStatements) {
  std::vector<std::string> all;
  for (int i = 0; i < 40; ++i) all.push_back("id" + std::to_string(i));
  pf::LogCapture log;
  for (std::size_t length = 1; length <= all.size(); ++length) {
    for (const auto& id : all) ASSERT_TRUE(store->putString(pf::Value(id), id, kTable));
    std::vector<std::string> some(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(length));
    store->deleteObjectsByIdArray(some, kTable);
    ASSERT_EQ(store->getCountFromTabel(kTable), all.size() - length) << length;
    EXPECT_EQ(store->getStringById(all[length - 1], kTable), std::nullopt);
    if (length < all.size()) {
      EXPECT_EQ(store->getStringById(all[length], kTable), pf::Value(all[length]));
    }
  }
  EXPECT_TRUE(log.lines().empty());
  std::size_t listDeletes = 0;
  store->dbQueue()->inDatabase([&](SqDatabase* db) {
    for (const auto& entry : *db->cachedStatements()) listDeletes += entry.first.find(" in ( ") != std::string::npos;
  });
  EXPECT_EQ(listDeletes, 7u);  // 1, 2, 4, 8, 16, 32 and 64 places
}

TEST_F(TnqKeyValueStoreTest, TwoStoresOnOneFileFromTwoThreads) {
  std::shared_ptr<TnqKeyValueStore> other;
  {
    pf::LogCapture quiet;
    other = TnqKeyValueStore::initWithDBWithPath(path());
  }
  auto writer = [](std::shared_ptr<TnqKeyValueStore> s, std::string prefix, int* failures) {
    for (int i = 0; i < 50; ++i)
      if (!s->putString(pf::Value(i), prefix + std::to_string(i), kTable)) ++*failures;
  };
  int failuresA = 0, failuresB = 0;
  std::thread a(writer, store, "a", &failuresA), b(writer, other, "b", &failuresB);
  a.join();
  b.join();
  EXPECT_EQ(failuresA + failuresB, 0);
  EXPECT_EQ(store->getCountFromTabel(kTable), 100u);
  EXPECT_EQ(other->getStringById("b49", kTable), pf::Value(49));
}

// While one lives, connections opened on the engine's default file system fail the sync of every
// rollback journal: a commit cannot make its journal durable and rolls back. The file system that
// does it stays for the program's life (a connection keeps the file system it opened on); outside
// the fault it is the real one.
class JournalSyncFails {
 public:
  JournalSyncFails() {
    std::lock_guard lock(state().mutex);
    state().failing = true;
    state().failed = 0;
    EXPECT_EQ(sqlite3_vfs_register(&state().vfs, 1), SQLITE_OK);
  }
  ~JournalSyncFails() {
    std::lock_guard lock(state().mutex);
    state().failing = false;
    sqlite3_vfs_register(state().real, 1);
  }
  JournalSyncFails(const JournalSyncFails&) = delete;
  JournalSyncFails& operator=(const JournalSyncFails&) = delete;
  int failedSyncs() const {
    std::lock_guard lock(state().mutex);
    return state().failed;
  }

 private:
  struct State {
    State() : real(sqlite3_vfs_find(nullptr)), vfs(*real) {
      vfs.zName = "journal-sync-fails";
      vfs.xOpen = &open;
    }
    std::mutex mutex;
    sqlite3_vfs* real;
    sqlite3_vfs vfs;
    bool failing = false;
    int failed = 0;
    // The journals' real methods, by the table that stands in for them.
    std::map<const sqlite3_io_methods*, std::pair<std::unique_ptr<sqlite3_io_methods>, const sqlite3_io_methods*>> tables;
  };
  static State& state() {
    static State s;
    return s;
  }
  static int open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    State& s = state();
    const int rc = s.real->xOpen(s.real, name, file, flags, outFlags);
    if (rc != SQLITE_OK || !(flags & SQLITE_OPEN_MAIN_JOURNAL) || !file->pMethods) return rc;
    std::lock_guard lock(s.mutex);
    for (auto& [stand, entry] : s.tables)
      if (entry.second == file->pMethods) return file->pMethods = stand, rc;
    auto table = std::make_unique<sqlite3_io_methods>(*file->pMethods);
    table->xSync = &sync;
    const sqlite3_io_methods* stand = table.get();
    s.tables.emplace(stand, std::pair{std::move(table), file->pMethods});
    file->pMethods = stand;
    return rc;
  }
  static int sync(sqlite3_file* file, int flags) {
    State& s = state();
    const sqlite3_io_methods* real = nullptr;
    {
      std::lock_guard lock(s.mutex);
      if (s.failing) return ++s.failed, SQLITE_IOERR_FSYNC;
      real = s.tables.at(file->pMethods).second;
    }
    return real->xSync(file, flags);
  }
};

// A damaged database file is set aside under another name with its bytes, a new database takes its
// place and every row that still reads comes along; a file that is only busy or empty stays.
class DamagedDatabaseTest : public TnqKeyValueStoreTest {
 protected:
  // Opens the store on the file again, as the next start does.
  void reopen() {
    store.reset();
    store = TnqKeyValueStore::initWithDBWithPath(path());
    store->createTableWithName(kTable);
  }
  // A new, empty store in place of the file.
  void startAfresh() {
    store->close();
    ASSERT_TRUE(pf::FileManager::removeItem(path()));
    reopen();
  }
  // Puts the rows in one transaction, then closes the store.
  void fill(int rows) {
    store->dbQueue()->inDatabase([](SqDatabase* db) { ASSERT_TRUE(db->beginTransaction()); });
    for (int i = 0; i < rows; ++i)
      ASSERT_TRUE(
          store->putString(pf::Value(std::string(200, 'v') + std::to_string(i)), "id" + std::to_string(i), kTable));
    store->dbQueue()->inDatabase([](SqDatabase* db) { ASSERT_TRUE(db->commit()); });
    store->close();
  }
  // In place of the store's file, one whose table has the columns, filled with `rows` rows by the
  // insert (its one parameter the id).
  void writeTable(const std::string& columns, const std::string& insert, int rows) {
    store->close();
    ASSERT_TRUE(pf::FileManager::removeItem(path()));
    auto db = SqDatabase::databaseWithPath(path());
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeStatements("CREATE TABLE tbl_KeyValue (" + columns + ", PRIMARY KEY(id)); BEGIN"));
    for (int i = 0; i < rows; ++i) ASSERT_TRUE(db->executeUpdate(insert, "id" + std::to_string(i)));
    ASSERT_TRUE(db->executeStatements("COMMIT"));
    db->close();
  }
  // Overwrites the page of the id index: the file fails its check, every row still reads.
  void breakIdIndex() {
    auto [index, pageSize] = pageOf("SELECT rootpage FROM sqlite_master WHERE type = 'index'");
    ASSERT_GT(index, 1);
    overwrite((index - 1) * pageSize, std::string(static_cast<std::size_t>(pageSize), '\x5a'));
  }
  // The page number a query answers, and the page size.
  std::pair<std::int64_t, std::int64_t> pageOf(const std::string& sql) {
    auto db = SqDatabase::databaseWithPath(path());
    EXPECT_TRUE(db->open());
    const std::pair<std::int64_t, std::int64_t> found{db->longForQuery(sql), db->longForQuery("PRAGMA page_size")};
    db->close();
    return found;
  }
  void overwrite(std::int64_t offset, const std::string& bytes) {
    std::fstream file(path(), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string bytesOf(const std::string& file) {
    auto bytes = pf::FileManager::readFile(file);
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<none>";
  }
  // Rows as id -> json and createdTime texts.
  using Rows = std::map<std::string, std::pair<std::string, std::string>>;
  // The rows of a file that read one by one by their rowid: what a rescue can bring back. The
  // file's pages are taken as far as they go, also when it is shorter than its header says.
  Rows rowsByRowid(const std::string& file, const std::vector<std::int64_t>& rowids) {
    Rows rows;
    auto db = SqDatabase::databaseWithPath(file);
    EXPECT_TRUE(db->openWithFlags(SQLITE_OPEN_READONLY));
    db->setLogsErrors(false);
    EXPECT_TRUE(db->executeStatements("PRAGMA writable_schema = ON"));
    for (std::int64_t rowid : rowids) {
      auto rs = db->executeQuery("SELECT id,json,createdTime FROM tbl_KeyValue WHERE rowid = ?", rowid);
      if (rs && rs->next())
        rows[*rs->stringForColumnIndex(0)] = {*rs->stringForColumnIndex(1), *rs->stringForColumnIndex(2)};
      if (rs) rs->close();
    }
    db->close();
    return rows;
  }
  Rows rowsByRowid(const std::string& file, std::int64_t upTo) {
    std::vector<std::int64_t> rowids;
    for (std::int64_t rowid = 1; rowid <= upTo; ++rowid) rowids.push_back(rowid);
    return rowsByRowid(file, rowids);
  }
  // Every row of a file's table, as a sound file gives them.
  Rows rowsOf(const std::string& file) {
    Rows rows;
    auto db = SqDatabase::databaseWithPath(file);
    EXPECT_TRUE(db->open());
    auto rs = db->executeQuery("SELECT id,json,createdTime FROM tbl_KeyValue");
    while (rs && rs->next())
      rows[*rs->stringForColumnIndex(0)] = {*rs->stringForColumnIndex(1), *rs->stringForColumnIndex(2)};
    db->close();
    return rows;
  }
  static bool itemAt(const std::string& file) { return pf::FileManager::attributesOfItem(file).has_value(); }
  // Every row of the store's table.
  Rows storedRows() {
    Rows rows;
    store->dbQueue()->inDatabase([&](SqDatabase* db) {
      auto rs = db->executeQuery("SELECT id,json,createdTime FROM tbl_KeyValue");
      while (rs && rs->next())
        rows[*rs->stringForColumnIndex(0)] = {*rs->stringForColumnIndex(1), *rs->stringForColumnIndex(2)};
    });
    return rows;
  }
  // The leaf of the table at a place of its key order (0 the first, 1 the last), and the page size.
  std::pair<std::int64_t, std::int64_t> leafAt(double place) {
    auto leaves = pageOf("SELECT count(*) FROM dbstat WHERE name = 'tbl_KeyValue' AND pagetype = 'leaf'").first;
    const auto offset = static_cast<std::int64_t>(place * static_cast<double>(leaves - 1));
    return pageOf("SELECT pageno FROM dbstat WHERE name = 'tbl_KeyValue' AND pagetype = 'leaf' ORDER BY path LIMIT 1 "
                  "OFFSET " + std::to_string(offset));
  }
  void symlinkAt(const std::string& link, const std::string& target) {
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
  }
  bool isLinkTo(const std::string& link, const std::string& target) {
    std::error_code ec;
    return std::filesystem::is_symlink(std::filesystem::symlink_status(link, ec)) &&
           std::filesystem::read_symlink(link, ec).string() == target;
  }
  // The page numbers a query answers, in its order.
  std::vector<std::int64_t> pagesOf(const std::string& sql) {
    std::vector<std::int64_t> pages;
    auto db = SqDatabase::databaseWithPath(path());
    EXPECT_TRUE(db->open());
    auto rs = db->executeQuery(sql);
    while (rs && rs->next()) pages.push_back(rs->longLongIntForColumnIndex(0));
    db->close();
    return pages;
  }
  // Where the child page numbers of an interior page lie in the file: one per cell, in cell order,
  // then the right-most one.
  std::vector<std::int64_t> childPointers(std::int64_t page, std::int64_t pageSize) {
    const std::string bytes = bytesOf(path());
    const std::int64_t base = (page - 1) * pageSize;
    const std::int64_t header = base + (page == 1 ? 100 : 0);
    auto at = [&](std::int64_t offset) {
      return static_cast<std::int64_t>(static_cast<unsigned char>(bytes[static_cast<std::size_t>(offset)]));
    };
    EXPECT_TRUE(at(header) == 0x02 || at(header) == 0x05) << page;  // an interior page
    std::vector<std::int64_t> pointers;
    for (std::int64_t i = 0, cells = at(header + 3) << 8 | at(header + 4); i < cells; ++i)
      pointers.push_back(base + (at(header + 12 + 2 * i) << 8 | at(header + 13 + 2 * i)));
    pointers.push_back(header + 8);
    return pointers;
  }
  void pointAt(std::int64_t pointer, std::int64_t page) {
    const auto number = static_cast<std::uint32_t>(page);
    overwrite(pointer, std::string{static_cast<char>(number >> 24), static_cast<char>(number >> 16),
                                   static_cast<char>(number >> 8), static_cast<char>(number)});
  }
  std::int64_t childAt(std::int64_t pointer) {
    const std::string bytes = bytesOf(path()).substr(static_cast<std::size_t>(pointer), 4);
    std::int64_t page = 0;
    for (char byte : bytes) page = page << 8 | static_cast<unsigned char>(byte);
    return page;
  }
  // The rows copied and lost that the last rescue logged.
  std::pair<std::uint64_t, std::uint64_t> rescueCounts() {
    std::pair<std::uint64_t, std::uint64_t> counts{UINT64_MAX, UINT64_MAX};
    const std::string_view middle = " tables read back into the new database, ";
    for (const std::string& line : log.lines()) {
      const auto at = line.find(".damaged");
      const auto read = line.find(middle);
      if (at == std::string::npos || read == std::string::npos) continue;
      counts.first = std::stoull(line.substr(line.find(": ", at) + 2));
      counts.second = std::stoull(line.substr(read + middle.size()));
    }
    return counts;
  }
  pf::LogCapture log;
};

TEST_F(DamagedDatabaseTest, AFileThatIsNoDatabaseIsSetAsideAndANewOneTakesItsPlace) {
  store->close();
  const std::string garbage = "this is no database file, only text that fills the header and more";
  ASSERT_TRUE(pf::FileManager::writeFile(path(), garbage, false));
  reopen();
  EXPECT_TRUE(log.contains("database " + path() + " is damaged (file is not a database): set aside as " + path() +
                           ".damaged"));
  EXPECT_EQ(bytesOf(path() + ".damaged"), garbage);
  EXPECT_TRUE(store->putString(pf::Value("v"), "k", kTable));
  EXPECT_EQ(store->getStringById("k", kTable), pf::Value("v"));

  // Again: the earlier one is kept, the next goes beside it. A folder or a FIFO is no database
  // either (and is never opened).
  store->close();
  ASSERT_TRUE(pf::FileManager::writeFile(path(), garbage + "2", false));
  reopen();
  EXPECT_EQ(bytesOf(path() + ".damaged"), garbage);
  EXPECT_EQ(bytesOf(path() + ".damaged-2"), garbage + "2");
  for (bool folder : {true, false}) {
    store->close();
    ASSERT_TRUE(pf::FileManager::removeItem(path()));
    ASSERT_EQ(folder ? ::mkdir(path().c_str(), 0700) : ::mkfifo(path().c_str(), 0600), 0);
    reopen();
    EXPECT_TRUE(store->putString(pf::Value("v"), "k", kTable)) << folder;
    EXPECT_TRUE(pf::FileManager::fileExists(path() + (folder ? ".damaged-3" : ".damaged-4"))) << folder;
  }
}

// A journal that is no regular file would stall the engine (a FIFO) or fail it (a folder): it is set
// aside by itself, and the database opens with every row.
TEST_F(DamagedDatabaseTest, AJournalThatIsNoFileIsSetAsideAndTheDatabaseOpensAsItIs) {
  fill(3);
  const std::string journal = path() + "-journal";
  std::optional<fxtest::FifoFeeder> fifo;
  for (bool folder : {false, true}) {
    // The feeder lets a reader the FIFO stalled go (with no bytes) instead of hanging the test.
    if (folder) ASSERT_EQ(::mkdir(journal.c_str(), 0700), 0);
    else fifo.emplace(journal, "");
    reopen();
    const std::string aside = journal + (folder ? ".damaged-2" : ".damaged");
    EXPECT_TRUE(log.contains(journal + " is not a regular file: set aside as " + aside)) << folder;
    EXPECT_EQ(pf::FileManager::isDirectory(aside), folder);
    EXPECT_FALSE(log.contains("is damaged")) << folder;
    EXPECT_EQ(store->getCountFromTabel(kTable), folder ? 4u : 3u) << folder;
    EXPECT_TRUE(store->putString(pf::Value("v"), "k" + std::to_string(folder), kTable)) << folder;
    store->close();
  }
}

TEST_F(DamagedDatabaseTest, AFailedQuickCheckKeepsEveryRowThatStillReads) {
  fill(300);
  breakIdIndex();
  reopen();
  EXPECT_TRUE(log.contains("is damaged (quick check: "));
  EXPECT_TRUE(log.contains("300 rows of 1 tables read back"));
  EXPECT_EQ(store->getCountFromTabel(kTable), 300u);
  EXPECT_EQ(store->getStringById("id299", kTable), pf::Value(std::string(200, 'v') + "299"));
  EXPECT_TRUE(pf::FileManager::fileExists(path() + ".damaged"));
}

// A broken leaf costs its own rows only: the rescue walks on past it, and says what it lost.
TEST_F(DamagedDatabaseTest, TheRescueCopiesEveryRowThatStillReadsPastABrokenPage) {
  fill(3000);
  auto [leaf, pageSize] = leafAt(0.25);
  overwrite((leaf - 1) * pageSize, std::string(static_cast<std::size_t>(pageSize), '\x5a'));
  const Rows readable = rowsByRowid(path(), 3000);
  ASSERT_GT(readable.size(), 2900u);
  ASSERT_LT(readable.size(), 3000u);
  reopen();
  EXPECT_TRUE(log.contains("database " + path() + ".damaged: " + std::to_string(readable.size()) +
                           " rows of 1 tables read back into the new database, " +
                           std::to_string(3000 - readable.size()) + " rows lost"));
  // Ids, values and times as they were.
  EXPECT_EQ(storedRows().size(), readable.size());
  EXPECT_TRUE(storedRows() == readable);

  // A value that spans pages, one of them broken: that row is lost, the ones around it are not.
  startAfresh();
  for (int i = 0; i < 20; ++i) {
    if (i == 10) {
      ASSERT_TRUE(store->putString(pf::Value(std::string(20000, 'o')), "long", kTable));
    }
    ASSERT_TRUE(
        store->putString(pf::Value(std::string(200, 'v') + std::to_string(i)), "id" + std::to_string(i), kTable));
  }
  store->close();
  auto [overflow, size] =
      pageOf("SELECT min(pageno) FROM dbstat WHERE name = 'tbl_KeyValue' AND pagetype = 'overflow'");
  ASSERT_GT(overflow, 0);
  overwrite((overflow - 1) * size, std::string(static_cast<std::size_t>(size), '\x5a'));
  reopen();
  EXPECT_TRUE(log.contains("database " + path() + ".damaged-2: 20 rows of 1 tables read back into the new database, "
                           "1 rows lost"));
  EXPECT_EQ(store->getCountFromTabel(kTable), 20u);
  EXPECT_EQ(store->getStringById("id19", kTable), pf::Value(std::string(200, 'v') + "19"));
}

// Files made to trap a reader: cut short, a page that is its own child, rowids spread over the
// whole range around a broken page. The rescue ends, and keeps what reads.
TEST_F(DamagedDatabaseTest, TheRescueOfAHostileFileEndsWithWhatReads) {
  fill(3000);
  const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path()));
  std::filesystem::resize_file(path(), static_cast<std::uintmax_t>(size / 2));
  Rows readable = rowsByRowid(path(), 3000);
  ASSERT_GT(readable.size(), 1000u);
  reopen();
  EXPECT_TRUE(pf::FileManager::fileExists(path() + ".damaged"));
  EXPECT_EQ(storedRows().size(), readable.size());
  EXPECT_TRUE(storedRows() == readable);

  startAfresh();
  fill(3000);
  auto [root, pageSize] = pageOf("SELECT rootpage FROM sqlite_master WHERE name = 'tbl_KeyValue'");
  // The child of its middle cell becomes the page itself.
  const auto children = childPointers(root, pageSize);
  pointAt(children[(children.size() - 1) / 2], root);
  readable = rowsByRowid(path(), 3000);
  ASSERT_GT(readable.size(), 2000u);
  ASSERT_LT(readable.size(), 3000u);
  reopen();
  EXPECT_TRUE(pf::FileManager::fileExists(path() + ".damaged-2"));
  EXPECT_EQ(storedRows().size(), readable.size());
  EXPECT_TRUE(storedRows() == readable);
  // Rows met again through the loop are neither copied twice nor counted lost.
  EXPECT_TRUE(log.contains(std::to_string(readable.size()) + " rows of 1 tables read back into the new database, " +
                           std::to_string(3000 - readable.size()) + " rows lost"));

  startAfresh();
  std::vector<std::int64_t> rowids;
  store->dbQueue()->inTransaction([&](SqDatabase* db, bool*) {
    for (std::int64_t i = -1000; i < 1000; ++i) {
      const std::int64_t rowid = i * (INT64_MAX / 1000);
      rowids.push_back(rowid);
      ASSERT_TRUE(db->executeUpdate("INSERT INTO tbl_KeyValue (rowid,id,json,createdTime) VALUES (?,?,?,?)", rowid,
                                    "id" + std::to_string(i), std::string(200, 'w'), "0"));
    }
  });
  store->close();
  std::tie(root, pageSize) = leafAt(0.5);
  overwrite((root - 1) * pageSize, std::string(static_cast<std::size_t>(pageSize), '\x5a'));
  readable = rowsByRowid(path(), rowids);
  ASSERT_GT(readable.size(), 1900u);
  ASSERT_LT(readable.size(), 2000u);
  reopen();
  EXPECT_EQ(storedRows().size(), readable.size());
  EXPECT_TRUE(storedRows() == readable);
  EXPECT_TRUE(log.contains(std::to_string(readable.size()) + " rows of 1 tables read back into the new database, " +
                           std::to_string(2000 - readable.size()) + " rows lost"));

  // Tables of a file made to mislead: a column that takes the name "rowid" for itself (the same in
  // every row), and values the file does not hold but has the engine compute, far larger than it.
  struct Table {
    const char* columns;
    const char* insert;
    std::uint64_t kept;
    const char* line;
  };
  for (const Table& table : {
           Table{"id TEXT NOT NULL, json TEXT NOT NULL, createdTime TEXT NOT NULL, rowid INTEGER",
                 "INSERT INTO tbl_KeyValue VALUES (?, '[1]', '0', 7)", 20, "20 rows of 1 tables read back into the new "
                 "database, 0 rows lost"},
           Table{"id TEXT NOT NULL, createdTime TEXT NOT NULL, "
                 "json TEXT GENERATED ALWAYS AS (printf('%.*c', 3000000, 'x'))",
                 "INSERT INTO tbl_KeyValue VALUES (?, '0')", 0, "0 rows of 1 tables read back into the new database, "
                 "20 rows lost"},
       }) {
    writeTable(table.columns, table.insert, 20);
    breakIdIndex();
    reopen();
    EXPECT_TRUE(log.contains(table.line)) << table.columns;
    EXPECT_EQ(store->getCountFromTabel(kTable), table.kept) << table.columns;
  }
}

// A link at the database's path, of any kind, is moved aside as it is (never followed, never
// removed) and a new database made in its place.
TEST_F(DamagedDatabaseTest, ALinkAtTheDatabasePathIsSetAsideAndANewDatabaseMade) {
  fill(3);
  const std::string elsewhere = (dir / "elsewhere.db").string();
  ASSERT_TRUE(pf::FileManager::moveItem(path(), elsewhere));
  const std::string before = bytesOf(elsewhere);
  ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0700), 0);
  const std::string targets[] = {
      (dir / "missing" / "db").string(),  // dangling, into a folder that is not there
      (dir / "absent.db").string(),       // dangling, beside it
      path(),                             // itself
      elsewhere,                          // a database
      (dir / "folder").string(),
  };
  int aside = 0;
  for (const std::string& target : targets) {
    symlinkAt(path(), target);
    reopen();
    const std::string name = path() + ".damaged" + (++aside > 1 ? "-" + std::to_string(aside) : "");
    EXPECT_TRUE(log.contains("database " + path() + " is damaged (a symbolic link): set aside as " + name)) << target;
    EXPECT_TRUE(isLinkTo(name, target)) << target;
    EXPECT_TRUE(store->putString(pf::Value("v"), "k", kTable)) << target;
    EXPECT_EQ(store->getCountFromTabel(kTable), 1u) << target;
    store->close();
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path()))) << target;
    ASSERT_TRUE(pf::FileManager::removeItem(path()));
  }
  EXPECT_EQ(bytesOf(elsewhere), before);
  EXPECT_FALSE(std::filesystem::exists(dir / "absent.db"));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "folder"));
}

// A link at a journal's path would have the engine write its journal through it: it is moved
// aside by itself, and the database opens as it is.
TEST_F(DamagedDatabaseTest, ALinkAtACompanionPathIsSetAsideAndNeverWrittenThrough) {
  fill(3);
  const std::string journal = path() + "-journal";
  const std::string other = (dir / "other").string();
  const std::string kept(600, '\0');  // no live journal: the engine would write over it
  ASSERT_TRUE(pf::FileManager::writeFile(other, kept, false));
  const std::string targets[] = {other, (dir / "absent").string()};
  int aside = 0;
  for (const std::string& target : targets) {
    symlinkAt(journal, target);
    reopen();
    const std::string name = journal + ".damaged" + (++aside > 1 ? "-" + std::to_string(aside) : "");
    EXPECT_TRUE(log.contains(journal + " is not a regular file: set aside as " + name)) << target;
    EXPECT_TRUE(isLinkTo(name, target)) << target;
    EXPECT_FALSE(log.contains("is damaged")) << target;
    EXPECT_TRUE(store->putString(pf::Value("v"), "k" + std::to_string(aside), kTable)) << target;
    EXPECT_EQ(store->getCountFromTabel(kTable), 3u + aside) << target;
    store->close();
  }
  EXPECT_EQ(bytesOf(other), kept);
  EXPECT_FALSE(std::filesystem::exists(dir / "absent"));
}

// The database and its companions go under one number that is free for all of them, so that the
// engine finds them together again; a name already taken keeps what it holds.
TEST_F(DamagedDatabaseTest, CompanionsOfADamagedDatabaseTakeTheNextNameFreeForAll) {
  fill(300);
  breakIdIndex();
  // A journal that holds no transaction (its first byte is 0): the engine leaves it where it is.
  const std::string journal = std::string(512, '\0') + "journal of the damaged file";
  ASSERT_TRUE(pf::FileManager::writeFile(path() + "-journal", journal, false));
  ASSERT_TRUE(pf::FileManager::writeFile(path() + "-shm", "shared memory of the damaged file", false));
  ASSERT_TRUE(pf::FileManager::writeFile(path() + ".damaged-journal", "an earlier journal", false));
  ASSERT_TRUE(pf::FileManager::writeFile(path() + ".damaged-2-shm", "an earlier shared memory", false));
  reopen();
  const std::string aside = path() + ".damaged-3";
  EXPECT_TRUE(log.contains("is damaged (quick check: "));
  EXPECT_TRUE(log.contains("set aside as " + aside));
  EXPECT_TRUE(log.contains(path() + "-journal set aside as " + aside + "-journal"));
  EXPECT_TRUE(log.contains(path() + "-shm set aside as " + aside + "-shm"));
  EXPECT_EQ(bytesOf(aside + "-journal"), journal);
  EXPECT_EQ(bytesOf(aside + "-shm"), "shared memory of the damaged file");
  EXPECT_EQ(bytesOf(path() + ".damaged-journal"), "an earlier journal");
  EXPECT_EQ(bytesOf(path() + ".damaged-2-shm"), "an earlier shared memory");
  EXPECT_FALSE(pf::FileManager::fileExists(path() + ".damaged"));
  EXPECT_FALSE(pf::FileManager::fileExists(path() + ".damaged-2"));
  EXPECT_TRUE(
      log.contains("database " + aside + ": 300 rows of 1 tables read back into the new database, 0 rows lost"));
  EXPECT_EQ(store->getCountFromTabel(kTable), 300u);

  // Without companions of its own, a damaged database still takes no name beside someone else's:
  // the engine would take that for its journal.
  fill(300);
  breakIdIndex();
  reopen();
  EXPECT_TRUE(log.contains("database " + path() + ".damaged-4: 300 rows of 1 tables read back into the new database"));
  EXPECT_FALSE(pf::FileManager::fileExists(path() + ".damaged"));
  EXPECT_EQ(bytesOf(path() + ".damaged-journal"), "an earlier journal");
  EXPECT_EQ(store->getCountFromTabel(kTable), 300u);
}

// A home on another disk, reached through a linked folder (with names in Thai and Persian): the
// folders are read through the link, and every row that reads comes back.
TEST_F(DamagedDatabaseTest, AHomeReachedThroughALinkedFolderIsRescued) {
  store->close();
  // "ดิสก์" and "خانه".
  const std::filesystem::path disk = dir / "\xe0\xb8\x94\xe0\xb8\xb4\xe0\xb8\xaa\xe0\xb8\x81\xe0\xb9\x8c";
  ASSERT_TRUE(std::filesystem::create_directories(disk / "Library"));
  const std::filesystem::path linked = dir / "\xd8\xae\xd8\xa7\xd9\x86\xd9\x87";
  symlinkAt(linked.string(), disk.string());
  home = linked / "Library";
  reopen();
  fill(300);
  breakIdIndex();
  reopen();
  EXPECT_TRUE(log.contains("database " + path() + " is damaged (quick check: "));
  EXPECT_TRUE(log.contains("database " + path() +
                           ".damaged: 300 rows of 1 tables read back into the new database, 0 rows lost"));
  EXPECT_EQ(store->getCountFromTabel(kTable), 300u);
  EXPECT_EQ(store->getStringById("id299", kTable), pf::Value(std::string(200, 'v') + "299"));
  EXPECT_TRUE(
      std::filesystem::is_regular_file(std::filesystem::symlink_status(disk / "Library" / "db_KeyValue.damaged")));
}

// A table without rowids whose interior pages point at each other would give its rows again and
// again (millions of times for a few thousand rows), or break off where they go round: keyed by id,
// it is walked in key order, on past the loop and back from its end; keyed otherwise, it is read
// for no more rows than the file has cells. Either way each row that comes back is counted once.
TEST_F(DamagedDatabaseTest, ATableWithoutRowidsWhosePagesPointAtEachOtherIsReadNoFurtherThanItsCells) {
  struct Case {
    const char* key;
    bool round;  // the pages point at each other in a ring (the walk breaks off), else in a chain
  };
  int aside = 0;
  for (const auto [key, round] : {Case{"id", false}, Case{"id", true}, Case{"createdTime, id", false}}) {
    store->close();
    ASSERT_TRUE(pf::FileManager::removeItem(path()));
    {
      auto db = SqDatabase::databaseWithPath(path());
      ASSERT_TRUE(db->open());
      ASSERT_TRUE(db->executeStatements("CREATE TABLE tbl_KeyValue (id TEXT NOT NULL, json TEXT NOT NULL, createdTime "
                                        "TEXT NOT NULL, PRIMARY KEY(" + std::string(key) + ")) WITHOUT ROWID; BEGIN"));
      for (int i = 0; i < 5000; ++i)
        ASSERT_TRUE(db->executeUpdate("INSERT INTO tbl_KeyValue VALUES (?, ?, '0')", "id" + std::to_string(i),
                                      std::string(200, 'v') + std::to_string(i)));
      ASSERT_TRUE(db->executeStatements("COMMIT"));
      db->close();
    }
    const Rows written = rowsOf(path());
    ASSERT_EQ(written.size(), 5000u);
    // Four interior pages of the level above the leaves, early in key order. In a chain each of
    // the first three has every child pointing at the next; in a ring each has its last two
    // cells' children and its right-most child pointing at the next, the last at the first.
    const auto pageSize = pageOf("PRAGMA page_size").second;
    const auto lowest = pagesOf("SELECT pageno FROM dbstat WHERE name = 'tbl_KeyValue' AND pagetype = 'internal' "
                                "ORDER BY length(path) DESC, path LIMIT 5");
    ASSERT_EQ(lowest.size(), 5u);
    for (std::size_t i = 1; i < 5; ++i) {
      auto pointers = childPointers(lowest[i], pageSize);
      if (round) pointers.erase(pointers.begin(), pointers.end() - 3);
      else if (i == 4) break;
      for (std::int64_t pointer : pointers) pointAt(pointer, lowest[round ? i % 4 + 1 : i + 1]);
    }
    const auto size = std::filesystem::file_size(path());

    std::uint64_t reads = 0;
    TnqKeyValueStore::setRescueReadHookForTesting([&](std::uint64_t n) { reads = n; });
    log.clear();
    reopen();
    TnqKeyValueStore::setRescueReadHookForTesting(nullptr);
    // Each line one line: of the quick check's many findings the first, and how many more.
    EXPECT_TRUE(log.contains("database " + path() + " is damaged (quick check: On tree page ")) << key;
    EXPECT_TRUE(log.contains(" more findings)): set aside as ")) << key;
    for (const std::string& line : log.lines()) EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_TRUE(pf::FileManager::fileExists(path() + (++aside > 1 ? ".damaged-" + std::to_string(aside) : ".damaged")))
        << key;
    EXPECT_GT(reads, 0u) << key;
    EXPECT_LE(reads, size / 4) << key;  // no file holds more cells than a quarter of its bytes
    const auto [copied, lost] = rescueCounts();
    const Rows stored = storedRows();
    EXPECT_EQ(copied, stored.size()) << key;
    EXPECT_LE(copied + lost, written.size()) << key;
    EXPECT_GT(stored.size(), 0u) << key;
    for (const auto& [id, row] : stored) EXPECT_EQ(written.at(id), row) << id;
    if (std::string_view(key) == "id") {  // the rows after the loop, in key order, all come back
      auto it = written.begin();
      std::advance(it, 3000);
      for (; it != written.end(); ++it) EXPECT_TRUE(stored.contains(it->first)) << it->first;
      EXPECT_GT(stored.size(), 3500u);
    }
  }
}

// A start killed in the middle of a rescue loses nothing: the next start reads the set-aside file
// again. A rescue that finished is never done again, so rows written after it stay as they are.
TEST_F(DamagedDatabaseTest, ARescueKilledMidwayIsDoneAgainAtTheNextStart) {
  Rows written;
  int aside = 0;
  // Killed at the first row read, midway and after the last.
  for (std::uint64_t killAt : {1, 1500, 3000}) {
    startAfresh();
    fill(3000);
    written = rowsOf(path());
    ASSERT_EQ(written.size(), 3000u);
    breakIdIndex();
    store.reset();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TnqKeyValueStore::setRescueReadHookForTesting([killAt](std::uint64_t n) {
        if (n == killAt) ::raise(SIGKILL);
      });
      TnqKeyValueStore::initWithDBWithPath(path());
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    const std::string name = path() + (++aside > 1 ? ".damaged-" + std::to_string(aside) : ".damaged");
    ASSERT_TRUE(pf::FileManager::fileExists(name)) << killAt;

    log.clear();
    reopen();
    EXPECT_TRUE(log.contains("database " + name + ": an earlier rescue did not finish, its rows are read again"))
        << killAt;
    EXPECT_TRUE(log.contains("database " + name + ": 3000 rows of 1 tables read back into the new database, 0 "
                             "rows lost"))
        << killAt;
    EXPECT_TRUE(storedRows() == written) << killAt;
    EXPECT_FALSE(itemAt(name + ".pending")) << killAt;
  }

  ASSERT_TRUE(store->putString(pf::Value("mine"), "id7", kTable));
  store->deleteObjectById("id8", kTable);
  log.clear();
  reopen();
  EXPECT_FALSE(log.contains("read back"));
  EXPECT_EQ(store->getStringById("id7", kTable), pf::Value("mine"));
  EXPECT_EQ(store->getStringById("id8", kTable), std::nullopt);
  EXPECT_EQ(store->getCountFromTabel(kTable), 2999u);

  // A start that ended after marking its rescue and before setting the file aside left a mark
  // whose file is not there: it goes, and the damaged file is set aside and rescued as any.
  fill(3000);
  breakIdIndex();
  const std::string stale = path() + ".damaged-4.pending";
  ASSERT_TRUE(pf::FileManager::writeFile(stale, std::string(), false));
  reopen();
  EXPECT_TRUE(log.contains("database " + path() +
                           ".damaged-4: 3000 rows of 1 tables read back into the new database, 0 rows lost"));
  EXPECT_FALSE(itemAt(stale));

  // A mark beside a link at a set-aside name (planted, or swapped in since) never has the link
  // followed: the mark goes, the link and what it points to stay as they are.
  const std::string elsewhere = (dir / "elsewhere.db").string();
  {
    auto db = SqDatabase::databaseWithPath(elsewhere);
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeStatements("CREATE TABLE tbl_KeyValue (id TEXT NOT NULL, json TEXT NOT NULL, "
                                      "createdTime TEXT NOT NULL, PRIMARY KEY(id)); "
                                      "INSERT INTO tbl_KeyValue VALUES ('foreign', '[1]', 0)"));
    db->close();
  }
  const std::string before = bytesOf(elsewhere);
  symlinkAt(path() + ".damaged-5", elsewhere);
  ASSERT_TRUE(pf::FileManager::writeFile(path() + ".damaged-5.pending", std::string(), false));
  log.clear();
  reopen();
  EXPECT_FALSE(log.contains("read back"));
  EXPECT_FALSE(itemAt(path() + ".damaged-5.pending"));
  EXPECT_TRUE(isLinkTo(path() + ".damaged-5", elsewhere));
  EXPECT_EQ(bytesOf(elsewhere), before);
  EXPECT_EQ(store->getStringById("foreign", kTable), std::nullopt);
}

// Each row is counted once, copied or lost: an id the file repeats is no lost row, a row an index
// names whose lookup lands on another page is.
TEST_F(DamagedDatabaseTest, TheRescueCountsEachRowOnceCopiedOrLost) {
  store->close();
  ASSERT_TRUE(pf::FileManager::removeItem(path()));
  {
    auto db = SqDatabase::databaseWithPath(path());
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeStatements("CREATE TABLE tbl_KeyValue (id TEXT NOT NULL, json TEXT NOT NULL, createdTime "
                                      "TEXT NOT NULL); CREATE INDEX byValue ON tbl_KeyValue(json); BEGIN"));
    for (int i = 0; i < 20; ++i)
      ASSERT_TRUE(db->executeUpdate("INSERT INTO tbl_KeyValue VALUES (?, ?, '0')", "id" + std::to_string(i % 10),
                                    std::string(200, 'v') + std::to_string(i)));
    ASSERT_TRUE(db->executeStatements("COMMIT"));
    db->close();
  }
  breakIdIndex();
  reopen();
  EXPECT_EQ(rescueCounts(), std::make_pair(std::uint64_t{10}, std::uint64_t{0}));
  EXPECT_EQ(store->getCountFromTabel(kTable), 10u);

  // The child of a cell of the root leads to the leaf of the cell before it: the rows of the leaf
  // it led to are named by the id index, and looked up there in vain.
  startAfresh();
  fill(3000);
  auto [root, pageSize] = pageOf("SELECT rootpage FROM sqlite_master WHERE name = 'tbl_KeyValue'");
  const auto children = childPointers(root, pageSize);
  const std::size_t middle = children.size() / 2;
  pointAt(children[middle], childAt(children[middle - 1]));
  const Rows readable = rowsByRowid(path(), 3000);
  ASSERT_GT(readable.size(), 2900u);
  ASSERT_LT(readable.size(), 3000u);
  log.clear();
  reopen();
  EXPECT_EQ(rescueCounts(), std::make_pair(std::uint64_t{readable.size()}, std::uint64_t{3000 - readable.size()}));
  EXPECT_TRUE(storedRows() == readable);
}

// A rescue that could not commit (its journal's sync failed, or the disk was full) leaves the app
// an empty store, whose new rows take the rowids of the damaged file's first rows. The next start keeps those rows under new rowids, each once (also
// from a file that holds every id twice, the first kept); an id the app wrote meanwhile keeps the
// app's value.
TEST_F(DamagedDatabaseTest, ARescueDoneAgainKeepsTheRowsWhoseRowidTheAppReused) {
  int aside = 0;
  for (bool twice : {false, true}) {
    // Ids id0-id9 at rowids 1-10 (twice: again at rowids 11-20, with other values).
    store->close();
    ASSERT_TRUE(pf::FileManager::removeItem(path()));
    auto db = SqDatabase::databaseWithPath(path());
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeStatements(
        std::string("CREATE TABLE tbl_KeyValue (id TEXT NOT NULL, json TEXT NOT NULL, createdTime TEXT NOT NULL") +
        (twice ? "); CREATE INDEX byValue ON tbl_KeyValue(json); BEGIN" : ", PRIMARY KEY(id)); BEGIN")));
    for (int i = 0; i < (twice ? 20 : 10); ++i)
      ASSERT_TRUE(db->executeUpdate("INSERT INTO tbl_KeyValue VALUES (?, ?, '0')", "id" + std::to_string(i % 10),
                                    "[\"v" + std::to_string(i) + "\"]"));
    ASSERT_TRUE(db->executeStatements("COMMIT"));
    db->close();
    Rows expected = rowsByRowid(path(), 10);
    ASSERT_EQ(expected.size(), 10u);
    breakIdIndex();
    store.reset();
    if (twice) {
      fxtest::FileSizeLimit diskFull(4096);  // a full disk: the commit cannot write the new database
      store = TnqKeyValueStore::initWithDBWithPath(path());
    } else {
      JournalSyncFails syncFails;
      store = TnqKeyValueStore::initWithDBWithPath(path());
      ASSERT_GT(syncFails.failedSyncs(), 0);
    }
    const std::string name = path() + (++aside > 1 ? ".damaged-" + std::to_string(aside) : ".damaged");
    ASSERT_TRUE(log.contains("database " + name +
                             ": its rows could not be stored; they are read again at the next start"));
    ASSERT_TRUE(itemAt(name + ".pending"));
    store->createTableWithName(kTable);
    ASSERT_EQ(store->getCountFromTabel(kTable), 0u);
    for (const char* id : {"new0", "new1", "id1"}) ASSERT_TRUE(store->putString(pf::Value("mine"), id, kTable));

    log.clear();
    reopen();
    EXPECT_TRUE(log.contains("database " + name + ": 9 rows of 1 tables read back into the new database, "
                             "0 rows lost, 9 rows stored under a new rowid"))
        << twice;
    for (const char* id : {"new0", "new1", "id1"}) expected[id] = storedRows().at(id);
    EXPECT_EQ(expected.at("id1").first, "[\"mine\"]");
    EXPECT_TRUE(storedRows() == expected) << twice;
    EXPECT_FALSE(itemAt(name + ".pending")) << twice;
  }
}

TEST_F(DamagedDatabaseTest, AnEmptyFileOrABusyDatabaseStaysWhereItIs) {
  store->close();
  ASSERT_TRUE(pf::FileManager::writeFile(path(), std::string(), false));
  reopen();
  EXPECT_TRUE(log.contains("database " + path() + " is an empty file: a new database is made in it"));
  EXPECT_TRUE(store->putString(pf::Value("v"), "k", kTable));
  store->close();

  // Another connection's lock says nothing of the file: it is neither waited for nor set aside.
  auto other = SqDatabase::databaseWithPath(path());
  ASSERT_TRUE(other->open());
  ASSERT_TRUE(other->executeUpdate("BEGIN EXCLUSIVE"));
  store.reset();
  store = TnqKeyValueStore::initWithDBWithPath(path());
  other->executeUpdate("COMMIT");
  other->close();
  EXPECT_FALSE(log.contains("is damaged"));
  EXPECT_FALSE(pf::FileManager::fileExists(path() + ".damaged"));
  EXPECT_EQ(store->getStringById("k", kTable), pf::Value("v"));
}

TEST(TnqKeyValueStore, AStoreWithoutDatabaseAnswersEmpty) {
  pf::LogCapture log;
  auto store = TnqKeyValueStore::initWithDBWithPath("/nonexistent-dir/x/db");
  EXPECT_EQ(store->dbQueue(), nullptr);
  EXPECT_TRUE(log.contains("dbPATH = /nonexistent-dir/x/db"));
  EXPECT_TRUE(log.contains("Could not create database queue for path /nonexistent-dir/x/db"));
  EXPECT_FALSE(store->isTableExists(kTable));
  EXPECT_EQ(store->getAllItemsFromTable(kTable), std::vector<TnqKeyValueModel>{});
  EXPECT_EQ(store->getCountFromTabel(kTable), 0u);
  EXPECT_EQ(store->getObjectById("k", kTable), std::nullopt);
  EXPECT_FALSE(store->putObject(pf::Value::object(), "k", kTable));
}

TEST(KeyValueJson, EncodesAndDecodesAsStored) {
  EXPECT_EQ(encodeJsonArrayOf(pf::Value("a/b")), "[\"a\\/b\"]");
  EXPECT_EQ(encodeJsonArrayOf(pf::Value("tab\t")), "[\"tab\\t\"]");
  EXPECT_EQ(encodeJsonContainer(pf::Value::parse(R"({"b":1,"a":[true,null]})")), R"({"b":1,"a":[true,null]})");
  EXPECT_EQ(encodeJsonContainer(pf::Value(1)), std::nullopt);
  EXPECT_EQ(decodeJson("\"fragment\""), pf::Value("fragment"));
  EXPECT_EQ(decodeJson("[1,]"), std::nullopt);
  EXPECT_EQ(plainStringElement("[\"abc\"]"), "abc");
  EXPECT_EQ(plainStringElement("[\"a\",\"b\"]"), std::nullopt);
  EXPECT_EQ(plainStringElement("[\"a\\/b\"]"), std::nullopt);
  // Long texts are checked in blocks: a byte that needs escaping is found wherever it is.
  std::string plain(300, 'p');
  plain[5] = ' ';
  plain[200] = '~';
  EXPECT_EQ(plainStringElement("[\"" + plain + "\"]"), plain);
  for (std::size_t at : {0, 17, 33, 63, 64, 100, 127, 191, 255, 270, 299})
    for (char bad : {'"', '\\', '/', '\x7f', '\x1f', '\0', '\x80', '\xff'}) {
      std::string text = plain;
      text[at] = bad;
      EXPECT_EQ(plainStringElement("[\"" + text + "\"]"), std::nullopt) << at << " " << int(bad);
    }
}

}  // namespace
}  // namespace kvstore
