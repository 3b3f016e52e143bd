#include "kvstore/SqDatabasePool.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"

namespace kvstore {

namespace {

// Numbers the savepoints of every pool's inSavePoint.
std::atomic<std::int64_t> gPoolSavePointCounter{0};

std::string describePath(const std::optional<std::string>& path) { return path ? *path : std::string("(null)"); }

void removeFrom(std::vector<std::shared_ptr<SqDatabase>>& list, const std::shared_ptr<SqDatabase>& db) {
  list.erase(std::remove(list.begin(), list.end(), db), list.end());
}

// Gives the connection back to its pool when the work ends, however it ends.
class CheckedOut {
 public:
  CheckedOut(SqDatabasePool& pool) : pool_(pool), db_(pool.db()) {}
  ~CheckedOut() {
    if (!db_) return;
    try {
      pool_.pushDatabaseBackInPool(db_);
    } catch (const pf::Exception& e) {
      pf::logLine(e.name() + ": " + e.reason());  // the block gave it back itself
    }
  }
  CheckedOut(const CheckedOut&) = delete;
  CheckedOut& operator=(const CheckedOut&) = delete;
  SqDatabase* get() const { return db_.get(); }

 private:
  SqDatabasePool& pool_;
  std::shared_ptr<SqDatabase> db_;
};

}  // namespace

std::shared_ptr<SqDatabasePool> SqDatabasePool::databasePoolWithPath(std::optional<std::string> path, int flags) {
  return std::make_shared<SqDatabasePool>(Private{}, std::move(path), flags);
}

SqDatabasePool::SqDatabasePool(Private, std::optional<std::string> path, int flags)
    : path_(std::move(path)), openFlags_(flags) {
  lockQueue_ = pf::DispatchQueue::makeSerial("sqdb." + description());
}

SqDatabasePool::~SqDatabasePool() = default;

std::string SqDatabasePool::description() const {
  char text[64];
  std::snprintf(text, sizeof text, "<SqDatabasePool: %p>", static_cast<const void*>(this));
  return text;
}

std::optional<std::string> SqDatabasePool::path() const {
  pf::MutexLock lock(pathMutex_);
  return path_;
}

void SqDatabasePool::setPath(std::optional<std::string> path) {
  pf::MutexLock lock(pathMutex_);
  path_ = std::move(path);
}

void SqDatabasePool::executeLocked(const std::function<void()>& block) { lockQueue_->sync(block); }

std::shared_ptr<SqDatabase> SqDatabasePool::db() {
  std::shared_ptr<SqDatabase> result;
  executeLocked([&] {
    std::shared_ptr<SqDatabase> db;
    bool isNew = false;
    if (!databaseInPool_.empty()) {
      db = databaseInPool_.back();
      databaseInPool_.pop_back();
      databaseOutPool_.push_back(db);
    } else {
      const std::uint64_t open = databaseInPool_.size() + databaseOutPool_.size();
      const std::uint64_t limit = maximumNumberOfDatabasesToCreate_;
      if (limit != 0 && open >= limit) {
        pf::logLine("Maximum number of databases (" + std::to_string(open) + ") has already been reached!");
        return;
      }
      db = SqDatabase::databaseWithPath(path());
      isNew = true;
    }
    if (!db->openWithFlags(openFlags_)) {
      pf::logLine("Could not open up the database at path " + describePath(path()));
      // The connection leaves the pool rather than staying handed out with nobody holding it.
      removeFrom(databaseOutPool_, db);
      db->close();
      return;
    }
    auto delegate = delegate_.lock();
    if (delegate) {
      auto should = delegate->databasePoolShouldAddDatabaseToPool(*this, *db);
      if (should && !*should) {
        db->close();
        removeFrom(databaseOutPool_, db);
        return;
      }
    }
    if (std::find(databaseOutPool_.begin(), databaseOutPool_.end(), db) == databaseOutPool_.end())
      databaseOutPool_.push_back(db);
    if (isNew && delegate) delegate->databasePoolDidAddDatabase(*this, *db);
    result = std::move(db);
  });
  return result;
}

void SqDatabasePool::pushDatabaseBackInPool(const std::shared_ptr<SqDatabase>& db) {
  if (!db) return;
  bool alreadyIn = false;
  executeLocked([&] {
    if (std::find(databaseInPool_.begin(), databaseInPool_.end(), db) != databaseInPool_.end()) {
      alreadyIn = true;
      return;
    }
    databaseInPool_.push_back(db);
    removeFrom(databaseOutPool_, db);
  });
  if (alreadyIn)
    throw pf::Exception("Database already in pool",
                        "The SqDatabase being put back into the pool is already present in the pool");
}

std::uint64_t SqDatabasePool::countOfCheckedInDatabases() {
  std::uint64_t count = 0;
  executeLocked([&] { count = databaseInPool_.size(); });
  return count;
}

std::uint64_t SqDatabasePool::countOfCheckedOutDatabases() {
  std::uint64_t count = 0;
  executeLocked([&] { count = databaseOutPool_.size(); });
  return count;
}

std::uint64_t SqDatabasePool::countOfOpenDatabases() {
  std::uint64_t count = 0;
  executeLocked([&] { count = databaseInPool_.size() + databaseOutPool_.size(); });
  return count;
}

void SqDatabasePool::releaseAllDatabases() {
  executeLocked([&] {
    databaseOutPool_.clear();
    databaseInPool_.clear();
  });
}

void SqDatabasePool::inDatabase(const Block& block) {
  CheckedOut db(*this);
  block(db.get());
}

bool SqDatabasePool::beginTransaction(bool deferred, const TransactionBlock& block) {
  CheckedOut checkedOut(*this);
  SqDatabase* db = checkedOut.get();
  if (!db) return false;
  const bool began = deferred ? db->beginDeferredTransaction() : db->beginTransaction();
  if (!began) {
    pf::logLine("SqDatabasePool could not begin a transaction (" + std::to_string(db->lastErrorCode()) + ": " +
                db->lastErrorMessage() + "); the block was not run");
    return false;
  }
  bool shouldRollback = false;
  try {
    block(db, &shouldRollback);
  } catch (...) {
    db->rollback();
    throw;
  }
  if (shouldRollback) return db->rollback();
  if (db->commit()) return true;
  pf::logLine("SqDatabasePool could not commit the transaction (" + std::to_string(db->lastErrorCode()) + ": " +
              db->lastErrorMessage() + "); rolling it back");
  db->rollback();
  return false;
}

std::optional<pf::Error> SqDatabasePool::inSavePoint(const TransactionBlock& block) {
  const std::string name = "savePoint" + std::to_string(gPoolSavePointCounter.fetch_add(1));
  CheckedOut checkedOut(*this);
  SqDatabase* db = checkedOut.get();
  if (!db)
    return pf::Error(kSqDatabaseErrorDomain, 14,
                     pf::Value{{pf::kLocalizedDescriptionKey,
                                "No connection of the pool for path " + describePath(path()) + " could be had"}});
  pf::Error error;
  if (!db->startSavePointWithName(name, &error)) return error;
  bool shouldRollback = false;
  std::optional<pf::Error> result;
  try {
    block(db, &shouldRollback);
  } catch (...) {
    db->rollbackToSavePointWithName(name, nullptr);
    db->releaseSavePointWithName(name, nullptr);
    throw;
  }
  if (shouldRollback && !db->rollbackToSavePointWithName(name, &error)) result = error;
  if (!db->releaseSavePointWithName(name, &error)) result = error;
  return result;
}

}  // namespace kvstore
