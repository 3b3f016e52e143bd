// URL loading against a server gone bad (support/peers/hostile_http_server.py): bodies without
// end or beyond a limit, compressed bodies cut short or spoilt, answers that are no HTTP,
// conflicting lengths and a redirect that would leave https.

#include <gtest/gtest.h>

#include <atomic>

#include "platform/foundation/Operation.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/UrlConnection.h"
#include "platform/net/UrlError.h"
#include "support/HostileHttpPeer.h"

namespace {

using fxtest::HostileHttpPeer;
using pf::UrlConnection;
using pf::UrlRequest;

struct Outcome : pf::UrlConnectionDelegate {
  std::optional<pf::UrlResponse> response;
  std::int64_t received = 0;
  std::optional<pf::Error> error;
  bool done = false;

  void didReceiveResponse(UrlConnection&, const pf::UrlResponse& r) override { response = r; }
  void didReceiveData(UrlConnection&, const pf::Bytes& d) override { received += static_cast<std::int64_t>(d.size()); }
  void didFinishLoading(UrlConnection&) override { done = true; }
  void didFailWithError(UrlConnection&, const pf::Error& e) override {
    error = e;
    done = true;
  }
  int code() const { return error ? static_cast<int>(error->code) : 0; }
};

std::shared_ptr<Outcome> load(const std::string& url, std::int64_t limit = 0, bool trustAnyServer = false,
                              const std::string& method = "GET") {
  auto outcome = std::make_shared<Outcome>();
  UrlRequest request(pf::Url::parse(url));
  request.setHttpMethod(method);
  auto connection = UrlConnection::make(request, outcome);
  connection->scheduleInRunLoop(pf::RunLoop::current(), pf::kDefaultRunLoopMode);
  connection->setMaximumBodyLength(limit);
  if (trustAnyServer) {
    connection->setServerTrustEvaluator(
        [](pf::ServerTrust&, const std::string&) { return pf::ChallengeDisposition::UseCredential; });
  }
  connection->start();
  EXPECT_TRUE(pf::RunLoop::current()->spinUntil([&] { return outcome->done; }, 30)) << url;
  return outcome;
}

// The synchronous and the queued send of one request.
std::pair<UrlConnection::Result, UrlConnection::Result> sendBothWays(const std::string& url) {
  auto synchronous = UrlConnection::sendSynchronousRequest(UrlRequest(pf::Url::parse(url)));
  std::atomic<bool> done{false};
  UrlConnection::Result queued;
  UrlConnection::sendAsynchronousRequest(UrlRequest(pf::Url::parse(url)), pf::OperationQueue::make(),
                                         [&](const UrlConnection::Result& r) {
                                           queued = r;
                                           done = true;
                                         });
  EXPECT_TRUE(pf::RunLoop::current()->spinUntil([&] { return done.load(); }, 30)) << url;
  return {std::move(synchronous), std::move(queued)};
}

int hits(HostileHttpPeer& peer) {
  auto result = UrlConnection::sendSynchronousRequest(UrlRequest(pf::Url::parse(peer.http("/hits"))));
  return std::stoi(pf::toString(result.data));
}

class BadServerTest : public ::testing::Test {
 protected:
  HostileHttpPeer& peer = HostileHttpPeer::shared();
};

TEST_F(BadServerTest, BodiesBeyondTheLimitFailAndAreReadNoFurther) {
  constexpr std::int64_t kLimit = 1 << 20;
  struct Case {
    std::string path;
    const char* what;
  };
  const Case cases[] = {
      {HostileHttpPeer::generated(-1, "chunked"), "an endless chunked body"},
      {HostileHttpPeer::generated(-1, "close"), "an endless body ended by the connection"},
      {HostileHttpPeer::generated(-1, "chunked", true), "an endless gzip body"},
      {HostileHttpPeer::generated(1ll << 30, "length"), "a body announced longer"},
      // Compressed 1000:1 and more, so the inflated bytes pass the limit long before the received ones.
      {HostileHttpPeer::generated(64ll << 20, "close", true), "a gzip bomb"},
      // A redirect's body is not kept, but one without end would hold the load for ever.
      {HostileHttpPeer::generated(-1, "chunked", false, 302), "an endless redirect body"},
  };
  for (const auto& c : cases) {
    auto outcome = load(peer.http(c.path), kLimit);
    EXPECT_EQ(outcome->code(), pf::UrlErrorCode::kDataLengthExceedsMaximum) << c.what;
    EXPECT_LE(outcome->received, kLimit) << c.what;
  }
  // At the limit an answer is whole; without one, a long answer is too.
  auto whole = load(peer.http(HostileHttpPeer::generated(kLimit, "chunked", true)), kLimit);
  EXPECT_FALSE(whole->error);
  EXPECT_EQ(whole->received, kLimit);
  whole = load(peer.http(HostileHttpPeer::generated(3 * kLimit, "length")));
  EXPECT_FALSE(whole->error);
  EXPECT_EQ(whole->received, 3 * kLimit);
  // An answer to HEAD has no body, whatever length it announces.
  auto head = load(peer.http(HostileHttpPeer::generated(1ll << 30, "length")), kLimit, false, "HEAD");
  EXPECT_FALSE(head->error);
  EXPECT_EQ(head->response->expectedContentLength(), 1ll << 30);

  // The one-shot sends hold their own limit the same way.
  auto refused = UrlConnection::sendSynchronousRequest(
      UrlRequest(pf::Url::parse(peer.http(HostileHttpPeer::generated(1ll << 30, "length")))));
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code, pf::UrlErrorCode::kDataLengthExceedsMaximum);
  EXPECT_TRUE(refused.data.empty());
}

TEST_F(BadServerTest, ACompressedBodyThatDoesNotReachItsEndFailsOnEveryRoad) {
  const std::string text = HostileHttpPeer::digits();
  struct Case {
    std::string path;
    int code;
    const char* what;
  };
  const Case cases[] = {
      {HostileHttpPeer::packed(text, "gzip", 200), pf::UrlErrorCode::kNetworkConnectionLost, "gzip cut by 200 bytes"},
      {HostileHttpPeer::packed(text, "gzip", 1), pf::UrlErrorCode::kNetworkConnectionLost, "gzip without its last byte"},
      {HostileHttpPeer::packed(text, "deflate", 200), pf::UrlErrorCode::kNetworkConnectionLost, "deflate cut by 200 bytes"},
      {HostileHttpPeer::packed(text, "raw", 200), pf::UrlErrorCode::kNetworkConnectionLost, "raw deflate cut by 200 bytes"},
      {HostileHttpPeer::packed(text, "gzip", 0, true), pf::UrlErrorCode::kCannotDecodeContentData,
       "gzip whose trailer does not match"},
      {HostileHttpPeer::packed(text, "deflate", 0, true), pf::UrlErrorCode::kCannotDecodeContentData,
       "deflate whose check does not match"},
  };
  for (const auto& c : cases) {
    auto outcome = load(peer.http(c.path));
    EXPECT_EQ(outcome->code(), c.code) << c.what;
    auto [synchronous, queued] = sendBothWays(peer.http(c.path));
    ASSERT_TRUE(synchronous.error) << c.what;
    EXPECT_EQ(synchronous.error->code, c.code) << c.what;
    ASSERT_TRUE(queued.error) << c.what;
    EXPECT_EQ(queued.error->code, c.code) << c.what;
  }
  // Whole, every form reads back as sent.
  for (const char* coding : {"gzip", "deflate", "raw"}) {
    auto outcome = load(peer.http(HostileHttpPeer::packed(text, coding)));
    EXPECT_FALSE(outcome->error) << coding;
    EXPECT_EQ(outcome->received, static_cast<std::int64_t>(text.size())) << coding;
    auto [synchronous, queued] = sendBothWays(peer.http(HostileHttpPeer::packed(text, coding)));
    EXPECT_FALSE(synchronous.error) << coding;
    EXPECT_EQ(pf::toString(synchronous.data), text) << coding;
    EXPECT_FALSE(queued.error) << coding;
    EXPECT_EQ(pf::toString(queued.data), text) << coding;
  }
  // A compressed answer without a body (no bytes at all) is an empty body.
  auto empty = load(peer.http(HostileHttpPeer::raw("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 0\r\n\r\n")));
  EXPECT_FALSE(empty->error);
  EXPECT_EQ(empty->received, 0);
}

TEST_F(BadServerTest, ASynchronousSendTakesRoomForAnAnnouncedLengthOnce) {
  auto result = UrlConnection::sendSynchronousRequest(
      UrlRequest(pf::Url::parse(peer.http(HostileHttpPeer::generated(300000, "length")))));
  ASSERT_FALSE(result.error);
  EXPECT_EQ(result.data.size(), 300000u);
  EXPECT_EQ(result.data.capacity(), 300000u) << "grown by doubling instead of reserved";
}

TEST_F(BadServerTest, TheOneShotSendsHoldNoMoreThanTheirLimitAndHandBackNothingOfAFailure) {
  // A compressed answer's length is that of its compressed bytes: taking room for it, then growing
  // by doubling, held the body at the limit in twice the limit.
  constexpr auto kLimit = static_cast<long long>(UrlConnection::kMaxCollectedBytes);
  auto atLimit = UrlConnection::sendSynchronousRequest(
      UrlRequest(pf::Url::parse(peer.http(HostileHttpPeer::generated(kLimit, "length", true)))));
  ASSERT_FALSE(atLimit.error);
  EXPECT_EQ(atLimit.data.size(), UrlConnection::kMaxCollectedBytes);
  EXPECT_LE(atLimit.data.capacity(), UrlConnection::kMaxCollectedBytes);
  pf::Bytes().swap(atLimit.data);

  // What came before a failure is no answer.
  const std::string text = HostileHttpPeer::digits();
  for (const std::string& path : {HostileHttpPeer::answer(text, 100), HostileHttpPeer::packed(text, "gzip", 200)}) {
    auto [synchronous, queued] = sendBothWays(peer.http(path));
    EXPECT_TRUE(synchronous.error) << path;
    EXPECT_TRUE(synchronous.data.empty()) << path;
    EXPECT_TRUE(queued.error) << path;
    EXPECT_TRUE(queued.data.empty()) << path;
  }
}

TEST_F(BadServerTest, AnswersThatAreNoHttpFailAsBadServerResponses) {
  const std::pair<std::string, const char*> cases[] = {
      {HostileHttpPeer::raw("hello, this is no status line\n"), "an HTTP/0.9 answer"},
      {HostileHttpPeer::raw("HTTP/1.1 2x0 OK\r\nContent-Length: 2\r\n\r\nok"), "a status that is no number"},
      {HostileHttpPeer::raw("HTTQ/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"), "no protocol name"},
      {"/longheader?size=10000000", "a 10 MB header line"},
      {HostileHttpPeer::raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 12\r\n\r\nok0123456789"),
       "conflicting Content-Length fields"},
      {HostileHttpPeer::raw("HTTP/1.1 200 OK\r\nContent-Length: 2, 12\r\n\r\nok0123456789"),
       "a Content-Length list that disagrees"},
      {HostileHttpPeer::raw("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n 50\r\n\r\n" + std::string(50, 'x')),
       "a Content-Length continued on a folded line"},
      {HostileHttpPeer::raw("HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\t50\r\nX-Other: 1\r\n\r\n" + std::string(50, 'x')),
       "a Content-Length folded with a tab"},
  };
  for (const auto& [path, what] : cases) {
    auto outcome = load(peer.http(path));
    EXPECT_EQ(outcome->code(), pf::UrlErrorCode::kBadServerResponse) << what;
    EXPECT_FALSE(outcome->response) << what;
  }
  // Other fields may still be folded.
  auto folded = load(peer.http(HostileHttpPeer::raw("HTTP/1.1 200 OK\r\nX-Note: one\r\n two\r\nContent-Length: 2\r\n\r\nok")));
  EXPECT_FALSE(folded->error);
  EXPECT_EQ(folded->response->valueForHttpHeaderField("X-Note"), "one two");
  // The same length twice is one length.
  auto agreeing = load(peer.http(HostileHttpPeer::raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-length: 2, 2\r\n\r\nok")));
  EXPECT_FALSE(agreeing->error);
  EXPECT_EQ(agreeing->received, 2);
}

TEST_F(BadServerTest, ARedirectFromHttpsToHttpIsRefusedBeforeAnythingIsSent) {
  const int before = hits(peer);
  auto outcome = load(peer.https("/redirect?code=307&to=" + peer.http("/answer")), 0, true);
  EXPECT_EQ(outcome->code(), pf::UrlErrorCode::kSecureConnectionRequired);
  EXPECT_EQ(hits(peer), before + 1) << "only the redirect itself reached the server";

  // Within https a redirect is followed as before.
  outcome = load(peer.https("/redirect?code=307&to=" + peer.https("/answer")), 0, true);
  EXPECT_FALSE(outcome->error);
  EXPECT_EQ(outcome->response->statusCode(), 200);
}

}  // namespace
