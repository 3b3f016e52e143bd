#include <fcntl.h>
#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/RunLoop.h"
#include "platform/net/HostResolver.h"
#include "platform/net/Socket.h"
#include "platform/net/SocketAddress.h"
#include "platform/net/SocketTestSupport.h"

namespace pf {
namespace {

TEST(SocketAddress, RecordsRoundTripInTheKernelsLayout) {
  auto v4 = SocketAddress::loopback4(8080);
  EXPECT_EQ(v4.bytes().size(), 16u);
  EXPECT_EQ(v4.host(), "127.0.0.1");
  EXPECT_EQ(v4.text(), "127.0.0.1:8080");
  EXPECT_EQ(SocketAddress::fromBytes(v4.bytes()), v4);
  auto v6 = *SocketAddress::parse("::1", 443);
  EXPECT_EQ(v6.bytes().size(), 28u);
  EXPECT_EQ(v6.text(), "[::1]:443");
  v6.setPort(0);
  EXPECT_EQ(v6.port(), 0);
  EXPECT_FALSE(SocketAddress::parse("localhost", 80));
  EXPECT_FALSE(SocketAddress::fromBytes(toBytes("short")));
  Bytes truncated = v6.bytes();
  truncated.resize(20);
  EXPECT_FALSE(SocketAddress::fromBytes(truncated));
}

TEST(Socket, ListensOnBothFamiliesOnOnePortAndAcceptsThroughItsSource) {
  auto loop = RunLoop::current();
  std::vector<int> accepted;
  auto onAccept = [&](Socket&, Socket::CallbackType type, int fd) {
    EXPECT_EQ(type, Socket::kAcceptCallBack);
    accepted.push_back(fd);
  };
  auto listener4 = Socket::create(AF_INET, Socket::kAcceptCallBack, onAccept);
  ASSERT_EQ(listener4->setAddress(SocketAddress::loopback4(0)), Socket::Result::Success);
  std::uint16_t port = listener4->address()->port();
  loop->addSource(listener4->runLoopSource(), kDefaultRunLoopMode);
  if (fxtest::hasIPv6Loopback()) {
    // IPv6 sockets are IPv6-only: the same port is free for them.
    auto listener6 = Socket::create(AF_INET6, Socket::kAcceptCallBack, onAccept);
    EXPECT_EQ(listener6->setAddress(SocketAddress::loopback6(port)), Socket::Result::Success);
  }

  std::vector<int> results;
  auto client = Socket::create(AF_INET, Socket::kConnectCallBack,
                               [&](Socket&, Socket::CallbackType, int error) { results.push_back(error); });
  loop->addSource(client->runLoopSource(), kDefaultRunLoopMode);
  ASSERT_EQ(client->connectTo(SocketAddress::loopback4(port), -1), Socket::Result::Success);
  ASSERT_TRUE(loop->spinUntil([&] { return !results.empty() && !accepted.empty(); }, 10.0));
  EXPECT_EQ(results, std::vector<int>{0});
  EXPECT_EQ(client->peerAddress()->port(), port);
  EXPECT_EQ(SocketAddress::peer(accepted[0])->port(), client->address()->port());
  for (int fd : accepted) ::close(fd);

  // A refused attempt reports its errno through the callback (or at once).
  std::vector<int> refused;
  auto late = Socket::create(AF_INET, Socket::kConnectCallBack,
                             [&](Socket&, Socket::CallbackType, int error) { refused.push_back(error); });
  loop->addSource(late->runLoopSource(), kDefaultRunLoopMode);
  if (late->connectTo(SocketAddress::loopback4(fxtest::closedLoopbackPort()), -1) == Socket::Result::Success) {
    ASSERT_TRUE(loop->spinUntil([&] { return !refused.empty(); }, 10.0));
    EXPECT_EQ(refused, std::vector<int>{ECONNREFUSED});
  }
  // Waiting connects report the outcome directly.
  auto waiting = Socket::create(AF_INET, Socket::kNoCallBack, nullptr);
  EXPECT_EQ(waiting->connectTo(SocketAddress::loopback4(fxtest::closedLoopbackPort()), 2.0), Socket::Result::Error);
}

TEST(Socket, WrappedDescriptorsStayTheCallersUnlessOwned) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  {
    auto wrapper = Socket::createWithNative(fd);
    EXPECT_EQ(wrapper->native(), fd);
    wrapper->invalidate();
    EXPECT_FALSE(wrapper->isValid());
  }
  EXPECT_NE(fcntl(fd, F_GETFD), -1);
  {
    auto owner = Socket::createWithNative(fd);
    owner->setClosesOnInvalidate(true);
  }
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_FALSE(Socket::createWithNative(-1));
  EXPECT_FALSE(Socket::create(AF_UNIX, Socket::kNoCallBack, nullptr));
}

TEST(Resolver, SystemResolverAnswersOffTheCallersThread) {
  SystemHostResolver resolver;
  auto now = resolver.resolveNow("127.0.0.1", 443, {});
  ASSERT_TRUE(now.ok());
  EXPECT_EQ(now.addresses.at(0), SocketAddress::loopback4(443));
  auto passive = resolver.resolveNow("::1", 0, ResolveHints{AF_INET6, true});
  ASSERT_TRUE(passive.ok());
  EXPECT_TRUE(passive.addresses.at(0).isIPv6());

  auto loop = RunLoop::current();
  std::optional<ResolveResult> answer;
  std::thread::id caller = std::this_thread::get_id(), answerer;
  resolver.resolve("127.0.0.1", 80, {}, [&, loop](ResolveResult result) {
    answerer = std::this_thread::get_id();
    loop->perform([&, result] { answer = result; });
  });
  ASSERT_TRUE(loop->spinUntil([&] { return answer.has_value(); }, 10.0));
  EXPECT_NE(answerer, caller);
  EXPECT_EQ(answer->addresses.at(0).port(), 80);
}

}  // namespace
}  // namespace pf
