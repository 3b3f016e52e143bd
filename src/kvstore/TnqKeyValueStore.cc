#include "kvstore/TnqKeyValueStore.h"

#include <algorithm>
#include <utility>

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

// The statement text with the table name between head and tail, written as a quoted identifier
// (quotes doubled) so that any accepted name stays one name.
std::string statementText(std::string_view head, NullableString tableName, std::string_view tail = {}) {
  const std::string_view name = tableName.text();
  std::string sql;
  sql.reserve(head.size() + name.size() + 2 + tail.size());
  sql.append(head);
  sqAppendQuoted(sql, name, '"');
  sql.append(tail);
  return sql;
}

// The number of "?" of a list delete for `count` ids: a power of two up to the chunk size, so that
// lists of every length share a few statement texts (and so a few cached statements).
std::size_t placeholderCount(std::size_t count) {
  std::size_t slots = count == 0 ? 0 : 1;
  while (slots < count) slots <<= 1;
  return std::min(slots, kIdsPerStatement);
}

SqValue idValue(NullableString id) { return id ? SqValue::textView(id.text()) : SqValue(); }

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
  pf::MutexLock lock(queueMutex_);
  return dbQueue_;
}

void TnqKeyValueStore::setDbQueue(std::shared_ptr<SqDatabaseQueue> queue) {
  pf::MutexLock lock(queueMutex_);
  dbQueue_ = std::move(queue);
}

template <class Work>
bool TnqKeyValueStore::inDatabase(Work&& work) {
  auto queue = dbQueue();
  if (!queue) return false;
  queue->inDatabase([&](SqDatabase* db) {
    // The store runs a handful of fixed statements per table: keep them prepared. A connection
    // the queue reopened starts without a cache, so this is asked on every block.
    if (db && !db->shouldCacheStatements()) db->setShouldCacheStatements(true);
    work(db);
  });
  return true;
}

void TnqKeyValueStore::close() {
  std::shared_ptr<SqDatabaseQueue> queue;
  {
    pf::MutexLock lock(queueMutex_);
    queue = std::move(dbQueue_);
    dbQueue_.reset();
  }
  if (queue) queue->close();
}

// ---------------------------------------------------------------------------------------------
// Tables

void TnqKeyValueStore::createTableWithName(NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string sql = statementText(
      "CREATE TABLE IF NOT EXISTS ", tableName,
      " ( id TEXT NOT NULL, json TEXT NOT NULL, createdTime TEXT NOT NULL, PRIMARY KEY(id)) ");
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
  const std::string sql = statementText("DELETE from ", tableName);
  bool ok = false;
  inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql); });
  if (!ok) pf::logLine("ERROR, failed to clear table: " + tableName.description());
}

// ---------------------------------------------------------------------------------------------
// Puts

bool TnqKeyValueStore::putJsonText(const std::string& json, NullableString objectId, NullableString tableName) {
  const double now = pf::Clock::now();
  const std::string sql = statementText("REPLACE INTO ", tableName, "(id,json,createdTime) values (?,?,?)");
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

template <class Take>
bool TnqKeyValueStore::readItem(NullableString objectId, NullableString tableName, Take&& take) {
  const std::string sql = statementText("SELECT json,createdTime from ", tableName, " where id = ? limit 1");
  bool found = false;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    auto rs = db->executeQuery(sql, idValue(objectId));
    if (!rs) return;
    // The columns by their place in the statement's own select list: no name lookup per read.
    if (rs->next()) {
      if (auto text = rs->textNoCopyForColumnIndex(0)) {
        take(*text, std::as_const(*rs));
        found = true;
      }
    }
    rs->close();
  });
  return found;
}

std::optional<TnqKeyValueModel> TnqKeyValueStore::getTnqKeyValueModelById(NullableString objectId,
                                                                         NullableString tableName) {
  if (!checkTableName(tableName)) return std::nullopt;
  std::string json;
  std::optional<double> date;
  const bool found = readItem(objectId, tableName, [&](std::string_view text, const SqResultSet& row) {
    json.assign(text);
    date = row.dateForColumnIndex(1);
  });
  if (!found) return std::nullopt;
  auto value = decodeJson(json);
  if (!value) {
    pf::logLine("ERROR, faild to prase to json");
    return std::nullopt;
  }
  TnqKeyValueModel model;
  if (objectId) model.modelId = std::string(objectId.text());
  model.modelObject = std::move(*value);
  model.createdDate = date;
  return model;
}

std::optional<pf::Value> TnqKeyValueStore::getObjectById(NullableString objectId, NullableString tableName) {
  auto model = getTnqKeyValueModelById(objectId, tableName);
  if (!model) return std::nullopt;
  return std::move(model->modelObject);
}

std::optional<pf::Value> TnqKeyValueStore::firstElement(NullableString objectId, NullableString tableName) {
  if (!checkTableName(tableName)) return std::nullopt;
  // A plain ["..."] is copied without its brackets and quotes and needs no parser; anything else
  // is copied whole and parsed after the queue is free again.
  std::string text;
  bool plain = false;
  const bool found = readItem(objectId, tableName, [&](std::string_view json, const SqResultSet&) {
    auto inner = plainStringElement(json);
    plain = inner.has_value();
    text.assign(plain ? *inner : json);
  });
  if (!found) return std::nullopt;
  if (plain) return pf::Value(std::move(text));
  auto value = decodeJson(text);
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
  const std::string sql = statementText("SELECT * from ", tableName);
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
  const std::string sql = statementText("SELECT count(*) as num from ", tableName);
  std::uint64_t count = 0;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    auto rs = db->executeQuery(sql);
    if (!rs) return;
    if (rs->next()) count = rs->unsignedLongLongIntForColumnIndex(0);  // "num", the only column
    rs->close();
  });
  return count;
}

// ---------------------------------------------------------------------------------------------
// Deletes

void TnqKeyValueStore::deleteObjectById(NullableString objectId, NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string sql = statementText("DELETE from ", tableName, " where id = ?");
  bool ok = false;
  inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql, idValue(objectId)); });
  if (!ok) pf::logLine("ERROR, failed to delete item from table: " + tableName.description());
}

void TnqKeyValueStore::deleteObjectsByIdArray(const std::vector<std::string>& objectIds, NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string prefix = statementText("DELETE from ", tableName, " where id in ( ");
  // One statement per chunk of ids, all inside one savepoint when there is more than one chunk.
  // A chunk fills the slots beyond its own ids with its last id again, which deletes nothing more.
  auto deleteAll = [&](SqDatabase& db) {
    std::size_t start = 0;
    do {
      const std::size_t count = std::min(kIdsPerStatement, objectIds.size() - start);
      const std::size_t slots = placeholderCount(count);
      std::string sql = prefix;
      for (std::size_t i = 0; i < slots; ++i) sql += i == 0 ? "?" : ",?";
      sql += " )";
      SqArguments ids;
      ids.reserve(slots);
      for (std::size_t i = 0; i < slots; ++i)
        ids.push_back(SqValue::textView(objectIds[start + std::min(i, count - 1)]));
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
  // The id's first bytes against the whole prefix, ASCII letters folded as LIKE folds them. LIKE
  // itself reads its pattern only up to a NUL, so a prefix holding one would match far more.
  const std::string sql = statementText("DELETE from ", tableName,
                                        " where substr(CAST(lower(id) AS BLOB), 1, ?) = CAST(lower(?) AS BLOB)");
  bool ok = false;
  if (objectIdPrefix) {
    const std::string_view prefix = objectIdPrefix.text();
    const auto length = static_cast<std::int64_t>(prefix.size());
    inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql, length, SqValue::textView(prefix)); });
  }
  if (!ok) pf::logLine("ERROR, failed to delete items by id prefix from table: " + tableName.description());
}

}  // namespace kvstore
