// The framework's start-up sequence against the loopback bank server: probe, key negotiation,
// manifest, menu and file-list checks, listeners, re-entrant runs and crash report uploads.

#include <gtest/gtest.h>

#include "StartupSupport.h"
#include "container/MwCrashCollect.h"
#include "container/MwServerConfiguration.h"
#include "container/MwSessionManager.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/SocketTestSupport.h"

namespace container {
namespace {

using testing::RecordingListener;
using Operation = MwFrameworkDelegate::Operation;

class StartupTest : public testing::StartupFixture {};

const std::vector<std::string> kFullRun{"data:1", "network:1", "handshake:0", "manifest:0", "menu:0", "files:0"};

TEST_F(StartupTest, ReportsEveryStepInOrderToEachListenerAfterTheCallerReturnsAndAgainAfterABaseUrlSwitch) {
  auto& framework = MwFramework::getInstance();
  auto all = std::make_shared<RecordingListener>();
  auto someOnly = std::make_shared<RecordingListener>(std::vector{Operation::HandShake, Operation::CheckManifest});
  framework.addListener(all);
  framework.addListener(someOnly);
  framework.addListener(nullptr);
  testing::control(*server, {{"menu", {{"items", {{{"id", "1"}, {"url", "html|trade/order.html"}, {"version", "1.0"}}}}}},
                             {"needUpdate", 1},
                             {"manifest", {{"version", "7"}}},
                             {"files", {{{"url", "html|trade/order.html"}, {"version", "1.0"}, {"package", "trade.zip"},
                                         {"hash", "AB"}, {"dir", "trade"}}}}});

  std::vector<std::string> consults;
  auto token = pf::NotificationCenter::defaultCenter().addObserver(kConsultNotification, {}, [&](const pf::Notification& n) {
    consults.push_back(n.userInfo.dump());
  });
  framework.initialization();
  EXPECT_TRUE(all->events.empty()) << "results arrive on the main queue, after the caller returns";
  ASSERT_TRUE(waitForEvents(*all, kFullRun.size()));
  EXPECT_EQ(all->events, kFullRun);
  EXPECT_EQ(someOnly->events, (std::vector<std::string>{"handshake:0", "files:0"}));
  EXPECT_TRUE(std::all_of(all->onMainThread.begin(), all->onMainThread.end(), [](bool b) { return b; }));
  EXPECT_EQ(consults, std::vector<std::string>{R"({"result":0})"});

  // The session is open with the bind key; the manifest, the menu and the business file are in place.
  EXPECT_EQ(framework.getSessionState(), 4);
  ASSERT_TRUE(framework.getBindKey());
  EXPECT_EQ(framework.getBindKey()->rfind("UUID-", 0), 0u);
  EXPECT_EQ(framework.getSystemParameters(), (pf::Value{{"version", "1.0"}}));
  EXPECT_EQ(pf::parseJson(*pf::FileManager::readFile(release() / "resource.json")), (pf::Value{{"version", "7"}}));
  auto menu = MwMenusManager::getInstance().menuRootElement();
  ASSERT_TRUE(menu);
  ASSERT_EQ(menu->children().size(), 1u);
  EXPECT_EQ(menu->children()[0].attributeForName("url")->stringValue(), "html|trade/order.html");
  auto item = MwBusinessManager::getInstance().getElementByHTMLUrl("html|trade/order.html");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->attributeForName("update")->stringValue(), "i");
  EXPECT_EQ(item->attributeForName("dir")->stringValue(), "trade");
  EXPECT_EQ(framework.getInitState(), 0);

  // Another server, given with a trailing "/": every act goes there.
  testing::BankServer other;
  ASSERT_TRUE(other.running());
  MwServerConfiguration::getInstance().setServerBaseUrl(other.baseUrl() + "/");
  framework.initialization();
  ASSERT_TRUE(waitForEvents(*all, 2 * kFullRun.size()));
  std::vector<std::string> second(all->events.begin() + kFullRun.size(), all->events.end());
  EXPECT_EQ(second, (std::vector<std::string>{"data:0", "network:1", "handshake:0", "manifest:0", "menu:0", "files:0"}));
  auto acts = testing::serverCall(other.baseUrl(), "/stats")["acts"];
  for (const char* act : {"handshake", "update", "updateMenu", "fileList"}) EXPECT_EQ(acts.value(act, 0), 1) << act;
  pf::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(StartupTest, HandshakeRefusalReportsOneAndStops) {
  auto listener = std::make_shared<RecordingListener>();
  MwFramework::getInstance().addListener(listener);
  testing::control(*server, {{"handshake", "refuse"}});
  MwFramework::getInstance().initialization();
  ASSERT_TRUE(waitForEvents(*listener, 3));
  MwFramework::getInstance().waitForStartupForTesting();
  pf::RunLoop::main()->runMode(pf::kDefaultRunLoopMode, pf::Clock::now() + 0.1);
  EXPECT_EQ(listener->events, (std::vector<std::string>{"data:1", "network:1", "handshake:1/passwd"}));
  EXPECT_EQ(MwFramework::getInstance().getSessionState(), 2);
  EXPECT_EQ(MwFramework::getInstance().getInitState(), 1);
  EXPECT_FALSE(MwFramework::getInstance().getBindKey());
}

TEST_F(StartupTest, ProbeFallsBackToTheSecondHostAndReportsNetworkWhenNoneAnswers) {
  auto listener = std::make_shared<RecordingListener>(std::vector{Operation::NetworkState, Operation::HandShake});
  MwFramework::getInstance().addListener(listener);
  writeConfiguration({"127.0.0.1:" + std::to_string(closedPort), "127.0.0.1:" + std::to_string(probePort)});
  MwFramework::getInstance().initialization();
  ASSERT_TRUE(waitForEvents(*listener, 2));
  EXPECT_EQ(listener->events, (std::vector<std::string>{"network:1", "handshake:0"}));
  MwFramework::getInstance().waitForStartupForTesting();

  writeConfiguration({"127.0.0.1:" + std::to_string(closedPort), "bad-entry", "127.0.0.1:" + std::to_string(closedPort)});
  MwFramework::getInstance().initialization();
  ASSERT_TRUE(waitForEvents(*listener, 4));
  EXPECT_EQ(listener->events[2], "network:0");
  EXPECT_EQ(listener->events[3], "handshake:1/network");
  EXPECT_EQ(MwFramework::getInstance().getCurrentNetworkState(), 0);
}

// A resolver that never answers and tells when it was asked.
class AskedResolver : public fxtest::SilentResolver {
 public:
  void resolve(const std::string&, std::uint16_t, const pf::ResolveHints&, Completion) override { asked = true; }
  std::atomic<bool> asked{false};
};

TEST_F(StartupTest, AProbeHostThatNeverAnswersIsGivenUpAfterTenSeconds) {
  auto resolver = std::make_shared<AskedResolver>();
  fxtest::ResolverScope scope{resolver};
  writeConfiguration({"bank.test:443"});
  auto listener = std::make_shared<RecordingListener>(std::vector{Operation::NetworkState, Operation::HandShake});
  MwFramework::getInstance().addListener(listener);
  {
    pf::VirtualTimeScope time;
    MwFramework::getInstance().initialization();
    ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return resolver->asked.load(); }, 10));
    pf::RunLoop::main()->spinUntil([] { return false; }, 0.2);  // the probe thread settles in its wait
    time.advance(9.9);
    pf::RunLoop::main()->spinUntil([] { return false; }, 0.05);
    EXPECT_TRUE(listener->events.empty());
    time.advance(0.1);
    ASSERT_TRUE(waitForEvents(*listener, 2));
  }
  EXPECT_EQ(listener->events, (std::vector<std::string>{"network:0", "handshake:1/network"}));
}

TEST_F(StartupTest, ASecondInitializationWaitsForTheRunningOne) {
  auto listener = std::make_shared<RecordingListener>();
  MwFramework::getInstance().addListener(listener);
  auto before = testing::serverCall(server->baseUrl(), "/stats")["acts"].value("handshake", 0);
  MwFramework::getInstance().initialization();
  MwFramework::getInstance().initialization();
  ASSERT_TRUE(waitForEvents(*listener, 12));
  // Each call reports its data at once, the second one whenever it comes in the first run's events.
  auto runs = listener->events;
  EXPECT_EQ(std::erase(runs, "data:1"), 2u);
  EXPECT_EQ(listener->events.front(), "data:1");
  // Both runs succeed end to end (no act ran under the other run's keys), one after the other.
  EXPECT_EQ(runs, (std::vector<std::string>{"network:1", "handshake:0", "manifest:0", "menu:0", "files:0",
                                            "network:1", "handshake:0", "manifest:0", "menu:0", "files:0"}));
  EXPECT_EQ(testing::serverCall(server->baseUrl(), "/stats")["acts"].value("handshake", 0), before + 2);
}

TEST_F(StartupTest, StoredCrashReportsAreUploadedOnceASessionIsOpenAndKeptWhenRefused) {
  ASSERT_TRUE(MwCrashCollect::storeReport("pf::Exception", "first"));
  testing::control(*server, {{"crash", "refuse"}});
  auto listener = std::make_shared<RecordingListener>(std::vector{Operation::CheckManifest});
  auto& framework = MwFramework::getInstance();
  framework.addListener(listener);
  framework.openCrashCollect();
  framework.initialization();
  ASSERT_TRUE(waitForEvents(*listener, 1));
  EXPECT_EQ(pf::FileManager::contentsOfDirectory(MwCrashCollect::reportFolder())->size(), 1u);

  testing::control(*server, {{"crash", "ok"}});
  framework.initialization();
  ASSERT_TRUE(waitForEvents(*listener, 2));
  EXPECT_TRUE(pf::FileManager::contentsOfDirectory(MwCrashCollect::reportFolder())->empty());
  auto crashes = testing::serverCall(server->baseUrl(), "/stats")["crashes"];
  ASSERT_FALSE(crashes.empty());
  auto report = pf::parseJson(crashes.back().get<std::string>());
  ASSERT_TRUE(report);
  EXPECT_EQ((*report)["reason"], "first");
}

TEST(CrashCollectDeathTest, AnUncaughtExceptionLeavesAReport) {
  fxtest::TempDir home;
  pf::Sandbox::setHome(home.path());
  EXPECT_DEATH(
      {
        MwCrashCollect::install();
        try {
          throw pf::Exception("TestException", "boom");
        } catch (...) {
          std::terminate();
        }
      },
      "");
  auto names = pf::FileManager::contentsOfDirectory(MwCrashCollect::reportFolder());
  ASSERT_TRUE(names && names->size() == 1);
  auto report = pf::parseJson(*pf::FileManager::readFile(MwCrashCollect::reportFolder() / names->front()));
  EXPECT_EQ((*report)["name"], "TestException");
  EXPECT_EQ((*report)["reason"], "boom");
  pf::Sandbox::setHome({});
}

}  // namespace
}  // namespace container
