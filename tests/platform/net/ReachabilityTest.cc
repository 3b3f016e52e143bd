// Reachability objects: targets, flags from a provider, change callbacks and their guard.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/un.h>

#include <atomic>
#include <condition_variable>

#include "platform/foundation/Dispatch.h"
#include "platform/net/Reachability.h"

namespace {

using pf::NetworkReachability;

sockaddr_in ipv4(const char* text) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, text, &a.sin_addr);
  return a;
}

class ReachabilityTest : public ::testing::Test {
 protected:
  void SetUp() override { NetworkReachability::setProvider(fake); }
  void TearDown() override { NetworkReachability::setProvider(nullptr); }
  std::shared_ptr<pf::FakeReachabilityProvider> fake = std::make_shared<pf::FakeReachabilityProvider>();
};

TEST_F(ReachabilityTest, TargetsAreCheckedWhenMade) {
  EXPECT_FALSE(NetworkReachability::createWithName(""));
  EXPECT_FALSE(NetworkReachability::createWithName("bad host/name"));
  EXPECT_FALSE(NetworkReachability::createWithName(std::string(300, 'a')));
  EXPECT_FALSE(NetworkReachability::createWithAddress(nullptr));
  sockaddr_un local{};
  local.sun_family = AF_UNIX;
  EXPECT_FALSE(NetworkReachability::createWithAddress(reinterpret_cast<sockaddr*>(&local)));

  auto name = NetworkReachability::createWithName("bank.example");
  ASSERT_TRUE(name);
  EXPECT_TRUE(name->target().isGeneral());
  EXPECT_EQ(NetworkReachability::createWithName("localhost")->target().description(), "localhost");
  EXPECT_FALSE(NetworkReachability::createWithName("127.0.0.1")->target().isGeneral());
  auto zero = ipv4("0.0.0.0");
  EXPECT_TRUE(NetworkReachability::createWithAddress(reinterpret_cast<sockaddr*>(&zero))->target().isGeneral());
}

TEST_F(ReachabilityTest, FlagsComeFromTheProvider) {
  auto target = NetworkReachability::createWithName("bank.example");
  EXPECT_EQ(target->flags(), std::nullopt);
  fake->setFlags("*", pf::kReachabilityReachable);
  fake->setFlags("bank.example", pf::kReachabilityReachable | pf::kReachabilityIsWWAN);
  EXPECT_EQ(target->flags(), pf::kReachabilityReachable | pf::kReachabilityIsWWAN);
  EXPECT_EQ(NetworkReachability::createWithName("other.example")->flags(), pf::kReachabilityReachable);
}

TEST_F(ReachabilityTest, ChangesReachTheQueueOnlyWhenFlagsChange) {
  auto address = ipv4("10.1.2.3");
  auto target = NetworkReachability::createWithAddress(reinterpret_cast<sockaddr*>(&address));
  fake->setFlags("10.1.2.3", 0);
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<pf::ReachabilityFlags> heard;
  EXPECT_FALSE(target->setDispatchQueue(pf::DispatchQueue::makeSerial()));  // no callback yet
  target->setCallback([&](NetworkReachability&, pf::ReachabilityFlags f) {
    std::lock_guard lock(mutex);
    heard.push_back(f);
    cv.notify_all();
  });
  ASSERT_TRUE(target->setDispatchQueue(pf::DispatchQueue::makeSerial()));
  fake->notifyChange();  // nothing changed
  fake->change("10.1.2.3", pf::kReachabilityReachable | pf::kReachabilityIsDirect);
  fake->change("10.1.2.3", 0);
  std::unique_lock lock(mutex);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return heard.size() == 2; }));
  EXPECT_EQ(heard[0], pf::kReachabilityReachable | pf::kReachabilityIsDirect);
  EXPECT_EQ(heard[1], 0u);
}

TEST_F(ReachabilityTest, ACallbackQueuedBeforeTheEndIsDropped) {
  auto queue = pf::DispatchQueue::makeSerial();
  std::mutex gate;
  gate.lock();
  queue->async([&] { std::lock_guard wait(gate); });  // holds the queue
  std::atomic<int> calls{0};
  auto target = NetworkReachability::createWithName("bank.example");
  fake->setFlags("bank.example", pf::kReachabilityReachable);
  target->setCallback([&](NetworkReachability&, pf::ReachabilityFlags) { ++calls; });
  ASSERT_TRUE(target->setDispatchQueue(queue));  // a name reports its state: queued behind the gate
  fake->change("bank.example", 0);               // queued too
  target.reset();                                // the object goes while both wait
  gate.unlock();
  queue->sync([] {});
  EXPECT_EQ(calls.load(), 0);

  // The same for a queue that is removed while callbacks wait.
  gate.lock();
  queue->async([&] { std::lock_guard wait(gate); });
  auto other = NetworkReachability::createWithName("bank.example");
  other->setCallback([&](NetworkReachability&, pf::ReachabilityFlags) { ++calls; });
  other->setDispatchQueue(queue);
  other->setDispatchQueue(nullptr);
  gate.unlock();
  queue->sync([] {});
  EXPECT_EQ(calls.load(), 0);
}

TEST(KernelReachability, LoopbackIsLocalAndDirect) {
  NetworkReachability::setProvider(nullptr);
  auto loopback = NetworkReachability::createWithName("127.0.0.1");
  auto flags = loopback->flags();
  ASSERT_TRUE(flags);
  EXPECT_TRUE(*flags & pf::kReachabilityReachable);
  EXPECT_TRUE(*flags & pf::kReachabilityIsLocalAddress);
  EXPECT_TRUE(*flags & pf::kReachabilityIsDirect);
  EXPECT_FALSE(*flags & pf::kReachabilityIsWWAN);
}

}  // namespace
