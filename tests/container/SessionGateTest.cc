// Session state from answer headers, the notifications it posts, and the request gate.

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "BankServer.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwHttpResponse.h"
#include "platform/foundation/RunLoop.h"

namespace container {
namespace {

struct FakeResponse : MwHttpResponse {
  pf::HttpHeaders headers;
  std::optional<std::string> sessionId;
  explicit FakeResponse(pf::HttpHeaders h, std::optional<std::string> id = std::nullopt)
      : headers(std::move(h)), sessionId(std::move(id)) {}
  const pf::HttpHeaders& getHeaders() const override { return headers; }
  const std::optional<std::string>& getSessionId() const override { return sessionId; }
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::resetContainer("", 1, 0); }
  MwSessionManager& session = MwSessionManager::getInstance();
};

TEST_F(SessionTest, SessionStateHeaderMovesTheStateAndPostsWhatChanged) {
  testing::NotificationRecorder posted;
  FakeResponse open({{"sessionState", "1"}});
  session.updateSession(nullptr, &open);
  EXPECT_EQ(session.getSessionState(), 4);

  FakeResponse loggedIn({{"SESSIONSTATE", "100"}});  // header names ignore case
  session.updateSession(nullptr, &loggedIn);
  EXPECT_EQ(session.getSessionState(), 6);
  EXPECT_EQ(posted.names(), (std::vector<std::string>{"SessionDidLogIn"}));

  posted.clear();
  FakeResponse expired({{"sessionState", "0"}});
  session.updateSession(nullptr, &expired);
  EXPECT_EQ(session.getSessionState(), 3);
  EXPECT_EQ(posted.names(), (std::vector<std::string>{"SessionDidLogOut", "SessionTimeoutNotification"}));

  posted.clear();
  FakeResponse garbage({{"sessionState", "abc"}});
  session.updateSession(nullptr, &garbage);
  EXPECT_EQ(session.getSessionState(), 3);
  EXPECT_EQ(posted.names(), (std::vector<std::string>{"SessionTimeoutNotification"}));

  // Numbers beyond int are clamped, never wrapped onto 1 or 100.
  for (const char* huge : {"4294967297", "4294967396", "-4294967295"}) {
    posted.clear();
    FakeResponse wrapped({{"sessionState", huge}});
    session.updateSession(nullptr, &wrapped);
    EXPECT_EQ(session.getSessionState(), 3) << huge;
  }
}

TEST_F(SessionTest, ServerRandomVerificationFlagAndSessionIdAreKept) {
  FakeResponse answer({{"Service-Number", "r-1"}, {"NEEDVA", "1"}}, "4f2a");
  session.updateSession(nullptr, &answer);
  EXPECT_EQ(session.getServerDecryptRandom(), "r-1");
  EXPECT_EQ(session.getServerEncryptRandom(), "r-1");
  EXPECT_EQ(session.getVerificationFlag(), "1");
  EXPECT_EQ(session.getSessionId(), "4f2a");
  EXPECT_EQ(session.getSessionState(), 0) << "no sessionState header, no change";

  FakeResponse empty({{"Service-Number", ""}, {"NEEDVA", ""}});
  session.updateSession(nullptr, &empty);
  EXPECT_EQ(session.getServerEncryptRandom(), "r-1");
  EXPECT_EQ(session.getVerificationFlag(), "1");
  EXPECT_EQ(session.getSessionId(), "4f2a") << "an answer without a session id keeps the old one";
  session.updateSession(nullptr, nullptr);

  const pf::Bytes before = session.getClientRandom();
  session.emptyServerRandom();
  EXPECT_EQ(session.getServerEncryptRandom(), "");
  EXPECT_NE(session.getClientRandom(), before);
  EXPECT_FALSE(session.getEncryptKey());
}

TEST_F(SessionTest, LoginAndLogoutNotificationsFollowTheStateWhateverSetsIt) {
  testing::NotificationRecorder posted;
  MwFramework::getInstance().setSessionState(6);
  MwFramework::getInstance().setSessionState(7);
  MwFramework::getInstance().setSessionState(4);
  MwFramework::getInstance().setSessionState(6);
  EXPECT_EQ(posted.names(), (std::vector<std::string>{"SessionDidLogIn", "SessionDidLogOut", "SessionDidLogIn"}));
}

class GateTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::resetContainer("http://127.0.0.1:9"); }
};

TEST_F(GateTest, WaitsWhileTheNetworkIsUnknownThenRefusesWithoutNetwork) {
  MwFramework::getInstance().setCurrentNetworkState(3);
  // The state becomes known while the gate turns the main run loop.
  pf::RunLoop::main()->perform([] { MwFramework::getInstance().setCurrentNetworkState(0); });
  pf::Error error;
  EXPECT_FALSE(MwCommunicationHelper::allowSendRequest("mwframework.do?act=update", &error));
  EXPECT_EQ(error, pf::Error("网络异常，请检查后重试！", 2, nullptr));
}

TEST_F(GateTest, WaitsOnOtherThreadsToo) {
  MwFramework::getInstance().setCurrentNetworkState(3);
  std::atomic<int> answer{-1};
  std::thread caller([&] { answer = MwCommunicationHelper::allowSendRequest("x.do", nullptr) ? 1 : 0; });
  MwFramework::getInstance().setCurrentNetworkState(2);
  caller.join();
  EXPECT_EQ(answer, 1);
}

TEST_F(GateTest, WithoutSessionOnlyTheHandshakePasses) {
  MwFramework::getInstance().setSessionState(3);
  pf::Error error;
  EXPECT_TRUE(MwCommunicationHelper::allowSendRequest("mwframework.do?act=handshake", &error));
  EXPECT_EQ(error, pf::Error());
  EXPECT_FALSE(MwCommunicationHelper::allowSendRequest("mwframework.do?act=login", &error));
  EXPECT_EQ(error, pf::Error("网络连接超时，请重新登录！", 3, nullptr));
  EXPECT_FALSE(MwCommunicationHelper::allowSendRequest("mwframework.do?act=login", nullptr));

  for (int state : {4, 6, 7}) {
    MwFramework::getInstance().setSessionState(state);
    EXPECT_TRUE(MwCommunicationHelper::allowSendRequest("mwframework.do?act=login", nullptr)) << state;
  }
  MwFramework::getInstance().setSessionState(-1);  // compared unsigned: not "3 or less"
  EXPECT_TRUE(MwCommunicationHelper::allowSendRequest("a.do", nullptr));
}

TEST_F(GateTest, OnlyWifiAndCellularCountAsNetwork) {
  for (int state : {0, 4, -1}) {
    MwFramework::getInstance().setCurrentNetworkState(state);
    pf::Error error;
    EXPECT_FALSE(MwCommunicationHelper::allowSendRequest("mwframework.do?act=handshake", &error)) << state;
    EXPECT_EQ(error.code, 2);
  }
}

TEST(RequestRules, TimeOutsInWholeSecondsLongOnesKeptSixtyForAnythingUnusable) {
  EXPECT_EQ(MwCommunicationHelper::requestTimeout(2.9), 2);
  EXPECT_EQ(MwCommunicationHelper::requestTimeout(0.5), 0);
  EXPECT_EQ(MwCommunicationHelper::requestTimeout(60), 60);
  EXPECT_EQ(MwCommunicationHelper::requestTimeout(100000), 100000);
  EXPECT_EQ(MwCommunicationHelper::requestTimeout(9e18), static_cast<std::int64_t>(9e18));
  for (double unusable : std::vector<double>{0.0, -5.0, std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, 9223372036854775808.0}) {
    EXPECT_EQ(MwCommunicationHelper::requestTimeout(unusable), 60) << unusable;
  }
}

TEST(RequestRules, OneTrailingSlashOfTheBaseIsDropped) {
  MwServerConfiguration::resetForTesting("http://bank/");
  EXPECT_EQ(MwCommunicationHelper::businessUrl("a.do?act=x"), "http://bank/a.do?act=x");
  MwServerConfiguration::resetForTesting("http://bank//");
  EXPECT_EQ(MwCommunicationHelper::businessUrl("a.do"), "http://bank//a.do");
  MwServerConfiguration::getInstance().setServerBaseUrl("http://other/");
  EXPECT_EQ(MwServerConfiguration::getInstance().getServerBaseUrl(), "http://other");
}

}  // namespace
}  // namespace container
