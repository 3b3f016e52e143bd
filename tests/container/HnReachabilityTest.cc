// The HTTP engine's reachability monitor over a fake reachability provider.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>

#include "container/HnReachability.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace {

using container::HnReachability;

class HnReachabilityTest : public ::testing::Test {
 protected:
  void SetUp() override { pf::NetworkReachability::setProvider(fake); }
  void TearDown() override {
    pf::NetworkReachability::setProvider(nullptr);
    pf::NotificationCenter::resetDefaultCenter();
  }
  std::shared_ptr<HnReachability> monitor(pf::ReachabilityFlags flags) {
    fake->setFlags("api.bank.example", flags);
    return HnReachability::reachabilityWithHostname("api.bank.example");
  }
  std::shared_ptr<pf::FakeReachabilityProvider> fake = std::make_shared<pf::FakeReachabilityProvider>();
};

TEST_F(HnReachabilityTest, ReadsStatusesFromFlags) {
  EXPECT_FALSE(HnReachability::reachabilityWithHostname(""));
  using namespace pf;
  auto m = monitor(kReachabilityReachable | kReachabilityConnectionRequired | kReachabilityTransientConnection);
  EXPECT_FALSE(m->isReachable());
  EXPECT_EQ(m->currentReachabilityStatus(), 0);
  m = monitor(kReachabilityReachable | kReachabilityConnectionRequired);
  EXPECT_TRUE(m->isReachable());
  EXPECT_TRUE(m->connectionRequired());
  EXPECT_EQ(m->currentReachabilityStatus(), 2);

  m = monitor(kReachabilityReachable | kReachabilityIsWWAN);
  EXPECT_TRUE(m->isReachableViaWWAN());
  EXPECT_EQ(m->currentReachabilityStatus(), 1);
  EXPECT_EQ(m->currentReachabilityString(), "Cellular");
  m->setReachableOnWWAN(false);
  EXPECT_FALSE(m->isReachable());
  EXPECT_EQ(m->currentReachabilityStatus(), 0);
  EXPECT_EQ(m->currentReachabilityString(), "No Connection");

  m = monitor(kReachabilityReachable | kReachabilityIsDirect);
  EXPECT_EQ(m->currentReachabilityFlags(), "-R ------d");
  EXPECT_EQ(m->currentReachabilityFlags().size(), 10u);
  EXPECT_EQ(m->currentReachabilityString(), "WiFi");
  m = monitor(kReachabilityConnectionRequired | kReachabilityConnectionOnDemand | kReachabilityInterventionRequired);
  EXPECT_TRUE(m->isConnectionOnDemand());
  EXPECT_TRUE(m->isInterventionRequired());

  fake->setFlags("api.bank.example", std::nullopt);  // flags cannot be read
  EXPECT_FALSE(m->isReachable());
  EXPECT_EQ(m->reachabilityFlags(), 0u);
}

TEST_F(HnReachabilityTest, AChangeCallsOneBlockThenNotifiesOnTheMainThread) {
  auto m = monitor(0);
  std::atomic<int> reachable{0}, unreachable{0};
  m->setReachableBlock([&](HnReachability&) { ++reachable; });
  m->setUnreachableBlock([&](HnReachability&) { ++unreachable; });
  std::vector<std::string> order;
  std::shared_ptr<HnReachability> posted;
  pf::NotificationCenter::defaultCenter().addObserver(
      container::kHnReachabilityChangedNotification, nullptr, [&](const pf::Notification& n) {
        EXPECT_TRUE(pf::RunLoop::main()->isCurrent());
        order.push_back(reachable ? "after-block" : "before-block");
        posted = n.object.as<HnReachability>();
      });
  ASSERT_TRUE(m->startNotifier());
  EXPECT_EQ(m->reachabilityObject(), m);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return posted != nullptr; }));  // a name's first report
  posted.reset();
  order.clear();
  int before = unreachable;
  fake->change("api.bank.example", pf::kReachabilityReachable);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return posted != nullptr; }));
  EXPECT_EQ(posted, m);
  EXPECT_EQ(reachable.load(), 1);
  EXPECT_EQ(unreachable.load(), before);
  EXPECT_EQ(order, std::vector<std::string>{"after-block"});

  m->stopNotifier();
  EXPECT_EQ(m->reachabilityObject(), nullptr);
  EXPECT_EQ(m->reachabilitySerialQueue(), nullptr);
  fake->change("api.bank.example", 0);
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.1);
  EXPECT_EQ(unreachable.load(), before);
}

TEST_F(HnReachabilityTest, AStoppedAndReleasedMonitorHearsNothingMore) {
  std::weak_ptr<HnReachability> weak;
  std::atomic<int> calls{0};
  {
    // An address target (a name would report its first state at once, racing with the stop).
    fake->setFlags("10.0.0.1", pf::kReachabilityReachable);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x0A000001u);
    auto m = HnReachability::reachabilityWithAddress(reinterpret_cast<sockaddr*>(&address));
    m->setReachableBlock([&](HnReachability&) { ++calls; });
    m->setUnreachableBlock([&](HnReachability&) { ++calls; });
    ASSERT_TRUE(m->startNotifier());
    m->stopNotifier();
    weak = m;
  }
  // The first report may have been delivered before the stop; nothing comes after it.
  const int beforeStop = calls.load();
  EXPECT_LE(beforeStop, 1);
  EXPECT_TRUE(weak.expired());
  fake->change("10.0.0.1", 0);
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.1);
  EXPECT_EQ(calls.load(), beforeStop);
}

}  // namespace
