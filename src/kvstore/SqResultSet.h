#pragma once
// The cursor over the rows of one query: next() steps, the typed readers read the current row by
// column index or by (case-insensitive) column name, close() hands the statement back.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "kvstore/SqValue.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/ThreadAnnotations.h"

struct sqlite3_stmt;

namespace kvstore {

class SqDatabase;
class SqStatement;

class SqResultSet {
  struct Private {};

 public:
  // Raises pf::Exception (invalid argument) when the statement is in use; marks it in use.
  static std::shared_ptr<SqResultSet> resultSetWithStatement(std::shared_ptr<SqStatement> statement,
                                                             std::shared_ptr<SqDatabase> parentDB);
  explicit SqResultSet(Private) {}
  ~SqResultSet();
  SqResultSet(const SqResultSet&) = delete;
  SqResultSet& operator=(const SqResultSet&) = delete;

  // Steps once; true when a row is current. At the end of the rows or on an error the set closes.
  bool next();
  bool hasAnotherRow() const;
  // Resets and drops the statement and tells the connection; a second close does nothing.
  void close();

  int columnCount() const;
  int columnIndexForName(std::string_view columnName);  // -1 (and a warning line) when absent
  std::string columnNameForIndex(int columnIdx) const;
  const std::unordered_map<std::string, int>& columnNameToIndexMap();

  int intForColumnIndex(int columnIdx) const;
  std::int64_t longForColumnIndex(int columnIdx) const;
  std::int64_t longLongIntForColumnIndex(int columnIdx) const;
  std::uint64_t unsignedLongLongIntForColumnIndex(int columnIdx) const;
  bool boolForColumnIndex(int columnIdx) const;
  double doubleForColumnIndex(int columnIdx) const;
  std::optional<std::string> stringForColumnIndex(int columnIdx) const;
  std::optional<double> dateForColumnIndex(int columnIdx) const;  // seconds since 1970
  std::optional<pf::Bytes> dataForColumnIndex(int columnIdx) const;
  // Points into the engine's buffer of the current row: valid until the next step, reset or close.
  std::optional<std::span<const std::uint8_t>> dataNoCopyForColumnIndex(int columnIdx) const;
  bool columnIndexIsNull(int columnIdx) const;
  // The engine's text of the current row (valid until the next step, reset or close), or null.
  const char* UTF8StringForColumnIndex(int columnIdx) const;
  // The same text with its length (embedded NULs included); nullopt for NULL.
  std::optional<std::string_view> textNoCopyForColumnIndex(int columnIdx) const;
  // A number (64-bit integer or double), bytes, text, or the null object; never nil.
  SqValue objectForColumnIndex(int columnIdx) const;

  int intForColumn(std::string_view name) { return intForColumnIndex(columnIndexForName(name)); }
  std::int64_t longForColumn(std::string_view name) { return longForColumnIndex(columnIndexForName(name)); }
  std::int64_t longLongIntForColumn(std::string_view name) {
    return longLongIntForColumnIndex(columnIndexForName(name));
  }
  std::uint64_t unsignedLongLongIntForColumn(std::string_view name) {
    return unsignedLongLongIntForColumnIndex(columnIndexForName(name));
  }
  bool boolForColumn(std::string_view name) { return boolForColumnIndex(columnIndexForName(name)); }
  double doubleForColumn(std::string_view name) { return doubleForColumnIndex(columnIndexForName(name)); }
  std::optional<std::string> stringForColumn(std::string_view name) {
    return stringForColumnIndex(columnIndexForName(name));
  }
  std::optional<double> dateForColumn(std::string_view name) { return dateForColumnIndex(columnIndexForName(name)); }
  std::optional<pf::Bytes> dataForColumn(std::string_view name) { return dataForColumnIndex(columnIndexForName(name)); }
  std::optional<std::span<const std::uint8_t>> dataNoCopyForColumn(std::string_view name) {
    return dataNoCopyForColumnIndex(columnIndexForName(name));
  }
  bool columnIsNull(std::string_view name) { return columnIndexIsNull(columnIndexForName(name)); }
  const char* UTF8StringForColumnName(std::string_view name) {
    return UTF8StringForColumnIndex(columnIndexForName(name));
  }
  SqValue objectForColumnName(std::string_view name) { return objectForColumnIndex(columnIndexForName(name)); }

  SqValue operator[](int columnIdx) { return objectForColumnIndex(columnIdx); }
  SqValue operator[](std::string_view name) { return objectForColumnName(name); }

  // The current row keyed by the column names as the engine gives them; nullopt (and a warning
  // line) when there is no row.
  std::optional<SqDictionary> resultDictionary() const;
  // The older form, keyed by the lower-cased names.
  std::optional<SqDictionary> resultDict();
  // Hands each column that has text to setValueForKey (the column name as the engine gives it).
  void kvcMagic(const std::function<void(const std::string& key, const std::string& value)>& setValueForKey) const;

  std::shared_ptr<SqDatabase> parentDB() const { return parentDB_; }
  void setParentDB(std::shared_ptr<SqDatabase> db) { parentDB_ = std::move(db); }
  std::string query() const;
  void setQuery(std::string query);
  std::shared_ptr<SqStatement> statement() const;
  void setStatement(std::shared_ptr<SqStatement> statement);

 private:
  // The statement's engine handle (none once the statement or this set is closed). Read without
  // the lock on every column read: only the cursor's own thread changes the statement (close,
  // setStatement); the lock serves the accessors other threads call.
  sqlite3_stmt* handle() const PF_NO_THREAD_SAFETY_ANALYSIS;

  std::shared_ptr<SqDatabase> parentDB_;
  mutable pf::Mutex mutex_;  // for the thread-safe accessors
  std::shared_ptr<SqStatement> statement_ PF_GUARDED_BY(mutex_);
  std::string query_ PF_GUARDED_BY(mutex_);
  std::optional<std::unordered_map<std::string, int>> columnNameToIndexMap_;
};

}  // namespace kvstore
