#pragma once
// One prepared statement of a connection, kept in the connection's cache or held by a result set.

#include <cstdint>
#include <string>

struct sqlite3_stmt;

namespace kvstore {

class SqStatement {
 public:
  // Takes ownership of the handle (may be null).
  explicit SqStatement(sqlite3_stmt* statement = nullptr, std::string query = {})
      : statement_(statement), query_(std::move(query)) {}
  ~SqStatement();
  SqStatement(const SqStatement&) = delete;
  SqStatement& operator=(const SqStatement&) = delete;

  sqlite3_stmt* statement() const { return statement_; }
  void setStatement(sqlite3_stmt* statement) { statement_ = statement; }
  const std::string& query() const { return query_; }
  void setQuery(std::string query) { query_ = std::move(query); }
  std::int64_t useCount() const { return useCount_; }
  void setUseCount(std::int64_t count) { useCount_ = count; }
  bool inUse() const { return inUse_; }
  void setInUse(bool inUse) { inUse_ = inUse; }

  // Finalizes the handle when there is one, forgets it and clears the in-use mark.
  void close();
  // Resets the handle when there is one (bindings stay) and clears the in-use mark.
  void reset();

  // "<SqStatement: 0x...> 3 hit(s) for query select 1"
  std::string description() const;

 private:
  sqlite3_stmt* statement_ = nullptr;
  std::string query_;
  std::int64_t useCount_ = 0;
  bool inUse_ = false;
};

}  // namespace kvstore
