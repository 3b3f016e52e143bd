// The WebSocket client against real peers on loopback: Python's websockets, Node's ws, and a
// raw-socket peer that sends what well-behaved servers never do.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <filesystem>
#include <fstream>

#include "WebSocketTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/security/Certificate.h"

using namespace appnet;
using wstest::FloodRecorder;
using wstest::Peer;
using wstest::Recorder;
using wstest::spin;

namespace {

struct Client {
  std::shared_ptr<TnqWebSocket> socket;
  std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();

  explicit Client(std::shared_ptr<TnqWebSocket> s) : socket(std::move(s)) {
    socket->setDelegate(rec);
    socket->open();
  }
  explicit Client(const std::string& url) : Client(TnqWebSocket::initWithURL(url)) {}
  bool waitOpen() { return spin([&] { return rec->opened || rec->ended(); }) && rec->opened; }
  bool waitEnd() { return spin([&] { return rec->ended(); }); }
  bool waitMessages(std::size_t n) { return spin([&] { return rec->messages.size() >= n || rec->ended(); }); }
};

pf::Bytes pattern(std::size_t n) {
  pf::Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return b;
}

}  // namespace

TEST(WebSocketPeer, PythonEchoesTextAndEveryLengthCodeAndClosesCleanly) {
  Peer peer(Peer::Kind::Python, "ws_python_server.py");
  ASSERT_GT(peer.port(), 0);
  Client c(peer.url("/echo"));
  ASSERT_TRUE(c.waitOpen());
  EXPECT_EQ(c.socket->readyState(), TnqReadyState::Open);
  EXPECT_TRUE(c.socket->send(std::string("h\xc3\xa9llo")));
  for (std::size_t n : {0u, 125u, 126u, 65535u, 65536u, 300000u}) EXPECT_TRUE(c.socket->send(pattern(n)));
  ASSERT_TRUE(c.waitMessages(7));
  ASSERT_EQ(c.rec->messages.size(), 7u);
  EXPECT_EQ(wstest::text(c.rec->messages[0]), "h\xc3\xa9llo");
  std::size_t i = 1;
  for (std::size_t n : {0u, 125u, 126u, 65535u, 65536u, 300000u})
    EXPECT_EQ(std::get<pf::Bytes>(c.rec->messages[i++]), pattern(n)) << n;

  c.socket->close();
  ASSERT_TRUE(c.waitEnd());
  ASSERT_TRUE(c.rec->closed);
  EXPECT_EQ(c.rec->closed->code, 1000);
  EXPECT_TRUE(c.rec->closed->clean);
  EXPECT_FALSE(c.rec->error);
  EXPECT_EQ(peer.lineStartingWith("CLOSED"), "CLOSED 1000 ");
  // Nothing is sent once the socket is no longer open.
  EXPECT_FALSE(c.socket->send(std::string("late")));
  EXPECT_FALSE(c.socket->sendPing());
}

TEST(WebSocketPeer, PythonServerCloseIsAnsweredAndReportedWithItsCode) {
  Peer peer(Peer::Kind::Python, "ws_python_server.py");
  Client c(peer.url("/close/4000/bye"));
  ASSERT_TRUE(c.waitEnd());
  ASSERT_TRUE(c.rec->closed);
  EXPECT_EQ(c.rec->closed->code, 4000);
  EXPECT_EQ(c.rec->closed->reason, "bye");
  EXPECT_TRUE(c.rec->closed->clean);
  EXPECT_EQ(c.rec->closeCount, 1);
  // The server saw its close answered with 1000.
  EXPECT_EQ(peer.lineStartingWith("CLOSED"), "CLOSED 1000 ");
}

TEST(WebSocketPeer, NodeFragmentsWithAPingBetweenAndUtf8SplitAcrossFrames) {
  Peer peer(Peer::Kind::Node, "ws_node_server.js");
  ASSERT_GT(peer.port(), 0);
  Client fragments(peer.url("/fragments"));
  ASSERT_TRUE(fragments.waitMessages(1));
  ASSERT_EQ(fragments.rec->messages.size(), 1u);
  EXPECT_EQ(wstest::text(fragments.rec->messages[0]), "one,two,three");
  EXPECT_EQ(peer.lineStartingWith("PONG"), "PONG between");  // the ping between fragments is answered

  Client split(peer.url("/utf8split"));
  ASSERT_TRUE(split.waitMessages(1));
  EXPECT_EQ(wstest::text(split.rec->messages.at(0)), "a\xc3\xa9"
                                                     "b");
  EXPECT_FALSE(split.rec->ended());

  Client lengths(peer.url("/lengths"));
  ASSERT_TRUE(lengths.waitMessages(4));
  ASSERT_EQ(lengths.rec->messages.size(), 4u);
  std::size_t i = 0;
  for (std::size_t n : {125u, 126u, 65535u, 65536u}) {
    const auto& b = std::get<pf::Bytes>(lengths.rec->messages[i++]);
    EXPECT_EQ(b, pf::Bytes(n, static_cast<std::uint8_t>(n % 251))) << n;
  }
}

TEST(WebSocketPeer, NodePingPongAndACloseReasonCutAtACharacter) {
  Peer peer(Peer::Kind::Node, "ws_node_server.js");
  Client c(peer.url("/echo"));
  ASSERT_TRUE(c.waitOpen());
  EXPECT_FALSE(c.socket->sendPing(pf::Bytes(126, 'p')));  // too long for a control frame
  EXPECT_TRUE(c.socket->sendPing(pf::toBytes("ping-1")));
  ASSERT_TRUE(spin([&] { return !c.rec->pongs.empty(); }));
  EXPECT_EQ(c.rec->pongs[0], pf::toBytes("ping-1"));
  EXPECT_EQ(peer.lineStartingWith("PING"), "PING ping-1");

  const std::string reason = std::string(122, 'r') + "\xc3\xa9" + "more";
  c.socket->closeWithCode(4001, reason);
  ASSERT_TRUE(c.waitEnd());
  EXPECT_EQ(peer.lineStartingWith("CLOSE"), "CLOSE 4001 " + std::string(122, 'r'));
  ASSERT_TRUE(c.rec->closed);
  EXPECT_TRUE(c.rec->closed->clean);
}

// ---------------------------------------------------------------- raw peer, table-driven

TEST(WebSocketPeer, RawPeerHandshakeAndFramingFaults) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  ASSERT_GT(peer.port(), 0);
  struct Case {
    const char* name;
    // Expected end: failure (domain code) or close (code, clean); and text messages before it.
    std::int64_t failCode;
    int closeCode;
    bool clean;
    const char* reason;
    std::vector<std::string> texts;
    int sentCloseCode;  // the close code the client put on the wire (0: none expected)
  };
  const std::vector<Case> cases = {
      {"status403", 2132, 0, false, "", {}, 0},
      {"badaccept", 2133, 0, false, "Invalid Sec-WebSocket-Accept response", {}, 0},
      {"noaccept", 2133, 0, false, "Invalid Sec-WebSocket-Accept response", {}, 0},
      {"protocol", 2133, 0, false, "Server specified Sec-WebSocket-Protocol that wasn't requested", {}, 0},
      {"garbage", 2133, 0, false, "", {}, 0},
      {"dribble", 0, 0, false, "", {"slow"}, 0},
      {"samesegment", 0, 1000, true, "done", {"first", "<binary>"}, 1000},
      {"rsv", 0, 1002, false, "Server used RSV bits", {}, 1002},
      {"masked", 0, 1002, false, "Client must receive unmasked data", {}, 1002},
      {"continuation", 0, 1002, false, "cannot continue a message", {}, 1002},
      {"newdata", 0, 1002, false, "all data frames after the initial data frame must have opcode 0", {}, 1002},
      {"fragping", 0, 1002, false, "Fragmented control frames not allowed", {}, 1002},
      {"bigping", 0, 1002, false, "Control frames cannot have payloads larger than 126 bytes", {}, 1002},
      {"ping125", 0, 0, false, "", {"after"}, 0},
      {"opcode3", 0, 1002, false, "Unknown opcode 3", {}, 1002},
      {"opcode11", 0, 1002, false, "Unknown opcode 11", {}, 1002},
      {"badutf8", 0, 1007, false, "Text frames must be valid UTF-8", {}, 1007},
      {"badutf8split", 0, 1007, false, "Text frames must be valid UTF-8", {}, 1007},
      {"truncatedutf8", 0, 1007, false, "Text frames must be valid UTF-8", {}, 1007},
      {"surrogate", 0, 1007, false, "Text frames must be valid UTF-8", {}, 1007},
      {"close1byte", 0, 1002, false, "Payload for close must be larger than 2 bytes", {}, 1002},
      {"close1005", 0, 1002, false, "Cannot have close code of 1005", {}, 1002},
      {"close999", 0, 1002, false, "Cannot have close code of 999", {}, 1002},
      {"closebadreason", 0, 1002, false, "Close reason MUST be valid UTF-8", {}, 1002},
      {"closeempty", 0, 1005, true, "", {}, 1000},
      {"close4000", 0, 4000, true, "bye", {}, 1000},
      {"huge", 0, 1009, false, "Message too big", {}, 1009},
      {"toolong", 0, 1009, false, "Message too big", {}, 1009},
      {"eof", 0, 1001, false, "Stream end encountered", {}, 0},
      // Whole frames read straight from the buffer, mixed with fragments and control frames, in
      // one segment and in pieces of three bytes.
      {"mixed", 0, 1000, true, "end", {"a", "bc", "<binary>", "\xc3\xa9", "", std::string(300, 'z')}, 1000},
      {"mixeddribble", 0, 1000, true, "end", {"a", "bc", "<binary>", "\xc3\xa9", "", std::string(300, 'z')}, 1000},
      // A fault in a whole frame after a good one; nothing after it is read.
      {"badutf8after", 0, 1007, false, "Text frames must be valid UTF-8", {"ok"}, 1007},
      {"toolongafter", 0, 1009, false, "Message too big", {"ok"}, 1009},
      {"afterclose", 0, 1000, true, "x", {}, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto socket = TnqWebSocket::initWithURL(peer.url(std::string("/case/") + c.name));
    socket->setMaximumMessageSize(1024);
    Client client(socket);
    const bool endExpected = c.failCode != 0 || c.closeCode != 0;
    if (endExpected) {
      ASSERT_TRUE(client.waitEnd());
    } else {
      ASSERT_TRUE(client.waitMessages(c.texts.size()));
    }
    std::vector<std::string> texts;
    for (const auto& m : client.rec->messages) texts.push_back(wstest::text(m));
    EXPECT_EQ(texts, c.texts);
    if (c.failCode) {
      ASSERT_TRUE(client.rec->error);
      EXPECT_EQ(client.rec->error->domain, kTnqWebSocketErrorDomain);
      EXPECT_EQ(client.rec->error->code, c.failCode);
      if (*c.reason) {
        EXPECT_EQ(client.rec->error->localizedDescription(), c.reason);
      }
      if (c.failCode == 2132) {
        EXPECT_EQ(client.rec->error->localizedDescription(), "received bad response code from server 403");
        EXPECT_EQ(client.rec->error->userInfo[kTnqHTTPResponseStatusCodeKey], 403);
      }
      EXPECT_FALSE(client.rec->closed);  // no close callback after a failure
      EXPECT_EQ(socket->readyState(), TnqReadyState::Closed);
    } else if (c.closeCode) {
      ASSERT_TRUE(client.rec->closed);
      EXPECT_FALSE(client.rec->error);
      EXPECT_EQ(client.rec->closed->code, c.closeCode);
      EXPECT_EQ(client.rec->closed->clean, c.clean);
      EXPECT_EQ(client.rec->closed->reason, c.reason);
    } else {
      EXPECT_TRUE(client.rec->opened);
      EXPECT_FALSE(client.rec->ended());
      socket->close();
    }
    if (c.sentCloseCode) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "%04x", c.sentCloseCode);
      auto line = peer.lineStartingWith(std::string(c.name) + " 8 ");
      ASSERT_TRUE(line);
      EXPECT_EQ(line->substr(std::string(c.name).size() + 3, 4), hex);
    }
  }
}

TEST(WebSocketPeer, APingFloodIsAnsweredByTheLatestPingAndDoesNotHoldMessagesBack) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  constexpr int kPings = 100000;
  Client c(peer.url("/case/pingflood?n=" + std::to_string(kPings)));
  ASSERT_TRUE(spin([&] { return !c.rec->messages.empty() || c.rec->ended(); }, 60));
  ASSERT_EQ(c.rec->messages.size(), 1u);
  EXPECT_EQ(wstest::text(c.rec->messages[0]), "after");
  // The last ping is answered, and the pongs before it were far fewer than the pings.
  auto line = peer.lineStartingWith("pingflood lastpong", 30000);
  ASSERT_TRUE(line);
  EXPECT_LT(std::stoi(line->substr(std::string("pingflood lastpong ").size())), kPings / 2) << *line;
  EXPECT_FALSE(c.rec->ended());
}

namespace {

// What the socket may hold past its bound when its largest message is 1 KiB: a read of one byte let
// in just below the bound may complete a message (its bookkeeping) or grow the storage of the one
// being read (at most to the largest message).
constexpr std::uint64_t kHeldSlack = 1024 + TnqWebSocket::kDeliveryCost + TnqWebSocket::kDeliveryCost / 2;

}  // namespace

// 25 MB of messages, more than the kernel buffers of both ends hold, while the main thread takes
// none: the socket reads up to its bound and no further, and its close still goes out; once the
// main thread takes them, every message arrives, in order, and the close ends the exchange.
TEST(WebSocketPeer, AFloodTheMainThreadDoesNotTakeWaitsInTheKernelAndArrivesWhole) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  constexpr long kMessages = 200000;
  auto socket = TnqWebSocket::initWithURL(peer.url("/case/flood?n=" + std::to_string(kMessages) + "&size=125"));
  socket->setMaximumMessageSize(1024);
  auto rec = std::make_shared<FloodRecorder>();
  socket->setDelegate(rec);
  socket->open();
  ASSERT_TRUE(spin([&] { return rec->opened || rec->ended(); }));
  ASSERT_TRUE(rec->opened);

  const std::uint64_t bound = socket->heldBound();
  EXPECT_EQ(bound, 64u << 10);  // four messages of 1 KiB are less than the least bound
  // Both read in one look: the work queue may still parse what it took and let reading go on for
  // a while, until the messages alone reach the bound.
  bool paused = false;
  std::uint64_t held = 0;
  ASSERT_TRUE(wstest::waitWithMainBusy([&] {
    paused = socket->isReadingPaused();
    held = socket->heldBytes();
    return paused || held > bound + kHeldSlack;
  }));
  EXPECT_TRUE(paused);
  EXPECT_LE(held, bound + kHeldSlack);
  socket->close();
  EXPECT_EQ(peer.lineStartingWith("flood close"), "flood close 03e8");

  ASSERT_TRUE(spin([&] { return rec->ended(); }, 60));
  EXPECT_EQ(rec->next, kMessages);
  EXPECT_TRUE(rec->sawEnd);
  EXPECT_FALSE(rec->outOfOrder);
  EXPECT_LE(rec->mostHeld, bound + kHeldSlack);
  ASSERT_TRUE(rec->closed);
  EXPECT_EQ(rec->closed->code, 1000);
  EXPECT_TRUE(rec->closed->clean);
  EXPECT_FALSE(rec->error);
  EXPECT_EQ(socket->heldBytes(), 0u);
  EXPECT_TRUE(peer.lineStartingWith("flood sent"));
}

// Pings are taken and dropped while the main thread takes nothing: reading goes on (resumed by
// the work queue, not the main thread) through 25 MB of them, still with one answer on its way.
TEST(WebSocketPeer, APingFloodIsReadThroughWhileTheMainThreadIsBusy) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  auto socket = TnqWebSocket::initWithURL(peer.url("/case/pings?n=200000&size=125"));
  socket->setMaximumMessageSize(1024);
  Client c(socket);
  ASSERT_TRUE(c.waitOpen());
  EXPECT_TRUE(peer.lineStartingWith("pings sent", 30000));
  ASSERT_TRUE(wstest::waitWithMainBusy([&] { return socket->hasDeliveriesWaiting(); }));  // "end"
  EXPECT_LE(socket->heldBytes(), socket->heldBound());
  ASSERT_TRUE(c.waitMessages(1));
  EXPECT_EQ(wstest::text(c.rec->messages.at(0)), "end");
  socket->close();
  EXPECT_EQ(peer.lineStartingWith("pings close"), "pings close 03e8");
  auto pongs = peer.lineStartingWith("pings pongs");
  ASSERT_TRUE(pongs);
  EXPECT_LE(std::stoi(pongs->substr(std::string("pings pongs ").size())), 2) << *pongs;
}

TEST(WebSocketPeer, APeerThatDoesNotReadFailsTheSocketInsteadOfGrowingItsBuffer) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  Client c(peer.url("/case/noread"));
  ASSERT_TRUE(c.waitOpen());
  const pf::Bytes megabyte = pattern(1 << 20);
  const std::size_t frames = 2 * (TnqWebSocket::kMaximumOutputBuffer >> 20);
  // Sending may stop being accepted early: the socket fails as soon as too much waits.
  for (std::size_t i = 0; i < frames && c.socket->send(megabyte); ++i) {
  }
  ASSERT_TRUE(c.waitEnd());
  ASSERT_TRUE(c.rec->error);
  EXPECT_EQ(c.rec->error->domain, kTnqWebSocketErrorDomain);
  EXPECT_EQ(c.rec->error->code, 2145);
  EXPECT_EQ(c.socket->readyState(), TnqReadyState::Closed);
  EXPECT_FALSE(c.socket->send(megabyte));
}

TEST(WebSocketPeer, RawPeerSeesMaskedFramesAndEndOfStreamIsReportedOnce) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  Client c(peer.url("/case/ok"));
  ASSERT_TRUE(c.waitMessages(1));
  EXPECT_TRUE(c.socket->send(std::string("abc")));
  EXPECT_TRUE(c.socket->send(pf::Bytes{}));  // an empty binary frame
  EXPECT_EQ(peer.lineStartingWith("ok "), "ok 1 616263");
  EXPECT_EQ(peer.lineStartingWith("ok "), "ok 2 ");
  c.socket->close();
  EXPECT_EQ(peer.lineStartingWith("ok "), "ok 8 03e8");

  Client eof(peer.url("/case/eof"));
  ASSERT_TRUE(eof.waitEnd());
  spin([] { return false; }, 0.2);
  EXPECT_EQ(eof.rec->closeCount, 1);
}

// Messages that arrive together reach the delegate of the moment: one set, or let go, while
// they are being delivered gets (or misses) the rest.
TEST(WebSocketPeer, DelegateChangedOrReleasedWhileABurstIsDelivered) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  struct Handover : Recorder {
    std::weak_ptr<TnqWebSocket> socket;
    std::shared_ptr<Recorder> next;
    void webSocketDidReceiveMessage(const std::shared_ptr<TnqWebSocket>& s, const TnqWebSocketMessage& m) override {
      Recorder::webSocketDidReceiveMessage(s, m);
      if (messages.size() == 2) s->setDelegate(next);
    }
  };
  auto next = std::make_shared<Recorder>();
  auto first = std::make_shared<Handover>();
  first->next = next;
  auto socket = TnqWebSocket::initWithURL(peer.url("/case/mixed"));
  socket->setDelegate(first);
  socket->open();
  ASSERT_TRUE(spin([&] { return next->ended(); }));
  // The peer's ping comes after "a" and its answer waits for the callbacks before it: "bc" and
  // the rest travel together.
  ASSERT_EQ(first->messages.size(), 2u);
  EXPECT_EQ(wstest::text(first->messages[1]), "bc");
  EXPECT_EQ(next->messages.size(), 4u);
  ASSERT_TRUE(next->closed);
  EXPECT_EQ(next->closed->code, 1000);

  // The only owner lets the delegate go at the first message: nothing more reaches it.
  struct LetGo : Recorder {
    std::shared_ptr<Recorder>* owner = nullptr;
    int* count = nullptr;
    void webSocketDidReceiveMessage(const std::shared_ptr<TnqWebSocket>&, const TnqWebSocketMessage&) override {
      ++*count;
      owner->reset();
    }
  };
  int count = 0;
  std::shared_ptr<Recorder> held = std::make_shared<LetGo>();
  static_cast<LetGo&>(*held).owner = &held;
  static_cast<LetGo&>(*held).count = &count;
  auto quiet = TnqWebSocket::initWithURL(peer.url("/case/mixed"));
  quiet->setDelegate(held);
  quiet->open();
  // The close frame follows the messages; their deliveries are on the main queue by then.
  ASSERT_TRUE(spin([&] { return quiet->readyState() >= TnqReadyState::Closing; }));
  spin([] { return false; }, 0.2);
  EXPECT_EQ(count, 1);
}

TEST(WebSocketPeer, UpgradeRequestCarriesCredentialsCookiesProtocolsAndTheCallersFields) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  const std::string port = std::to_string(peer.port());
  auto readRequest = [&] {
    std::vector<std::string> lines;
    while (auto line = peer.lineStartingWith("headers> ")) {
      if (*line == "headers> END") break;
      lines.push_back(line->substr(9));
    }
    return lines;
  };
  TnqWebSocketRequest request{"ws://user:pa%3Ass@127.0.0.1:" + port + "/case/headers?q=1", 60, {}, {}};
  request.headers = {{"Origin", "https://pages.example"}, {"X-Client", "fx"}};
  auto socket = TnqWebSocket::initWithURLRequest(request, {"chat", "superchat"});
  socket->setRequestCookies({{"a", "1"}, {"b", ""}, {"c", "3"}});
  Client c(socket);
  ASSERT_TRUE(c.waitMessages(1));
  EXPECT_EQ(socket->protocol(), "superchat");
  ASSERT_TRUE(socket->receivedHTTPHeaders());
  EXPECT_EQ(socket->receivedHTTPHeaders()->statusCode, 101);
  const auto lines = readRequest();
  ASSERT_GE(lines.size(), 11u);
  EXPECT_EQ(lines[0], "GET /case/headers?q=1 HTTP/1.1");
  const std::vector<std::string> expected = {
      "Host: 127.0.0.1:" + port,
      "Cookie: a=1; c=3",
      "Authorization: Basic dXNlcjpwYTpzcw==",  // user:pa:ss
      "Upgrade: websocket",
      "Connection: Upgrade",
      "Sec-WebSocket-Version: 13",
      "Origin: https://pages.example",  // the caller's field replaces the computed origin
      "Sec-WebSocket-Protocol: chat, superchat",
      "X-Client: fx"};
  for (const auto& field : expected) EXPECT_NE(std::find(lines.begin(), lines.end(), field), lines.end()) << field;
  const auto key = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Sec-WebSocket-Key: ", 0) == 0; });
  ASSERT_NE(key, lines.end());
  EXPECT_EQ(key->size(), 19u + 24u);
  socket->close();

  // A user without a password sends no credentials; a plain URL's origin names its port.
  Client noPassword("ws://user@127.0.0.1:" + port + "/case/headers");
  ASSERT_TRUE(noPassword.waitMessages(1));
  const auto second = readRequest();
  EXPECT_EQ(std::find_if(second.begin(), second.end(), [](const std::string& l) { return l.rfind("Authorization", 0) == 0; }),
            second.end());
  EXPECT_NE(std::find(second.begin(), second.end(), "Origin: http://127.0.0.1:" + port), second.end());
  // The server chose a protocol nobody offered: refused.
  ASSERT_TRUE(noPassword.waitEnd());
  ASSERT_TRUE(noPassword.rec->error);
  EXPECT_EQ(noPassword.rec->error->code, 2133);
}

TEST(WebSocketPeer, ConnectTimeoutOnTheVirtualClock) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  pf::VirtualTimeScope time;
  TnqWebSocketRequest request;
  request.url = peer.url("/case/hang");
  request.timeoutInterval = 5;
  Client hanging(TnqWebSocket::initWithURLRequest(request));
  Client answered(TnqWebSocket::initWithURLRequest(TnqWebSocketRequest{peer.url("/case/ok"), 5, {}, {}}));
  ASSERT_TRUE(answered.waitMessages(1));
  // Let the hanging request reach the peer before time moves.
  spin([] { return false; }, 0.3);
  time.advance(4.9);
  EXPECT_FALSE(hanging.rec->error);
  time.advance(0.2);
  ASSERT_TRUE(spin([&] { return hanging.rec->error.has_value(); }));
  EXPECT_EQ(hanging.rec->error->domain, kTnqWebSocketTimeoutErrorDomain);
  EXPECT_EQ(hanging.rec->error->code, 504);
  EXPECT_EQ(hanging.rec->error->localizedDescription(), "Timeout Connecting to Server");
  EXPECT_FALSE(answered.rec->error);  // an open socket ignores its time-out
  EXPECT_EQ(answered.socket->readyState(), TnqReadyState::Open);
}

// ---------------------------------------------------------------- TLS

namespace {

// A self-signed certificate for 127.0.0.1 made with the openssl command.
struct TestCertificate {
  fxtest::TempDir dir;
  std::filesystem::path cert = dir / "cert.pem";
  std::filesystem::path key = dir / "key.pem";
  bool made = false;
  TestCertificate() {
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                                "-addext subjectAltName=IP:127.0.0.1 -keyout " +
                                key.string() + " -out " + cert.string() + " >/dev/null 2>&1";
    made = std::system(command.c_str()) == 0;
  }
  pf::Certificate certificate() const {
    std::ifstream in(cert);
    std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return *pf::Certificate::fromPem(pem);
  }
};

}  // namespace

TEST(WebSocketPeer, TlsVerifiesTheChainUnlessUntrustedOrPinned) {
  TestCertificate server;
  TestCertificate other;
  ASSERT_TRUE(server.made && other.made);
  Peer peer(Peer::Kind::Python, "ws_python_server.py", {"--tls", server.cert.string(), server.key.string()});
  ASSERT_GT(peer.port(), 0);
  const std::string url = peer.url("/echo", "wss");

  Client verified(url);  // unknown root: refused
  ASSERT_TRUE(verified.waitEnd());
  EXPECT_TRUE(verified.rec->error);
  EXPECT_FALSE(verified.rec->opened);

  Client untrusted(TnqWebSocket::initWithURL(url, {}, true));
  ASSERT_TRUE(untrusted.waitOpen());
  untrusted.socket->send(std::string("over tls"));
  ASSERT_TRUE(untrusted.waitMessages(1));
  EXPECT_EQ(wstest::text(untrusted.rec->messages[0]), "over tls");

  TnqWebSocketRequest pinnedRequest{url, 60, {}, {server.certificate()}};
  Client pinned(TnqWebSocket::initWithURLRequest(pinnedRequest));
  ASSERT_TRUE(pinned.waitOpen());

  TnqWebSocketRequest wrongPin{url, 60, {}, {other.certificate()}};
  Client mismatched(TnqWebSocket::initWithURLRequest(wrongPin));
  ASSERT_TRUE(mismatched.waitEnd());
  ASSERT_TRUE(mismatched.rec->error);
  EXPECT_EQ(mismatched.rec->error->domain, kTnqWebSocketCertificateErrorDomain);
  EXPECT_EQ(mismatched.rec->error->code, 23556);
  EXPECT_EQ(mismatched.rec->error->localizedDescription(), "Invalid server cert");

  // With the certificate as the only anchor the chain and the name verify.
  untrusted.socket->close();
  pinned.socket->close();
  ASSERT_TRUE(untrusted.waitEnd() && pinned.waitEnd());
}
