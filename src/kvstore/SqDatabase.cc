#include "kvstore/SqDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "kvstore/SqResultSet.h"
#include "kvstore/SqStatement.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"

namespace kvstore {

namespace {

constexpr double kBusyRetryPause = 0.050;

std::string codeText(int code) { return std::to_string(code); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and class values

std::shared_ptr<SqDatabase> SqDatabase::databaseWithPath(std::optional<std::string> path) {
  return std::make_shared<SqDatabase>(Private{}, std::move(path));
}

SqDatabase::SqDatabase(Private, std::optional<std::string> path) : databasePath_(std::move(path)) {
  if (!sqlite3_threadsafe()) {
    pf::logLine("Assertion failed: sqlite3_threadsafe()");
    std::abort();
  }
}

SqDatabase::~SqDatabase() { close(); }

std::string SqDatabase::SqDBUserVersion() { return "2.3"; }

int SqDatabase::SqDBVersion() {
  static const int version = [] {
    std::string text = SqDBUserVersion();
    if (std::count(text.begin(), text.end(), '.') < 2) text += ".0";
    text.erase(std::remove(text.begin(), text.end(), '.'), text.end());
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 16));
  }();
  return version;
}

std::string SqDatabase::sqliteLibVersion() { return sqlite3_libversion(); }

bool SqDatabase::isSQLiteThreadSafe() { return sqlite3_threadsafe() != 0; }

std::string SqDatabase::description() const {
  char text[64];
  std::snprintf(text, sizeof text, "<SqDatabase: %p>", static_cast<const void*>(this));
  return text;
}

[[noreturn]] void SqDatabase::crash(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::abort();
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

std::string SqDatabase::sqlitePath() const {
  if (!databasePath_) return ":memory:";
  return *databasePath_;
}

bool SqDatabase::open() { return openCore(std::nullopt); }

bool SqDatabase::openWithFlags(int flags) { return openCore(flags); }

bool SqDatabase::openCore(std::optional<int> flags) {
  if (db_) return true;
  const std::string path = sqlitePath();
  sqlite3* handle = nullptr;
  const int rc = flags ? sqlite3_open_v2(path.c_str(), &handle, *flags, nullptr) : sqlite3_open(path.c_str(), &handle);
  if (rc != SQLITE_OK) {
    pf::logLine("error opening!: " + codeText(rc));
    // A failed open keeps no handle: the engine's half-made connection is released here.
    sqlite3_close_v2(handle);
    return false;
  }
  db_ = handle;
  if (maxBusyRetryTimeInterval_ > 0) setMaxBusyRetryTimeInterval(maxBusyRetryTimeInterval_);
  return true;
}

bool SqDatabase::close() {
  clearCachedStatements();
  closeOpenResultSets();
  if (!db_) return true;
  bool retry = false;
  bool triedFinalizingOpenStatements = false;
  do {
    retry = false;
    const int rc = sqlite3_close(db_);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
      if (!triedFinalizingOpenStatements) {
        triedFinalizingOpenStatements = true;
        while (sqlite3_stmt* leaked = sqlite3_next_stmt(db_, nullptr)) {
          pf::logLine("Closing leaked statement");
          sqlite3_finalize(leaked);
          retry = true;
        }
      }
      if (!retry) {
        // The engine still refuses (an unfinished backup or blob handle): hand the connection to
        // the engine to free as soon as the last of those goes, so that it never leaks.
        sqlite3_close_v2(db_);
      }
    } else if (rc != SQLITE_OK) {
      pf::logLine("error closing!: " + codeText(rc));
    }
  } while (retry);
  db_ = nullptr;
  return true;
}

bool SqDatabase::goodConnection() {
  if (!db_) return false;
  auto rs = executeQuery("select name from sqlite_master where type='table'");
  if (!rs) return false;
  rs->close();
  return true;
}

bool SqDatabase::databaseExists() {
  if (!db_) {
    pf::logLine("The SqDatabase " + description() + " is not open.");
    if (crashOnErrors_) crash("The SqDatabase " + description() + " is not open.");
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Busy handling

int SqDatabase::busyHandler(void* context, int count) {
  auto* self = static_cast<SqDatabase*>(context);
  if (count == 0) {
    self->startBusyRetryTime_ = pf::Clock::monotonic();
    return 1;
  }
  const double elapsed = pf::Clock::monotonic() - self->startBusyRetryTime_;
  if (elapsed < self->maxBusyRetryTimeInterval_) {
    pf::Clock::sleep(kBusyRetryPause);
    return 1;
  }
  return 0;
}

void SqDatabase::setMaxBusyRetryTimeInterval(double seconds) {
  maxBusyRetryTimeInterval_ = seconds;
  if (!db_) return;
  if (seconds > 0)
    sqlite3_busy_handler(db_, &SqDatabase::busyHandler, this);
  else
    sqlite3_busy_handler(db_, nullptr, nullptr);
}

int SqDatabase::busyRetryTimeout() {
  pf::logLine("-[SqDatabase busyRetryTimeout]:267");
  pf::logLine("SqDB: busyRetryTimeout no longer works, please use maxBusyRetryTimeInterval");
  return -1;
}

void SqDatabase::setBusyRetryTimeout(int) {
  pf::logLine("-[SqDatabase setBusyRetryTimeout:]:273");
  pf::logLine("SqDB: setBusyRetryTimeout does nothing, please use setMaxBusyRetryTimeInterval:");
}

// ---------------------------------------------------------------------------------------------
// Result sets and the statement cache

void SqDatabase::closeOpenResultSets() {
  const std::vector<SqResultSet*> open = openResultSets_;
  for (SqResultSet* rs : open) {
    // Keep this connection alive while the set lets go of it.
    std::shared_ptr<SqDatabase> keep = rs->parentDB();
    rs->setParentDB(nullptr);
    rs->close();
    resultSetDidClose(rs);
  }
}

void SqDatabase::resultSetDidClose(SqResultSet* resultSet) {
  auto it = std::find(openResultSets_.begin(), openResultSets_.end(), resultSet);
  if (it != openResultSets_.end()) openResultSets_.erase(it);
}

void SqDatabase::setShouldCacheStatements(bool on) {
  if (on && !cachedStatements_)
    cachedStatements_ = std::make_unique<StatementCache>();
  else if (!on)
    cachedStatements_.reset();
}

std::shared_ptr<SqStatement> SqDatabase::cachedStatementForQuery(std::string_view sql) {
  if (!cachedStatements_) return nullptr;
  auto it = cachedStatements_->find(sql);
  if (it == cachedStatements_->end()) return nullptr;
  for (const auto& statement : it->second)
    if (!statement->inUse()) return statement;
  return nullptr;
}

void SqDatabase::setCachedStatement(const std::shared_ptr<SqStatement>& statement, std::string_view sql) {
  if (!cachedStatements_ || !statement) return;
  std::string query(sql);
  statement->setQuery(query);
  auto it = cachedStatements_->find(sql);
  if (it == cachedStatements_->end()) it = cachedStatements_->emplace(std::move(query), decltype(it->second)()).first;
  it->second.push_back(statement);
}

void SqDatabase::clearCachedStatements() {
  if (!cachedStatements_) return;
  for (auto& [sql, statements] : *cachedStatements_)
    for (auto& statement : statements) statement->close();
  cachedStatements_->clear();
}

// ---------------------------------------------------------------------------------------------
// Binding

void SqDatabase::bindObject(const SqValue& value, int column, sqlite3_stmt* statement, bool copy) {
  auto destructor = copy ? SQLITE_TRANSIENT : SQLITE_STATIC;
  using N = SqValue::NumberType;
  switch (value.kind()) {
    case SqValue::Kind::Nil:
    case SqValue::Kind::Null:
      sqlite3_bind_null(statement, column);
      return;
    case SqValue::Kind::Bytes: {
      auto bytes = value.bytes();
      // Empty data binds a zero-length blob, never NULL (a null pointer would bind NULL).
      static const char empty = 0;
      const void* data = bytes.empty() ? static_cast<const void*>(&empty) : bytes.data();
      sqlite3_bind_blob64(statement, column, data, bytes.size(), destructor);
      return;
    }
    case SqValue::Kind::Date:
      if (dateFormat_) {
        std::string text = dateFormat_->string(value.doubleValue());
        sqlite3_bind_text64(statement, column, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      } else {
        sqlite3_bind_double(statement, column, value.doubleValue());
      }
      return;
    case SqValue::Kind::Number:
      switch (value.numberType()) {
        case N::Bool:
        case N::Char:
        case N::UChar:
        case N::Short:
        case N::UShort:
        case N::Int:
          sqlite3_bind_int(statement, column, static_cast<int>(value.int64Value()));
          return;
        case N::UInt:
        case N::LongLong:
        case N::ULongLong:
          sqlite3_bind_int64(statement, column, value.int64Value());
          return;
        case N::Float:
        case N::Double:
          sqlite3_bind_double(statement, column, value.doubleValue());
          return;
      }
      return;
    case SqValue::Kind::Text: {
      auto text = value.text();
      sqlite3_bind_text64(statement, column, text.data(), text.size(), destructor, SQLITE_UTF8);
      return;
    }
  }
}

int SqDatabase::bindArguments(sqlite3_stmt* statement, std::span<const SqValue> array, const SqDictionary* dictionary,
                              bool copy) {
  const int queryCount = sqlite3_bind_parameter_count(statement);
  int idx = 0;
  if (dictionary) {
    std::string name;
    for (const auto& [key, value] : *dictionary) {
      name.assign(":").append(key);
      if (traceExecution_) pf::logLine(key + " = " + value.description());
      const int namedIdx = sqlite3_bind_parameter_index(statement, name.c_str());
      if (namedIdx > 0) {
        bindObject(value, namedIdx, statement, copy);
        ++idx;
      } else {
        pf::logLine("Could not find index for " + key);
      }
    }
  } else {
    while (idx < queryCount && static_cast<std::size_t>(idx) < array.size()) {
      const SqValue& value = array[static_cast<std::size_t>(idx)];
      if (traceExecution_) {
        if (value.kind() == SqValue::Kind::Bytes)
          pf::logLine("data: " + std::to_string(value.bytes().size()) + " bytes");
        else
          pf::logLine("obj: " + value.description());
      }
      ++idx;
      bindObject(value, idx, statement, copy);
    }
  }
  return idx;
}

void SqDatabase::logPrepareError(std::string_view sql) {
  if (logsErrors_) {
    pf::logLine("DB Error: " + codeText(lastErrorCode()) + " \"" + lastErrorMessage() + "\"");
    pf::logLine("DB Query: " + std::string(sql));
    pf::logLine("DB Path: " + (databasePath_ ? *databasePath_ : std::string("(null)")));
  }
  if (crashOnErrors_) crash("DB Error: " + codeText(lastErrorCode()) + " \"" + lastErrorMessage() + "\"");
}

void SqDatabase::releaseStatement(sqlite3_stmt* statement, const std::shared_ptr<SqStatement>& cached) {
  if (cached)
    cached->reset();
  else
    sqlite3_finalize(statement);
}

// ---------------------------------------------------------------------------------------------
// The query and update cores

sqlite3_stmt* SqDatabase::acquireStatement(std::string_view sql, std::shared_ptr<SqStatement>& cached,
                                           pf::Error* outError, bool mayCache) {
  if (cachedStatements_ && mayCache) {
    cached = cachedStatementForQuery(sql);
    if (cached) {
      cached->reset();
      if (sqlite3_stmt* statement = cached->statement()) return statement;
    }
  }
  cached.reset();
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
    logPrepareError(sql);
    if (outError) *outError = errorWithMessage(lastErrorMessage());
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement;
}

std::shared_ptr<SqResultSet> SqDatabase::executeQueryCore(std::string_view sql, std::span<const SqValue> array,
                                                          const SqDictionary* dictionary) {
  if (!databaseExists()) return nullptr;
  if (isExecutingStatement_) {
    warnInUse();
    return nullptr;
  }
  isExecutingStatement_ = true;
  if (traceExecution_) pf::logLine(description() + " executeQuery: " + std::string(sql));

  std::shared_ptr<SqStatement> cached;
  sqlite3_stmt* statement = acquireStatement(sql, cached, nullptr);
  if (!statement) {
    isExecutingStatement_ = false;
    return nullptr;
  }

  // The result set steps later, after the caller's values may be gone: the engine copies them.
  const int bound = bindArguments(statement, array, dictionary, true);
  if (bound != sqlite3_bind_parameter_count(statement)) {
    pf::logLine("Error: the bind count is not correct for the # of variables (executeQuery)");
    releaseStatement(statement, cached);
    isExecutingStatement_ = false;
    return nullptr;
  }

  std::shared_ptr<SqStatement> used = cached;
  if (!used) {
    used = std::make_shared<SqStatement>(statement);
    if (cachedStatements_) setCachedStatement(used, sql);
  }
  auto rs = SqResultSet::resultSetWithStatement(used, shared_from_this());
  rs->setQuery(std::string(sql));
  openResultSets_.push_back(rs.get());
  used->setUseCount(used->useCount() + 1);
  isExecutingStatement_ = false;
  return rs;
}

bool SqDatabase::updateCore(std::string_view sql, pf::Error* outError, std::span<const SqValue> array,
                            const SqDictionary* dictionary, bool mayCache) {
  if (!databaseExists()) return false;
  if (isExecutingStatement_) {
    warnInUse();
    return false;
  }
  isExecutingStatement_ = true;
  if (traceExecution_) pf::logLine(description() + " executeUpdate: " + std::string(sql));

  std::shared_ptr<SqStatement> cached;
  sqlite3_stmt* statement = acquireStatement(sql, cached, outError, mayCache);
  if (!statement) {
    isExecutingStatement_ = false;
    return false;
  }

  // The statement is stepped before this call returns: the caller's values stay readable.
  const int bound = bindArguments(statement, array, dictionary, false);
  const int queryCount = sqlite3_bind_parameter_count(statement);
  if (bound != queryCount) {
    pf::logLine("Error: the bind count (" + std::to_string(bound) +
                ") is not correct for the # of variables in the query (" + std::to_string(queryCount) + ") (" +
                std::string(sql) + ") (executeUpdate)");
    if (cached) sqlite3_clear_bindings(statement);
    releaseStatement(statement, cached);
    isExecutingStatement_ = false;
    return false;
  }

  const int rc = sqlite3_step(statement);
  if (rc != SQLITE_DONE && logsErrors_) {
    const std::string message = lastErrorMessage();
    if (rc == SQLITE_ERROR)
      pf::logLine("Error calling sqlite3_step (" + codeText(rc) + ": " + message + ") SQLITE_ERROR");
    else if (rc == SQLITE_MISUSE)
      pf::logLine("Error calling sqlite3_step (" + codeText(rc) + ": " + message + ") SQLITE_MISUSE");
    else
      pf::logLine("Unknown error calling sqlite3_step (" + codeText(rc) + ": " + message + ") eu");
    pf::logLine("DB Query: " + std::string(sql));
  }

  if (rc == SQLITE_ROW) {
    // A statement that yields rows is no update: hand the statement back and clear the mark first,
    // so that the connection stays usable, then raise.
    if (cached) sqlite3_clear_bindings(statement);
    releaseStatement(statement, cached);
    isExecutingStatement_ = false;
    throw pf::Exception(pf::kInternalInconsistencyException,
                        "A executeUpdate is being called with a query string '" + std::string(sql) + "'");
  }

  if (cachedStatements_ && mayCache && !cached) {
    cached = std::make_shared<SqStatement>(statement);
    setCachedStatement(cached, sql);
  }

  int closeCode;
  if (cached) {
    cached->setUseCount(cached->useCount() + 1);
    closeCode = sqlite3_reset(statement);
    // Forget the caller's values: the statement stays prepared without pointers into them.
    sqlite3_clear_bindings(statement);
  } else {
    closeCode = sqlite3_finalize(statement);
  }
  if (closeCode != SQLITE_OK && logsErrors_) {
    pf::logLine("Unknown error finalizing or resetting statement (" + codeText(closeCode) + ": " + lastErrorMessage() +
                ")");
    pf::logLine("DB Query: " + std::string(sql));
  }

  isExecutingStatement_ = false;
  return rc == SQLITE_DONE || rc == SQLITE_OK;
}

std::shared_ptr<SqResultSet> SqDatabase::executeQueryWithFormatCore(std::string_view format,
                                                                    std::span<const SqFormatArgument> arguments) {
  std::string sql;
  SqArguments values;
  if (auto error = extractSQL(format, arguments, sql, values)) {
    pf::logLine("Error: " + *error + " (" + std::string(format) + ") (executeQueryWithFormat)");
    return nullptr;
  }
  return executeQueryCore(sql, values, nullptr);
}

bool SqDatabase::executeUpdateWithFormatCore(std::string_view format, std::span<const SqFormatArgument> arguments) {
  std::string sql;
  SqArguments values;
  if (auto error = extractSQL(format, arguments, sql, values)) {
    pf::logLine("Error: " + *error + " (" + std::string(format) + ") (executeUpdateWithFormat)");
    return false;
  }
  return executeUpdateCore(sql, nullptr, values, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Errors and counts

std::string SqDatabase::lastErrorMessage() const { return sqlite3_errmsg(db_); }

int SqDatabase::lastErrorCode() const { return sqlite3_errcode(db_); }

bool SqDatabase::hadError() const {
  const int code = lastErrorCode();
  return code > SQLITE_OK && code < SQLITE_ROW;
}

pf::Error SqDatabase::errorWithMessage(std::string_view message) const {
  return pf::Error(kSqDatabaseErrorDomain, lastErrorCode(),
                   pf::Value{{pf::kLocalizedDescriptionKey, std::string(message)}});
}

pf::Error SqDatabase::lastError() const { return errorWithMessage(lastErrorMessage()); }

std::int64_t SqDatabase::lastInsertRowId() {
  if (isExecutingStatement_) {
    warnInUse();
    return 0;
  }
  if (!db_) return 0;
  isExecutingStatement_ = true;
  const std::int64_t id = sqlite3_last_insert_rowid(db_);
  isExecutingStatement_ = false;
  return id;
}

int SqDatabase::changes() {
  if (isExecutingStatement_) {
    warnInUse();
    return 0;
  }
  if (!db_) return 0;
  isExecutingStatement_ = true;
  const int count = sqlite3_changes(db_);
  isExecutingStatement_ = false;
  return count;
}

void SqDatabase::warnInUse() {
  pf::logLine("The SqDatabase " + description() + " is currently in use.");
  if (crashOnErrors_) crash("The SqDatabase " + description() + " is currently in use.");
}

// ---------------------------------------------------------------------------------------------
// Dates and keys

std::shared_ptr<pf::DateFormatter> SqDatabase::storeableDateFormat(std::string_view pattern) {
  return std::make_shared<pf::DateFormatter>(std::string(pattern), "en_US", "GMT");
}

std::optional<double> SqDatabase::dateFromString(std::string_view text) const {
  if (!dateFormat_) return std::nullopt;
  return dateFormat_->date(text);
}

std::optional<std::string> SqDatabase::stringFromDate(double secondsSince1970) const {
  if (!dateFormat_) return std::nullopt;
  return dateFormat_->string(secondsSince1970);
}

bool SqDatabase::setKey(std::string_view key) { return setKeyWithData(pf::toBytes(key)); }
bool SqDatabase::rekey(std::string_view key) { return rekeyWithData(pf::toBytes(key)); }
bool SqDatabase::setKeyWithData(const pf::Bytes&) { return false; }
bool SqDatabase::rekeyWithData(const pf::Bytes&) { return false; }

}  // namespace kvstore
