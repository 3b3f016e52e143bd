#include "kvstore/TnqKeyValueStore.h"

#include <algorithm>

#include "kvstore/KeyValueJson.h"
#include "kvstore/SqResultSet.h"
#include "kvstore/SqText.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Sandbox.h"

namespace kvstore {

namespace {

// Ids bound per statement of a deletion by id list (well below the engine's parameter limit).
constexpr std::size_t kIdsPerStatement = 500;

// The table name as a quoted identifier, so that any accepted name stays one name.
std::string table(NullableString tableName) { return sqQuoted(tableName.text(), '"'); }

SqValue idValue(NullableString id) { return id ? SqValue::textView(id.text()) : SqValue(); }

// The prefix as a LIKE pattern in which "%", "_" and the escape character stand for themselves.
std::string prefixPattern(std::string_view prefix) {
  std::string pattern;
  pattern.reserve(prefix.size() + 2);
  for (char c : prefix) {
    if (c == '%' || c == '_' || c == '\\') pattern.push_back('\\');
    pattern.push_back(c);
  }
  pattern.push_back('%');
  return pattern;
}

std::string libraryPath(std::string_view name) { return (pf::Sandbox::library() / std::string(name)).string(); }

}  // namespace

bool TnqKeyValueStore::checkTableName(NullableString tableName) {
  const std::string_view name = tableName.text();
  if (tableName.isNil() || name.empty() || name.find(' ') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos) {
    pf::logLine("ERROR, table name: " + tableName.description() + " format error.");
    return false;
  }
  return true;
}

std::shared_ptr<TnqKeyValueStore> TnqKeyValueStore::init() { return initDBWithName("database.sqlite"); }

std::shared_ptr<TnqKeyValueStore> TnqKeyValueStore::initDBWithName(std::string_view dbName) {
  return std::make_shared<TnqKeyValueStore>(Private{}, libraryPath(dbName));
}

std::shared_ptr<TnqKeyValueStore> TnqKeyValueStore::initWithDBWithPath(std::string dbPath) {
  return std::make_shared<TnqKeyValueStore>(Private{}, std::move(dbPath));
}

TnqKeyValueStore::TnqKeyValueStore(Private, std::string dbPath) {
  pf::logLine("dbPATH = " + dbPath);
  dbQueue_ = SqDatabaseQueue::databaseQueueWithPath(std::move(dbPath));
}

TnqKeyValueStore::~TnqKeyValueStore() { close(); }

std::shared_ptr<SqDatabaseQueue> TnqKeyValueStore::dbQueue() const {
  std::lock_guard lock(queueMutex_);
  return dbQueue_;
}

void TnqKeyValueStore::setDbQueue(std::shared_ptr<SqDatabaseQueue> queue) {
  std::lock_guard lock(queueMutex_);
  dbQueue_ = std::move(queue);
}

bool TnqKeyValueStore::inDatabase(const std::function<void(SqDatabase* db)>& work) {
  auto queue = dbQueue();
  if (!queue) return false;
  queue->inDatabase(work);
  return true;
}

void TnqKeyValueStore::close() {
  std::shared_ptr<SqDatabaseQueue> queue;
  {
    std::lock_guard lock(queueMutex_);
    queue = std::move(dbQueue_);
    dbQueue_.reset();
  }
  if (queue) queue->close();
}

// ---------------------------------------------------------------------------------------------
// Tables

void TnqKeyValueStore::createTableWithName(NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string sql = "CREATE TABLE IF NOT EXISTS " + table(tableName) +
                          " ( id TEXT NOT NULL, json TEXT NOT NULL, createdTime TEXT NOT NULL, PRIMARY KEY(id)) ";
  bool ok = false;
  inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql); });
  if (!ok) pf::logLine("ERROR, failed to create table: " + tableName.description());
}

bool TnqKeyValueStore::isTableExists(NullableString tableName) {
  if (!checkTableName(tableName)) return false;
  bool exists = false;
  inDatabase([&](SqDatabase* db) { exists = db && db->tableExists(tableName.text()); });
  if (!exists) pf::logLine("ERROR, table: " + tableName.description() + " not exists in current DB");
  return exists;
}

void TnqKeyValueStore::clearTable(NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string sql = "DELETE from " + table(tableName);
  bool ok = false;
  inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql); });
  if (!ok) pf::logLine("ERROR, failed to clear table: " + tableName.description());
}

// ---------------------------------------------------------------------------------------------
// Puts

bool TnqKeyValueStore::putJsonText(const std::string& json, NullableString objectId, NullableString tableName) {
  const double now = pf::Clock::now();
  const std::string sql = "REPLACE INTO " + table(tableName) + "(id,json,createdTime) values (?,?,?)";
  bool ok = false;
  inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql, idValue(objectId), json, SqValue::date(now)); });
  if (!ok) pf::logLine("ERROR, failed to insert/replace into table: " + tableName.description());
  return ok;
}

bool TnqKeyValueStore::putObject(const pf::Value* object, NullableString objectId, NullableString tableName) {
  if (!checkTableName(tableName)) return false;
  std::optional<std::string> json = object ? encodeJsonContainer(*object) : std::nullopt;
  if (!json) {
    pf::logLine("ERROR, faild to get json data");
    return false;
  }
  return putJsonText(*json, objectId, tableName);
}

bool TnqKeyValueStore::putString(const pf::Value* string, NullableString stringId, NullableString tableName) {
  if (!string) {
    pf::logLine("error, string is nil");
    return false;
  }
  if (!checkTableName(tableName)) return false;
  std::optional<std::string> json = encodeJsonArrayOf(*string);
  if (!json) {
    pf::logLine("ERROR, faild to get json data");
    return false;
  }
  return putJsonText(*json, stringId, tableName);
}

bool TnqKeyValueStore::putNumber(const pf::Value* number, NullableString numberId, NullableString tableName) {
  if (!number) {
    pf::logLine("error,number is nil");
    return false;
  }
  if (!checkTableName(tableName)) return false;
  std::optional<std::string> json = encodeJsonArrayOf(*number);
  if (!json) {
    pf::logLine("ERROR, faild to get json data");
    return false;
  }
  return putJsonText(*json, numberId, tableName);
}

// ---------------------------------------------------------------------------------------------
// Reads

std::optional<std::pair<std::string, std::optional<double>>> TnqKeyValueStore::readItem(NullableString objectId,
                                                                                       NullableString tableName) {
  const std::string sql = "SELECT json,createdTime from " + table(tableName) + " where id = ? limit 1";
  std::optional<std::pair<std::string, std::optional<double>>> item;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    auto rs = db->executeQuery(sql, idValue(objectId));
    if (!rs) return;
    if (rs->next()) {
      if (auto text = rs->stringForColumn("json")) item.emplace(std::move(*text), rs->dateForColumn("createdTime"));
    }
    rs->close();
  });
  return item;
}

std::optional<TnqKeyValueModel> TnqKeyValueStore::getTnqKeyValueModelById(NullableString objectId,
                                                                         NullableString tableName) {
  if (!checkTableName(tableName)) return std::nullopt;
  auto item = readItem(objectId, tableName);
  if (!item) return std::nullopt;
  auto value = decodeJson(item->first);
  if (!value) {
    pf::logLine("ERROR, faild to prase to json");
    return std::nullopt;
  }
  TnqKeyValueModel model;
  if (objectId) model.modelId = std::string(objectId.text());
  model.modelObject = std::move(*value);
  model.createdDate = item->second;
  return model;
}

std::optional<pf::Value> TnqKeyValueStore::getObjectById(NullableString objectId, NullableString tableName) {
  auto model = getTnqKeyValueModelById(objectId, tableName);
  if (!model) return std::nullopt;
  return std::move(model->modelObject);
}

std::optional<pf::Value> TnqKeyValueStore::firstElement(NullableString objectId, NullableString tableName) {
  if (!checkTableName(tableName)) return std::nullopt;
  auto item = readItem(objectId, tableName);
  if (!item) return std::nullopt;
  if (plainStringElement(item->first)) {
    std::string& text = item->first;  // ["..."]: the string is the text without its first and last two
    text.resize(text.size() - 2);
    text.erase(0, 2);
    return pf::Value(std::move(text));
  }
  auto value = decodeJson(item->first);
  if (!value) {
    pf::logLine("ERROR, faild to prase to json");
    return std::nullopt;
  }
  if (!value->is_array() || value->empty()) return std::nullopt;
  return std::move((*value)[0]);
}

std::optional<pf::Value> TnqKeyValueStore::getStringById(NullableString stringId, NullableString tableName) {
  return firstElement(stringId, tableName);
}

std::optional<pf::Value> TnqKeyValueStore::getNumberById(NullableString numberId, NullableString tableName) {
  return firstElement(numberId, tableName);
}

std::optional<std::vector<TnqKeyValueModel>> TnqKeyValueStore::getAllItemsFromTable(NullableString tableName) {
  if (!checkTableName(tableName)) return std::nullopt;
  const std::string sql = "SELECT * from " + table(tableName);
  std::vector<TnqKeyValueModel> items;
  std::vector<std::optional<std::string>> texts;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    auto rs = db->executeQuery(sql);
    if (!rs) return;
    while (rs->next()) {
      TnqKeyValueModel model;
      model.modelId = rs->stringForColumn("id");
      texts.push_back(rs->stringForColumn("json"));
      model.createdDate = rs->dateForColumn("createdTime");
      items.push_back(std::move(model));
    }
    rs->close();
  });
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::optional<pf::Value> value = texts[i] ? decodeJson(*texts[i]) : std::nullopt;
    if (value) {
      items[i].modelObject = std::move(*value);
    } else {
      pf::logLine("ERROR, faild to prase to json.");
      items[i].modelObject = texts[i] ? pf::Value(std::move(*texts[i])) : pf::Value();
    }
  }
  return items;
}

std::uint64_t TnqKeyValueStore::getCountFromTabel(NullableString tableName) {
  if (!checkTableName(tableName)) return 0;
  const std::string sql = "SELECT count(*) as num from " + table(tableName);
  std::uint64_t count = 0;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    auto rs = db->executeQuery(sql);
    if (!rs) return;
    if (rs->next()) count = rs->unsignedLongLongIntForColumn("num");
    rs->close();
  });
  return count;
}

// ---------------------------------------------------------------------------------------------
// Deletes

void TnqKeyValueStore::deleteObjectById(NullableString objectId, NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string sql = "DELETE from " + table(tableName) + " where id = ?";
  bool ok = false;
  inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql, idValue(objectId)); });
  if (!ok) pf::logLine("ERROR, failed to delete item from table: " + tableName.description());
}

void TnqKeyValueStore::deleteObjectsByIdArray(const std::vector<std::string>& objectIds, NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string prefix = "DELETE from " + table(tableName) + " where id in ( ";
  // One statement per chunk of ids, all inside one savepoint when there is more than one chunk.
  auto deleteAll = [&](SqDatabase& db) {
    std::size_t start = 0;
    do {
      const std::size_t count = std::min(kIdsPerStatement, objectIds.size() - start);
      std::string sql = prefix;
      for (std::size_t i = 0; i < count; ++i) sql += i == 0 ? "?" : ",?";
      sql += " )";
      SqArguments ids;
      ids.reserve(count);
      for (std::size_t i = 0; i < count; ++i) ids.push_back(SqValue::textView(objectIds[start + i]));
      if (!db.executeUpdateWithArgumentsInArray(sql, ids)) return false;
      start += count;
    } while (start < objectIds.size());
    return true;
  };
  bool ok = false;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    if (objectIds.size() <= kIdsPerStatement) {
      ok = deleteAll(*db);
    } else {
      bool deleted = false;
      auto error = db->inSavePoint([&](bool* rollback) {
        deleted = deleteAll(*db);
        *rollback = !deleted;
      });
      ok = deleted && !error;
    }
  });
  if (!ok) pf::logLine("ERROR, failed to delete items by ids from table: " + tableName.description());
}

void TnqKeyValueStore::deleteObjectsByIdPrefix(NullableString objectIdPrefix, NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string sql = "DELETE from " + table(tableName) + " where id like ? escape '\\'";
  bool ok = false;
  if (objectIdPrefix) {
    const std::string pattern = prefixPattern(objectIdPrefix.text());
    inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql, pattern); });
  }
  if (!ok) pf::logLine("ERROR, failed to delete items by id prefix from table: " + tableName.description());
}

}  // namespace kvstore
