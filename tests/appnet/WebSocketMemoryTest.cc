// What the whole program holds while a WebSocket reads a flood its main thread takes late. This
// executable counts every allocation through operator new, on every thread (HeapPeak.cc), so it
// holds no other test: nothing else runs beside the socket while it is measured.

#include <gtest/gtest.h>

#include "HeapPeak.h"
#include "WebSocketTestSupport.h"

using namespace appnet;
using wstest::FloodRecorder;
using wstest::Peer;
using wstest::spin;

namespace {

std::string fragmentedFlood(const Peer& peer, long messages, std::size_t size) {
  return peer.url("/case/flood?n=" + std::to_string(messages) + "&size=" + std::to_string(size) + "&frag=1024");
}

}  // namespace

// Messages of the largest size in fragments of 1 KiB, 26 MB in all, while the main thread first
// takes none and then takes them: everything the program holds meanwhile grows by no more than
// the socket's bound and one message, with the socket's reading storage beside them, though a
// message's storage outgrows what it holds as its fragments arrive; every message arrives whole
// and in order.
TEST(WebSocketPeer, FragmentedMessagesTakeNoMoreMemoryThanTheBoundAndOneMessage) {
  Peer peer(Peer::Kind::Python, "ws_raw_server.py");
  constexpr long kMessages = 200;
  constexpr std::size_t kSize = 129 << 10;
  // One short exchange first: what the process sets up once for any socket (the network thread,
  // the queues' threads, the timers' table) is no part of what a socket holds.
  {
    auto first = TnqWebSocket::initWithURL(fragmentedFlood(peer, 1, kSize));
    auto rec = std::make_shared<FloodRecorder>();
    rec->size = kSize;
    first->setDelegate(rec);
    first->open();
    ASSERT_TRUE(spin([&] { return rec->sawEnd || rec->ended(); }));
    first->close();
    ASSERT_TRUE(spin([&] { return rec->ended(); }));
    std::weak_ptr<TnqWebSocket> gone = first;
    first.reset();
    ASSERT_TRUE(spin([&] { return gone.expired(); }));
  }

  auto socket = TnqWebSocket::initWithURL(fragmentedFlood(peer, kMessages, kSize));
  socket->setMaximumMessageSize(kSize);
  auto rec = std::make_shared<FloodRecorder>();
  rec->size = kSize;
  socket->setDelegate(rec);
  const std::uint64_t bound = socket->heldBound();
  EXPECT_EQ(bound, 4 * kSize);
  const std::int64_t before = fxtest::markHeapPeak();
  socket->open();
  ASSERT_TRUE(wstest::waitWithMainBusy([&] { return socket->isReadingPaused(); }));
  ASSERT_TRUE(spin([&] { return rec->sawEnd || rec->ended(); }, 60));
  EXPECT_EQ(rec->next, kMessages);
  EXPECT_TRUE(rec->sawEnd);
  EXPECT_FALSE(rec->outOfOrder);
  socket->close();
  ASSERT_TRUE(spin([&] { return rec->ended(); }));
  EXPECT_FALSE(rec->error);
  if (!fxtest::kHeapCounted) return;  // ThreadSanitizer: the order and the bytes are checked all the same
  // Beside the bound and one message (a read let in just below the bound may grow the message
  // being read, its old storage alive until the new one is filled): the stream's buffer of 64 KiB;
  // the socket's reading storage, at most six buffers of what an inbox may hold (a 64th of the
  // bound) and a frame cut off (a control frame's 125 bytes and a header's 14); and 8 KiB for the
  // stream's run-loop sources, the handshake's answer, the consumers and the queues' blocks.
  constexpr std::uint64_t kStreamBuffer = 64 << 10;
  const std::uint64_t readStorage = 6 * (bound / 64 + 1 + 125 + 14);
  EXPECT_LE(fxtest::heapPeak() - before,
            static_cast<std::int64_t>(bound + kSize + kStreamBuffer + readStorage + (8 << 10)));
}
