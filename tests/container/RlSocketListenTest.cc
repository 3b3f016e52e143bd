#include <gtest/gtest.h>
#include <netdb.h>

#include <cstdio>
#include <regex>

#include "container/RlSocket.h"
#include "container/RlSocketTestSupport.h"
#include "platform/foundation/Thread.h"
#include "platform/net/SocketTestSupport.h"

namespace container {
namespace {

class RlSocketListenTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingDelegate> serverDelegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<RecordingDelegate> clientDelegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<pf::RunLoop> loop = pf::RunLoop::current();
  std::shared_ptr<fxtest::TableResolver> resolver = std::make_shared<fxtest::TableResolver>();
  fxtest::ResolverScope resolverScope{resolver};

  bool spin(const std::function<bool()>& done) { return loop->spinUntil(done, 10.0); }
};

TEST_F(RlSocketListenTest, ListensOnLoopbackForBothFamiliesOnOnePortAndAcceptsConnections) {
  auto listener = RlSocket::create(serverDelegate);
  ASSERT_TRUE(listener->acceptOnInterface("localhost", 0));
  EXPECT_NE(listener->localPort4(), 0);
  EXPECT_EQ(listener->localHost4(), "127.0.0.1");
  if (listener->isIPv6()) {
    EXPECT_EQ(listener->localPort6(), listener->localPort4());
    EXPECT_EQ(listener->localHost6(), "::1");
  }
  EXPECT_THROW(listener->acceptOnPort(0), pf::Exception);

  auto client = RlSocket::create(clientDelegate);
  ASSERT_TRUE(client->connectToHost("127.0.0.1", listener->localPort4()));
  ASSERT_TRUE(spin([&] { return clientDelegate->called("connect") && serverDelegate->called("connect"); }));
  ASSERT_EQ(serverDelegate->accepted.size(), 1u);
  auto accepted = serverDelegate->accepted[0];
  EXPECT_EQ(serverDelegate->snapshot(), (std::vector<std::string>{"accept", "willConnect", "connect 127.0.0.1"}));
  EXPECT_TRUE(accepted->isConnected());
  EXPECT_EQ(accepted->connectedPort(), client->localPort());
  EXPECT_EQ(accepted->runLoopModes(), listener->runLoopModes());

  accepted->writeData(pf::toBytes("hello\n"), -1, 1);
  client->readDataToData(RlSocket::LFData(), 5.0, 2);
  ASSERT_TRUE(spin([&] { return clientDelegate->called("read 2 hello\n"); }));
  client->disconnect();
  ASSERT_TRUE(spin([&] { return serverDelegate->didDisconnect; }));
  EXPECT_TRUE(serverDelegate->called("willDisconnect nil"));

  // The listener goes on listening.
  auto second = std::make_shared<RecordingDelegate>();
  auto client2 = RlSocket::create(second);
  ASSERT_TRUE(client2->connectToHost("127.0.0.1", listener->localPort4()));
  ASSERT_TRUE(spin([&] { return serverDelegate->accepted.size() == 2 && second->called("connect"); }));
}

TEST_F(RlSocketListenTest, AcceptedSocketThatNobodyKeepsClosesAtOnce) {
  serverDelegate->keepAccepted = false;
  auto listener = RlSocket::create(serverDelegate);
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  EXPECT_FALSE(listener->isIPv6());
  auto client = RlSocket::create(clientDelegate);
  ASSERT_TRUE(client->connectToHost("127.0.0.1", listener->localPort()));
  ASSERT_TRUE(spin([&] { return serverDelegate->didDisconnect && clientDelegate->didDisconnect; }));
  EXPECT_EQ(serverDelegate->snapshot(), (std::vector<std::string>{"accept", "willConnect", "didDisconnect"}));
}

TEST_F(RlSocketListenTest, ListeningFailuresReturnNoAndLeaveNothingBehind) {
  auto listener = RlSocket::create(serverDelegate);
  pf::Error error;
  EXPECT_FALSE(listener->acceptOnInterface("no-such-interface.test", 0, &error));
  EXPECT_EQ(error.domain, "kCFStreamErrorDomainNetDB");
  EXPECT_EQ(error.code, EAI_NONAME);
  EXPECT_EQ(error.localizedDescription(), gai_strerror(EAI_NONAME));
  EXPECT_TRUE(listener->isDisconnected());

  auto holder = RlSocket::create(serverDelegate);
  ASSERT_TRUE(holder->acceptOnInterface("127.0.0.1", 0));
  error = {};
  EXPECT_FALSE(listener->acceptOnInterface("127.0.0.1", holder->localPort(), &error));  // the port is taken
  EXPECT_EQ(error.domain, kRlSocketErrorDomain);
  EXPECT_EQ(error.code, kRlSocketCFSocketError);
  EXPECT_TRUE(listener->isDisconnected());
  EXPECT_FALSE(listener->getCFSocket());
  EXPECT_FALSE(serverDelegate->called("didDisconnect"));

  auto orphan = RlSocket::create();
  try {
    orphan->acceptOnPort(0);
    FAIL();
  } catch (const pf::Exception& e) {
    EXPECT_EQ(e.reason(), "Attempting to accept without a delegate. Set a delegate first.");
  }
}

TEST_F(RlSocketListenTest, ListensOnAnIPv6OnlyInterface) {
  if (!fxtest::hasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  auto listener = RlSocket::create(serverDelegate);
  ASSERT_TRUE(listener->acceptOnInterface("::1", 0));
  EXPECT_TRUE(listener->isIPv6());
  EXPECT_FALSE(listener->isIPv4());
  auto client = RlSocket::create(clientDelegate);
  ASSERT_TRUE(client->connectToHost("::1", listener->localPort6()));
  ASSERT_TRUE(spin([&] { return serverDelegate->called("connect ::1"); }));
  EXPECT_TRUE(serverDelegate->accepted.at(0)->isIPv6());
}

TEST_F(RlSocketListenTest, AcceptsOntoAnotherThreadsRunLoop) {
  auto worker = pf::Thread::makeRunLoopThread("socket worker");
  auto workerLoop = worker->runLoop();
  std::thread::id workerId;
  worker->perform([&] { workerId = std::this_thread::get_id(); }, true);
  serverDelegate->runLoopForNewSocket = [&] { return workerLoop; };
  std::atomic<bool> echoed{false};
  serverDelegate->onConnect = [&](RlSocket& s) { s.readDataToData(RlSocket::LFData(), 5.0, 1); };
  serverDelegate->onRead = [&](RlSocket& s, const pf::Bytes& data, long) {
    EXPECT_EQ(std::this_thread::get_id(), workerId);
    s.writeData(data, 5.0, 2);
    echoed = true;
  };

  auto listener = RlSocket::create(serverDelegate);
  ASSERT_TRUE(listener->acceptOnInterface("loopback", 0));
  auto client = RlSocket::create(clientDelegate);
  ASSERT_TRUE(client->connectToHost("127.0.0.1", listener->localPort4()));
  ASSERT_TRUE(spin([&] { return clientDelegate->called("connect"); }));
  client->writeData(pf::toBytes("ping\n"), 5.0, 1);
  client->readDataToData(RlSocket::LFData(), 5.0, 3);
  ASSERT_TRUE(spin([&] { return clientDelegate->called("read 3 ping\n"); }));
  EXPECT_TRUE(echoed);
  EXPECT_EQ(serverDelegate->connectThread, workerId);
  // The accepted socket is the worker's: it goes away there.
  worker->perform([&] { serverDelegate->accepted.clear(); }, true);
  worker->cancel();
  worker->join();
}

TEST_F(RlSocketListenTest, DescriptorZeroIsAValidDescriptor) {
  // With standard input closed, the next descriptor the system hands out is 0.
  int savedStdin = ::dup(0);
  ASSERT_GE(savedStdin, 0);
  auto listener = RlSocket::create(serverDelegate);
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  ::close(0);
  auto client = RlSocket::create(clientDelegate);
  bool started = client->connectToAddress(pf::SocketAddress::loopback4(listener->localPort()).bytes());
  bool connected = started && spin([&] { return clientDelegate->called("connect") && serverDelegate->called("connect"); });
  bool clientHadZero = client->getCFReadStream() && client->getCFReadStream()->nativeSocket() == 0;
  if (connected) {
    client->writeData(pf::toBytes("zero\n"), 5.0, 1);
    serverDelegate->accepted.at(0)->readDataToData(RlSocket::LFData(), 5.0, 7);
    connected = spin([&] { return serverDelegate->called("read 7 zero\n"); });
  }
  client->disconnect();
  ::dup2(savedStdin, 0);
  ::close(savedStdin);
  EXPECT_TRUE(connected);
  EXPECT_TRUE(clientHadZero);
}

TEST_F(RlSocketListenTest, MovesToAnotherRunLoopWithItsPendingRead) {
  auto listener = RlSocket::create(serverDelegate);
  ASSERT_TRUE(listener->acceptOnInterface("localhost", 0));
  auto client = RlSocket::create(clientDelegate);
  ASSERT_TRUE(client->connectToHost("127.0.0.1", listener->localPort4()));
  ASSERT_TRUE(spin([&] { return clientDelegate->called("connect") && serverDelegate->called("connect"); }));

  auto worker = pf::Thread::makeRunLoopThread("socket mover");
  auto workerLoop = worker->runLoop();
  std::thread::id workerId;
  worker->perform([&] { workerId = std::this_thread::get_id(); }, true);
  std::atomic<bool> done{false};
  clientDelegate->onRead = [&](RlSocket&, const pf::Bytes&, long) {
    EXPECT_EQ(std::this_thread::get_id(), workerId);
    done = true;
  };
  client->readDataToLength(5, 30.0, 4);
  EXPECT_FALSE(client->moveToRunLoop(nullptr));
  EXPECT_TRUE(client->moveToRunLoop(loop));  // where it is already
  ASSERT_TRUE(client->moveToRunLoop(workerLoop));
  serverDelegate->accepted.at(0)->writeData(pf::toBytes("moved"), 5.0, 1);
  ASSERT_TRUE(spin([&] { return done.load(); }));
  EXPECT_TRUE(clientDelegate->called("read 4 moved"));
  // From now on the socket belongs to the worker's loop: calls from here are refused.
  EXPECT_THROW(client->setRunLoopModes({"Other"}), pf::Exception);
  worker->perform([&] { client->disconnect(); }, true);
  worker->cancel();
  worker->join();
}

TEST_F(RlSocketListenTest, DescriptionTextOfNewListeningAndConnectedSockets) {
  auto fresh = RlSocket::create(serverDelegate);
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "<RlSocket %p local nowhere remote nowhere has queued 0 reads 0 writes, no current read, no current "
                "write, read stream 0x0 not open, write stream 0x0 not open, not connected>",
                static_cast<void*>(fresh.get()));
  EXPECT_EQ(fresh->description(), expected);

  auto listener = RlSocket::create(serverDelegate);
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  std::snprintf(expected, sizeof expected,
                "<RlSocket %p local 127.0.0.1 %u remote (null) 0 has queued 0 reads 0 writes, no current read, no "
                "current write, read stream 0x0 not open, write stream 0x0 not open, not connected>",
                static_cast<void*>(listener.get()), listener->localPort());
  EXPECT_EQ(listener->description(), expected);

  auto client = RlSocket::create(clientDelegate);
  ASSERT_TRUE(client->connectToHost("127.0.0.1", listener->localPort()));
  ASSERT_TRUE(spin([&] { return clientDelegate->called("connect"); }));
  client->readDataToLength(8, -1, 1);
  client->writeData(pf::Bytes(3, 'x'), -1, 2);
  client->writeData(pf::Bytes(3, 'y'), -1, 3);
  client->disconnectAfterReadingAndWriting();
  std::snprintf(expected, sizeof expected,
                "<RlSocket %p local 127.0.0.1 %u remote 127.0.0.1 %u has queued 1 reads 2 writes, no current read, "
                "no current write, read stream %p open, write stream %p open, will disconnect after reads & writes>",
                static_cast<void*>(client.get()), client->localPort(), listener->localPort(),
                static_cast<void*>(client->getCFReadStream().get()),
                static_cast<void*>(client->getCFWriteStream().get()));
  EXPECT_EQ(client->description(), expected);
}

}  // namespace
}  // namespace container
