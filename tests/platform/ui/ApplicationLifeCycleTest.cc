// The application's life cycle: launch, leaving for the background and coming back, termination,
// each told to the delegate and then posted by name.
#include <gtest/gtest.h>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/UINotifications.h"

namespace {

using pf::Application;
using pf::ApplicationState;

class LifeCycleDelegate : public pf::ApplicationDelegate {
 public:
  explicit LifeCycleDelegate(std::vector<std::string>& calls) : calls_(calls) {}
  bool didFinishLaunchingWithOptions(const pf::Value& options) override {
    calls_.push_back("launch " + (options.is_object() ? options.value("from", std::string()) : std::string()));
    return false;
  }
  void applicationWillResignActive() override { calls_.push_back("resign"); }
  void applicationDidEnterBackground() override { calls_.push_back("background"); }
  void applicationWillEnterForeground() override { calls_.push_back("foreground"); }
  void applicationDidBecomeActive() override { calls_.push_back("active"); }
  void applicationWillTerminate() override { calls_.push_back("terminate"); }

 private:
  std::vector<std::string>& calls_;
};

TEST(ApplicationLifeCycle, EveryStepReachesTheDelegateThenItsObservers) {
  std::vector<std::string> calls;
  std::vector<pf::UIObservation> observations;
  for (const char* name : {pf::kApplicationDidFinishLaunchingNotification, pf::kApplicationWillResignActiveNotification,
                           pf::kApplicationDidEnterBackgroundNotification, pf::kApplicationWillEnterForegroundNotification,
                           pf::kApplicationDidBecomeActiveNotification, pf::kApplicationWillTerminateNotification})
    observations.push_back(pf::observeUINotification(name, [&calls, name](const void*) { calls.push_back(name); }));
  auto& app = Application::shared();
  auto delegate = std::make_shared<LifeCycleDelegate>(calls);

  EXPECT_FALSE(app.launch(delegate, {{"from", "test"}}));  // the delegate's answer
  EXPECT_EQ(app.delegate(), delegate);
  EXPECT_EQ(app.applicationState(), ApplicationState::Active);
  app.enterBackground();
  app.enterBackground();  // already there: nothing more
  EXPECT_EQ(app.applicationState(), ApplicationState::Background);
  app.enterForeground();
  app.enterForeground();
  EXPECT_EQ(app.applicationState(), ApplicationState::Active);
  EXPECT_EQ(calls, (std::vector<std::string>{"launch test", pf::kApplicationDidFinishLaunchingNotification, "active",
                                             pf::kApplicationDidBecomeActiveNotification, "resign",
                                             pf::kApplicationWillResignActiveNotification, "background",
                                             pf::kApplicationDidEnterBackgroundNotification, "foreground",
                                             pf::kApplicationWillEnterForegroundNotification, "active",
                                             pf::kApplicationDidBecomeActiveNotification}));

  // main: launch, then the main loop until termination.
  calls.clear();
  app.reset();
  pf::DispatchQueue::main()->async([] { Application::shared().terminate(); });
  EXPECT_EQ(Application::main(delegate), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"launch ", pf::kApplicationDidFinishLaunchingNotification, "active",
                                             pf::kApplicationDidBecomeActiveNotification, "terminate",
                                             pf::kApplicationWillTerminateNotification}));
  app.reset();
}

}  // namespace
