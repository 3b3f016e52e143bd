#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "container/RlSocket.h"
#include "container/RlSocketTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/net/SocketTestSupport.h"

namespace container {
namespace {

class RlSocketConnectTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<pf::RunLoop> loop = pf::RunLoop::current();
  std::shared_ptr<fxtest::TableResolver> resolver = std::make_shared<fxtest::TableResolver>();
  fxtest::ResolverScope resolverScope{resolver};

  bool spin(const std::function<bool()>& done) { return loop->spinUntil(done, 10.0); }
};

TEST_F(RlSocketConnectTest, ProbeConnectsAndDisconnectsFromInsideTheConnectCallback) {
  // The network probe's use: connect with a 2 s timer, disconnect as soon as connected.
  fxtest::LoopbackListener server;
  resolver->add("probe.test", {"127.0.0.1"});
  auto sock = RlSocket::create(delegate);
  delegate->onConnect = [](RlSocket& s) { s.disconnect(); };
  ASSERT_TRUE(sock->connectToHost("probe.test", server.port(), 2.0));
  EXPECT_TRUE(delegate->snapshot() == std::vector<std::string>{"willConnect"});  // nothing else yet
  ASSERT_TRUE(spin([&] { return delegate->didDisconnect; }));
  EXPECT_EQ(delegate->snapshot(),
            (std::vector<std::string>{"willConnect", "connect 127.0.0.1", "didDisconnect"}));
  EXPECT_TRUE(sock->isDisconnected());
  EXPECT_EQ(sock->flags(), RlSocket::kPreBuffering);
  // The connect timer went with the connection: nothing fires later.
  loop->runInMode(pf::kDefaultRunLoopMode, 0.05);
  EXPECT_EQ(delegate->snapshot().size(), 3u);
}

TEST_F(RlSocketConnectTest, ConnectedSocketKnowsBothEndpoints) {
  fxtest::LoopbackListener server;
  auto sock = RlSocket::create(delegate, 42);
  EXPECT_EQ(sock->userData(), 42);
  ASSERT_TRUE(sock->connectToHost("127.0.0.1", server.port()));
  ASSERT_TRUE(spin([&] { return delegate->called("connect"); }));
  EXPECT_TRUE(sock->isConnected());
  EXPECT_TRUE(sock->isIPv4());
  EXPECT_FALSE(sock->isIPv6());
  EXPECT_EQ(sock->connectedHost(), "127.0.0.1");
  EXPECT_EQ(sock->connectedPort(), server.port());
  EXPECT_EQ(sock->connectedHost4(), "127.0.0.1");
  EXPECT_FALSE(sock->connectedHost6());
  EXPECT_EQ(sock->localHost(), "127.0.0.1");
  EXPECT_NE(sock->localPort(), 0);
  EXPECT_EQ(sock->connectedAddress(), pf::SocketAddress::loopback4(server.port()).bytes());
  EXPECT_EQ(sock->localAddress()->size(), 16u);
  EXPECT_TRUE(sock->getCFSocket());
  EXPECT_THROW(sock->connectToHost("127.0.0.1", server.port()), pf::Exception);
  sock->disconnect();
  EXPECT_FALSE(sock->connectedHost());
  EXPECT_EQ(sock->connectedPort(), 0);
}

TEST_F(RlSocketConnectTest, ConnectByAddressOverIPv4AndIPv6) {
  fxtest::LoopbackListener server4;
  auto sock = RlSocket::create(delegate);
  ASSERT_TRUE(sock->connectToAddress(pf::SocketAddress::loopback4(server4.port()).bytes(), 5.0));
  ASSERT_TRUE(spin([&] { return delegate->called("connect"); }));
  EXPECT_EQ(sock->connectedPort4(), server4.port());
  sock->disconnect();

  if (!fxtest::hasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  fxtest::LoopbackListener server6(true);
  auto delegate6 = std::make_shared<RecordingDelegate>();
  auto sock6 = RlSocket::create(delegate6);
  ASSERT_TRUE(sock6->connectToAddress(pf::SocketAddress::loopback6(server6.port()).bytes()));
  ASSERT_TRUE(spin([&] { return delegate6->called("connect"); }));
  EXPECT_EQ(delegate6->snapshot()[1], "connect ::1");
  EXPECT_TRUE(sock6->isIPv6());
  EXPECT_EQ(sock6->connectedHost6(), "::1");
  EXPECT_EQ(sock6->connectedPort(), server6.port());
  EXPECT_EQ(sock6->connectedAddress()->size(), 28u);
}

TEST_F(RlSocketConnectTest, RefusedPortsEndInWillDisconnectWithTheStreamsError) {
  auto sock = RlSocket::create(delegate);
  ASSERT_TRUE(sock->connectToHost("127.0.0.1", fxtest::closedLoopbackPort(), 5.0));
  ASSERT_TRUE(spin([&] { return delegate->didDisconnect; }));
  EXPECT_EQ(delegate->snapshot(), (std::vector<std::string>{"willConnect", "willDisconnect NSPOSIXErrorDomain " +
                                                                               std::to_string(ECONNREFUSED),
                                                            "didDisconnect"}));

  // By address, the connect callback's failure is a general socket error.
  auto byAddress = std::make_shared<RecordingDelegate>();
  auto sock2 = RlSocket::create(byAddress);
  pf::Error error;
  bool started = sock2->connectToAddress(pf::SocketAddress::loopback4(fxtest::closedLoopbackPort()).bytes(), &error);
  if (started) {
    ASSERT_TRUE(spin([&] { return byAddress->didDisconnect; }));
    EXPECT_EQ(byAddress->disconnectError->code, kRlSocketCFSocketError);
    EXPECT_EQ(byAddress->disconnectError->localizedDescription(), "General CFSocket error");
  } else {
    EXPECT_EQ(error.code, kRlSocketCFSocketError);  // refused at once
    EXPECT_TRUE(byAddress->snapshot().size() == 1);
  }
}

TEST_F(RlSocketConnectTest, UnresolvableHostGivesTheResolversText) {
  auto sock = RlSocket::create(delegate);
  ASSERT_TRUE(sock->connectToHost("nowhere.test", 80));
  ASSERT_TRUE(spin([&] { return delegate->didDisconnect; }));
  ASSERT_TRUE(delegate->disconnectError);
  EXPECT_EQ(delegate->disconnectError->domain, "kCFStreamErrorDomainNetDB");
  EXPECT_EQ(delegate->disconnectError->code, EAI_NONAME);
  EXPECT_EQ(delegate->disconnectError->localizedDescription(), gai_strerror(EAI_NONAME));
}

TEST_F(RlSocketConnectTest, ConnectTimerFiresWhileTheResolverNeverAnswers) {
  fxtest::ResolverScope silent{std::make_shared<fxtest::SilentResolver>()};
  pf::VirtualTimeScope time;
  auto sock = RlSocket::create(delegate);
  ASSERT_TRUE(sock->connectToHost("bank.test", 80, 2.0));
  time.advance(1.9);
  EXPECT_FALSE(delegate->willDisconnect);
  time.advance(0.1);
  ASSERT_TRUE(delegate->didDisconnect);
  EXPECT_EQ(delegate->disconnectError->domain, kRlSocketErrorDomain);
  EXPECT_EQ(delegate->disconnectError->code, kRlSocketConnectTimeoutError);
  EXPECT_EQ(delegate->disconnectError->localizedDescription(), "Attempt to connect to host timed out");
  EXPECT_TRUE(sock->isDisconnected());

  // A negative time-out makes no timer at all; 0 fires on the next pass.
  auto patient = std::make_shared<RecordingDelegate>();
  auto sock2 = RlSocket::create(patient);
  ASSERT_TRUE(sock2->connectToHost("bank.test", 80, -1.0));
  time.advance(3600);
  EXPECT_FALSE(patient->willDisconnect);
  sock2->disconnect();
  EXPECT_TRUE(patient->didDisconnect);

  auto hasty = std::make_shared<RecordingDelegate>();
  auto sock3 = RlSocket::create(hasty);
  ASSERT_TRUE(sock3->connectToHost("bank.test", 80, 0.0));
  loop->runInMode(pf::kDefaultRunLoopMode, 0.0);
  EXPECT_TRUE(hasty->called("willDisconnect RlSocketErrorDomain 2"));
}

TEST_F(RlSocketConnectTest, VetoAndMisuse) {
  fxtest::LoopbackListener server;
  delegate->allowConnect = false;
  auto sock = RlSocket::create(delegate);
  pf::Error error;
  EXPECT_FALSE(sock->connectToHost("127.0.0.1", server.port(), 2.0, &error));
  EXPECT_EQ(error.domain, kRlSocketErrorDomain);
  EXPECT_EQ(error.code, kRlSocketCanceledError);
  EXPECT_EQ(error.localizedDescription(), "Connection canceled");
  EXPECT_TRUE(sock->isDisconnected());
  EXPECT_FALSE(sock->connectToAddress(pf::SocketAddress::loopback4(server.port()).bytes()));
  loop->runInMode(pf::kDefaultRunLoopMode, 0.05);
  EXPECT_EQ(delegate->snapshot(), (std::vector<std::string>{"willConnect", "willConnect"}));

  auto orphan = RlSocket::create();
  try {
    orphan->connectToHost("127.0.0.1", server.port());
    FAIL() << "connect without a delegate must raise";
  } catch (const pf::Exception& e) {
    EXPECT_EQ(e.name(), "RlSocketException");
    EXPECT_EQ(e.reason(), "Attempting to connect without a delegate. Set a delegate first.");
  }
  delegate->allowConnect = true;
  auto bad = RlSocket::create(delegate);
  EXPECT_FALSE(bad->connectToAddress(pf::toBytes("not an address"), &error));
  EXPECT_EQ(error.code, kRlSocketCFSocketError);
}

TEST_F(RlSocketConnectTest, RemoteCloseGivesANilErrorAndUnreadDataOnlyWhileClosing) {
  fxtest::LoopbackListener server;
  auto sock = RlSocket::create(delegate);
  std::optional<pf::Bytes> inside;
  delegate->onWillDisconnect = [&](RlSocket& s, const std::optional<pf::Error>&) { inside = s.unreadData(); };
  ASSERT_TRUE(sock->connectToHost("127.0.0.1", server.port()));
  ASSERT_TRUE(spin([&] { return delegate->called("connect"); }));
  EXPECT_FALSE(sock->unreadData());
  int peer = server.accept();
  sock->readDataToData(pf::toBytes("\n"), -1, 1);
  fxtest::writeAll(peer, "partial line");
  ASSERT_TRUE(spin([&] { return delegate->called("partial read"); }));
  server.closePeer(peer);
  ASSERT_TRUE(spin([&] { return delegate->didDisconnect; }));
  EXPECT_EQ(delegate->disconnectError, std::nullopt);
  ASSERT_TRUE(inside);
  EXPECT_EQ(pf::toString(*inside), "partial line");
  EXPECT_FALSE(sock->unreadData());
}

TEST_F(RlSocketConnectTest, ReleasingTheSocketInsideDidDisconnectIsSafe) {
  fxtest::LoopbackListener server;
  struct Releaser : RecordingDelegate {
    std::shared_ptr<RlSocket> held;
    void onSocketDidDisconnect(RlSocket& s) override {
      RecordingDelegate::onSocketDidDisconnect(s);
      held.reset();
    }
  };
  auto releaser = std::make_shared<Releaser>();
  releaser->held = RlSocket::create(releaser);
  std::weak_ptr<RlSocket> weak = releaser->held;
  ASSERT_TRUE(releaser->held->connectToHost("127.0.0.1", server.port()));
  ASSERT_TRUE(spin([&] { return releaser->called("connect"); }));
  server.closePeer(server.accept());
  ASSERT_TRUE(spin([&] { return releaser->didDisconnect; }));
  EXPECT_TRUE(weak.expired());
}

TEST_F(RlSocketConnectTest, DescriptorsAreNeitherLeakedNorClosedTwice) {
  fxtest::LoopbackListener server;
  int before = fxtest::openDescriptorCountBefore(*loop);
  for (int round = 0; round < 3; ++round) {
    auto d = std::make_shared<RecordingDelegate>();
    auto sock = RlSocket::create(d);
    ASSERT_TRUE(sock->connectToAddress(pf::SocketAddress::loopback4(server.port()).bytes()));
    ASSERT_TRUE(spin([&] { return d->called("connect"); }));
    int fd = *sock->getCFReadStream()->nativeSocket();
    sock->disconnect();
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "closed with the socket";
    // The number taken by something else must survive whatever is left of the socket.
    ASSERT_EQ(::dup2(2, fd), fd);
    sock.reset();
    loop->runInMode(pf::kDefaultRunLoopMode, 0.01);
    EXPECT_NE(fcntl(fd, F_GETFD), -1) << "closed twice";
    ::close(fd);
    server.closePeer(server.accept());
  }
  EXPECT_EQ(fxtest::openDescriptorCount(), before);
}

}  // namespace
}  // namespace container
