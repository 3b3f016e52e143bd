#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/Format.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Operation.h"

namespace pf {
namespace {

struct Listener {
  std::vector<std::string> heard;
  void onNote(const Notification& n) { heard.push_back(n.name); }
};

TEST(NotificationCenter, DeliversByNameAndSenderInOrderOfRegistration) {
  NotificationCenter center;
  auto sender = std::make_shared<int>(1);
  auto other = std::make_shared<int>(2);
  std::vector<std::string> calls;
  center.addObserver("A", {}, [&](const Notification& n) { calls.push_back("any-sender A"); });
  center.addObserver("A", sender, [&](const Notification&) { calls.push_back("sender A"); });
  center.addObserver("", {}, [&](const Notification& n) { calls.push_back("all " + n.name); });
  center.post("A", sender);
  center.post("A", other);
  center.post("B");
  EXPECT_EQ(calls, (std::vector<std::string>{"any-sender A", "sender A", "all A", "any-sender A", "all A", "all B"}));
}

TEST(NotificationCenter, CarriesPayloadObjectsAndUserInfo) {
  NotificationCenter center;
  Notification seen;
  center.addObserver("NotificationHandShakeResult", {}, [&](const Notification& n) { seen = n; });
  center.post("NotificationHandShakeResult", Value{{"result", 0}}, Value{{"extra", true}});
  ASSERT_NE(seen.object.value(), nullptr);
  EXPECT_EQ((*seen.object.value())["result"], 0);
  EXPECT_EQ(seen.userInfo["extra"], true);
  center.post("NotificationHandShakeResult", 1);
  EXPECT_EQ(*seen.object.value(), 1);
  EXPECT_TRUE(seen.userInfo.is_null());
  auto task = std::make_shared<std::string>("task");
  center.post("NotificationHandShakeResult", task);
  EXPECT_EQ(seen.object.value(), nullptr);
  EXPECT_EQ(seen.object.as<std::string>(), task);
  EXPECT_EQ(seen.object.as<int>(), nullptr);
  // An object posted as const is handed back only as const.
  auto fixed = std::make_shared<const std::string>("fixed");
  center.post("NotificationHandShakeResult", fixed);
  EXPECT_EQ(seen.object.as<const std::string>(), fixed);
  EXPECT_EQ(seen.object.as<std::string>(), nullptr);
  EXPECT_EQ(AnyObject(task).as<const std::string>(), task);
  EXPECT_EQ(format("%@ %@ %@", AnyObject(), AnyObject(Value{{"result", 1}}), AnyObject("text")),
            "(null) {\n    result = 1;\n} text");
  EXPECT_EQ(format("%@", seen.object).rfind("<object 0x", 0), 0u);
}

TEST(NotificationCenter, RemovalDuringDeliveryStopsLaterCalls) {
  NotificationCenter center;
  int first = 0, second = 0, added = 0;
  ObserverToken secondToken = 0;
  ObserverToken firstToken = center.addObserver("N", {}, [&](const Notification&) {
    ++first;
    center.removeObserver(secondToken);
    center.addObserver("N", {}, [&](const Notification&) { ++added; });
  });
  secondToken = center.addObserver("N", {}, [&](const Notification&) { ++second; });
  center.post("N");
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(added, 0);  // added during the delivery: hears the next post
  center.removeObserver(firstToken);
  center.post("N");
  EXPECT_EQ(first, 1);
  EXPECT_EQ(added, 1);
}

TEST(NotificationCenter, TargetsRegisterTwiceAndAreRemovedByNameOrWhenGone) {
  NotificationCenter center;
  auto listener = std::make_shared<Listener>();
  center.addObserver(listener, &Listener::onNote, "X");
  center.addObserver(listener, &Listener::onNote, "X");
  center.addObserver(listener, &Listener::onNote, "Y");
  center.post("X");
  EXPECT_EQ(listener->heard.size(), 2u);  // registered twice, delivered twice
  center.removeObserver(listener, "X");
  center.post("X");
  center.post("Y");
  EXPECT_EQ(listener->heard, (std::vector<std::string>{"X", "X", "Y"}));
  listener.reset();
  center.post("Y");  // the gone target is skipped and forgotten
  EXPECT_EQ(center.observerCount(), 0u);

  int raw = 0;
  int target = 0;
  center.addObserver(&target, "Z", {}, [&](const Notification&) { ++raw; });
  center.removeObserver(&target);
  center.post("Z");
  EXPECT_EQ(raw, 0);
}

TEST(NotificationCenter, QueueObserversRunOnTheirQueueWhileThePosterWaits) {
  NotificationCenter center;
  auto queue = OperationQueue::make("observer");
  std::thread::id ranOn;
  bool done = false;
  center.addObserver("Q", {}, [&](const Notification&) {
    ranOn = std::this_thread::get_id();
    done = true;
  }, queue);
  center.post("Q");
  EXPECT_TRUE(done);  // the poster waited
  EXPECT_NE(ranOn, std::this_thread::get_id());
}

TEST(NotificationCenter, PostsFromManyThreads) {
  NotificationCenter center;
  std::atomic<int> count{0};
  center.addObserver("T", {}, [&](const Notification&) { ++count; });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) center.post("T");
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(count, 1000);
}

TEST(NotificationCenter, DefaultCenterResets) {
  int heard = 0;
  NotificationCenter::defaultCenter().addObserver("D", {}, [&](const Notification&) { ++heard; });
  NotificationCenter::defaultCenter().post("D");
  NotificationCenter::resetDefaultCenter();
  NotificationCenter::defaultCenter().post("D");
  EXPECT_EQ(heard, 1);
}

}  // namespace
}  // namespace pf
