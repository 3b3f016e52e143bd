// Loopback throughput of RlSocket reading fixed-length 4 KiB packets, against blocking recv() of
// the same packets from a plain socket, in the same run. A writer thread sends as fast as the
// kernel takes the bytes.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Ratios.h"
#include "container/RlSocket.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/SocketAddress.h"

namespace {

constexpr std::size_t kPacket = 4096;
constexpr std::size_t kTransfer = 32 << 20;  // per iteration

struct Listener {
  int fd = -1;
  std::uint16_t port = 0;
  Listener() {
    auto address = pf::SocketAddress::loopback4(0);
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::bind(fd, address.sockaddrPointer(), address.length());
    ::listen(fd, 4);
    port = pf::SocketAddress::local(fd)->port();
  }
  ~Listener() { ::close(fd); }
};

// Accepts one connection and sends `total` bytes on it.
std::thread writer(int listenFd, std::size_t total) {
  return std::thread([listenFd, total] {
    int fd = ::accept(listenFd, nullptr, nullptr);
    std::vector<char> chunk(64 * 1024, 'q');
    std::size_t sent = 0;
    while (sent < total) {
      ssize_t n = ::send(fd, chunk.data(), std::min(chunk.size(), total - sent), MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });
}

void BM_BlockingRecvBaseline(benchmark::State& state) {
  Listener listener;
  std::vector<char> packet(kPacket);
  for (auto _ : state) {
    auto thread = writer(listener.fd, kTransfer);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = pf::SocketAddress::loopback4(listener.port);
    ::connect(fd, address.sockaddrPointer(), address.length());
    std::size_t received = 0;
    while (received < kTransfer) {
      ssize_t n = ::recv(fd, packet.data(), kPacket, MSG_WAITALL);
      if (n <= 0) break;
      received += static_cast<std::size_t>(n);
    }
    ::close(fd);
    thread.join();
    benchmark::DoNotOptimize(received);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTransfer));
}

struct Reader : container::RlSocketDelegate {
  std::size_t received = 0;
  bool finished = false;
  void onSocketDidConnectToHost(container::RlSocket& sock, const std::string&, std::uint16_t) override {
    sock.readDataToLength(kPacket, -1, 0);
  }
  void onSocketDidReadData(container::RlSocket& sock, const pf::Bytes& data, long) override {
    received += data.size();
    if (received < kTransfer) sock.readDataToLength(kPacket, -1, 0);
  }
  void onSocketDidDisconnect(container::RlSocket&) override { finished = true; }
};

void BM_RlSocketFixedLengthReads(benchmark::State& state) {
  Listener listener;
  auto loop = pf::RunLoop::current();
  for (auto _ : state) {
    auto thread = writer(listener.fd, kTransfer);
    auto reader = std::make_shared<Reader>();
    auto sock = container::RlSocket::create(reader);
    sock->connectToHost("127.0.0.1", listener.port);
    loop->spinUntil([&] { return reader->received >= kTransfer || reader->finished; }, 60.0);
    sock->disconnect();
    thread.join();
    if (reader->received < kTransfer) state.SkipWithError("transfer incomplete");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTransfer));
}

}  // namespace

BENCHMARK(BM_BlockingRecvBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RlSocketFixedLengthReads)->Unit(benchmark::kMillisecond)->UseRealTime();
FX_BENCH_RATIO("RlSocket 4 KiB reads / blocking recv", fxbench::rate("BM_RlSocketFixedLengthReads"),
               fxbench::rate("BM_BlockingRecvBaseline"), fxbench::atLeast(0.5));
FX_BENCH_MAIN();
