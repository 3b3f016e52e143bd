// One-line questions of a connection: single values, tables, columns, schema, file header.
#include <sqlite3.h>

#include "kvstore/SqDatabase.h"
#include "kvstore/SqResultSet.h"
#include "kvstore/SqText.h"

namespace kvstore {

std::shared_ptr<SqResultSet> SqDatabase::firstRowForQuery(std::string_view sql, std::span<const SqValue> values) {
  auto rs = executeQueryCore(sql, values, nullptr);
  if (!rs || !rs->next()) return nullptr;
  return rs;
}

void SqDatabase::finishSingleValue(SqResultSet& rs) {
  rs.close();
  rs.setParentDB(nullptr);
}

std::optional<std::string> SqDatabase::stringColumn0(SqResultSet& rs) { return rs.stringForColumnIndex(0); }
int SqDatabase::intColumn0(SqResultSet& rs) { return rs.intForColumnIndex(0); }
std::int64_t SqDatabase::longColumn0(SqResultSet& rs) { return rs.longForColumnIndex(0); }
bool SqDatabase::boolColumn0(SqResultSet& rs) { return rs.boolForColumnIndex(0); }
double SqDatabase::doubleColumn0(SqResultSet& rs) { return rs.doubleForColumnIndex(0); }
std::optional<pf::Bytes> SqDatabase::dataColumn0(SqResultSet& rs) { return rs.dataForColumnIndex(0); }
std::optional<double> SqDatabase::dateColumn0(SqResultSet& rs) { return rs.dateForColumnIndex(0); }

bool SqDatabase::tableExists(std::string_view tableName) {
  // The engine's lower() folds A-Z only; the name is folded the same way.
  auto rs = executeQuery("select [sql] from sqlite_master where [type] = 'table' and lower(name) = ?",
                         sqAsciiLowercase(tableName));
  if (!rs) return false;
  const bool found = rs->next();
  rs->close();
  return found;
}

std::shared_ptr<SqResultSet> SqDatabase::getSchema() {
  return executeQuery(
      "SELECT type, name, tbl_name, rootpage, sql FROM (SELECT * FROM sqlite_master UNION ALL SELECT * FROM "
      "sqlite_temp_master) WHERE type != 'meta' AND name NOT LIKE 'sqlite_%' ORDER BY tbl_name, type DESC, name");
}

std::shared_ptr<SqResultSet> SqDatabase::getTableSchema(std::string_view tableName) {
  // The name is written as a literal with its quotes doubled, so that any name stays one literal.
  return executeQuery("pragma table_info(" + sqQuoted(tableName, '\'') + ")");
}

bool SqDatabase::columnExists(std::string_view columnName, std::string_view tableName) {
  const std::string column = sqAsciiLowercase(columnName);
  auto rs = getTableSchema(sqAsciiLowercase(tableName));
  if (!rs) return false;
  bool found = false;
  while (rs->next()) {
    auto name = rs->stringForColumn("name");
    if (name && sqAsciiLowercase(*name) == column) {
      found = true;
      break;
    }
  }
  rs->close();
  return found;
}

bool SqDatabase::columnExistsColumnName(std::string_view tableName, std::string_view columnName) {
  return columnExists(columnName, tableName);
}

std::uint32_t SqDatabase::applicationID() {
  std::uint32_t value = 0;
  if (auto rs = executeQuery("pragma application_id")) {
    if (rs->next()) value = static_cast<std::uint32_t>(rs->longLongIntForColumnIndex(0));
    rs->close();
  }
  return value;
}

void SqDatabase::setApplicationID(std::uint32_t appID) {
  if (auto rs = executeQuery("pragma application_id=" + std::to_string(static_cast<std::int32_t>(appID)))) {
    rs->next();
    rs->close();
  }
}

std::uint32_t SqDatabase::userVersion() {
  std::uint32_t value = 0;
  if (auto rs = executeQuery("pragma user_version")) {
    if (rs->next()) value = static_cast<std::uint32_t>(rs->longLongIntForColumnIndex(0));
    rs->close();
  }
  return value;
}

void SqDatabase::setUserVersion(std::uint32_t version) {
  if (auto rs = executeQuery("pragma user_version = " + std::to_string(static_cast<std::int32_t>(version)))) {
    rs->next();
    rs->close();
  }
}

bool SqDatabase::validateSQL(std::string_view sql, pf::Error* outError) {
  if (!db_) {
    if (outError)
      *outError = pf::Error(kSqGeneralErrorDomain, SQLITE_MISUSE,
                            pf::Value{{pf::kLocalizedDescriptionKey, "The SqDatabase " + description() + " is not open."}});
    return false;
  }
  sqlite3_stmt* statement = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  if (rc != SQLITE_OK && outError)
    *outError = pf::Error(kSqGeneralErrorDomain, lastErrorCode(),
                          pf::Value{{pf::kLocalizedDescriptionKey, lastErrorMessage()}});
  sqlite3_finalize(statement);
  return rc == SQLITE_OK;
}

}  // namespace kvstore
