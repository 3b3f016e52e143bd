// The event mailbox between the loader thread and a facade's executor.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/net/Loader.h"

namespace {

using pf::LoadEventChannel;

// An executor that keeps what it is handed until the test runs it.
struct HeldExecutor {
  std::mutex mutex;
  std::vector<std::function<void()>> handed;

  LoadEventChannel::Executor executor() {
    return [this](std::function<void()> block) {
      std::lock_guard lock(mutex);
      handed.push_back(std::move(block));
    };
  }
  std::size_t count() {
    std::lock_guard lock(mutex);
    return handed.size();
  }
  void runAll() {
    std::vector<std::function<void()>> blocks;
    {
      std::lock_guard lock(mutex);
      blocks.swap(handed);
    }
    for (auto& block : blocks) block();
  }
};

// Runs `command` on the loader thread and waits until that pass is over (a command posted from
// a pass runs in the next one).
void onLoaderThread(pf::Loader& loader, std::function<void()> command) {
  auto done = pf::DispatchSemaphore::make(0);
  loader.post([&] {
    command();
    loader.post([&] { done->signal(); });
  });
  done->wait();
}

TEST(LoadEventChannel, EventsOfOneLoaderPassReachTheExecutorAsOneHandOver) {
  pf::Loader loader;
  HeldExecutor held;
  auto channel = std::make_shared<LoadEventChannel>(held.executor());
  std::vector<std::string> order;
  onLoaderThread(loader, [&] {
    channel->push([&] { order.push_back("response"); });
    channel->push([&] { order.push_back("data"); }, 5);
    channel->push([&] { order.push_back("finish"); });
    // Nothing is handed over while the pass runs.
    EXPECT_EQ(held.count(), 0u);
  });
  EXPECT_EQ(held.count(), 1u);
  EXPECT_EQ(channel->pendingBytes(), 5u);
  held.runAll();
  EXPECT_EQ(order, (std::vector<std::string>{"response", "data", "finish"}));
  EXPECT_EQ(channel->pendingBytes(), 0u);

  // From any other thread an event is handed over at once.
  channel->push([&] { order.push_back("late"); });
  EXPECT_EQ(held.count(), 1u);
  held.runAll();
  EXPECT_EQ(order.back(), "late");
}

TEST(LoadEventChannel, AnExecutorThatRunsAtOnceMayFeedAnotherChannelDuringTheHandOver) {
  pf::Loader loader;
  auto inline_ = [](std::function<void()> block) { block(); };
  auto second = std::make_shared<LoadEventChannel>(inline_);
  auto first = std::make_shared<LoadEventChannel>(inline_);
  std::vector<std::string> order;
  onLoaderThread(loader, [&] {
    first->push([&] {
      order.push_back("first");
      second->push([&] { order.push_back("second"); });
    });
    EXPECT_TRUE(order.empty());
  });
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
}

TEST(LoadEventChannel, CloseInsideAnEventStopsTheRestOfTheBatchAndARaisingEventDoesNot) {
  pf::LogCapture log;
  HeldExecutor held;
  auto channel = std::make_shared<LoadEventChannel>(held.executor());
  std::vector<std::string> order;
  channel->push([&] { throw std::runtime_error("a delegate raised"); });
  channel->push([&] { order.push_back("after the raise"); });
  channel->push([&] {
    order.push_back("closing");
    channel->close();
  });
  channel->push([&] { order.push_back("never"); });
  ASSERT_EQ(held.count(), 1u);
  held.runAll();
  EXPECT_EQ(order, (std::vector<std::string>{"after the raise", "closing"}));
  EXPECT_TRUE(log.contains("*** uncaught exception in a URL loading event: a delegate raised"));
  EXPECT_TRUE(channel->isClosed());
  channel->push([&] { order.push_back("never either"); });
  held.runAll();
  EXPECT_EQ(order.size(), 2u);
}

TEST(LoadEventChannel, EventsPushedWhileDeliveringComeInTheNextHandOver) {
  HeldExecutor held;
  auto channel = std::make_shared<LoadEventChannel>(held.executor());
  int runs = 0;
  channel->push([&] {
    ++runs;
    channel->push([&] { ++runs; });
  });
  held.runAll();
  EXPECT_EQ(runs, 1);
  ASSERT_EQ(held.count(), 1u);
  held.runAll();
  EXPECT_EQ(runs, 2);
}

}  // namespace
