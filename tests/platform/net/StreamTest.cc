#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/net/SocketStream.h"
#include "platform/net/SocketTestSupport.h"

namespace pf {
namespace {

// Records the events of both halves in order ("r:open", "w:space", ...), optionally reacting.
struct EventLog {
  std::vector<std::string> events;
  std::function<void(SocketStream&, StreamEvent)> react;

  void attach(const StreamPair& pair, const std::shared_ptr<RunLoop>& loop,
              const RunLoopMode& mode = kDefaultRunLoopMode) {
    for (SocketStream* stream : {static_cast<SocketStream*>(pair.input.get()),
                                 static_cast<SocketStream*>(pair.output.get())}) {
      stream->setClient(31, [this](SocketStream& s, StreamEvent e) {
        events.push_back(std::string(s.isReadStream() ? "r:" : "w:") + name(e));
        if (react) react(s, e);
      });
      stream->scheduleInRunLoop(loop, mode);
    }
  }
  static const char* name(StreamEvent e) {
    switch (e) {
      case kStreamEventOpenCompleted: return "open";
      case kStreamEventHasBytesAvailable: return "bytes";
      case kStreamEventCanAcceptBytes: return "space";
      case kStreamEventErrorOccurred: return "error";
      case kStreamEventEndEncountered: return "end";
      default: return "?";
    }
  }
  bool has(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
  long count(const std::string& e) const { return std::count(events.begin(), events.end(), e); }
};

std::string readAvailable(ReadStream& stream) {
  std::string out;
  while (stream.hasBytesAvailable()) {
    char buffer[1024];
    long n = stream.read(reinterpret_cast<std::uint8_t*>(buffer), sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

class StreamTest : public ::testing::Test {
 protected:
  std::shared_ptr<fxtest::TableResolver> resolver = std::make_shared<fxtest::TableResolver>();
  std::shared_ptr<RunLoop> loop = RunLoop::current();
  EventLog log;

  bool spin(const std::function<bool()>& done) { return loop->spinUntil(done, 10.0); }
};

TEST_F(StreamTest, PairToHostResolvesConnectsAndCarriesBytesBothWays) {
  fxtest::LoopbackListener server;
  ASSERT_TRUE(server.ok());
  resolver->add("exchange.test", {"127.0.0.1"});
  auto pair = SocketStream::pairToHost("exchange.test", server.port(), resolver);
  log.attach(pair, loop);
  EXPECT_EQ(pair.input->status(), StreamStatus::NotOpen);
  ASSERT_TRUE(pair.input->open());
  ASSERT_TRUE(pair.output->open());
  EXPECT_FALSE(pair.input->open());  // once only
  EXPECT_EQ(pair.input->status(), StreamStatus::Opening);
  EXPECT_FALSE(pair.input->nativeSocket());

  ASSERT_TRUE(spin([&] { return log.has("r:open") && log.has("w:open") && log.has("w:space"); }));
  EXPECT_EQ(resolver->asked(), std::vector<std::string>{"exchange.test"});
  EXPECT_EQ(pair.input->status(), StreamStatus::Open);
  ASSERT_TRUE(pair.input->nativeSocket());
  EXPECT_EQ(SocketAddress::peer(*pair.input->nativeSocket())->port(), server.port());
  EXPECT_FALSE(pair.input->hasBytesAvailable());

  int peer = server.accept();
  ASSERT_GE(peer, 0);
  std::string request = "quote EURUSD\n";
  ASSERT_EQ(pair.output->write(reinterpret_cast<const std::uint8_t*>(request.data()), request.size()),
            long(request.size()));
  EXPECT_EQ(fxtest::readSome(peer, request.size()), request);

  ASSERT_TRUE(fxtest::writeAll(peer, "1.0842\n"));
  ASSERT_TRUE(spin([&] { return log.has("r:bytes"); }));
  EXPECT_TRUE(pair.input->hasBytesAvailable());
  EXPECT_EQ(readAvailable(*pair.input), "1.0842\n");

  // The peer's close: "has bytes" is false at the end, and the end event follows.
  ::shutdown(peer, SHUT_WR);
  ASSERT_TRUE(spin([&] { return log.has("r:end"); }));
  EXPECT_FALSE(pair.input->hasBytesAvailable());
  EXPECT_EQ(pair.input->status(), StreamStatus::AtEnd);
  std::uint8_t byte;
  EXPECT_EQ(pair.input->read(&byte, 1), 0);
  EXPECT_EQ(log.count("r:end"), 1);
}

TEST_F(StreamTest, ReadinessEventsComeOnceUntilTheNextReadOrWrite) {
  fxtest::LoopbackListener server;
  auto pair = SocketStream::pairToHost("127.0.0.1", server.port(), resolver);
  log.attach(pair, loop);
  pair.input->open();
  pair.output->open();
  ASSERT_TRUE(spin([&] { return log.has("w:space"); }));
  int peer = server.accept();
  fxtest::writeAll(peer, "abc");
  ASSERT_TRUE(spin([&] { return log.has("r:bytes"); }));
  // Unread bytes do not raise the event again, nor does an untouched write side.
  loop->runInMode(kDefaultRunLoopMode, 0.05);
  EXPECT_EQ(log.count("r:bytes"), 1);
  EXPECT_EQ(log.count("w:space"), 1);

  std::uint8_t buffer[2];
  EXPECT_EQ(pair.input->read(buffer, 2), 2);
  ASSERT_TRUE(spin([&] { return log.count("r:bytes") == 2; }));
  EXPECT_EQ(pair.output->write(buffer, 1), 1);
  ASSERT_TRUE(spin([&] { return log.count("w:space") == 2; }));
}

TEST_F(StreamTest, EventsWaitForAModeTheHalfIsScheduledIn) {
  fxtest::LoopbackListener server;
  auto pair = SocketStream::pairToHost("127.0.0.1", server.port(), resolver);
  log.attach(pair, loop, "Tracking");
  pair.input->open();
  pair.output->open();
  loop->runInMode(kDefaultRunLoopMode, 0.1);
  EXPECT_TRUE(log.events.empty());
  ASSERT_TRUE(loop->spinUntil([&] { return log.has("r:open") && log.has("w:space"); }, 10.0, "Tracking"));
}

TEST_F(StreamTest, RefusedPortAndFailedResolutionEndInErrorEvents) {
  auto refused = SocketStream::pairToHost("127.0.0.1", fxtest::closedLoopbackPort(), resolver);
  log.attach(refused, loop);
  refused.input->open();
  refused.output->open();
  ASSERT_TRUE(spin([&] { return log.has("r:error") && log.has("w:error"); }));
  EXPECT_FALSE(log.has("r:open"));
  EXPECT_EQ(refused.input->status(), StreamStatus::Error);
  EXPECT_EQ(refused.input->error(), StreamError::posix(ECONNREFUSED));
  EXPECT_EQ(refused.output->error(), StreamError::posix(ECONNREFUSED));

  EventLog unknownLog;
  auto unknown = SocketStream::pairToHost("no-such-host.test", 443, resolver);
  unknownLog.attach(unknown, loop);
  unknown.input->open();
  ASSERT_TRUE(spin([&] { return unknownLog.has("r:error"); }));
  EXPECT_EQ(unknown.input->error(), StreamError::netdb(EAI_NONAME));
  auto error = unknown.input->error().toError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "kCFStreamErrorDomainNetDB");
  EXPECT_EQ(error->localizedDescription(), gai_strerror(EAI_NONAME));
  // A half opened after the failure learns of it too.
  unknown.output->open();
  ASSERT_TRUE(spin([&] { return unknownLog.has("w:error"); }));
}

TEST_F(StreamTest, FallsBackToTheNextAddressWhenOneRefuses) {
  fxtest::LoopbackListener server;
  // Nothing listens on ::1 at this port (or the machine has no IPv6): the IPv4 address connects.
  resolver->add("dual.test", {"::1", "127.0.0.1"});
  auto pair = SocketStream::pairToHost("dual.test", server.port(), resolver);
  log.attach(pair, loop);
  pair.input->open();
  pair.output->open();
  ASSERT_TRUE(spin([&] { return log.has("r:open") || log.has("r:error"); }));
  EXPECT_TRUE(log.has("r:open"));
  EXPECT_TRUE(SocketAddress::peer(*pair.input->nativeSocket())->isIPv4());
}

TEST_F(StreamTest, ClosingWhileTheResolverNeverAnswersLeavesNothingBehind) {
  int before = fxtest::openDescriptorCountBefore(*loop);
  {
    auto pair = SocketStream::pairToHost("slow.test", 80, std::make_shared<fxtest::SilentResolver>());
    log.attach(pair, loop);
    pair.input->open();
    pair.output->open();
    loop->runInMode(kDefaultRunLoopMode, 0.05);
    EXPECT_EQ(pair.input->status(), StreamStatus::Opening);
    pair.input->close();
    pair.output->close();
    EXPECT_EQ(pair.input->status(), StreamStatus::Closed);
  }
  loop->runInMode(kDefaultRunLoopMode, 0.01);
  EXPECT_TRUE(log.events.empty());
  EXPECT_EQ(fxtest::openDescriptorCount(), before);
}

TEST_F(StreamTest, PairOverADescriptorLeavesItToTheCallerUnlessAskedToClose) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  {
    auto pair = SocketStream::pairWithSocket(fds[0]);
    log.attach(pair, loop);
    pair.input->open();
    pair.output->open();
    EXPECT_EQ(pair.input->status(), StreamStatus::Open);
    EXPECT_EQ(pair.input->nativeSocket(), fds[0]);
    ASSERT_TRUE(spin([&] { return log.has("r:open") && log.has("w:open"); }));
    pair.input->close();
    pair.output->close();
  }
  EXPECT_EQ(fcntl(fds[0], F_GETFD), 0) << "the caller's descriptor must stay open";
  {
    auto pair = SocketStream::pairWithSocket(fds[0]);
    pair.input->setShouldCloseNativeSocket(true);
    pair.input->open();
    pair.output->open();
  }  // dropping both halves closes them
  EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);
  ::close(fds[1]);

  auto bad = SocketStream::pairWithSocket(-1);
  bad.input->open();
  EXPECT_EQ(bad.input->status(), StreamStatus::Error);
  EXPECT_EQ(bad.input->error(), StreamError::posix(EBADF));
}

TEST_F(StreamTest, WritesToAPeerThatWentAwayFailWithoutASignal) {
  fxtest::LoopbackListener server;
  auto pair = SocketStream::pairToHost("127.0.0.1", server.port(), resolver);
  log.attach(pair, loop);
  pair.input->open();
  pair.output->open();
  ASSERT_TRUE(spin([&] { return log.has("w:space"); }));
  int peer = server.accept();
  struct linger hard {1, 0};
  setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(peer);  // a reset
  std::vector<std::uint8_t> data(1024, 'x');
  long result = 1;
  for (int i = 0; i < 100 && result > 0; ++i) result = pair.output->write(data.data(), data.size());
  EXPECT_EQ(result, -1);
  EXPECT_EQ(pair.output->status(), StreamStatus::Error);
  EXPECT_EQ(pair.output->error().domain, StreamErrorDomain::Posix);
  ASSERT_TRUE(spin([&] { return log.has("w:error"); }));
}

TEST_F(StreamTest, EventsOnOneThreadWhileAnotherReadsAndWrites) {
  // The WebSocket's arrangement: the pair lives on a network thread's run loop, its owner reads
  // and writes from elsewhere once told that bytes or space are there.
  fxtest::LoopbackListener server;
  auto network = Thread::makeRunLoopThread("stream network");
  auto pair = SocketStream::pairToHost("127.0.0.1", server.port(), resolver);
  std::atomic<int> bytesEvents{0}, spaceEvents{0};
  network->perform(
      [&] {
        pair.input->setClient(kStreamEventHasBytesAvailable, [&](SocketStream&, StreamEvent) { ++bytesEvents; });
        pair.output->setClient(kStreamEventCanAcceptBytes, [&](SocketStream&, StreamEvent) { ++spaceEvents; });
        pair.input->scheduleInRunLoop(network->runLoop(), kDefaultRunLoopMode);
        pair.output->scheduleInRunLoop(network->runLoop(), kDefaultRunLoopMode);
        pair.output->open();
        pair.input->open();
      },
      true);
  int peer = server.accept();
  ASSERT_GE(peer, 0);
  std::string echoed;
  for (int round = 0; round < 50; ++round) {
    std::string line = "tick " + std::to_string(round) + "\n";
    while (!pair.output->hasSpaceAvailable()) std::this_thread::yield();
    ASSERT_EQ(pair.output->write(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()), long(line.size()));
    std::string got = fxtest::readSome(peer, line.size());
    ASSERT_TRUE(fxtest::writeAll(peer, got));
    std::string back;
    while (back.size() < line.size()) {
      if (!pair.input->hasBytesAvailable()) {
        std::this_thread::yield();
        continue;
      }
      std::uint8_t buffer[64];
      long n = pair.input->read(buffer, sizeof buffer);
      ASSERT_GT(n, 0);
      back.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
    }
    echoed += back;
  }
  EXPECT_EQ(echoed.size(), std::string("tick 0\n").size() * 10 + std::string("tick 10\n").size() * 40);
  // The owner may take each round's space before the network thread reports it; after the last
  // write the report comes.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (spaceEvents == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_GE(spaceEvents.load(), 1);
  // Left alone, the owner hears of new bytes from the network thread.
  int before = bytesEvents;
  ASSERT_TRUE(fxtest::writeAll(peer, "last\n"));
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (bytesEvents == before && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_GT(bytesEvents.load(), before);
  network->perform(
      [&] {
        pair.input->close();
        pair.output->close();
      },
      true);
  network->cancel();
  network->join();
}

TEST(StreamErrorConversion, DomainsFollowTheStreamsErrorDomain) {
  EXPECT_FALSE(StreamError{}.toError());
  EXPECT_EQ(StreamError::posix(ECONNREFUSED).toError()->domain, "NSPOSIXErrorDomain");
  EXPECT_EQ(StreamError::posix(ECONNREFUSED).toError()->code, ECONNREFUSED);
  EXPECT_EQ(StreamError::ssl(TlsErrorCode::kCertificateRejected).toError()->domain, "kCFStreamErrorDomainSSL");
  EXPECT_EQ((StreamError{StreamErrorDomain::Custom, 7}.toError()->domain), "CFStreamError (unlisted domain)");
  EXPECT_EQ((StreamError{StreamErrorDomain::MacOSStatus, -1}.toError()->domain), "NSOSStatusErrorDomain");
}

}  // namespace
}  // namespace pf
