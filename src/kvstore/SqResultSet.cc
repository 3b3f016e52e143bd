#include "kvstore/SqResultSet.h"

#include <sqlite3.h>

#include "kvstore/SqDatabase.h"
#include "kvstore/SqStatement.h"
#include "kvstore/SqText.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"

namespace kvstore {

std::shared_ptr<SqResultSet> SqResultSet::resultSetWithStatement(std::shared_ptr<SqStatement> statement,
                                                                 std::shared_ptr<SqDatabase> parentDB) {
  if (statement && statement->inUse())
    throw pf::Exception(pf::kInvalidArgumentException, "Invalid parameter not satisfying: ![statement inUse]");
  auto rs = std::make_shared<SqResultSet>(Private{});
  rs->setStatement(statement);
  rs->parentDB_ = std::move(parentDB);
  if (statement) statement->setInUse(true);
  return rs;
}

SqResultSet::~SqResultSet() { close(); }

bool SqResultSet::next() {
  sqlite3_stmt* st = handle();
  if (!st) return false;
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    std::string path = parentDB_ && parentDB_->databasePath() ? *parentDB_->databasePath() : "(null)";
    pf::logLine("-[SqResultSet next]:" + std::to_string(__LINE__) + " Database busy (" + path + ")");
    pf::logLine("Database busy");
  } else if (rc == SQLITE_DONE || rc == SQLITE_ROW) {
    // nothing to report
  } else if (rc == SQLITE_ERROR || rc == SQLITE_MISUSE) {
    pf::logLine("Error calling sqlite3_step (" + std::to_string(rc) + ": " + sqlite3_errmsg(sqlite3_db_handle(st)) +
                ") rs");
  } else {
    pf::logLine("Unknown error calling sqlite3_step (" + std::to_string(rc) + ": " +
                sqlite3_errmsg(sqlite3_db_handle(st)) + ") rs");
  }
  if (rc != SQLITE_ROW) close();
  return rc == SQLITE_ROW;
}

bool SqResultSet::hasAnotherRow() const { return parentDB_ && parentDB_->lastErrorCode() == SQLITE_ROW; }

void SqResultSet::close() {
  std::shared_ptr<SqStatement> statement;
  {
    pf::MutexLock lock(mutex_);
    statement = std::move(statement_);
    statement_.reset();
  }
  if (statement) statement->reset();
  statement.reset();
  if (auto db = std::move(parentDB_)) {
    parentDB_.reset();
    db->resultSetDidClose(this);
  }
}

int SqResultSet::columnCount() const { return handle() ? sqlite3_column_count(handle()) : 0; }

const std::unordered_map<std::string, int>& SqResultSet::columnNameToIndexMap() {
  if (!columnNameToIndexMap_) {
    columnNameToIndexMap_.emplace();
    const int count = columnCount();
    for (int i = 0; i < count; ++i) {
      const char* name = sqlite3_column_name(handle(), i);
      (*columnNameToIndexMap_)[sqLowercase(name ? name : "")] = i;
    }
  }
  return *columnNameToIndexMap_;
}

int SqResultSet::columnIndexForName(std::string_view columnName) {
  std::string lower = sqLowercase(columnName);
  const auto& map = columnNameToIndexMap();
  auto it = map.find(lower);
  if (it != map.end()) return it->second;
  pf::logLine("Warning: I could not find the column named '" + lower + "'.");
  return -1;
}

std::string SqResultSet::columnNameForIndex(int columnIdx) const {
  const char* name = handle() ? sqlite3_column_name(handle(), columnIdx) : nullptr;
  return name ? name : "";
}

int SqResultSet::intForColumnIndex(int columnIdx) const { return handle() ? sqlite3_column_int(handle(), columnIdx) : 0; }

std::int64_t SqResultSet::longForColumnIndex(int columnIdx) const {
  return handle() ? sqlite3_column_int64(handle(), columnIdx) : 0;
}

std::int64_t SqResultSet::longLongIntForColumnIndex(int columnIdx) const { return longForColumnIndex(columnIdx); }

std::uint64_t SqResultSet::unsignedLongLongIntForColumnIndex(int columnIdx) const {
  return static_cast<std::uint64_t>(longForColumnIndex(columnIdx));
}

bool SqResultSet::boolForColumnIndex(int columnIdx) const { return intForColumnIndex(columnIdx) != 0; }

double SqResultSet::doubleForColumnIndex(int columnIdx) const {
  return handle() ? sqlite3_column_double(handle(), columnIdx) : 0.0;
}

bool SqResultSet::columnIndexIsNull(int columnIdx) const {
  return !handle() || sqlite3_column_type(handle(), columnIdx) == SQLITE_NULL;
}

std::optional<std::string> SqResultSet::stringForColumnIndex(int columnIdx) const {
  auto text = textNoCopyForColumnIndex(columnIdx);
  if (!text) return std::nullopt;
  return std::string(*text);
}

std::optional<std::string_view> SqResultSet::textNoCopyForColumnIndex(int columnIdx) const {
  if (columnIdx < 0 || columnIndexIsNull(columnIdx)) return std::nullopt;
  const unsigned char* text = sqlite3_column_text(handle(), columnIdx);
  if (!text) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(text),
                          static_cast<std::size_t>(sqlite3_column_bytes(handle(), columnIdx)));
}

std::optional<double> SqResultSet::dateForColumnIndex(int columnIdx) const {
  if (columnIdx < 0 || columnIndexIsNull(columnIdx)) return std::nullopt;
  if (parentDB_ && parentDB_->hasDateFormatter()) {
    auto text = stringForColumnIndex(columnIdx);
    return text ? parentDB_->dateFromString(*text) : std::nullopt;
  }
  return doubleForColumnIndex(columnIdx);
}

std::optional<pf::Bytes> SqResultSet::dataForColumnIndex(int columnIdx) const {
  if (columnIdx < 0 || columnIndexIsNull(columnIdx)) return std::nullopt;
  const int size = sqlite3_column_bytes(handle(), columnIdx);
  const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(handle(), columnIdx));
  if (!blob) {
    // The engine gives no pointer for a zero-length value: that is empty data, not NULL.
    if (size == 0) return pf::Bytes();
    return std::nullopt;
  }
  return pf::Bytes(blob, blob + size);
}

std::optional<std::span<const std::uint8_t>> SqResultSet::dataNoCopyForColumnIndex(int columnIdx) const {
  if (columnIdx < 0 || columnIndexIsNull(columnIdx)) return std::nullopt;
  const int size = sqlite3_column_bytes(handle(), columnIdx);
  const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(handle(), columnIdx));
  if (!blob) return std::span<const std::uint8_t>();
  return std::span<const std::uint8_t>(blob, static_cast<std::size_t>(size));
}

const char* SqResultSet::UTF8StringForColumnIndex(int columnIdx) const {
  if (columnIdx < 0 || columnIndexIsNull(columnIdx)) return nullptr;
  return reinterpret_cast<const char*>(sqlite3_column_text(handle(), columnIdx));
}

SqValue SqResultSet::objectForColumnIndex(int columnIdx) const {
  const int type = handle() && columnIdx >= 0 ? sqlite3_column_type(handle(), columnIdx) : SQLITE_NULL;
  switch (type) {
    case SQLITE_INTEGER:
      return SqValue(static_cast<std::int64_t>(sqlite3_column_int64(handle(), columnIdx)));
    case SQLITE_FLOAT:
      return SqValue(sqlite3_column_double(handle(), columnIdx));
    case SQLITE_BLOB: {
      auto data = dataForColumnIndex(columnIdx);
      return data ? SqValue(*data) : SqValue::null();
    }
    default: {
      auto text = stringForColumnIndex(columnIdx);
      return text ? SqValue(std::move(*text)) : SqValue::null();
    }
  }
}

std::optional<SqDictionary> SqResultSet::resultDictionary() const {
  if (!handle() || sqlite3_data_count(handle()) == 0) {
    pf::logLine("Warning: There seem to be no columns in this set.");
    return std::nullopt;
  }
  SqDictionary row;
  const int count = columnCount();
  for (int i = 0; i < count; ++i) row.insert_or_assign(columnNameForIndex(i), objectForColumnIndex(i));
  return row;
}

std::optional<SqDictionary> SqResultSet::resultDict() {
  if (!handle() || sqlite3_data_count(handle()) == 0) {
    pf::logLine("Warning: There seem to be no columns in this set.");
    return std::nullopt;
  }
  SqDictionary row;
  for (const auto& [name, index] : columnNameToIndexMap()) row.insert_or_assign(name, objectForColumnIndex(index));
  return row;
}

void SqResultSet::kvcMagic(
    const std::function<void(const std::string& key, const std::string& value)>& setValueForKey) const {
  const int count = columnCount();
  for (int i = 0; i < count; ++i) {
    const unsigned char* text = sqlite3_column_text(handle(), i);
    if (!text) continue;
    setValueForKey(columnNameForIndex(i),
                   std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(handle(), i))));
  }
}

std::string SqResultSet::query() const {
  pf::MutexLock lock(mutex_);
  return query_;
}

void SqResultSet::setQuery(std::string query) {
  pf::MutexLock lock(mutex_);
  query_ = std::move(query);
}

std::shared_ptr<SqStatement> SqResultSet::statement() const {
  pf::MutexLock lock(mutex_);
  return statement_;
}

void SqResultSet::setStatement(std::shared_ptr<SqStatement> statement) {
  pf::MutexLock lock(mutex_);
  statement_ = std::move(statement);
}

sqlite3_stmt* SqResultSet::handle() const { return statement_ ? statement_->statement() : nullptr; }

}  // namespace kvstore
