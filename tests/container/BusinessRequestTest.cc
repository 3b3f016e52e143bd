// Blocking business requests against the loopback bank server: answers, failure packages, analysis
// records, session headers and cookies, and a full key negotiation followed by 3DES requests.

#include <gtest/gtest.h>

#include "BankServer.h"
#include "platform/foundation/Log.h"
#include "container/MwAnalysisRecord.h"
#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwLogoutHelper.h"
#include "container/MwRequestFactory.h"
#include "platform/foundation/Base64.h"

namespace container {
namespace {

using testing::BankServer;

class BusinessRequestTest : public testing::BankServerSuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server->running());
    testing::resetContainer(server->baseUrl());
  }
  // Key negotiation: the client random goes RSA-encrypted; the answer sets the session.
  static std::shared_ptr<MwComPackage> handshake(const std::string& script = "") {
    const pf::Value business{{"CLIENTRANDOM", pf::hexEncode(MwSessionManager::getInstance().getClientRandom())}};
    return MwCommunicationHelper::asynchBusinessRequest("mwframework.do?act=handshake" + script, business, kCryptRsa);
  }
  pf::LogCapture log;  // the requests' debug lines stay out of the test output
};

pf::Value business(const std::shared_ptr<MwComPackage>& p) {
  if (!p) return nullptr;
  return p->businessObject().value_or(nullptr);
}

void expectPackage(const std::shared_ptr<MwComPackage>& p, int flag, std::int64_t code, std::optional<std::string> message) {
  ASSERT_TRUE(p);
  EXPECT_EQ(p->getPackageFlag(), flag);
  EXPECT_EQ(p->getErrCode(), code);
  EXPECT_EQ(p->getErrMsg(), message);
}

TEST_F(BusinessRequestTest, HandshakeWithRsaThenThreeDesBusinessAgainstAnotherImplementation) {
  MwFramework::getInstance().setSessionState(1);
  auto answer = handshake();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->getDataPackage()->getCryptFlag(), kCryptRsa);
  pf::Value result = business(answer);
  EXPECT_EQ(result["RETCODE"], "AAAAAAA");
  ASSERT_TRUE(result["UUIDKEY"].is_string());
  auto& session = MwSessionManager::getInstance();
  EXPECT_EQ(session.getSessionState(), 4) << "sessionState 1";
  EXPECT_FALSE(session.getServerEncryptRandom().empty()) << "Service-Number";
  // The cookie "JSESSIONID=<id>:node1" gives the session id before the colon.
  ASSERT_TRUE(session.getSessionId());
  EXPECT_EQ("UUID-" + *session.getSessionId(), result["UUIDKEY"].get<std::string>());

  // The session cookie comes back, so the server finds the keys; both directions are 3DES.
  const pf::Value order{{"PRODUCT", "USDCNY"}, {"AMOUNT", "100.00"}, {"MEMO", "买入"}};
  auto echo = MwCommunicationHelper::synchBusinessRequest("trade.do?act=order", order);
  ASSERT_TRUE(echo);
  EXPECT_EQ(echo->getDataPackage()->getCryptFlag(), kCrypt3Des);
  EXPECT_EQ(business(echo)["ECHO"], order);

  // Hash and signature made by the server check out.
  auto signedEcho = MwCommunicationHelper::asynchBusinessRequest("trade.do?act=query&hash=1&sign=1", order);
  ASSERT_TRUE(signedEcho);
  EXPECT_EQ(signedEcho->getDataPackage()->getSignFlag(), 1);
  EXPECT_EQ(business(signedEcho)["ECHO"], order);

  // Logged in by header, then out through the logout helper.
  auto login = MwCommunicationHelper::synchBusinessRequest("mwframework.do?act=login", {{"USERID", "u1"}});
  ASSERT_TRUE(login);
  EXPECT_EQ(session.getSessionState(), 6);
  pf::Value logout = MwLogoutHelper().logout("u1", MwLogoutHelper::kServerTypeUCP);
  EXPECT_EQ(logout["result"], "0");
  EXPECT_EQ(logout["data"]["ACT"], "logout");
  EXPECT_EQ(logout["data"]["ECHO"]["USERID"], "u1");
  EXPECT_EQ(session.getSessionState(), 4);
}

TEST_F(BusinessRequestTest, WithoutTheSessionCookieTheServerReportsATimeOut) {
  MwFramework::getInstance().setSessionState(1);
  ASSERT_TRUE(handshake("&cookie=0"));
  testing::NotificationRecorder posted;
  auto answer = MwCommunicationHelper::synchBusinessRequest("trade.do?act=order", {{"A", 1}});
  ASSERT_TRUE(answer);
  EXPECT_EQ(business(answer)["RETCODE"], "SESSIONTIMEOUT");
  EXPECT_EQ(MwSessionManager::getInstance().getSessionState(), 3);
  EXPECT_TRUE(posted.contains("SessionTimeoutNotification"));
}

TEST_F(BusinessRequestTest, AnswerHeadersUpdateTheSession) {
  auto answer = MwCommunicationHelper::synchBusinessRequest("a.do?act=x&sessionState=100&serviceNumber=S9&needva=1",
                                                            {{"A", 1}}, kCryptPlain);
  ASSERT_TRUE(answer);
  auto& session = MwSessionManager::getInstance();
  EXPECT_EQ(session.getSessionState(), 6);
  EXPECT_EQ(session.getServerDecryptRandom(), "S9");
  EXPECT_EQ(session.getVerificationFlag(), "1");
}

TEST_F(BusinessRequestTest, EmptyPathsGiveDifferentPackagesBySendingWay) {
  expectPackage(MwCommunicationHelper::synchBusinessRequest("", nullptr), 0, 1, std::nullopt);
  expectPackage(MwCommunicationHelper::asynchBusinessRequest("", nullptr), 1, 1, "参数错误");
}

TEST_F(BusinessRequestTest, StatusesOtherThanTwoHundredGiveTheServerErrorPackage) {
  for (const char* status : {"201", "204", "404", "500"}) {
    for (bool synch : {true, false}) {
      const std::string path = std::string("a.do?act=x&status=") + status;
      auto p = synch ? MwCommunicationHelper::synchBusinessRequest(path, nullptr, kCryptPlain)
                     : MwCommunicationHelper::asynchBusinessRequest(path, nullptr, kCryptPlain);
      expectPackage(p, 1, 4, "服务器内部错误");
      EXPECT_EQ(business(p), (pf::Value{{"RETMSG", "服务器内部错误，请联系澜川银行(96271)!"}, {"RETCODE", "500"}}))
          << status;
    }
  }
  EXPECT_EQ(MwRequestFactory::getInstance()->liveRequestCount(), 0u);
}

TEST_F(BusinessRequestTest, TwoHundredWithoutAPacketGivesNothing) {
  for (const char* body : {"empty", "garbage"}) {
    EXPECT_FALSE(MwCommunicationHelper::synchBusinessRequest(std::string("a.do?body=") + body, nullptr, kCryptPlain));
    EXPECT_FALSE(MwCommunicationHelper::asynchBusinessRequest(std::string("a.do?body=") + body, nullptr, kCryptPlain));
  }
}

TEST_F(BusinessRequestTest, AsynchronousRequestsPostTheirRecord) {
  testing::NotificationRecorder posted;
  auto answer = MwCommunicationHelper::asynchBusinessRequest("a.do?act=x", {{"A", 1}}, kCryptPlain);
  ASSERT_TRUE(answer);
  auto records = posted.analysisRecords();
  ASSERT_EQ(records.size(), 1u);
  const MwAnalysisRecord& r = records[0];
  EXPECT_EQ(r.url, server->baseUrl() + "/a.do?act=x");
  ASSERT_TRUE(r.requesttime && r.responsetime);
  EXPECT_LE(*r.requesttime, *r.responsetime);
  EXPECT_EQ(r.httpcode, "200");
  EXPECT_EQ(r.hasdata, "1");
  EXPECT_EQ(r.httpdata, answer);
  EXPECT_FALSE(r.errormessage);

  posted.clear();
  MwCommunicationHelper::synchBusinessRequest("a.do?act=x", {{"A", 1}}, kCryptPlain);
  EXPECT_TRUE(posted.analysisRecords().empty()) << "the synchronous request posts nothing";

  MwFramework::getInstance().setCurrentNetworkState(0);
  auto refused = MwCommunicationHelper::asynchBusinessRequest("a.do?act=x", nullptr);
  expectPackage(refused, 0, 2, "网络异常，请检查后重试！");
  records = posted.analysisRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].url);
  EXPECT_EQ(records[0].httpcode, "-1");
  EXPECT_EQ(records[0].errormessage, "网络异常，请检查后重试！");
}

TEST_F(BusinessRequestTest, TransportFailuresGiveStatusZero) {
  testing::NotificationRecorder posted;
  auto synch = MwCommunicationHelper::synchBusinessRequest("a.do?drop=1", nullptr, kCryptPlain);
  expectPackage(synch, 1, 4, "服务器内部错误");
  EXPECT_EQ(business(synch)["RETCODE"], "500");
  auto asynch = MwCommunicationHelper::asynchBusinessRequest("a.do?drop=1", nullptr, kCryptPlain);
  expectPackage(asynch, 1, 4, "服务器内部错误");
  auto records = posted.analysisRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].httpcode, "0");

  // Nobody listening at all.
  MwServerConfiguration::resetForTesting("http://127.0.0.1:9");
  expectPackage(MwCommunicationHelper::synchBusinessRequest("a.do", nullptr, kCryptPlain), 1, 4, "服务器内部错误");
}

TEST_F(BusinessRequestTest, GateRefusalsBecomePackagesOrNothing) {
  MwFramework::getInstance().setSessionState(2);
  expectPackage(MwCommunicationHelper::synchBusinessRequest("a.do", nullptr), 0, 3, "网络连接超时，请重新登录！");
}

TEST_F(BusinessRequestTest, VerificationPictureOrTextAndItsFailures) {
  testing::NotificationRecorder posted;
  pf::Error error;
  auto picture = MwCommunicationHelper::downloadVCodePicture("vcode?ctype=image/png", nullptr, &error);
  ASSERT_TRUE(picture);
  EXPECT_EQ((*picture)["RETCODE"], "AAAAAAA");
  EXPECT_EQ((*picture)["RETMSG"], "");
  EXPECT_EQ(pf::dataValue((*picture)["content"]), pf::toBytes("\x89PNG\r\n\x1a\nfake"));
  // "text/plain" with a parameter is no plain text: a picture too.
  picture = MwCommunicationHelper::downloadVCodePicture("vcode?ctype=text/plain;charset=utf-8", nullptr);
  ASSERT_TRUE(picture);
  EXPECT_TRUE(picture->contains("content"));

  auto text = MwCommunicationHelper::downloadVCodePicture("vcode?ctype=TEXT/PLAIN", nullptr);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, (pf::Value{{"RETMSG", "ok"}, {"RETCODE", "AAAAAAA"}}));
  auto records = posted.analysisRecords();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].httpcode, "-1");
  EXPECT_EQ(records[2].httpcode, "200");
  EXPECT_EQ(records[2].hasdata, "1");

  EXPECT_FALSE(MwCommunicationHelper::downloadVCodePicture("vcode?status=404", nullptr, &error));
  EXPECT_EQ(error.domain, "MwCommunicationErrorDomain");
  EXPECT_EQ(error.code, 4);
  EXPECT_FALSE(MwCommunicationHelper::downloadVCodePicture("vcode?drop=1", nullptr, &error));
  EXPECT_EQ(error.code, 4);
  EXPECT_FALSE(MwCommunicationHelper::downloadVCodePicture("", nullptr, &error));
  EXPECT_EQ(error, pf::Error("MwCommunicationErrorDomain", 1, nullptr));
  MwFramework::getInstance().setSessionState(0);
  EXPECT_FALSE(MwCommunicationHelper::downloadVCodePicture("vcode", nullptr, &error));
  EXPECT_EQ(error.code, 3);
}

TEST_F(BusinessRequestTest, LogoutAnswersByState) {
  MwUCPLogoutHelper helper;
  EXPECT_EQ(helper.logout("", "u1")["result"], "notlogin");
  MwFramework::getInstance().setSessionState(6);
  MwFramework::getInstance().setCurrentNetworkState(0);
  EXPECT_EQ(helper.logout("", "u1")["result"], "badnetwork");
  EXPECT_EQ(helper.logout("", "u1")["result"], "relogout");
  EXPECT_EQ(MwLogoutHelper().logout("u1", MwLogoutHelper::kServerTypeUCP)["result"], "1");
}

}  // namespace
}  // namespace container
