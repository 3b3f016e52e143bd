// The HTTP client's reachability manager over a fake reachability provider.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "appnet/TnqNetworkReachabilityManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace {

using appnet::TnqNetworkReachabilityManager;
using appnet::TnqNetworkReachabilityStatus;
using Status = TnqNetworkReachabilityStatus;

class TnqNetworkReachabilityManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::NetworkReachability::setProvider(fake);
    pf::NotificationCenter::defaultCenter().addObserver(
        appnet::kTnqNetworkingReachabilityDidChangeNotification, nullptr, [this](const pf::Notification& n) {
          notified.push_back(static_cast<Status>(
              n.userInfo[appnet::kTnqNetworkingReachabilityNotificationStatusItem].get<std::int64_t>()));
        });
  }
  void TearDown() override {
    pf::NetworkReachability::setProvider(nullptr);
    pf::NotificationCenter::resetDefaultCenter();
  }
  void settle() { pf::RunLoop::main()->spinUntil([] { return false; }, 0.1); }

  std::shared_ptr<pf::FakeReachabilityProvider> fake = std::make_shared<pf::FakeReachabilityProvider>();
  std::vector<Status> notified;
};

TEST_F(TnqNetworkReachabilityManagerTest, StatusFromFlags) {
  using namespace pf;
  auto status = appnet::TnqNetworkReachabilityStatusForFlags;
  EXPECT_EQ(status(kReachabilityReachable | kReachabilityConnectionRequired | kReachabilityConnectionOnDemand |
                   kReachabilityInterventionRequired),
            Status::NotReachable);
  EXPECT_EQ(status(kReachabilityReachable | kReachabilityConnectionRequired | kReachabilityConnectionOnTraffic),
            Status::ReachableViaWiFi);
  EXPECT_EQ(status(kReachabilityReachable | kReachabilityConnectionRequired | kReachabilityConnectionOnTraffic |
                   kReachabilityIsWWAN),
            Status::ReachableViaWWAN);
  EXPECT_EQ(status(kReachabilityIsWWAN), Status::NotReachable);
  EXPECT_EQ(appnet::TnqStringFromNetworkReachabilityStatus(static_cast<Status>(7)), "Unknown");
}

TEST_F(TnqNetworkReachabilityManagerTest, ANewManagerIsUnknown) {
  auto shared = TnqNetworkReachabilityManager::sharedManager();
  EXPECT_EQ(shared, TnqNetworkReachabilityManager::sharedManager());
  EXPECT_EQ(shared->networkReachabilityAssociation(), 1u);
  EXPECT_EQ(shared->networkReachabilityStatus(), Status::Unknown);
  EXPECT_FALSE(shared->isReachable());
  EXPECT_EQ(shared->localizedNetworkReachabilityStatusString(), "Unknown");
  EXPECT_FALSE(TnqNetworkReachabilityManager::managerForDomain(""));
  EXPECT_EQ(TnqNetworkReachabilityManager::managerForDomain("api.bank.example")->networkReachabilityAssociation(), 3u);
}

TEST_F(TnqNetworkReachabilityManagerTest, AnAddressReportsAtOnceAndANameOnlyOnChange) {
  fake->setFlags("*", pf::kReachabilityReachable);
  sockaddr_in zero{};
  zero.sin_family = AF_INET;
  auto address = TnqNetworkReachabilityManager::managerForAddress(reinterpret_cast<sockaddr*>(&zero));
  std::vector<std::string> order;
  address->setStatusChangeHook([&](Status) { order.push_back("property"); });
  address->setReachabilityStatusChangeBlock([&](Status s) {
    order.push_back("block");
    EXPECT_TRUE(pf::RunLoop::main()->isCurrent());
    EXPECT_EQ(address->networkReachabilityStatus(), s);
  });
  address->startMonitoring();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return !notified.empty(); }));
  EXPECT_EQ(address->networkReachabilityStatus(), Status::ReachableViaWiFi);
  EXPECT_EQ(order, (std::vector<std::string>{"property", "block"}));
  EXPECT_EQ(notified, std::vector<Status>{Status::ReachableViaWiFi});

  notified.clear();
  auto name = TnqNetworkReachabilityManager::managerForDomain("api.bank.example");
  fake->setFlags("api.bank.example", 0);
  name->startMonitoring();
  name->startMonitoring();  // the second undoes the first
  fake->change("api.bank.example", pf::kReachabilityReachable | pf::kReachabilityIsWWAN);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return name->isReachableViaWWAN(); }));
  settle();
  // One report for the change, counted once for both managers' notifications (the address
  // manager's general flags did not change).
  EXPECT_EQ(std::count(notified.begin(), notified.end(), Status::ReachableViaWWAN), 1);

  name->stopMonitoring();
  fake->change("api.bank.example", 0);
  settle();
  EXPECT_EQ(name->networkReachabilityStatus(), Status::ReachableViaWWAN);  // the last status stays
  address->stopMonitoring();
}

TEST_F(TnqNetworkReachabilityManagerTest, ACallbackAfterTheManagerWentTouchesNothing) {
  fake->setFlags("api.bank.example", 0);
  int blocks = 0;
  {
    auto name = TnqNetworkReachabilityManager::managerForDomain("api.bank.example");
    name->setReachabilityStatusChangeBlock([&](Status) { ++blocks; });
    name->startMonitoring();
    fake->change("api.bank.example", pf::kReachabilityReachable);  // queued on the main run loop
  }
  settle();
  EXPECT_EQ(blocks, 0);
}

}  // namespace
