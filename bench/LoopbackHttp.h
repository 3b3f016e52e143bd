#pragma once
// The loopback side of the HTTP benchmarks: a small keep-alive server in this process (one thread
// per connection, every answer the same body: "hello" unless another is given), the bare libcurl
// multi baselines against it (throughput and round-trip latency), and the figures of a road (rate,
// context switches, memory, round trips). The ratios between roads are declared in each program
// (Ratios.h).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Ratios.h"

namespace bench {

// The Content-Length a request's head (without its blank line) announces; 0 without one.
inline std::size_t requestContentLength(std::string_view head) {
  for (std::size_t at = head.find("\r\n"); at != std::string_view::npos; at = head.find("\r\n", at + 2)) {
    std::string_view line = head.substr(at + 2, head.find("\r\n", at + 2) - (at + 2));
    if (line.size() > 15 && strncasecmp(line.data(), "content-length:", 15) == 0)
      return std::strtoul(std::string(line.substr(15)).c_str(), nullptr, 10);
  }
  return 0;
}

// A minimal HTTP/1.1 keep-alive server answering every request with the same body (and the
// header lines `extraHeaders`, each ending in CRLF).
class LoopbackServer {
 public:
  explicit LoopbackServer(const std::string& body = "hello", const std::string& contentType = "text/plain",
                          const std::string& extraHeaders = "")
      : answer_("HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_, 64);
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
    acceptor_.detach();
  }
  std::string url() const { return base() + "/hello"; }
  // "http://127.0.0.1:<port>", no trailing "/".
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  void acceptLoop() {
    for (;;) {
      int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      std::thread([fd, answer = answer_] { serve(fd, answer); }).detach();
    }
  }
  static void serve(int fd, const std::string& answer) {
    std::string buffer;
    char chunk[4096];
    for (;;) {
      ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      buffer.append(chunk, static_cast<std::size_t>(n));
      std::size_t end;
      // A request is its header block and the body its Content-Length announces.
      while ((end = buffer.find("\r\n\r\n")) != std::string::npos) {
        const std::size_t total = end + 4 + requestContentLength(std::string_view(buffer).substr(0, end));
        if (buffer.size() < total) break;
        buffer.erase(0, total);
        if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) break;
      }
    }
    ::close(fd);
  }

  const std::string answer_;
  int listen_ = -1;
  int port_ = 0;
  std::thread acceptor_;
};

// Never torn down: the shared loader keeps its connections open until the process ends.
inline LoopbackServer& server() {
  static auto* s = new LoopbackServer();
  return *s;
}

// The same kind of server answering the REST layer's success body {"success":1}.
inline LoopbackServer& jsonServer() {
  static auto* s = new LoopbackServer(R"({"success":1})", "application/json");
  return *s;
}

inline constexpr int kRequests = 10000;

// Peak resident memory of the process so far, in MB.
inline double peakResidentMB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Reports the process's peak resident memory after a run ("peak_MB") and how much the run raised
// it per 10,000 requests ("growth_MB_per_10k"): flat when nothing a request made outlives it.
class MemoryLine {
 public:
  MemoryLine() : before_(peakResidentMB()) {}
  void report(benchmark::State& state, std::int64_t requests) const {
    const double peak = peakResidentMB();
    state.counters["peak_MB"] = peak;
    state.counters["growth_MB_per_10k"] = requests > 0 ? (peak - before_) * 10000.0 / static_cast<double>(requests) : 0;
  }

 private:
  double before_;
};

// Round trips timed one at a time, for the latency figures.
inline constexpr int kLatencySamples = 5000;
inline constexpr int kLatencyWarmUp = 200;

// Voluntary context switches of the whole process (the server's threads included) since it was
// made: a thread that goes to sleep and is woken again counts one.
class ContextSwitches {
 public:
  ContextSwitches() : before_(count()) {}
  double perRequest(std::int64_t requests) const {
    return requests > 0 ? static_cast<double>(count() - before_) / static_cast<double>(requests) : 0;
  }

 private:
  static long count() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
  }
  long before_;
};

// Requests per second of the run ("rate") and the voluntary context switches per request
// ("switches").
inline void reportRate(benchmark::State& state, std::int64_t requests, double seconds,
                       const ContextSwitches& switches) {
  state.counters["rate"] = seconds > 0 ? static_cast<double>(requests) / seconds : 0;
  state.counters["switches"] = switches.perRequest(requests);
}

// Round-trip times of one request at a time, in microseconds.
class LatencySamples {
 public:
  using Clock = std::chrono::steady_clock;
  LatencySamples() { samples_.reserve(kLatencySamples); }
  // Times one round trip; warm-up trips are not kept.
  void add(Clock::time_point start, Clock::time_point end) {
    if (++seen_ <= kLatencyWarmUp) return;
    samples_.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  static int trips() { return kLatencyWarmUp + kLatencySamples; }
  double percentile(double q) {
    if (samples_.empty()) return 0;
    std::sort(samples_.begin(), samples_.end());
    return samples_[std::min(samples_.size() - 1, static_cast<std::size_t>(q * static_cast<double>(samples_.size())))];
  }

 private:
  std::vector<double> samples_;
  int seen_ = 0;
};

// One request at a time through bare libcurl: one easy handle, reused, driven by a multi handle
// on the calling thread.
class BareCurlTrip {
 public:
  BareCurlTrip() : url_(server().url()), multi_(curl_multi_init()), easy_(curl_easy_init()) {
    curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, +[](char*, std::size_t size, std::size_t count, void* user) {
      *static_cast<std::size_t*>(user) += size * count;
      return size * count;
    });
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &bytes);
  }
  ~BareCurlTrip() {
    curl_easy_cleanup(easy_);
    curl_multi_cleanup(multi_);
  }
  BareCurlTrip(const BareCurlTrip&) = delete;
  BareCurlTrip& operator=(const BareCurlTrip&) = delete;

  void run() {
    curl_multi_add_handle(multi_, easy_);
    for (bool done = false; !done;) {
      int running = 0;
      curl_multi_perform(multi_, &running);
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) done |= msg->msg == CURLMSG_DONE;
      if (!done) curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
    curl_multi_remove_handle(multi_, easy_);
  }
  std::size_t bytes = 0;

 private:
  std::string url_;
  CURLM* multi_;
  CURL* easy_;
};

// Round trips of one request at a time through a road and through bare libcurl, taken in turns
// (who goes first alternating) so that both meet the same load of the machine. Reports the road's p50 and p99 ("p50_us",
// "p99_us") and bare libcurl's ("bare_p50_us", "bare_p99_us"); latencyRatios() declares their
// ratios. `roadTrip` makes one round trip and answers false on a failure.
template <class Trip>
void runPairedLatency(benchmark::State& state, Trip&& roadTrip) {
  LatencySamples road, bare;
  BareCurlTrip bareTrip;
  const auto timeBare = [&] {
    const auto start = LatencySamples::Clock::now();
    bareTrip.run();
    bare.add(start, LatencySamples::Clock::now());
  };
  const auto timeRoad = [&] {
    const auto start = LatencySamples::Clock::now();
    if (!roadTrip()) return false;
    road.add(start, LatencySamples::Clock::now());
    return true;
  };
  for (auto _ : state) {
    // Who goes first alternates: the second of a pair finds the server and the loader just used.
    for (int i = 0; i < LatencySamples::trips(); ++i) {
      if (i % 2 == 0) timeBare();
      if (!timeRoad()) {
        state.SkipWithError("a request failed");
        return;
      }
      if (i % 2 == 1) timeBare();
    }
  }
  if (bareTrip.bytes != 5u * static_cast<std::size_t>(LatencySamples::trips() * state.iterations()))
    state.SkipWithError("short answers");
  const double p50 = road.percentile(0.50), p99 = road.percentile(0.99);
  const double bareP50 = bare.percentile(0.50), bareP99 = bare.percentile(0.99);
  state.counters["p50_us"] = p50;
  state.counters["p99_us"] = p99;
  state.counters["bare_p50_us"] = bareP50;
  state.counters["bare_p99_us"] = bareP99;
}

// The ratios of a road's one-at-a-time round trips (row `row`, run by runPairedLatency) to bare
// libcurl's: p50 and p99, road / bare (below 1 is faster).
inline bool latencyRatios(const std::string& road, const std::string& row) {
  fxbench::addRatio(road + ": round trip p50, time / bare libcurl's", fxbench::counter(row, "p50_us"),
                    fxbench::counter(row, "bare_p50_us"), fxbench::atMost(1.3));
  return fxbench::addRatio(road + ": round trip p99, time / bare libcurl's", fxbench::counter(row, "p99_us"),
                           fxbench::counter(row, "bare_p99_us"), fxbench::atMost(2));
}

// The ratios of a road's requests per second (rows `row`/1 and `row`/16) to bare libcurl's at the
// same number in flight.
inline bool rateRatios(const std::string& road, const std::string& row, double aim) {
  for (const char* inFlight : {"1", "16"})
    fxbench::addRatio(road + ": requests/s / bare libcurl's, " + inFlight + " in flight",
                      fxbench::rate(row + "/" + inFlight), fxbench::rate("BM_BareCurlMulti/" + std::string(inFlight)),
                      fxbench::atLeast(aim));
  return true;
}

// Baseline: `inFlight` easy handles, each reused, driven by one multi handle on this thread.
inline void runBareCurlMulti(benchmark::State& state) {
  const int inFlight = static_cast<int>(state.range(0));
  const MemoryLine memory;
  std::string url = server().url();
  std::size_t bytes = 0;
  auto write = +[](char*, std::size_t size, std::size_t count, void* user) {
    *static_cast<std::size_t*>(user) += size * count;
    return size * count;
  };
  const ContextSwitches switches;
  const auto began = LatencySamples::Clock::now();
  for (auto _ : state) {
    CURLM* multi = curl_multi_init();
    std::vector<CURL*> handles;
    int started = 0;
    int done = 0;
    auto launch = [&](CURL* easy) {
      curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
      curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, write);
      curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bytes);
      curl_multi_add_handle(multi, easy);
      ++started;
    };
    for (int i = 0; i < inFlight; ++i) {
      handles.push_back(curl_easy_init());
      launch(handles.back());
    }
    while (done < kRequests) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        CURL* easy = msg->easy_handle;
        curl_multi_remove_handle(multi, easy);
        ++done;
        if (started < kRequests) launch(easy);
      }
      if (done < kRequests) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    for (CURL* easy : handles) curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
  }
  const std::chrono::duration<double> took = LatencySamples::Clock::now() - began;
  state.SetItemsProcessed(state.iterations() * kRequests);
  reportRate(state, state.iterations() * kRequests, took.count(), switches);
  memory.report(state, state.iterations() * kRequests);
  if (bytes != 5u * kRequests * static_cast<std::size_t>(state.iterations())) state.SkipWithError("short answers");
}

}  // namespace bench
