// Transactions, savepoints, batches and SQL functions of a connection.
#include <sqlite3.h>

#include <atomic>
#include <exception>

#include "kvstore/SqDatabase.h"
#include "platform/foundation/Log.h"

namespace kvstore {

namespace {

// Numbers the savepoints of SqDatabase::inSavePoint across all connections of the process.
std::atomic<std::int64_t> gDatabaseSavePointCounter{0};

struct BatchContext {
  const SqDatabase::ResultBlock* block;
  std::exception_ptr failure;
};

int batchRowCallback(void* context, int columns, char** values, char** names) {
  auto* batch = static_cast<BatchContext*>(context);
  try {
    SqDictionary row;
    for (int i = 0; i < columns; ++i)
      row.insert_or_assign(names[i] ? names[i] : "", values[i] ? SqValue(values[i]) : SqValue::null());
    return (*batch->block)(row);
  } catch (...) {
    // Never let an exception cross the engine: stop the batch and raise it afterwards.
    batch->failure = std::current_exception();
    return 1;
  }
}

void functionEntryPoint(sqlite3_context* context, int argc, sqlite3_value** argv) {
  auto* block = static_cast<SqDatabase::FunctionBlock*>(sqlite3_user_data(context));
  try {
    (*block)(context, argc, argv);
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  } catch (...) {
    sqlite3_result_error(context, "SQL function failed", -1);
  }
}

}  // namespace

bool SqDatabase::beginTransaction() {
  const bool ok = executeUpdate("begin exclusive transaction");
  if (ok) inTransaction_ = true;
  return ok;
}

bool SqDatabase::beginDeferredTransaction() {
  const bool ok = executeUpdate("begin deferred transaction");
  if (ok) inTransaction_ = true;
  return ok;
}

bool SqDatabase::commit() {
  const bool ok = executeUpdate("commit transaction");
  if (ok) inTransaction_ = false;
  return ok;
}

bool SqDatabase::rollback() {
  const bool ok = executeUpdate("rollback transaction");
  if (ok) inTransaction_ = false;
  return ok;
}

bool SqDatabase::runSavePointStatement(std::string_view format, std::string_view name, pf::Error* outError) {
  std::string escaped;
  escaped.reserve(name.size());
  for (char c : name) {
    escaped.push_back(c);
    if (c == '\'') escaped.push_back('\'');
  }
  std::string sql;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '@') {
      sql += escaped;
      ++i;
    } else {
      sql.push_back(format[i]);
    }
  }
  // Each savepoint has a name of its own: its statements are not worth keeping in the cache.
  if (updateCore(sql, nullptr, {}, nullptr, false)) return true;
  if (outError) *outError = lastError();
  return false;
}

bool SqDatabase::startSavePointWithName(std::string_view name, pf::Error* outError) {
  return runSavePointStatement("savepoint '%@';", name, outError);
}

bool SqDatabase::releaseSavePointWithName(std::string_view name, pf::Error* outError) {
  return runSavePointStatement("release savepoint '%@';", name, outError);
}

bool SqDatabase::rollbackToSavePointWithName(std::string_view name, pf::Error* outError) {
  return runSavePointStatement("rollback transaction to savepoint '%@';", name, outError);
}

std::optional<pf::Error> SqDatabase::inSavePoint(const SavePointBlock& block) {
  const std::string name = "dbSavePoint" + std::to_string(gDatabaseSavePointCounter.fetch_add(1));
  pf::Error error;
  if (!startSavePointWithName(name, &error)) return error;
  bool shouldRollback = false;
  std::optional<pf::Error> result;
  if (block) block(&shouldRollback);
  if (shouldRollback && !rollbackToSavePointWithName(name, &error)) result = error;
  if (!releaseSavePointWithName(name, &error)) result = error;
  return result;
}

bool SqDatabase::executeStatements(std::string_view sql) { return executeStatementsWithResultBlock(sql, nullptr); }

bool SqDatabase::executeStatementsWithResultBlock(std::string_view sql, const ResultBlock& block) {
  if (!databaseExists()) return false;
  const std::string text(sql);
  BatchContext context{&block, nullptr};
  char* errorMessage = nullptr;
  const int rc = sqlite3_exec(db_, text.c_str(), block ? &batchRowCallback : nullptr, block ? &context : nullptr,
                              &errorMessage);
  if (errorMessage) {
    if (logsErrors_) pf::logLine(std::string("Error inserting batch: ") + errorMessage);
    sqlite3_free(errorMessage);
  }
  if (context.failure) std::rethrow_exception(context.failure);
  return rc == SQLITE_OK;
}

void SqDatabase::makeFunctionNamed(std::string_view name, int maximumArguments, FunctionBlock block) {
  if (!db_) return;
  openFunctions_.push_back(std::move(block));
  const std::string functionName(name);
  sqlite3_create_function(db_, functionName.c_str(), maximumArguments, SQLITE_UTF8, &openFunctions_.back(),
                          &functionEntryPoint, nullptr, nullptr);
}

}  // namespace kvstore
