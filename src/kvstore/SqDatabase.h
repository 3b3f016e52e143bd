#pragma once
// One connection of the SQLite engine to a database file or a private in-memory database:
// opening and closing, a bounded busy handler, prepared statements with an optional cache,
// value binding, queries (result sets) and updates, transactions and savepoints, batches, SQL
// functions and one-line questions (single values, tables, columns, schema, file header).
//
// A connection is used by one thread at a time (in this system inside the serial queue of an
// SqDatabaseQueue). Failures are answered by NO / none / 0 and described in log lines; the
// engine's last error stays readable through lastError(), lastErrorCode(), lastErrorMessage().

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "kvstore/SqFormat.h"
#include "kvstore/SqValue.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Error.h"

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_context;
struct sqlite3_value;

namespace kvstore {

class SqResultSet;
class SqStatement;

inline constexpr const char* kSqDatabaseErrorDomain = "SqDatabase";
// The platform's general error domain (used by validateSQL only).
inline constexpr const char* kSqGeneralErrorDomain = "NSCocoaErrorDomain";

class SqDatabase : public std::enable_shared_from_this<SqDatabase> {
  struct Private {};

 public:
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  using StatementCache =
      std::unordered_map<std::string, std::vector<std::shared_ptr<SqStatement>>, TextHash, std::equal_to<>>;
  // A row of a batch: column name to its text, or the null object.
  using ResultBlock = std::function<int(const SqDictionary& row)>;
  // An SQL function: sets its result through the engine's sqlite3_result_* calls.
  using FunctionBlock = std::function<void(sqlite3_context* context, int argc, sqlite3_value** argv)>;
  using SavePointBlock = std::function<void(bool* rollback)>;

  // A connection for the path (nullopt: private in-memory database; "": the engine's private
  // temporary database). Not opened yet.
  static std::shared_ptr<SqDatabase> databaseWithPath(std::optional<std::string> path);
  SqDatabase(Private, std::optional<std::string> path);
  ~SqDatabase();
  SqDatabase(const SqDatabase&) = delete;
  SqDatabase& operator=(const SqDatabase&) = delete;

  static std::string SqDBUserVersion();  // "2.3"
  static int SqDBVersion();              // 0x230
  static std::string sqliteLibVersion();
  static bool isSQLiteThreadSafe();

  // "<SqDatabase: 0x...>"
  std::string description() const;

  // ---- Opening and closing
  std::string sqlitePath() const;
  bool open();
  bool openWithFlags(int flags);
  bool close();  // always true
  bool goodConnection();
  bool databaseExists();  // logs "The SqDatabase %@ is not open." when closed
  sqlite3* sqliteHandle() const { return db_; }
  const std::optional<std::string>& databasePath() const { return databasePath_; }

  // ---- Busy handling: retry for up to the interval, 50 ms apart, measured on the monotonic clock.
  void setMaxBusyRetryTimeInterval(double seconds);
  double maxBusyRetryTimeInterval() const { return maxBusyRetryTimeInterval_; }
  int busyRetryTimeout();               // logs that it no longer works; -1
  void setBusyRetryTimeout(int value);  // logs that it does nothing

  bool traceExecution() const { return traceExecution_; }
  void setTraceExecution(bool on) { traceExecution_ = on; }
  bool checkedOut() const { return checkedOut_; }
  void setCheckedOut(bool on) { checkedOut_ = on; }
  bool crashOnErrors() const { return crashOnErrors_; }
  void setCrashOnErrors(bool on) { crashOnErrors_ = on; }
  bool logsErrors() const { return logsErrors_; }
  void setLogsErrors(bool on) { logsErrors_ = on; }

  // ---- Result sets and the statement cache
  bool hasOpenResultSets() const { return !openResultSets_.empty(); }
  // The open result sets, oldest first (not kept alive by the connection).
  std::vector<SqResultSet*> openResultSets() const { return openResultSets_; }
  void closeOpenResultSets();
  void resultSetDidClose(SqResultSet* resultSet);
  bool shouldCacheStatements() const { return static_cast<bool>(cachedStatements_); }
  void setShouldCacheStatements(bool on);
  const StatementCache* cachedStatements() const { return cachedStatements_.get(); }
  std::shared_ptr<SqStatement> cachedStatementForQuery(std::string_view sql);
  void setCachedStatement(const std::shared_ptr<SqStatement>& statement, std::string_view sql);
  void clearCachedStatements();

  // ---- Queries: a result set, or none on failure.
  template <class... Args>
  std::shared_ptr<SqResultSet> executeQuery(std::string_view sql, const Args&... args) {
    const SqValue values[] = {detail::argument(args)..., SqValue()};
    return executeQueryCore(sql, std::span<const SqValue>(values, sizeof...(Args)), nullptr);
  }
  std::shared_ptr<SqResultSet> executeQueryWithArgumentsInArray(std::string_view sql, std::span<const SqValue> array) {
    return executeQueryCore(sql, array, nullptr);
  }
  std::shared_ptr<SqResultSet> executeQueryWithParameterDictionary(std::string_view sql, const SqDictionary& dictionary) {
    return executeQueryCore(sql, {}, &dictionary);
  }
  template <class... Args>
  std::shared_ptr<SqResultSet> executeQueryWithFormat(SqFormatString<std::type_identity_t<const Args&>...> format,
                                                      const Args&... args) {
    const SqFormatArgument erased[] = {sqFormatArgument(args)..., SqFormatArgument{}};
    return executeQueryWithFormatCore(format.text(), std::span<const SqFormatArgument>(erased, sizeof...(Args)));
  }
  // The query core: positional values from the array, or named ones (":key") from the dictionary.
  std::shared_ptr<SqResultSet> executeQueryCore(std::string_view sql, std::span<const SqValue> array,
                                                const SqDictionary* dictionary);

  // ---- Updates: true when the statement ran to its end.
  template <class... Args>
  bool executeUpdate(std::string_view sql, const Args&... args) {
    const SqValue values[] = {detail::argument(args)..., SqValue()};
    return executeUpdateCore(sql, nullptr, std::span<const SqValue>(values, sizeof...(Args)), nullptr);
  }
  bool executeUpdateWithArgumentsInArray(std::string_view sql, std::span<const SqValue> array) {
    return executeUpdateCore(sql, nullptr, array, nullptr);
  }
  bool executeUpdateWithParameterDictionary(std::string_view sql, const SqDictionary& dictionary) {
    return executeUpdateCore(sql, nullptr, {}, &dictionary);
  }
  template <class... Args>
  bool executeUpdateWithFormat(SqFormatString<std::type_identity_t<const Args&>...> format, const Args&... args) {
    const SqFormatArgument erased[] = {sqFormatArgument(args)..., SqFormatArgument{}};
    return executeUpdateWithFormatCore(format.text(), std::span<const SqFormatArgument>(erased, sizeof...(Args)));
  }
  // The error receives the preparation failure (domain "SqDatabase"); step errors stay readable
  // through lastError().
  template <class... Args>
  bool executeUpdateWithErrorAndBindings(std::string_view sql, pf::Error* outError, const Args&... args) {
    const SqValue values[] = {detail::argument(args)..., SqValue()};
    return executeUpdateCore(sql, outError, std::span<const SqValue>(values, sizeof...(Args)), nullptr);
  }
  template <class... Args>
  bool update(std::string_view sql, pf::Error* outError, const Args&... args) {
    return executeUpdateWithErrorAndBindings(sql, outError, args...);
  }
  // The update core. An update whose statement yields a row raises pf::Exception
  // (internal inconsistency); the connection stays usable.
  bool executeUpdateCore(std::string_view sql, pf::Error* outError, std::span<const SqValue> array,
                         const SqDictionary* dictionary) {
    return updateCore(sql, outError, array, dictionary, true);
  }

  // Binds one value at a 1-based parameter index. Without copy the engine reads text and bytes
  // from the caller's storage until the statement is stepped or reset.
  void bindObject(const SqValue& value, int column, sqlite3_stmt* statement, bool copy = false);
  // Format extraction: the SQL with "?" for each conversion, and the values to bind. Answers an
  // explanation when the arguments do not fit the format.
  static std::optional<std::string> extractSQL(std::string_view format, std::span<const SqFormatArgument> arguments,
                                               std::string& sql, SqArguments& values) {
    return extractSqFormat(format, arguments, sql, values);
  }

  // ---- Errors and counts
  std::string lastErrorMessage() const;
  int lastErrorCode() const;
  bool hadError() const;
  pf::Error errorWithMessage(std::string_view message) const;
  pf::Error lastError() const;
  std::int64_t lastInsertRowId();
  int changes();
  void warnInUse();

  // ---- Dates: with a formatter installed dates bind and read as its text, otherwise as seconds.
  static std::shared_ptr<pf::DateFormatter> storeableDateFormat(std::string_view pattern);
  void setDateFormat(std::shared_ptr<pf::DateFormatter> format) { dateFormat_ = std::move(format); }
  bool hasDateFormatter() const { return static_cast<bool>(dateFormat_); }
  std::optional<double> dateFromString(std::string_view text) const;
  std::optional<std::string> stringFromDate(double secondsSince1970) const;

  // ---- Keys: the connection has no encryption; all answer false.
  bool setKey(std::string_view key);
  bool rekey(std::string_view key);
  bool setKeyWithData(const pf::Bytes& key);
  bool rekeyWithData(const pf::Bytes& key);

  // ---- One-line questions
  template <class... Args>
  std::optional<std::string> stringForQuery(std::string_view sql, const Args&... args) {
    return singleValue<std::optional<std::string>>(sql, &SqDatabase::stringColumn0, args...);
  }
  template <class... Args>
  int intForQuery(std::string_view sql, const Args&... args) {
    return singleValue<int>(sql, &SqDatabase::intColumn0, args...);
  }
  template <class... Args>
  std::int64_t longForQuery(std::string_view sql, const Args&... args) {
    return singleValue<std::int64_t>(sql, &SqDatabase::longColumn0, args...);
  }
  template <class... Args>
  bool boolForQuery(std::string_view sql, const Args&... args) {
    return singleValue<bool>(sql, &SqDatabase::boolColumn0, args...);
  }
  template <class... Args>
  double doubleForQuery(std::string_view sql, const Args&... args) {
    return singleValue<double>(sql, &SqDatabase::doubleColumn0, args...);
  }
  template <class... Args>
  std::optional<pf::Bytes> dataForQuery(std::string_view sql, const Args&... args) {
    return singleValue<std::optional<pf::Bytes>>(sql, &SqDatabase::dataColumn0, args...);
  }
  template <class... Args>
  std::optional<double> dateForQuery(std::string_view sql, const Args&... args) {
    return singleValue<std::optional<double>>(sql, &SqDatabase::dateColumn0, args...);
  }
  bool tableExists(std::string_view tableName);
  std::shared_ptr<SqResultSet> getSchema();
  std::shared_ptr<SqResultSet> getTableSchema(std::string_view tableName);
  bool columnExists(std::string_view columnName, std::string_view tableName);
  // The same question with the arguments in the older order.
  bool columnExistsColumnName(std::string_view tableName, std::string_view columnName);
  std::uint32_t applicationID();
  void setApplicationID(std::uint32_t appID);
  std::uint32_t userVersion();
  void setUserVersion(std::uint32_t version);
  bool validateSQL(std::string_view sql, pf::Error* outError);

  // ---- Transactions, savepoints, batches, functions
  bool beginTransaction();
  bool beginDeferredTransaction();
  bool commit();
  bool rollback();
  bool inTransaction() const { return inTransaction_; }
  bool startSavePointWithName(std::string_view name, pf::Error* outError);
  bool releaseSavePointWithName(std::string_view name, pf::Error* outError);
  bool rollbackToSavePointWithName(std::string_view name, pf::Error* outError);
  // Runs the block inside a savepoint named dbSavePoint<n>; rolls back to it when the block sets
  // *rollback. Answers the error of the last savepoint statement that failed.
  std::optional<pf::Error> inSavePoint(const SavePointBlock& block);
  bool executeStatements(std::string_view sql);
  bool executeStatementsWithResultBlock(std::string_view sql, const ResultBlock& block);
  void makeFunctionNamed(std::string_view name, int maximumArguments, FunctionBlock block);

 private:
  friend class SqResultSet;
  static int busyHandler(void* context, int count);
  bool openCore(std::optional<int> flags);

  std::shared_ptr<SqResultSet> executeQueryWithFormatCore(std::string_view format,
                                                          std::span<const SqFormatArgument> arguments);
  bool executeUpdateWithFormatCore(std::string_view format, std::span<const SqFormatArgument> arguments);
  // Binds positionally or by name; answers the number of values bound.
  int bindArguments(sqlite3_stmt* statement, std::span<const SqValue> array, const SqDictionary* dictionary,
                    bool copy);
  void logPrepareError(std::string_view sql);
  // The cached statement for the SQL (reset), or a newly prepared one; nullptr after a failed
  // prepare (logged, and described in outError when given).
  sqlite3_stmt* acquireStatement(std::string_view sql, std::shared_ptr<SqStatement>& cached, pf::Error* outError,
                                 bool mayCache = true);
  [[noreturn]] void crash(const std::string& text);
  void releaseStatement(sqlite3_stmt* statement, const std::shared_ptr<SqStatement>& cached);
  bool runSavePointStatement(std::string_view format, std::string_view name, pf::Error* outError);
  // The update core; with `mayCache` false the statement neither comes from the cache nor goes
  // into it (texts that are run once, such as those naming a savepoint).
  bool updateCore(std::string_view sql, pf::Error* outError, std::span<const SqValue> array,
                  const SqDictionary* dictionary, bool mayCache);

  template <class R, class... Args>
  R singleValue(std::string_view sql, R (*read)(SqResultSet&), const Args&... args) {
    const SqValue values[] = {detail::argument(args)..., SqValue()};
    return singleValueCore<R>(sql, std::span<const SqValue>(values, sizeof...(Args)), read);
  }
  template <class R>
  R singleValueCore(std::string_view sql, std::span<const SqValue> values, R (*read)(SqResultSet&)) {
    std::shared_ptr<SqResultSet> rs = firstRowForQuery(sql, values);
    if (!rs) return R{};
    R value = read(*rs);
    finishSingleValue(*rs);
    return value;
  }
  // The result set standing on the query's first row, or none (no row, or the query failed).
  std::shared_ptr<SqResultSet> firstRowForQuery(std::string_view sql, std::span<const SqValue> values);
  static void finishSingleValue(SqResultSet& rs);
  static std::optional<std::string> stringColumn0(SqResultSet& rs);
  static int intColumn0(SqResultSet& rs);
  static std::int64_t longColumn0(SqResultSet& rs);
  static bool boolColumn0(SqResultSet& rs);
  static double doubleColumn0(SqResultSet& rs);
  static std::optional<pf::Bytes> dataColumn0(SqResultSet& rs);
  static std::optional<double> dateColumn0(SqResultSet& rs);

  sqlite3* db_ = nullptr;
  std::optional<std::string> databasePath_;
  bool logsErrors_ = true;
  bool crashOnErrors_ = false;
  bool traceExecution_ = false;
  bool checkedOut_ = false;
  bool isExecutingStatement_ = false;
  bool inTransaction_ = false;
  double maxBusyRetryTimeInterval_ = 2.0;
  double startBusyRetryTime_ = 0;  // monotonic seconds
  std::unique_ptr<StatementCache> cachedStatements_;
  std::vector<SqResultSet*> openResultSets_;
  std::list<FunctionBlock> openFunctions_;
  std::shared_ptr<pf::DateFormatter> dateFormat_;
};

}  // namespace kvstore
