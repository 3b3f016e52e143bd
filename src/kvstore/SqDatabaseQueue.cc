#include "kvstore/SqDatabaseQueue.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "kvstore/SqResultSet.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"

namespace kvstore {

namespace {

// The key of the queue-specific mark; its value is the SqDatabaseQueue itself (not owned).
const char kQueueSpecificKey = 0;

// Numbers the savepoints of every queue's inSavePoint.
std::atomic<std::int64_t> gQueueSavePointCounter{0};

std::string describePath(const std::optional<std::string>& path) { return path ? *path : std::string("(null)"); }

}  // namespace

std::shared_ptr<SqDatabaseQueue> SqDatabaseQueue::databaseQueueWithPath(std::optional<std::string> path, int flags) {
  auto db = SqDatabase::databaseWithPath(path);
  if (!db->openWithFlags(flags)) {
    pf::logLine("Could not create database queue for path " + describePath(path));
    return nullptr;
  }
  return std::make_shared<SqDatabaseQueue>(Private{}, std::move(path), flags, std::move(db));
}

SqDatabaseQueue::SqDatabaseQueue(Private, std::optional<std::string> path, int flags, std::shared_ptr<SqDatabase> db)
    : path_(std::move(path)), db_(std::move(db)), openFlags_(flags) {
  queue_ = pf::DispatchQueue::makeSerial("sqdb." + description());
  // An aliasing pointer with no owner: the mark neither keeps this queue alive nor releases it.
  queue_->setSpecific(&kQueueSpecificKey, std::shared_ptr<void>(std::shared_ptr<void>(), this));
}

SqDatabaseQueue::~SqDatabaseQueue() = default;

std::string SqDatabaseQueue::description() const {
  char text[64];
  std::snprintf(text, sizeof text, "<SqDatabaseQueue: %p>", static_cast<const void*>(this));
  return text;
}

std::optional<std::string> SqDatabaseQueue::path() const {
  pf::MutexLock lock(pathMutex_);
  return path_;
}

void SqDatabaseQueue::setPath(std::optional<std::string> path) {
  pf::MutexLock lock(pathMutex_);
  path_ = std::move(path);
}

SqDatabase* SqDatabaseQueue::database() {
  if (!db_) {
    auto path = this->path();
    auto db = SqDatabase::databaseWithPath(path);
    if (!db->openWithFlags(openFlags_)) {
      pf::logLine("SqDatabaseQueue could not reopen database for path " + describePath(path));
      return nullptr;
    }
    db_ = std::move(db);
  }
  return db_.get();
}

void SqDatabaseQueue::inDatabase(const Block& block) {
  if (pf::DispatchQueue::currentSpecific(&kQueueSpecificKey).get() == this) {
    const char* text = "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock";
    pf::logLine(text);
    std::fprintf(stderr, "%s\n", text);
    std::abort();
  }
  std::exception_ptr failure;
  queue_->sync([&] {
    SqDatabase* db = database();
    try {
      block(db);
    } catch (...) {
      failure = std::current_exception();
    }
    if (db && db->hasOpenResultSets()) {
      pf::logLine("Warning: there is at least one open result set around after performing [SqDatabaseQueue inDatabase:]");
      for (SqResultSet* rs : db->openResultSets()) pf::logLine("query: '" + rs->query() + "'");
    }
  });
  if (failure) std::rethrow_exception(failure);
}

bool SqDatabaseQueue::beginTransaction(bool deferred, const TransactionBlock& block) {
  bool ended = false;
  std::exception_ptr failure;
  queue_->sync([&] {
    SqDatabase* db = database();
    if (!db) return;
    const bool began = deferred ? db->beginDeferredTransaction() : db->beginTransaction();
    if (!began) {
      pf::logLine("SqDatabaseQueue could not begin a transaction (" + std::to_string(db->lastErrorCode()) + ": " +
                  db->lastErrorMessage() + "); the block was not run");
      return;
    }
    bool shouldRollback = false;
    try {
      block(db, &shouldRollback);
    } catch (...) {
      failure = std::current_exception();
      shouldRollback = true;
    }
    if (shouldRollback) {
      ended = db->rollback();
    } else if (db->commit()) {
      ended = true;
    } else {
      pf::logLine("SqDatabaseQueue could not commit the transaction (" + std::to_string(db->lastErrorCode()) + ": " +
                  db->lastErrorMessage() + "); rolling it back");
      db->rollback();
    }
  });
  if (failure) std::rethrow_exception(failure);
  return ended && !failure;
}

std::optional<pf::Error> SqDatabaseQueue::inSavePoint(const TransactionBlock& block) {
  std::optional<pf::Error> result;
  std::exception_ptr failure;
  queue_->sync([&] {
    const std::string name = "savePoint" + std::to_string(gQueueSavePointCounter.fetch_add(1));
    SqDatabase* db = database();
    if (!db) {
      result = pf::Error(kSqDatabaseErrorDomain, 14,
                         pf::Value{{pf::kLocalizedDescriptionKey,
                                    "SqDatabaseQueue could not reopen database for path " + describePath(path())}});
      return;
    }
    pf::Error error;
    if (!db->startSavePointWithName(name, &error)) {
      result = error;
      return;
    }
    bool shouldRollback = false;
    try {
      block(db, &shouldRollback);
    } catch (...) {
      failure = std::current_exception();
      shouldRollback = true;
    }
    if (shouldRollback && !db->rollbackToSavePointWithName(name, &error)) result = error;
    if (!db->releaseSavePointWithName(name, &error)) result = error;
  });
  if (failure) std::rethrow_exception(failure);
  return result;
}

void SqDatabaseQueue::close() {
  queue_->sync([&] {
    if (db_) db_->close();
    db_.reset();
  });
}

}  // namespace kvstore
