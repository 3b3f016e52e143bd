#include "kvstore/TnqKeyValueStore.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "kvstore/KeyValueJson.h"
#include "kvstore/SqResultSet.h"
#include "kvstore/SqText.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
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

std::string createTableText(NullableString tableName) {
  return statementText("CREATE TABLE IF NOT EXISTS ", tableName,
                       " ( id TEXT NOT NULL, json TEXT NOT NULL, createdTime TEXT NOT NULL, PRIMARY KEY(id)) ");
}

// The files the engine keeps beside a database while it writes.
constexpr const char* kCompanionSuffixes[] = {"-journal", "-wal", "-shm"};

// What is wrong with the database at `path`, or nullopt when nothing is. Something that is not a
// regular file, a file the engine refuses as no database or as malformed, and one that fails its
// quick check are damaged. A missing file is not, nor an empty one without companions (the engine
// makes a new database of it), nor one that cannot be looked at now (busy, no permission, a failing
// disk): that says nothing about the file.
std::optional<std::string> damageOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (st.st_size == 0) {
    bool companions = false;
    for (const char* suffix : kCompanionSuffixes) companions = companions || pf::FileManager::fileExists(path + suffix);
    if (!companions) {
      pf::logLine("database " + path + " is an empty file: a new database is made in it");
      return std::nullopt;
    }
  }
  auto db = SqDatabase::databaseWithPath(path);
  db->setMaxBusyRetryTimeInterval(0);  // another connection's lock is no damage: no wait
  if (!db->openWithFlags(SQLITE_OPEN_READWRITE)) return std::nullopt;
  db->setLogsErrors(false);
  const auto verdict = db->stringForQuery("PRAGMA quick_check");
  const int code = db->lastErrorCode() & 0xff;
  const std::string message = db->lastErrorMessage();
  db->close();
  if (verdict) return *verdict == "ok" ? std::nullopt : std::optional<std::string>("quick check: " + *verdict);
  if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) return message;
  return std::nullopt;
}

// Renames the database (and its companions) to "<path>.damaged", "<path>.damaged-2", ...; the new
// name, or nullopt when it could not be moved.
std::optional<std::string> setAside(const std::string& path) {
  for (int n = 1; n <= 100; ++n) {
    const std::string aside = path + ".damaged" + (n > 1 ? "-" + std::to_string(n) : "");
    pf::Error error;
    if (pf::FileManager::moveItem(path, aside, &error)) {
      for (const char* suffix : kCompanionSuffixes)
        if (pf::FileManager::fileExists(path + suffix)) pf::FileManager::moveItem(path + suffix, aside + suffix);
      return aside;
    }
    if (error.code != pf::kFileWriteFileExistsError) {
      pf::logLine("ERROR, damaged database " + path + " could not be set aside: " + error.localizedDescription());
      return std::nullopt;
    }
  }
  return std::nullopt;
}

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
  // A companion that is no regular file (a FIFO, a folder) holds nothing of the database, and the
  // engine would block on it or fail: it is kept under another name and the database opens as it is.
  for (const char* suffix : kCompanionSuffixes) {
    struct stat st {};
    const std::string companion = dbPath + suffix;
    if (::stat(companion.c_str(), &st) != 0 || S_ISREG(st.st_mode)) continue;
    if (auto aside = setAside(companion)) pf::logLine(companion + " is not a regular file: set aside as " + *aside);
  }
  // A damaged file is kept under another name and a new database takes its place, with every row
  // that still reads.
  std::optional<std::string> aside;
  if (auto damage = damageOf(dbPath)) {
    aside = setAside(dbPath);
    if (aside) pf::logLine("database " + dbPath + " is damaged (" + *damage + "): set aside as " + *aside);
  }
  dbQueue_ = SqDatabaseQueue::databaseQueueWithPath(std::move(dbPath));
  if (aside && dbQueue_) salvage(*aside);
}

void TnqKeyValueStore::salvage(const std::string& damagedPath) {
  struct stat st {};
  if (::stat(damagedPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;  // never opened: a FIFO would block
  auto damaged = SqDatabase::databaseWithPath(damagedPath);
  if (!damaged->openWithFlags(SQLITE_OPEN_READONLY)) return;
  damaged->setLogsErrors(false);
  std::vector<std::string> tables;
  if (auto rs = damaged->executeQuery("SELECT name FROM sqlite_master WHERE type = 'table'")) {
    while (rs->next()) {
      auto name = rs->stringForColumnIndex(0);
      if (name && !name->starts_with("sqlite_") && name->find_first_of(std::string(" \0", 2)) == std::string::npos)
        tables.push_back(*name);
    }
  }
  std::size_t kept = 0;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    db->beginTransaction();
    for (const auto& table : tables) {
      if (!db->executeUpdate(createTableText(table))) continue;
      const std::string insert = statementText("INSERT OR IGNORE INTO ", table, " (id,json,createdTime) values (?,?,?)");
      // Row by row: a read that fails part-way keeps the rows before it.
      auto rs = damaged->executeQuery(statementText("SELECT id,json,createdTime from ", table));
      while (rs && rs->next()) {
        if (db->executeUpdate(insert, rs->objectForColumnIndex(0), rs->objectForColumnIndex(1),
                              rs->objectForColumnIndex(2)))
          ++kept;
      }
    }
    db->commit();
  });
  damaged->close();
  pf::logLine("database " + damagedPath + ": " + std::to_string(kept) + " rows of " + std::to_string(tables.size()) +
              " tables read back into the new database");
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
  const std::string sql = createTableText(tableName);
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
