#include "kvstore/SqDatabaseQueue.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "kvstore/SqDatabasePool.h"
#include "kvstore/SqResultSet.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Thread.h"
#include "support/TestSupport.h"

namespace kvstore {
namespace {

std::shared_ptr<SqDatabaseQueue> makeQueue(const std::string& path) {
  auto queue = SqDatabaseQueue::databaseQueueWithPath(path);
  EXPECT_TRUE(queue);
  queue->inDatabase([](SqDatabase* db) { ASSERT_TRUE(db->executeUpdate("create table if not exists t (a)")); });
  return queue;
}

int countRows(SqDatabaseQueue& queue) {
  int count = -1;
  queue.inDatabase([&](SqDatabase* db) { count = db->intForQuery("select count(*) from t"); });
  return count;
}

// The numbers of the savepoints in traced statements, in order.
std::vector<long> savePointNumbers(const pf::LogCapture& log, const std::string& prefix) {
  std::vector<long> numbers;
  const std::string marker = "executeUpdate: savepoint '" + prefix;
  for (const auto& line : log.lines()) {
    const auto at = line.find(marker);
    if (at != std::string::npos) numbers.push_back(std::stol(line.substr(at + marker.size())));
  }
  return numbers;
}

// ---- the busy handler, on the virtual clock

TEST(SqDatabaseBusy, WaitsUpToTheIntervalOnTheClockAndThenFails) {
  fxtest::TempDir dir;
  const std::string path = (dir / "busy.db").string();
  auto holder = SqDatabase::databaseWithPath(path);
  auto waiter = SqDatabase::databaseWithPath(path);
  ASSERT_TRUE(holder->open() && waiter->open());
  ASSERT_TRUE(holder->executeUpdate("create table t (a)"));
  EXPECT_EQ(waiter->maxBusyRetryTimeInterval(), 2.0);

  pf::VirtualTimeScope time;
  for (bool releaseEarly : {false, true}) {
    ASSERT_TRUE(holder->beginTransaction());
    std::atomic<bool> done{false};
    bool ok = false;
    int code = 0;
    double waited = 0;
    // A platform thread: each advance waits until it is back asleep on the clock, so the virtual
    // time it measures is what its retries slept, however slowly this machine runs it.
    auto thread = pf::Thread::detach([&] {
      pf::LogCapture quiet;
      const double start = pf::Clock::monotonic();
      ok = waiter->executeUpdate("insert into t values (1)");
      code = waiter->lastErrorCode();
      waited = pf::Clock::monotonic() - start;
      done = true;
    }, "busy.waiter");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(done);  // waiting on the clock, which stands still
    for (int step = 0; !done; ++step) {
      if (releaseEarly && step == 20) {
        EXPECT_TRUE(holder->commit());
      }
      time.advance(0.05);
    }
    thread->join();
    if (releaseEarly) {
      EXPECT_TRUE(ok);
      EXPECT_LT(waited, 2.0);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(code, SQLITE_BUSY);
      EXPECT_GE(waited, 2.0);
      EXPECT_LT(waited, 2.5);
      ASSERT_TRUE(holder->rollback());
    }
  }

  // No interval: no handler, the engine answers busy at once.
  waiter->setMaxBusyRetryTimeInterval(0);
  ASSERT_TRUE(holder->beginTransaction());
  pf::LogCapture quiet;
  EXPECT_FALSE(waiter->executeUpdate("insert into t values (2)"));
  EXPECT_EQ(waiter->lastErrorCode(), SQLITE_BUSY);
  ASSERT_TRUE(holder->rollback());
}

// ---- the queue

TEST(SqDatabaseQueue, BlocksFromManyThreadsNeverOverlap) {
  fxtest::TempDir dir;
  auto queue = makeQueue((dir / "q.db").string());
  std::atomic<int> inside{0}, most{0};
  auto worker = [&] {
    for (int i = 0; i < 200; ++i) {
      queue->inDatabase([&](SqDatabase* db) {
        most = std::max(most.load(), ++inside);
        db->intForQuery("select 1");
        --inside;
      });
    }
  };
  std::thread a(worker), b(worker), c(worker);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(most.load(), 1);
}

TEST(SqDatabaseQueue, ReportsResultSetsLeftOpen) {
  auto queue = SqDatabaseQueue::databaseQueueWithPath(std::nullopt);
  ASSERT_TRUE(queue);
  std::shared_ptr<SqResultSet> kept1, kept2;
  pf::LogCapture log;
  queue->inDatabase([&](SqDatabase* db) {
    kept1 = db->executeQuery("select 1");
    kept2 = db->executeQuery("select 2");
  });
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "Warning: there is at least one open result set around after performing "
                             "[SqDatabaseQueue inDatabase:]",
                             "query: 'select 1'", "query: 'select 2'"}));
  queue->inDatabase([&](SqDatabase*) {
    kept1->close();
    kept2->close();
  });
}

TEST(SqDatabaseQueue, ReopensAfterCloseWithItsFlags) {
  fxtest::TempDir dir;
  std::filesystem::create_directories(dir / "sub");
  const std::string path = (dir / "sub" / "q.db").string();
  auto queue = makeQueue(path);
  EXPECT_EQ(queue->openFlags(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  EXPECT_EQ(queue->path(), path);
  queue->inDatabase([](SqDatabase* db) { db->executeUpdate("insert into t values (1)"); });
  queue->close();
  EXPECT_EQ(countRows(*queue), 1);

  // A connection that cannot be reopened: the block gets none.
  queue->close();
  std::filesystem::remove_all(dir / "sub");
  pf::LogCapture log;
  bool called = false;
  queue->inDatabase([&](SqDatabase* db) {
    called = true;
    EXPECT_EQ(db, nullptr);
  });
  EXPECT_TRUE(called);
  EXPECT_TRUE(log.contains("SqDatabaseQueue could not reopen database for path " + path));
  EXPECT_FALSE(queue->inTransaction([](SqDatabase*, bool*) { ADD_FAILURE() << "ran without a connection"; }));
  EXPECT_TRUE(queue->inSavePoint([](SqDatabase*, bool*) { ADD_FAILURE() << "ran without a connection"; }));

  EXPECT_EQ(SqDatabaseQueue::databaseQueueWithPath(path, SQLITE_OPEN_READWRITE), nullptr);
  EXPECT_TRUE(log.contains("Could not create database queue for path " + path));
}

TEST(SqDatabaseQueue, TransactionsCommitRollBackAndRefuseToRunWithoutABegin) {
  fxtest::TempDir dir;
  const std::string path = (dir / "q.db").string();
  auto queue = makeQueue(path);
  EXPECT_TRUE(queue->inTransaction([](SqDatabase* db, bool*) { db->executeUpdate("insert into t values (1)"); }));
  EXPECT_TRUE(queue->inDeferredTransaction([](SqDatabase* db, bool* rollback) {
    db->executeUpdate("insert into t values (2)");
    *rollback = true;
  }));
  EXPECT_EQ(countRows(*queue), 1);
  EXPECT_THROW(queue->inTransaction([](SqDatabase* db, bool*) {
    db->executeUpdate("insert into t values (3)");
    throw std::runtime_error("block failed");
  }),
               std::runtime_error);
  EXPECT_EQ(countRows(*queue), 1);  // rolled back

  // Another connection holds the write lock: the begin fails and the block does not run.
  auto other = SqDatabase::databaseWithPath(path);
  ASSERT_TRUE(other->open());
  ASSERT_TRUE(other->beginTransaction());
  queue->inDatabase([](SqDatabase* db) { db->setMaxBusyRetryTimeInterval(0); });
  pf::LogCapture log;
  bool ran = false;
  EXPECT_FALSE(queue->inTransaction([&](SqDatabase*, bool*) { ran = true; }));
  EXPECT_FALSE(ran);
  EXPECT_TRUE(log.contains("SqDatabaseQueue could not begin a transaction (5: database is locked); the block was not run"));
  ASSERT_TRUE(other->rollback());

  // A reader in the middle of its rows keeps the commit from happening: it is rolled back.
  ASSERT_TRUE(other->executeUpdate("insert into t values (4)"));
  auto reading = other->executeQuery("select a from t");
  ASSERT_TRUE(reading->next());
  log.clear();
  EXPECT_FALSE(queue->inDeferredTransaction([](SqDatabase* db, bool*) { db->executeUpdate("insert into t values (5)"); }));
  EXPECT_TRUE(log.contains("SqDatabaseQueue could not commit the transaction (5: "));
  EXPECT_TRUE(log.contains("rolling it back"));
  reading->close();
  queue->inDatabase([](SqDatabase* db) { EXPECT_FALSE(db->inTransaction()); });
  EXPECT_EQ(countRows(*queue), 2);
}

TEST(SqDatabaseQueue, SavePointsAreNumberedAcrossQueuesAndRollBack) {
  auto first = SqDatabaseQueue::databaseQueueWithPath(std::nullopt);
  auto second = SqDatabaseQueue::databaseQueueWithPath(std::nullopt);
  for (auto& queue : {first, second})
    queue->inDatabase([](SqDatabase* db) {
      db->executeUpdate("create table t (a)");
      db->setTraceExecution(true);
    });
  pf::LogCapture log;
  EXPECT_FALSE(first->inSavePoint([](SqDatabase* db, bool*) { db->executeUpdate("insert into t values (1)"); }));
  EXPECT_FALSE(second->inSavePoint([](SqDatabase* db, bool* rollback) {
    db->executeUpdate("insert into t values (2)");
    *rollback = true;
  }));
  EXPECT_FALSE(first->inSavePoint([](SqDatabase*, bool*) {}));
  auto numbers = savePointNumbers(log, "savePoint");
  ASSERT_EQ(numbers.size(), 3u);
  EXPECT_EQ(numbers[1], numbers[0] + 1);
  EXPECT_EQ(numbers[2], numbers[0] + 2);
  EXPECT_EQ(countRows(*first), 1);
  EXPECT_EQ(countRows(*second), 0);  // as it was before the call
}

TEST(SqDatabaseQueueDeathTest, ReentrantInDatabaseStopsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto queue = SqDatabaseQueue::databaseQueueWithPath(std::nullopt);
  EXPECT_DEATH(queue->inDatabase([&](SqDatabase*) { queue->inDatabase([](SqDatabase*) {}); }),
               "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock");
}

// ---- the pool

class RefusingDelegate : public SqDatabasePoolDelegate {
 public:
  std::optional<bool> databasePoolShouldAddDatabaseToPool(SqDatabasePool&, SqDatabase&) override { return allow; }
  void databasePoolDidAddDatabase(SqDatabasePool&, SqDatabase&) override { ++added; }
  bool allow = true;
  int added = 0;
};

using Counts = std::pair<std::uint64_t, std::uint64_t>;

TEST(SqDatabasePool, HandsOutIdleConnectionsUpToItsLimit) {
  fxtest::TempDir dir;
  auto pool = SqDatabasePool::databasePoolWithPath((dir / "p.db").string());
  auto delegate = std::make_shared<RefusingDelegate>();
  pool->setDelegate(delegate);
  pool->setMaximumNumberOfDatabasesToCreate(2);
  auto counts = [&] {
    EXPECT_EQ(pool->countOfOpenDatabases(), pool->countOfCheckedInDatabases() + pool->countOfCheckedOutDatabases());
    return Counts(pool->countOfCheckedInDatabases(), pool->countOfCheckedOutDatabases());
  };
  EXPECT_EQ(counts(), Counts(0, 0));
  auto a = pool->db();
  auto b = pool->db();
  ASSERT_TRUE(a && b && a != b);
  EXPECT_EQ(counts(), Counts(0, 2));
  pf::LogCapture log;
  pool->inDatabase([](SqDatabase* db) { EXPECT_EQ(db, nullptr); });
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Maximum number of databases (2) has already been reached!"});
  pool->pushDatabaseBackInPool(b);
  EXPECT_EQ(counts(), Counts(1, 1));
  pool->inDatabase([&](SqDatabase* db) { EXPECT_EQ(db, b.get()); });  // the idle one, again
  EXPECT_EQ(delegate->added, 2);
  try {
    pool->pushDatabaseBackInPool(b);
    FAIL();
  } catch (const pf::Exception& e) {
    EXPECT_EQ(e.name(), "Database already in pool");
    EXPECT_EQ(e.reason(), "The SqDatabase being put back into the pool is already present in the pool");
  }
  pool->pushDatabaseBackInPool(a);
  pool->releaseAllDatabases();
  EXPECT_EQ(counts(), Counts(0, 0));
}

TEST(SqDatabasePool, ConnectionsThatFailOrAreRefusedLeaveThePool) {
  fxtest::TempDir dir;
  std::filesystem::create_directories(dir / "sub");
  const std::string path = (dir / "sub" / "p.db").string();
  auto pool = SqDatabasePool::databasePoolWithPath(path);
  auto delegate = std::make_shared<RefusingDelegate>();
  pool->setDelegate(delegate);

  delegate->allow = false;
  EXPECT_EQ(pool->db(), nullptr);
  EXPECT_EQ(pool->countOfOpenDatabases(), 0u);
  delegate->allow = true;

  auto db = pool->db();
  ASSERT_TRUE(db);
  db->close();
  pool->pushDatabaseBackInPool(db);
  std::filesystem::remove_all(dir / "sub");
  pf::LogCapture log;
  EXPECT_EQ(pool->db(), nullptr);  // the idle connection no longer opens
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"error opening!: 14", "Could not open up the database at path " + path}));
  EXPECT_EQ(pool->countOfOpenDatabases(), 0u);
  auto error = pool->inSavePoint([](SqDatabase*, bool*) { ADD_FAILURE() << "ran without a connection"; });
  EXPECT_TRUE(error);
}

TEST(SqDatabasePool, WorkRunsOnTheCallersThreadWithItsOwnConnection) {
  fxtest::TempDir dir;
  auto pool = SqDatabasePool::databasePoolWithPath((dir / "p.db").string());
  pool->inDatabase([](SqDatabase* db) { ASSERT_TRUE(db->executeUpdate("create table t (a)")); });
  EXPECT_TRUE(pool->inTransaction([](SqDatabase* db, bool*) { db->executeUpdate("insert into t values (1)"); }));
  EXPECT_FALSE(pool->inSavePoint([](SqDatabase* db, bool* rollback) {
    db->executeUpdate("insert into t values (2)");
    *rollback = true;
  }));
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i)
    threads.emplace_back([&pool] {
      for (int k = 0; k < 10; ++k)
        pool->inTransaction([](SqDatabase* db, bool*) { db->executeUpdate("insert into t values (3)"); });
    });
  for (auto& t : threads) t.join();
  int count = 0;
  pool->inDatabase([&](SqDatabase* db) { count = db->intForQuery("select count(*) from t"); });
  EXPECT_EQ(count, 31);
  EXPECT_LE(pool->countOfOpenDatabases(), 4u);
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 0u);
}

}  // namespace
}  // namespace kvstore
