// The push connection and the push hub on the virtual clock against loopback peers.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "WebSocketTestSupport.h"
#include "appnet/TnqPushWebsocket.h"
#include "appnet/TnqWebSocketIO.h"
#include "platform/foundation/Clock.h"

using namespace appnet;
using wstest::Peer;
using wstest::spin;

namespace {

struct Listener : WebnetLibDelegate {
  Listener(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
  void receiveMessage(const std::string& text) override { log->push_back(name + ":" + text); }
  void sendCloseSign() override { log->push_back(name + ":close"); }
  std::string name;
  std::vector<std::string>* log;
};

struct IORecorder : WebSocketIODelegate {
  int opens = 0, failures = 0, closes = 0, pongs = 0, pongTimeouts = 0;
  std::vector<std::string> texts;
  void webSocketDidReceiveMessage(TnqWebSocketIO&, const TnqWebSocketMessage& m) override {
    texts.push_back(wstest::text(m));
  }
  void webSocketDidOpen(TnqWebSocketIO&) override { ++opens; }
  void webSocketDidFailWithError(TnqWebSocketIO&, const pf::Error&) override { ++failures; }
  void webSocketDidCloseWithCode(TnqWebSocketIO&, int, const std::string&, bool) override { ++closes; }
  void webSocketDidReceivePong(TnqWebSocketIO&, const pf::Bytes&) override { ++pongs; }
  void webSocketDidReceivePongTimeout(TnqWebSocketIO&, bool timedOut) override { pongTimeouts += timedOut; }
};

int unusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

void settle() { spin([] { return false; }, 0.2); }

class PushHub : public ::testing::Test {
 protected:
  void TearDown() override {
    TnqPushWebsocket::resetSharedInstance();
    settle();
  }
  pf::VirtualTimeScope time;
};

}  // namespace

TEST_F(PushHub, DeliversTextsToTheDelegateThenListenersAndSendsSubscriptionChanges) {
  Peer peer(Peer::Kind::Python, "ws_python_server.py");
  ASSERT_GT(peer.port(), 0);
  auto hub = TnqPushWebsocket::sharedInstance();
  EXPECT_EQ(hub, TnqPushWebsocket::sharedInstance());
  hub->registerWebsocket(pf::Value{{"url", "ws://127.0.0.1:" + std::to_string(peer.port())}, {"title", {"A", "B"}}});
  EXPECT_EQ(hub->title(), "A/B");

  std::vector<std::string> log;
  auto plugin = std::make_shared<Listener>("delegate", &log);
  auto first = std::make_shared<Listener>("first", &log);
  auto second = std::make_shared<Listener>("second", &log);
  hub->setDelegate(plugin);
  hub->connect();
  EXPECT_EQ(hub->addListener(first), "servletID++1");
  EXPECT_EQ(hub->addListener(second), "servletID++2");

  ASSERT_TRUE(spin([&] { return log.size() >= 3; }));
  EXPECT_EQ(peer.lineStartingWith("OPEN"), "OPEN /ws/A/B");
  settle();  // the binary message that follows the greeting reaches no one
  EXPECT_EQ(log, (std::vector<std::string>{"delegate:hello A/B", "first:hello A/B", "second:hello A/B"}));
  EXPECT_TRUE(hub->isConnected());

  hub->changeTitle("EURUSD");
  EXPECT_EQ(peer.lineStartingWith("RECV"), "RECV #A:EURUSD");
  ASSERT_TRUE(spin([&] { return log.size() >= 6; }));
  EXPECT_EQ(log[3], "delegate:echo:#A:EURUSD");

  // Connecting again keeps the open socket and never hands out an id twice.
  const auto socket = hub->webSocketIO()->webSocket();
  hub->connect();
  EXPECT_EQ(hub->webSocketIO()->webSocket(), socket);
  EXPECT_EQ(hub->addListener(first), "servletID++3");

  log.clear();
  hub->removeListenerById("servletID++1");
  hub->removeListenerById("servletID++9");
  EXPECT_EQ(log, std::vector<std::string>{"first:close"});
  ASSERT_EQ(hub->servletArray().size(), 2u);
  EXPECT_EQ(hub->servletArray()[0].name, "servletID++2");
  EXPECT_EQ(hub->servletArray()[1].name, "servletID++3");
}

TEST_F(PushHub, AnEmptyServerUrlIsAFailedConnectionRetriedEvery30Seconds) {
  auto hub = TnqPushWebsocket::sharedInstance();
  hub->registerWebsocket(pf::Value{{"url", ""}, {"title", ""}});
  auto io = hub->webSocketIO();
  auto recorder = std::make_shared<IORecorder>();
  hub->connect();
  settle();
  EXPECT_FALSE(hub->isConnected());
  EXPECT_EQ(io->webSocket(), nullptr);
  ASSERT_TRUE(io->reconnectTimer() && io->reconnectTimer()->isValid());
  time.advance(30);
  settle();
  EXPECT_EQ(io->connectTimes(), 1);  // retried through connect
  EXPECT_TRUE(io->reconnectTimer() && io->reconnectTimer()->isValid());
}

TEST_F(PushHub, PingsEveryTenSecondsWhileOpenAndAPongArmsTheSilenceTimer) {
  Peer peer(Peer::Kind::Node, "ws_node_server.js");
  auto io = TnqWebSocketIO::initWithUrl(peer.url("/echo"));
  auto recorder = std::make_shared<IORecorder>();
  io->setDelegate(recorder);
  io->setNeedReconnect(true);
  io->connect();
  ASSERT_TRUE(spin([&] { return recorder->opens == 1; }));
  EXPECT_TRUE(io->isConnected());
  EXPECT_FALSE(io->timeout());  // an open alone does not arm the silence timer
  time.advance(9.9);
  settle();
  EXPECT_EQ(recorder->pongs, 0);
  time.advance(0.1);
  EXPECT_EQ(peer.lineStartingWith("PING"), "PING ");
  ASSERT_TRUE(spin([&] { return recorder->pongs == 1; }));
  EXPECT_TRUE(io->timeout() && io->timeout()->isValid());
  time.advance(10);
  EXPECT_EQ(peer.lineStartingWith("PING"), "PING ");
  ASSERT_TRUE(spin([&] { return recorder->pongs == 2; }));
  EXPECT_EQ(recorder->opens, 1);  // pongs keep the connection
  io->setNeedReconnect(false);
  io->disconnect();
}

TEST_F(PushHub, SilenceReopensThenTheThirdOpenGivesWayToTheReconnectTimer) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  auto io = TnqWebSocketIO::initWithUrl(peer.url("/case/silent"));
  auto recorder = std::make_shared<IORecorder>();
  io->setDelegate(recorder);
  io->setNeedReconnect(true);
  io->connect();
  ASSERT_TRUE(spin([&] { return recorder->texts.size() == 1; }));
  const auto firstSocket = io->webSocket();

  time.advance(20);  // no pong, no message: reopen
  ASSERT_TRUE(spin([&] { return recorder->texts.size() == 2; }));
  EXPECT_EQ(recorder->opens, 2);
  EXPECT_NE(io->webSocket(), firstSocket);
  EXPECT_EQ(firstSocket->readyState() >= TnqReadyState::Closing, true);  // the old socket was closed
  EXPECT_EQ(io->connectTimes(), 2);

  time.advance(20);  // the third open in a row reports the pong time-out instead
  settle();
  EXPECT_EQ(recorder->pongTimeouts, 1);
  EXPECT_EQ(recorder->opens, 2);
  EXPECT_FALSE(io->isConnected());

  time.advance(30);  // the reconnect timer connects afresh
  ASSERT_TRUE(spin([&] { return recorder->opens == 3; }));
  EXPECT_EQ(io->connectTimes(), 1);
  // Only the socket still current when the third open gave way reported its close; the one
  // replaced by the reopen stayed silent.
  EXPECT_EQ(recorder->closes, 1);
  io->setNeedReconnect(false);
  io->disconnect();
}

// A message that arrived while the main thread was busy past the silence time-out is no silence:
// it is delivered, and the connection stays.
TEST_F(PushHub, AMessageWaitingForABusyMainThreadIsNoSilence) {
  Peer peer(Peer::Kind::Python, "ws_python_server.py");
  auto io = TnqWebSocketIO::initWithUrl(peer.url("/ws/Q"));
  auto recorder = std::make_shared<IORecorder>();
  io->setDelegate(recorder);
  io->setNeedReconnect(true);
  io->connect();
  ASSERT_TRUE(spin([&] { return recorder->texts.size() == 2; }));  // the greeting arms the silence timer
  const auto socket = io->webSocket();
  ASSERT_TRUE(io->sendMessage(std::string("quote")));
  ASSERT_TRUE(wstest::waitWithMainBusy([&] { return socket->hasDeliveriesWaiting(); }));  // its echo
  // The time passes while the main thread's loop does not run (an advance on the main thread
  // would run it); when it runs again, the silence timer is due before the echo is taken.
  std::thread([&] { time.advance(20); }).join();
  ASSERT_TRUE(spin([&] { return recorder->texts.size() == 3 || io->connectTimes() > 1; }));
  EXPECT_EQ(recorder->texts.back(), "echo:quote");
  EXPECT_EQ(io->webSocket(), socket);
  EXPECT_EQ(io->connectTimes(), 1);
  EXPECT_TRUE(io->isConnected());
  EXPECT_TRUE(io->timeout() && io->timeout()->isValid());
  io->setNeedReconnect(false);
  io->disconnect();
}

TEST_F(PushHub, AFailedConnectionRetriesAfter30SecondsAndANewSocketReplacesTheOld) {
  auto io = TnqWebSocketIO::initWithUrl("ws://127.0.0.1:" + std::to_string(unusedPort()) + "/ws/x");
  auto recorder = std::make_shared<IORecorder>();
  io->setDelegate(recorder);
  io->setNeedReconnect(true);
  io->connect();
  ASSERT_TRUE(spin([&] { return recorder->failures == 1; }));
  time.advance(29.9);
  settle();
  EXPECT_EQ(recorder->failures, 1);
  time.advance(0.1);
  ASSERT_TRUE(spin([&] { return recorder->failures == 2; }));
  io->setNeedReconnect(false);
  io->disconnect();

  Peer peer(Peer::Kind::Python, "ws_python_server.py");
  auto twice = TnqWebSocketIO::initWithUrl(peer.url("/ws/T"));
  auto rec2 = std::make_shared<IORecorder>();
  twice->setDelegate(rec2);
  twice->connect();
  twice->connect();  // before the first socket opened: it is closed and forgotten
  ASSERT_TRUE(spin([&] { return rec2->texts.size() >= 2; }));
  settle();
  EXPECT_EQ(rec2->opens, 1);
  EXPECT_EQ(rec2->texts, (std::vector<std::string>{"hello T", "<binary>"}));
  twice->disconnect();
}
