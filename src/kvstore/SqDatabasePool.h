#pragma once
// A set of connections to one file: each piece of work takes an idle connection (or opens a new
// one, up to an optional limit), runs on the caller's thread and gives the connection back.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kvstore/SqDatabase.h"
#include "kvstore/SqDatabaseQueue.h"

namespace pf {
class DispatchQueue;
}

namespace kvstore {

class SqDatabasePool;

// Optional decisions and notices of a pool; both run on the pool's lock queue.
class SqDatabasePoolDelegate {
 public:
  virtual ~SqDatabasePoolDelegate() = default;
  // Whether a connection just opened may be handed out; nullopt: no opinion (it may).
  virtual std::optional<bool> databasePoolShouldAddDatabaseToPool(SqDatabasePool& pool, SqDatabase& db) {
    return std::nullopt;
  }
  // A new connection joined the pool.
  virtual void databasePoolDidAddDatabase(SqDatabasePool& pool, SqDatabase& db) {}
};

class SqDatabasePool : public std::enable_shared_from_this<SqDatabasePool> {
  struct Private {};

 public:
  using Block = SqDatabaseQueue::Block;
  using TransactionBlock = SqDatabaseQueue::TransactionBlock;

  static std::shared_ptr<SqDatabasePool> databasePoolWithPath(std::optional<std::string> path,
                                                              int flags = kSqDefaultOpenFlags);
  SqDatabasePool(Private, std::optional<std::string> path, int flags);
  ~SqDatabasePool();
  SqDatabasePool(const SqDatabasePool&) = delete;
  SqDatabasePool& operator=(const SqDatabasePool&) = delete;

  // Runs the block on the calling thread with a connection of the pool (none when the limit is
  // reached or the connection does not open), then gives the connection back.
  void inDatabase(const Block& block);
  bool inTransaction(const TransactionBlock& block) { return beginTransaction(false, block); }
  bool inDeferredTransaction(const TransactionBlock& block) { return beginTransaction(true, block); }
  std::optional<pf::Error> inSavePoint(const TransactionBlock& block);

  std::uint64_t countOfCheckedInDatabases();
  std::uint64_t countOfCheckedOutDatabases();
  std::uint64_t countOfOpenDatabases();
  // Drops every connection (they close as they go).
  void releaseAllDatabases();

  // Takes a connection: the last idle one, or a new one; none when none can be had.
  std::shared_ptr<SqDatabase> db();
  // Gives a connection back. Raises pf::Exception "Database already in pool" for one that is
  // already idle.
  void pushDatabaseBackInPool(const std::shared_ptr<SqDatabase>& db);
  // Runs the block on the lock queue, synchronously.
  void executeLocked(const std::function<void()>& block);

  std::optional<std::string> path() const;
  void setPath(std::optional<std::string> path);
  std::shared_ptr<SqDatabasePoolDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<SqDatabasePoolDelegate> delegate) { delegate_ = std::move(delegate); }
  std::uint64_t maximumNumberOfDatabasesToCreate() const { return maximumNumberOfDatabasesToCreate_; }
  void setMaximumNumberOfDatabasesToCreate(std::uint64_t limit) { maximumNumberOfDatabasesToCreate_ = limit; }
  int openFlags() const { return openFlags_; }
  // "<SqDatabasePool: 0x...>"
  std::string description() const;

 private:
  bool beginTransaction(bool deferred, const TransactionBlock& block);

  mutable pf::Mutex pathMutex_;
  std::optional<std::string> path_ PF_GUARDED_BY(pathMutex_);
  std::shared_ptr<pf::DispatchQueue> lockQueue_;
  std::vector<std::shared_ptr<SqDatabase>> databaseInPool_;
  std::vector<std::shared_ptr<SqDatabase>> databaseOutPool_;
  std::weak_ptr<SqDatabasePoolDelegate> delegate_;
  std::atomic<std::uint64_t> maximumNumberOfDatabasesToCreate_{0};
  int openFlags_;
};

}  // namespace kvstore
