// Loopback GETs through the HTTP client's operation manager (raw response serializer) against bare
// libcurl multi, in the same run and against the same small keep-alive server in this process.
//
// Reported per benchmark: requests per second ("items_per_second"). The figure to watch is the
// ratio manager / bare at the same number of requests in flight (aim: at least 0.7).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "appnet/TnqHTTPRequestOperationManager.h"
#include "platform/foundation/Dispatch.h"

namespace {

// A minimal HTTP/1.1 keep-alive server answering every request with "hello".
class LoopbackServer {
 public:
  LoopbackServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_, 128);
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~LoopbackServer() {
    stopping_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    ::close(listen_);
    acceptor_.join();
    for (auto& t : workers_) t.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hello"; }

 private:
  void acceptLoop() {
    while (!stopping_) {
      int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      workers_.emplace_back([fd] { serve(fd); });
    }
  }
  static void serve(int fd) {
    static const char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello";
    std::string buffer;
    char chunk[4096];
    for (;;) {
      ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      buffer.append(chunk, static_cast<std::size_t>(n));
      std::size_t end;
      while ((end = buffer.find("\r\n\r\n")) != std::string::npos) {
        buffer.erase(0, end + 4);
        if (::send(fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL) < 0) break;
      }
    }
    ::close(fd);
  }

  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

LoopbackServer& server() {
  static LoopbackServer s;
  return s;
}

constexpr int kRequests = 10000;

// Baseline: `inFlight` reused easy handles driven by one multi handle on this thread.
void BM_BareCurlMulti(benchmark::State& state) {
  const int inFlight = static_cast<int>(state.range(0));
  std::string url = server().url();
  std::size_t bytes = 0;
  auto write = +[](char*, std::size_t size, std::size_t count, void* user) {
    *static_cast<std::size_t*>(user) += size * count;
    return size * count;
  };
  for (auto _ : state) {
    CURLM* multi = curl_multi_init();
    std::vector<CURL*> handles;
    int started = 0, done = 0;
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
  state.SetItemsProcessed(state.iterations() * kRequests);
  if (bytes != 5u * kRequests * static_cast<std::size_t>(state.iterations())) state.SkipWithError("short answers");
}

// The road of the application's REST calls: a ready-made request handed to the manager, the
// operation added to its queue (at most `inFlight` at a time), the raw bytes delivered to the
// success block (on a serial completion queue, as the main queue needs a running main loop).
void BM_OperationManager(benchmark::State& state) {
  const int inFlight = static_cast<int>(state.range(0));
  auto manager = appnet::TnqHTTPRequestOperationManager::manager();
  manager->responseSerializer = appnet::TnqHTTPResponseSerializer::serializer();
  manager->securityPolicy->allowInvalidCertificates = true;
  manager->operationQueue->setMaxConcurrentOperationCount(inFlight);
  manager->completionQueue = pf::DispatchQueue::makeSerial("bench.completion");
  const pf::UrlRequest request(pf::Url::parse(server().url()));
  std::atomic<std::size_t> bytes{0};
  for (auto _ : state) {
    std::atomic<int> done{0};
    auto finished = pf::DispatchSemaphore::make(0);
    auto window = pf::DispatchSemaphore::make(inFlight * 2);  // bounds the queue's backlog
    for (int i = 0; i < kRequests; ++i) {
      window->wait();
      auto operation = manager->HTTPRequestOperationWithRequest(
          request,
          [&](const std::shared_ptr<appnet::TnqHTTPRequestOperation>&, const appnet::TnqResponseObject& object) {
            if (auto data = appnet::TnqResponseBytes(object)) bytes += data->size();
            window->signal();
            if (++done == kRequests) finished->signal();
          },
          [&](const std::shared_ptr<appnet::TnqHTTPRequestOperation>&, const pf::Error&) {
            window->signal();
            if (++done == kRequests) finished->signal();
          });
      manager->operationQueue->addOperation(operation);
    }
    finished->wait();
  }
  state.SetItemsProcessed(state.iterations() * kRequests);
  if (bytes.load() != 5u * kRequests * static_cast<std::size_t>(state.iterations())) state.SkipWithError("short answers");
}

}  // namespace

BENCHMARK(BM_BareCurlMulti)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OperationManager)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
