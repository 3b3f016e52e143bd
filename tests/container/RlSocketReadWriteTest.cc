#include <gtest/gtest.h>

#include <cmath>

#include "container/RlSocket.h"
#include "container/RlSocketTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/net/SocketTestSupport.h"

namespace container {
namespace {

using pf::toBytes;

// A connected RlSocket client and the plain peer socket on the other end.
class RlSocketReadWriteTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<pf::RunLoop> loop = pf::RunLoop::current();
  fxtest::LoopbackListener server;
  std::shared_ptr<RlSocket> sock;
  int peer = -1;

  void SetUp() override {
    sock = RlSocket::create(delegate);
    ASSERT_TRUE(sock->connectToHost("127.0.0.1", server.port(), 5.0));
    ASSERT_TRUE(spin([&] { return delegate->called("connect"); }));
    peer = server.accept();
    ASSERT_GE(peer, 0);
  }

  bool spin(const std::function<bool()>& done) { return loop->spinUntil(done, 10.0); }
  // Lets the run loop take what the peer sent (real time, so also under the virtual clock).
  void settle() { loop->spinUntil([] { return false; }, 0.05); }
  std::vector<std::string> readsAndPartials() {
    std::vector<std::string> out;
    for (const auto& call : delegate->snapshot()) {
      if (call.rfind("read ", 0) == 0 || call.rfind("partial read", 0) == 0) out.push_back(call);
    }
    return out;
  }
};

TEST_F(RlSocketReadWriteTest, TerminatorSplitAcrossArrivalsIsFoundWithAndWithoutPreBuffering) {
  sock->readDataToData(RlSocket::CRLFData(), -1, 1);
  sock->readDataToData(RlSocket::CRLFData(), -1, 2);
  fxtest::writeAll(peer, "EURUSD 1.08\r");
  ASSERT_TRUE(spin([&] { return delegate->called("partial read 1"); }));
  fxtest::writeAll(peer, "\nUSDJPY 151.2\r\nGBP");
  ASSERT_TRUE(spin([&] { return delegate->called("read 2"); }));
  EXPECT_EQ(readsAndPartials(), (std::vector<std::string>{"partial read 1 12", "read 1 EURUSD 1.08\r\n",
                                                          "read 2 USDJPY 151.2\r\n"}));
  // Bytes after the terminator wait in the pre-buffer for the next read, without a new event.
  sock->readDataToLength(3, -1, 3);
  ASSERT_TRUE(spin([&] { return delegate->called("read 3"); }));
  EXPECT_EQ(delegate->reads.back(), toBytes("GBP"));
}

TEST_F(RlSocketReadWriteTest, PreBufferedBytesServeTheNextTerminatorReadsStepByStep) {
  // Read 1 reads ahead and leaves "abc<END>xyz<EN" in the pre-buffer. Read 2 takes it in
  // terminator-sized steps, shrinking a step to the rest of a partial match so that it never takes
  // a byte past the terminator. Read 3 finds its terminator split across two arrivals.
  sock->readDataToData(RlSocket::LFData(), -1, 1);
  sock->readDataToData(toBytes("<END>"), -1, 2);
  sock->readDataToData(toBytes("<END>"), -1, 3);
  fxtest::writeAll(peer, "x\nabc<END>xyz<EN");
  ASSERT_TRUE(spin([&] { return delegate->called("partial read 3"); }));
  fxtest::writeAll(peer, "D>");
  ASSERT_TRUE(spin([&] { return delegate->called("read 3"); }));
  EXPECT_EQ(readsAndPartials(), (std::vector<std::string>{"read 1 x\n", "read 2 abc<END>", "partial read 3 6",
                                                          "read 3 xyz<END>"}));
}

TEST_F(RlSocketReadWriteTest, FixedLengthReadInPiecesReportsProgressThenOneWholeRead) {
  sock->readDataToLength(10, -1, 5);
  fxtest::writeAll(peer, "0123");
  ASSERT_TRUE(spin([&] { return delegate->called("partial read 5 4"); }));
  long tag = 0;
  std::int64_t done = 0, total = 0;
  EXPECT_FLOAT_EQ(sock->progressOfReadReturningTag(&tag, &done, &total), 0.4f);
  EXPECT_EQ(tag, 5);
  EXPECT_EQ(done, 4);
  EXPECT_EQ(total, 10);
  EXPECT_EQ(sock->description().find("currently read 10 bytes (40% done)") != std::string::npos, true)
      << sock->description();
  fxtest::writeAll(peer, "456789");
  ASSERT_TRUE(spin([&] { return delegate->called("read 5"); }));
  EXPECT_EQ(readsAndPartials(), (std::vector<std::string>{"partial read 5 4", "read 5 0123456789"}));
  EXPECT_TRUE(std::isnan(sock->progressOfReadReturningTag(nullptr, nullptr, nullptr)));
}

TEST_F(RlSocketReadWriteTest, ReadsLandInTheCallersBufferAtItsOffset) {
  auto callerBuffer = std::make_shared<pf::Bytes>(toBytes("head:"));
  sock->readDataToLength(4, -1, callerBuffer, callerBuffer->size(), 1);
  sock->readDataWithTimeout(-1, callerBuffer, 101, 9);  // offset past the end: ignored
  // A buffer with room: the read fills it in place and leaves what follows.
  auto roomy = std::make_shared<pf::Bytes>(toBytes("[....]tail"));
  sock->readDataToLength(4, -1, roomy, 1, 2);
  fxtest::writeAll(peer, "bodyDATA");
  ASSERT_TRUE(spin([&] { return delegate->called("read 2"); }));
  EXPECT_EQ(delegate->reads.at(0), toBytes("body"));
  EXPECT_EQ(*callerBuffer, toBytes("head:body"));
  EXPECT_EQ(delegate->reads.at(1), toBytes("DATA"));
  EXPECT_EQ(*roomy, toBytes("[DATA]tail"));
  settle();
  EXPECT_FALSE(delegate->called("read 9"));
}

TEST_F(RlSocketReadWriteTest, ReadOfWhatIsAvailableNeverCompletesEmptyAndRespectsItsMaximum) {
  sock->readDataWithTimeout(-1, nullptr, 0, 3, 4);
  settle();
  EXPECT_FALSE(delegate->called("read"));
  EXPECT_FLOAT_EQ(sock->progressOfReadReturningTag(nullptr, nullptr, nullptr), 1.0f);
  fxtest::writeAll(peer, "abcdef");
  ASSERT_TRUE(spin([&] { return delegate->called("read 4"); }));
  EXPECT_EQ(delegate->reads.back(), toBytes("abc"));
  sock->readDataWithTimeout(-1, 5);
  ASSERT_TRUE(spin([&] { return delegate->called("read 5"); }));
  EXPECT_EQ(delegate->reads.back(), toBytes("def"));
}

TEST_F(RlSocketReadWriteTest, TerminatorReadThatReachesItsMaximumClosesWithCode3) {
  sock->readDataToData(toBytes("\n"), -1, 0, 20);    // maximum below the terminator: ignored
  sock->readDataToData(pf::Bytes{}, -1, 21);          // empty terminator: ignored
  sock->readDataToData(toBytes("\n"), -1, 8, 22);
  fxtest::writeAll(peer, "0123456789");
  ASSERT_TRUE(spin([&] { return delegate->didDisconnect; }));
  EXPECT_EQ(delegate->disconnectError->code, kRlSocketReadMaxedOutError);
  EXPECT_EQ(delegate->disconnectError->localizedDescription(), "Read operation reached set maximum length");
  EXPECT_TRUE(delegate->called("partial read 22 8"));
  EXPECT_FALSE(delegate->called("partial read 20"));
}

TEST_F(RlSocketReadWriteTest, DelegateExtendedReadTimeOutsOnTheVirtualClock) {
  pf::VirtualTimeScope time;
  int asked = 0;
  delegate->extendRead = [&](long, double, std::size_t) { return ++asked == 1 ? 5.0 : 0.0; };
  sock->readDataToLength(8, 3.0, 6);
  fxtest::writeAll(peer, "12");
  ASSERT_TRUE(spin([&] { return delegate->called("partial read 6 2"); }));
  time.advance(2.9);
  EXPECT_EQ(asked, 0);
  time.advance(0.1);
  EXPECT_TRUE(delegate->called("read timeout 6 3 2"));
  EXPECT_FALSE(delegate->willDisconnect);
  time.advance(4.9);
  EXPECT_EQ(asked, 1);
  time.advance(0.1);
  EXPECT_TRUE(delegate->called("read timeout 6 8 2"));  // elapsed grew by the extension
  ASSERT_TRUE(delegate->didDisconnect);
  EXPECT_EQ(delegate->disconnectError->code, kRlSocketReadTimeoutError);
  EXPECT_EQ(delegate->disconnectError->localizedDescription(), "Read operation timed out");
}

TEST_F(RlSocketReadWriteTest, WritesGoOutInOrderAndReportEachPacket) {
  pf::Bytes big(10000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  sock->writeData(big, -1, 1);
  sock->writeData(pf::Bytes{}, -1, 2);  // empty: ignored
  pf::Bytes tail = toBytes("tail");
  sock->writeData(tail, -1, 3);
  tail.clear();  // the socket has its own bytes
  ASSERT_TRUE(spin([&] { return delegate->called("wrote 3"); }));
  std::string got = fxtest::readSome(peer, big.size() + 4);
  EXPECT_EQ(got, pf::toString(big) + "tail");
  EXPECT_FALSE(delegate->called("wrote 2"));
  EXPECT_TRUE(std::isnan(sock->progressOfWriteReturningTag(nullptr, nullptr, nullptr)));
}

TEST_F(RlSocketReadWriteTest, DisconnectAfterReadingWaitsForThePendingRead) {
  sock->readDataToLength(3, -1, 1);
  sock->disconnectAfterReading();
  sock->readDataToLength(1, -1, 2);       // ignored from now on
  sock->writeData(toBytes("x"), -1, 3);   // ignored too
  settle();
  EXPECT_FALSE(delegate->didDisconnect);
  EXPECT_NE(sock->description().find(", will disconnect after reads"), std::string::npos);
  fxtest::writeAll(peer, "abcd");
  ASSERT_TRUE(spin([&] { return delegate->didDisconnect; }));
  EXPECT_EQ(delegate->snapshot().back(), "didDisconnect");
  EXPECT_TRUE(delegate->called("read 1 abc"));
  EXPECT_FALSE(delegate->called("read 2"));
  EXPECT_FALSE(delegate->willDisconnect);
}

TEST_F(RlSocketReadWriteTest, DisconnectAfterWritingWithNothingQueuedHappensOnTheNextPass) {
  sock->disconnectAfterWriting();
  EXPECT_FALSE(delegate->didDisconnect);
  loop->runInMode(pf::kDefaultRunLoopMode, 0.0);
  EXPECT_TRUE(delegate->didDisconnect);
}

TEST_F(RlSocketReadWriteTest, UnreadDataIsTheUnfinishedReadThenTheStreamAndACopy) {
  pf::VirtualTimeScope time;
  std::optional<pf::Bytes> first, second;
  delegate->onWillDisconnect = [&](RlSocket& s, const std::optional<pf::Error>&) {
    first = s.unreadData();
    if (first) first->push_back('!');  // changing the copy changes nothing inside
    second = s.unreadData();
  };
  sock->readDataToLength(100, 5.0, 1);
  fxtest::writeAll(peer, "0123456789");
  ASSERT_TRUE(spin([&] { return delegate->called("partial read 1 10"); }));
  // Bytes the read has not taken yet are drained from the stream behind those it has.
  fxtest::writeAll(peer, "ABC");
  time.advance(5.0);
  ASSERT_TRUE(delegate->didDisconnect);
  EXPECT_EQ(delegate->disconnectError->code, kRlSocketReadTimeoutError);
  ASSERT_TRUE(second);
  EXPECT_EQ(pf::toString(*second), "0123456789ABC");
}

TEST_F(RlSocketReadWriteTest, ModeChangesWithAPendingReadMoveItsTimerAlong) {
  pf::VirtualTimeScope time;
  sock->readDataToLength(4, 10.0, 1);
  settle();
  ASSERT_TRUE(sock->setRunLoopModes({"Tracking"}));
  EXPECT_EQ(sock->runLoopModes(), std::vector<pf::RunLoopMode>{"Tracking"});
  EXPECT_FALSE(sock->setRunLoopModes({}));
  EXPECT_TRUE(sock->addRunLoopMode("Tracking"));  // already there
  EXPECT_FALSE(sock->removeRunLoopMode("Tracking"));  // the only one
  EXPECT_TRUE(sock->removeRunLoopMode("Absent"));
  fxtest::writeAll(peer, "data");
  settle();  // the default mode no longer serves the socket
  EXPECT_FALSE(delegate->called("read"));
  ASSERT_TRUE(loop->spinUntil([&] { return delegate->called("read 1"); }, 10.0, "Tracking"));

  // The read timer lives in the socket's modes only.
  sock->readDataToLength(4, 2.0, 2);
  loop->runInMode("Tracking", 0.0);
  ASSERT_TRUE(sock->addRunLoopMode(pf::kDefaultRunLoopMode));
  ASSERT_TRUE(sock->removeRunLoopMode("Tracking"));
  time.advance(2.0);
  EXPECT_TRUE(delegate->called("read timeout 2 2 0"));
}

}  // namespace
}  // namespace container
