// Arbitrary table names and stored JSON texts through the key-value store. An input is a table
// name, a newline, then the text found in the json column of a row. Every operation must answer
// (or refuse with a log line) without crashing, and a value read back must store and read again
// unchanged.
//
// An input that starts as a database file does is one instead: the file a store finds at its path.
// A damaged one is set aside with its rows rescued; either way the store opens and answers.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "kvstore/KeyValueJson.h"
#include "kvstore/SqDatabase.h"
#include "kvstore/TnqKeyValueStore.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void openDatabaseFile(std::string_view file) {
  using namespace kvstore;
  std::string folder = (std::filesystem::temp_directory_path() / "fuzz_kvstore-XXXXXX").string();
  if (!mkdtemp(folder.data())) std::abort();
  const std::string path = folder + "/db_KeyValue";
  check(pf::FileManager::writeFile(path, file, false));
  {
    pf::LogCapture quiet;
    auto store = TnqKeyValueStore::initWithDBWithPath(path);
    const char* table = "tbl_KeyValue";
    store->createTableWithName(table);
    store->putString(pf::Value("x"), "k", table);
    store->getStringById("k", table);
    store->getCountFromTabel(table);
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kvstore;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.starts_with(std::string_view("SQLite format 3\0", 16))) {
    openDatabaseFile(input);
    return 0;
  }
  const std::size_t newline = input.find('\n');
  const std::string tableName(input.substr(0, newline));
  const std::string stored(newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1));

  pf::LogCapture quiet;
  auto store = TnqKeyValueStore::initWithDBWithPath(":memory:");

  // Any table name: refused up front, refused by the engine (names it keeps for itself), or a
  // table of exactly that name.
  store->createTableWithName(tableName);
  if (TnqKeyValueStore::checkTableName(tableName) && store->isTableExists(tableName)) {
    check(store->putString(pf::Value("x"), "a%b", tableName));
    check(store->getStringById("a%b", tableName) == pf::Value("x"));
    check(store->getCountFromTabel(tableName) == 1);
    store->deleteObjectsByIdPrefix("a_", tableName);  // "_" is no wildcard
    check(store->getCountFromTabel(tableName) == 1);
    store->deleteObjectsByIdArray({"a'", "a%"}, tableName);
    check(store->getCountFromTabel(tableName) == 1);
    store->deleteObjectsByIdPrefix("A%", tableName);
    check(store->getCountFromTabel(tableName) == 0);
    check(store->getAllItemsFromTable(tableName)->empty());
    store->clearTable(tableName);
  } else if (!TnqKeyValueStore::checkTableName(tableName)) {
    check(!store->getAllItemsFromTable(tableName));
    check(!store->putString(pf::Value("x"), "k", tableName));
  }

  // Any stored text: read back as a value, or refused with a log line.
  const char* table = "tbl_KeyValue";
  store->createTableWithName(table);
  store->dbQueue()->inDatabase([&](SqDatabase* db) {
    db->executeUpdate("REPLACE INTO \"tbl_KeyValue\"(id,json,createdTime) values (?,?,?)", "k", stored,
                      SqValue::date(0));
  });
  auto first = store->getStringById("k", table);
  auto object = store->getObjectById("k", table);
  auto all = store->getAllItemsFromTable(table);
  check(all && all->size() == 1);
  check(static_cast<bool>(object) == static_cast<bool>(decodeJson(stored)));
  if (first) {
    check(store->putString(&*first, "k2", table) == encodeJsonArrayOf(*first).has_value());
    if (encodeJsonArrayOf(*first)) check(store->getStringById("k2", table) == first);
  }
  if (object && (object->is_array() || object->is_object())) {
    if (store->putObject(*object, "k3", table)) check(store->getObjectById("k3", table) == object);
  }
  return 0;
}
