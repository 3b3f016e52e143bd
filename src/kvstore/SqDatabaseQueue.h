#pragma once
// One connection whose every piece of work runs, synchronously, as a block on a serial dispatch
// queue of its own: callers on any thread take turns. Also wraps blocks in transactions and
// savepoints.

#include <memory>
#include <optional>
#include <string>

#include "kvstore/SqDatabase.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace pf {
class DispatchQueue;
}

namespace kvstore {

// SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
inline constexpr int kSqDefaultOpenFlags = 6;

class SqDatabaseQueue : public std::enable_shared_from_this<SqDatabaseQueue> {
  struct Private {};

 public:
  // The connection, or none when it could not be reopened.
  using Block = std::function<void(SqDatabase* db)>;
  using TransactionBlock = std::function<void(SqDatabase* db, bool* rollback)>;

  // A queue on an opened connection (nullopt path: in memory), or none with the log line
  // "Could not create database queue for path %@" when the connection does not open.
  static std::shared_ptr<SqDatabaseQueue> databaseQueueWithPath(std::optional<std::string> path,
                                                                int flags = kSqDefaultOpenFlags);
  SqDatabaseQueue(Private, std::optional<std::string> path, int flags, std::shared_ptr<SqDatabase> db);
  ~SqDatabaseQueue();
  SqDatabaseQueue(const SqDatabaseQueue&) = delete;
  SqDatabaseQueue& operator=(const SqDatabaseQueue&) = delete;

  // Runs the block with the connection. Calling it from a block of the same queue is a fatal
  // programming error. Result sets left open by the block are reported with their queries.
  void inDatabase(const Block& block);
  // Runs the block inside an exclusive (inTransaction) or deferred transaction, then commits, or
  // rolls back when the block set *rollback. A transaction that cannot begin runs no block; one
  // that cannot commit is rolled back. Answers whether the transaction ended as the block asked.
  bool inTransaction(const TransactionBlock& block) { return beginTransaction(false, block); }
  bool inDeferredTransaction(const TransactionBlock& block) { return beginTransaction(true, block); }
  // Runs the block inside a savepoint named savePoint<n>; the block runs only when the savepoint
  // started. Answers the error of the last savepoint statement that failed.
  std::optional<pf::Error> inSavePoint(const TransactionBlock& block);
  // Closes the connection; the next block reopens it.
  void close();

  std::optional<std::string> path() const;
  void setPath(std::optional<std::string> path);
  int openFlags() const { return openFlags_; }
  // "<SqDatabaseQueue: 0x...>"
  std::string description() const;

 private:
  bool beginTransaction(bool deferred, const TransactionBlock& block);
  // The connection, reopened when it was closed; none (and a log line) when that fails.
  SqDatabase* database();

  mutable pf::Mutex pathMutex_;
  std::optional<std::string> path_ PF_GUARDED_BY(pathMutex_);
  std::shared_ptr<pf::DispatchQueue> queue_;
  std::shared_ptr<SqDatabase> db_;
  int openFlags_;
};

}  // namespace kvstore
