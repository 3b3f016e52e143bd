// The start-up reachability monitor: its own notification, and a release that clears its blocks.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "container/BrelReachability.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace {

using container::BrelReachability;

TEST(BrelReachability, NotifiesUnderItsOwnNameAndClearsBlocksOnRelease) {
  auto fake = std::make_shared<pf::FakeReachabilityProvider>();
  pf::NetworkReachability::setProvider(fake);
  fake->setFlags("0.0.0.0", 0);
  auto m = BrelReachability::reachabilityForInternetConnection();
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->brelReachabilityRef()->target().isGeneral());

  // The block holds an object whose end shows that the release let the block go.
  auto token = std::make_shared<int>(1);
  std::weak_ptr<int> held = token;
  m->setUnreachableBlock([token](BrelReachability&) {});
  token.reset();

  std::shared_ptr<BrelReachability> posted;
  int hn = 0;
  auto& center = pf::NotificationCenter::defaultCenter();
  center.addObserver(container::kBrelReachabilityChangedNotification, nullptr,
                     [&](const pf::Notification& n) { posted = n.object.as<BrelReachability>(); });
  center.addObserver(container::kHnReachabilityChangedNotification, nullptr, [&](const pf::Notification&) { ++hn; });
  ASSERT_TRUE(m->startNotifier());
  fake->change("0.0.0.0", pf::kReachabilityReachable);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return posted != nullptr; }));
  EXPECT_EQ(posted, m);
  EXPECT_EQ(hn, 0);
  EXPECT_TRUE(m->isReachableViaWiFi());

  posted.reset();
  m->stopNotifier();
  EXPECT_FALSE(held.expired());
  m.reset();
  EXPECT_TRUE(held.expired());
  pf::NetworkReachability::setProvider(nullptr);
  pf::NotificationCenter::resetDefaultCenter();
}

}  // namespace
