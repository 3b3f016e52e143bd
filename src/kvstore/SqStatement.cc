#include "kvstore/SqStatement.h"

#include <sqlite3.h>

#include <cstdio>

namespace kvstore {

SqStatement::~SqStatement() { close(); }

void SqStatement::close() {
  if (statement_) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
  inUse_ = false;
}

void SqStatement::reset() {
  if (statement_) sqlite3_reset(statement_);
  inUse_ = false;
}

std::string SqStatement::description() const {
  char self[64];
  std::snprintf(self, sizeof self, "<SqStatement: %p>", static_cast<const void*>(this));
  return std::string(self) + " " + std::to_string(useCount_) + " hit(s) for query " + query_;
}

}  // namespace kvstore
