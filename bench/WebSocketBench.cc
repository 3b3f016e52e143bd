// Receiving 100,000 text messages of 1 KiB from a loopback Node `ws` server: our client against
// the reference clients (Node's `ws`, Python's websockets) on the same server in the same run,
// each timed from connecting to the last message. BM_ReceiveInTurnsWithNodeWs alternates our
// client and Node's, run by run, so that both meet the same load on the machine; the ratio of
// their speeds (Node's median time / ours: above 1, ours is faster) prints after the rows. And the
// UTF-8 check against ICU's bare U8_NEXT loop on quote-like text. And the peak memory of a process
// whose push connection meets a flood of 3,000,000 texts or pings of 125 bytes while its main
// thread is busy for the first 10 s, against one that receives the same texts from a server that
// never runs more than 4,000 messages ahead of what the client has taken; and how far the peak
// grows past the socket's bound under those floods, under 1,000,000 texts for a listener that takes
// 10 us a message, and under ten texts of 16 MiB in fragments of 1 MiB on a busy main thread (each
// in a child process of its own: this program started again).

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Ratios.h"
#include "appnet/TnqWebSocket.h"
#include "appnet/TnqWebSocketIO.h"
#include "appnet/WebSocketFrame.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"

extern char** environ;

namespace {

constexpr int kMessages = 100000;
constexpr int kSize = 1024;

// A child process whose first line of output is read; killed on destruction.
struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;
  explicit Child(std::vector<std::string> argv) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::setenv("NODE_PATH", "/usr/share/nodejs", 0);
    posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out = ::fdopen(fds[0], "r");
  }
  std::string line() {
    char buffer[256] = {0};
    if (!out || !std::fgets(buffer, sizeof buffer, out)) return {};
    std::string s(buffer);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
  }
  ~Child() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (out) std::fclose(out);
  }
};

struct Server {
  Child child{{"/usr/bin/node", FX_PEERS_DIR "/ws_node_server.js"}};
  std::string port = child.line();
  std::string base() const { return "ws://127.0.0.1:" + port; }
  std::string url() const { return base() + "/send/" + std::to_string(kMessages) + "/" + std::to_string(kSize); }
};

Server& server() {
  static Server s;
  return s;
}

// The raw peer of the tests, for the floods.
struct RawServer {
  Child child{{"/usr/bin/python3", "-u", FX_PEERS_DIR "/ws_raw_server.py"}};
  std::string port = child.line();
  std::string base() const { return "ws://127.0.0.1:" + port; }
};

RawServer& rawServer() {
  static RawServer s;
  return s;
}

struct Counter : appnet::TnqWebSocketDelegate {
  std::atomic<int> received{0};
  std::shared_ptr<pf::DispatchSemaphore> done = pf::DispatchSemaphore::make(0);
  void webSocketDidReceiveMessage(const std::shared_ptr<appnet::TnqWebSocket>&,
                                  const appnet::TnqWebSocketMessage&) override {
    if (++received == kMessages) done->signal();
  }
  void webSocketDidFailWithError(const std::shared_ptr<appnet::TnqWebSocket>&, const pf::Error&) override {
    done->signal();
  }
  void webSocketDidCloseWithCode(const std::shared_ptr<appnet::TnqWebSocket>&, int, const std::string&,
                                 bool) override {
    done->signal();
  }
};

// Seconds from connecting to the last message, or a negative value when the connection ended early.
double receiveWithTnqWebSocket(const std::string& url, const std::shared_ptr<pf::DispatchQueue>& queue) {
  auto counter = std::make_shared<Counter>();
  const auto start = std::chrono::steady_clock::now();
  auto socket = appnet::TnqWebSocket::initWithURL(url);
  socket->setDelegateDispatchQueue(queue);
  socket->setDelegate(counter);
  socket->open();
  counter->done->wait();
  const auto end = std::chrono::steady_clock::now();
  // Wait for the close so that no socket work is left when the program ends.
  socket->close();
  counter->done->wait(5.0);
  if (counter->received != kMessages) return -1;
  return std::chrono::duration<double>(end - start).count();
}

// Seconds reported by a reference client, or a negative value when it failed.
double receiveWithReferenceClient(std::vector<std::string> argv) {
  argv.push_back(server().url());
  argv.push_back(std::to_string(kMessages));
  Child client(argv);
  const std::string seconds = client.line();
  return seconds.empty() ? -1 : std::stod(seconds);
}

const std::vector<std::string> kNodeClient{"/usr/bin/node", FX_PEERS_DIR "/ws_bench_client.js"};
const std::vector<std::string> kPythonClient{"/usr/bin/python3", FX_PEERS_DIR "/ws_bench_client.py"};

void BM_ReceiveTnqWebSocket(benchmark::State& state) {
  const std::string url = server().url();
  auto queue = pf::DispatchQueue::makeSerial("com.tnq.bench.delegate");
  for (auto _ : state) {
    const double seconds = receiveWithTnqWebSocket(url, queue);
    if (seconds < 0) {
      state.SkipWithError("connection ended early");
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.SetItemsProcessed(state.iterations() * kMessages);
}

void referenceClient(benchmark::State& state, const std::vector<std::string>& argv) {
  for (auto _ : state) {
    const double seconds = receiveWithReferenceClient(argv);
    if (seconds < 0) {
      state.SkipWithError("reference client failed");
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.SetItemsProcessed(state.iterations() * kMessages);
}

void BM_ReceiveReferenceNodeWs(benchmark::State& state) { referenceClient(state, kNodeClient); }

void BM_ReceiveReferencePythonWebsockets(benchmark::State& state) { referenceClient(state, kPythonClient); }

// CPU seconds (user and system) of this process, or of its reaped children.
double cpuSeconds(int who) {
  rusage usage{};
  ::getrusage(who, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Each iteration is one turn: our client and Node's, who goes first alternating. The iteration
// time is ours; the counters hold both medians ("ours_ms", "node_ms") and the CPU time each client
// spent per message (ours: this process; Node's: the reaped client process).
void BM_ReceiveInTurnsWithNodeWs(benchmark::State& state) {
  const std::string url = server().url();
  auto queue = pf::DispatchQueue::makeSerial("com.tnq.bench.delegate");
  fxbench::Turns turns("ours", "node");
  std::vector<double> oursCpu;
  std::vector<double> nodeCpu;
  const auto runOurs = [&] {
    const double cpu = cpuSeconds(RUSAGE_SELF);
    const double seconds = receiveWithTnqWebSocket(url, queue);
    oursCpu.push_back(cpuSeconds(RUSAGE_SELF) - cpu);
    return seconds;
  };
  const auto runNode = [&] {
    const double cpu = cpuSeconds(RUSAGE_CHILDREN);
    const double seconds = receiveWithReferenceClient(kNodeClient);
    nodeCpu.push_back(cpuSeconds(RUSAGE_CHILDREN) - cpu);
    return seconds;
  };
  if (!turns.run(state, runOurs, runNode, "a client ended early")) return;
  state.counters["ours_cpu_us"] = fxbench::median(oursCpu) / kMessages * 1e6;
  state.counters["node_cpu_us"] = fxbench::median(nodeCpu) / kMessages * 1e6;
  state.SetItemsProcessed(state.iterations() * kMessages);
}

// ---- UTF-8

std::vector<std::uint8_t> quoteText() {
  // JSON quotes with Chinese names: mostly ASCII with runs of three-byte characters.
  const std::string quote =
      "{\"symbol\":\"EURUSD\",\"bid\":1.08423,\"ask\":1.08431,\"name\":\"\xe6\xac\xa7\xe5\x85\x83\xe7\xbe\x8e"
      "\xe5\x85\x83\",\"time\":\"2026-12-07T08:00:00Z\",\"change\":-0.00012},";
  std::vector<std::uint8_t> text;
  while (text.size() < (1u << 20)) text.insert(text.end(), quote.begin(), quote.end());
  return text;
}

void BM_Utf8ScanOurs(benchmark::State& state) {
  const auto text = quoteText();
  for (auto _ : state) benchmark::DoNotOptimize(appnet::ws::scanUtf8(text, 0));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void BM_Utf8IcuBareLoop(benchmark::State& state) {
  const auto text = quoteText();
  for (auto _ : state) {
    const std::uint8_t* s = text.data();
    const std::int32_t length = static_cast<std::int32_t>(text.size());
    std::int32_t i = 0;
    UChar32 c = 0;
    bool ok = true;
    while (i < length) {
      U8_NEXT(s, i, length, c);
      if (c < 0) {
        ok = false;
        break;
      }
    }
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// ---- memory under a flood

constexpr int kFloodMessages = 3000000;
constexpr int kFloodSize = 125;
constexpr int kAckWindow = 4000;

// The push connection's delegate in the child: counts the messages before the text "end",
// taking `cost` for each, and, when asked, sends the count back every `ackEvery` messages.
struct PushCounter : appnet::WebSocketIODelegate {
  int ackEvery = 0;
  std::chrono::nanoseconds cost{0};
  long messages = 0;
  bool ended = false;
  bool failed = false;
  void webSocketDidReceiveMessage(appnet::TnqWebSocketIO& io, const appnet::TnqWebSocketMessage& m) override {
    const auto* text = std::get_if<std::string>(&m);
    if (text && *text == "end") {
      ended = true;
      return;
    }
    ++messages;
    // A listener that works on each message: spins, since a sleep this short lasts far longer.
    for (const auto until = std::chrono::steady_clock::now() + cost; std::chrono::steady_clock::now() < until;) {
    }
    if (ackEvery > 0 && messages % ackEvery == 0) io.sendMessage(std::to_string(messages));
  }
  void webSocketDidFailWithError(appnet::TnqWebSocketIO&, const pf::Error&) override { failed = true; }
  void webSocketDidCloseWithCode(appnet::TnqWebSocketIO&, int, const std::string&, bool) override { failed = true; }
};

// How the child's main thread takes the messages: at once, after working 10 s without running its
// loop, or 10 us a message.
enum class Listener { Free, Busy, Slow };

// Receives through a push connection from `url` until "end" (or 300 s). Answers the messages, -1
// on failure, and sets `bound` to what its socket holds at most for the delegate.
long receivePush(const std::string& url, Listener listener, int ackEvery, std::uint64_t* bound = nullptr) {
  auto io = appnet::TnqWebSocketIO::initWithUrl(url);
  auto counter = std::make_shared<PushCounter>();
  counter->ackEvery = ackEvery;
  if (listener == Listener::Slow) counter->cost = std::chrono::microseconds(10);
  io->setDelegate(counter);
  io->connect();
  if (bound) *bound = io->webSocket()->heldBound();
  auto& loop = *pf::RunLoop::main();
  const auto done = [&] { return counter->ended || counter->failed; };
  if (listener == Listener::Busy) std::this_thread::sleep_for(std::chrono::seconds(10));
  loop.spinUntil(done, 300);
  io->disconnect();
  loop.spinUntil([] { return false; }, 0.1);  // the close goes out
  return counter->ended ? counter->messages : -1;
}

double peakResidentMB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Child: warms the road up with a small flood, then receives from `url`; prints
// "<peak resident set, MiB> <how far the receiving raised it> <the socket's bound, MiB> <messages>".
int pushPeakChild(const std::string& base, const std::string& path, Listener listener, int ackEvery) {
  receivePush(base + "/case/flood?n=1000&size=" + std::to_string(kFloodSize), Listener::Free, 0);
  const double before = peakResidentMB();
  std::uint64_t bound = 0;
  const long messages = receivePush(base + path, listener, ackEvery, &bound);
  const double peak = peakResidentMB();
  std::printf("%.1f %.1f %.1f %ld\n", peak, peak - before, static_cast<double>(bound) / (1 << 20), messages);
  std::fflush(stdout);
  return 0;
}

const char* const kListenerNames[] = {"free", "busy", "slow"};

void BM_PushPeak(benchmark::State& state, const std::string& path, Listener listener, int ackEvery, long expected) {
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  double peak = 0, growth = 0, bound = 0;
  for (auto _ : state) {
    Child child({exe, "--push-peak-child", rawServer().base(), path, kListenerNames[static_cast<int>(listener)],
                 std::to_string(ackEvery)});
    const std::string line = child.line();
    long messages = -1;
    if (std::sscanf(line.c_str(), "%lf %lf %lf %ld", &peak, &growth, &bound, &messages) != 4 || messages != expected) {
      state.SkipWithError(("the child reported \"" + line + "\"").c_str());
      return;
    }
  }
  state.counters["peak_MB"] = peak;
  state.counters["growth_MB"] = growth;
  state.counters["bound_MB"] = bound;
}

const std::string kFloodCount = "?n=" + std::to_string(kFloodMessages) + "&size=" + std::to_string(kFloodSize);
constexpr int kSlowMessages = 1000000;
constexpr int kLargeMessages = 10;

}  // namespace

BENCHMARK_CAPTURE(BM_PushPeak, texts_busy, "/case/flood" + kFloodCount, Listener::Busy, 0, kFloodMessages)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PushPeak, pings_busy, "/case/pings" + kFloodCount, Listener::Busy, 0, 0L)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PushPeak, acked, "/case/flood" + kFloodCount + "&window=" + std::to_string(kAckWindow),
                  Listener::Free, kAckWindow / 4, kFloodMessages)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PushPeak, texts_slow,
                  "/case/flood?n=" + std::to_string(kSlowMessages) + "&size=" + std::to_string(kFloodSize),
                  Listener::Slow, 0, kSlowMessages)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PushPeak, fragmented_busy,
                  "/case/flood?n=" + std::to_string(kLargeMessages) + "&size=" + std::to_string(16 << 20) +
                      "&frag=" + std::to_string(1 << 20),
                  Listener::Busy, 0, kLargeMessages)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveTnqWebSocket)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ReceiveReferenceNodeWs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ReceiveReferencePythonWebsockets)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
// Five turns a repetition (three with ours first).
BENCHMARK(BM_ReceiveInTurnsWithNodeWs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Utf8ScanOurs);
BENCHMARK(BM_Utf8IcuBareLoop);

FX_BENCH_RATIO("WebSocket: receiving, ours / Node's ws (in turns)",
               fxbench::counterRate("BM_ReceiveInTurnsWithNodeWs", "ours_ms"),
               fxbench::counterRate("BM_ReceiveInTurnsWithNodeWs", "node_ms"), fxbench::atLeast(1));
FX_BENCH_RATIO("WebSocket: receiving, ours / Python's websockets", fxbench::rate("BM_ReceiveTnqWebSocket"),
               fxbench::rate("BM_ReceiveReferencePythonWebsockets"), fxbench::atLeast(1));
FX_BENCH_RATIO("WebSocket: UTF-8 check / ICU's bare U8_NEXT loop", fxbench::rate("BM_Utf8ScanOurs"),
               fxbench::rate("BM_Utf8IcuBareLoop"));

FX_BENCH_RATIO("WebSocket: peak memory, push flood of 3,000,000 texts on a busy main thread / well-behaved server",
               fxbench::counter("BM_PushPeak/texts_busy", "peak_MB"), fxbench::counter("BM_PushPeak/acked", "peak_MB"));
FX_BENCH_RATIO("WebSocket: peak memory, push flood of 3,000,000 pings on a busy main thread / well-behaved server",
               fxbench::counter("BM_PushPeak/pings_busy", "peak_MB"), fxbench::counter("BM_PushPeak/acked", "peak_MB"));
// What the flood of texts raised the peak by, against what the socket lets wait for its delegate
// (the allocator keeps a share beside what the socket counts, more when the work queue's blocks
// ran on several threads and so allocated in several arenas).
FX_BENCH_RATIO("WebSocket: memory, push flood's growth of the peak / the socket's bound on what waits",
               fxbench::counter("BM_PushPeak/texts_busy", "growth_MB"), fxbench::counter("BM_PushPeak/texts_busy", "bound_MB"),
               fxbench::atMost(2));
FX_BENCH_RATIO("WebSocket: memory, growth of the peak / the socket's bound, 1,000,000 texts to a listener taking 10 us each",
               fxbench::counter("BM_PushPeak/texts_slow", "growth_MB"), fxbench::counter("BM_PushPeak/texts_slow", "bound_MB"),
               fxbench::atMost(2));
FX_BENCH_RATIO("WebSocket: memory, growth of the peak / the socket's bound, ten texts of 16 MiB in 1 MiB fragments, busy main thread",
               fxbench::counter("BM_PushPeak/fragmented_busy", "growth_MB"),
               fxbench::counter("BM_PushPeak/fragmented_busy", "bound_MB"), fxbench::atMost(2));

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--push-peak-child") == 0) {
    Listener listener = Listener::Free;
    for (int i = 0; i < 3; ++i)
      if (std::strcmp(argv[4], kListenerNames[i]) == 0) listener = static_cast<Listener>(i);
    return pushPeakChild(argv[2], argv[3], listener, std::atoi(argv[5]));
  }
  return fxbench::runBenchmarks(argc, argv);
}
