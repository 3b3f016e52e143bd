// Peak memory of the HTTP roads against answers a server gone bad sends: a refused 1 GB answer
// (plain or gzip-compressed, no length announced) against an accepted 1 MB one, on the business
// road, the HTTP client's operation and session task, the chart engine, a connection whose delegate
// refuses what passes 16 MiB, and the synchronous send (whose limit is 256 MiB); a refused gzip
// bomb compressed twice over ("gzip, gzip", a few KB inflating to 1 GB, announced by its length) on
// the session task, the chart engine, the connection and the synchronous send, against the bomb
// compressed once on the same road; an accepted answer at the limit of the operation, the session
// task and the API proxy (16 MiB) against its size; and on the synchronous send an accepted 160 MiB
// answer announced by its length, an accepted 256 MiB one without, and a refused gzip bomb
// announced by its compressed length, each against its size or the limit.
//
// Each exchange runs in a child process of its own (this program started again): the child warms
// its road up with a 1 KiB answer, then reports how far the exchange raised its peak resident set
// (ru_maxrss), so nothing another row left behind is counted. The answers come from a generator in
// this process that makes them as it sends them (nothing of 1 GB is ever held by the server).

#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "LoopbackHttp.h"
#include "Ratios.h"
#include "app/TnqApiProxy.h"
#include "app/TnqURLResponse.h"
#include "appnet/TnqHTTPRequestOperationManager.h"
#include "appnet/TnqURLSessionManager.h"
#include "container/LoggerUtil.h"
#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwFramework.h"
#include "container/MwServerConfiguration.h"
#include "container/MwSessionManager.h"
#include "kline/KLineHttpEngine.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/SocketTestSupport.h"
#include "platform/net/UrlConnection.h"
#include "support/TestSupport.h"

namespace {

constexpr long long kMB = 1 << 20;
// A refused answer costs about its road's limit (16 MiB kept, up to as much again on its way in), a
// dozen accepted 1 MB answers at most; not the gigabyte.
const fxbench::Aim kRefusedAim = fxbench::atMost(12);
// An accepted answer is held once on its way to the caller, besides the pieces still on their way
// to the road's thread (up to 4 MiB); the synchronous send holds at most its limit, whatever comes.
const fxbench::Aim kHeldOnceAim = fxbench::atMost(1.4);
const fxbench::Aim kWithinLimitAim = fxbench::atMost(1.1);
// The API road's answer record shares the operation's bytes and keeps the body's text: two forms
// of the body, besides the pieces still on their way.
const fxbench::Aim kApiRecordAim = fxbench::atMost(2.6);
// A bomb compressed twice over costs what it costs compressed once, give or take the noise of a
// peak of some 20-40 MB.
const fxbench::Aim kTwiceAim = fxbench::atMost(1.25);

// ---------------------------------------------------------------- the generator (parent)

// GET or POST /<kind>?bytes=N&framing=length|chunked&gzip=0|1|2, one request a connection:
// "raw" is N bytes of 'x'; "packet" is a plain business packet whose payload holds N bytes of 'x'.
// A gzip answer framed by its length is compressed whole first (once per size), so that its
// Content-Length is the compressed one; gzip=2 compresses that again ("gzip, gzip", length only).
// The listener keeps the connections (it lives as long as the program): a served one is only shut down.
class Generator {
 public:
  Generator() {
    std::thread([this] {
      for (;;) {
        const int fd = listener_.accept(-1);
        if (fd < 0) return;
        std::thread([fd] { serve(fd); }).detach();
      }
    }).detach();
  }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(listener_.port()); }

 private:
  struct Sender {
    int fd;
    bool chunked;
    bool gzip;
    z_stream z{};
    bool ok = true;

    Sender(int f, bool c, bool g) : fd(f), chunked(c), gzip(g) {
      if (gzip) deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    }
    ~Sender() {
      if (gzip) deflateEnd(&z);
    }
    void wire(const char* data, std::size_t n) {
      if (!ok || n == 0) return;
      if (chunked) {
        char head[24];
        const int h = std::snprintf(head, sizeof head, "%zx\r\n", n);
        ok = ::send(fd, head, static_cast<std::size_t>(h), MSG_NOSIGNAL) == h;
      }
      while (ok && n > 0) {
        const ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL);
        if (sent <= 0) {
          ok = false;
          break;
        }
        data += sent;
        n -= static_cast<std::size_t>(sent);
      }
      if (ok && chunked) ok = ::send(fd, "\r\n", 2, MSG_NOSIGNAL) == 2;
    }
    void body(const char* data, std::size_t n, bool finish = false) {
      if (!gzip) return wire(data, n);
      static thread_local char out[1 << 16];
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
      z.avail_in = static_cast<uInt>(n);
      do {
        z.next_out = reinterpret_cast<Bytef*>(out);
        z.avail_out = sizeof out;
        deflate(&z, finish ? Z_FINISH : Z_NO_FLUSH);
        wire(out, sizeof out - z.avail_out);
      } while (ok && (z.avail_in > 0 || z.avail_out == 0));
    }
    void end() {
      if (gzip) body(nullptr, 0, true);
      if (ok && chunked) ok = ::send(fd, "0\r\n\r\n", 5, MSG_NOSIGNAL) == 5;
    }
  };

  static std::map<std::string, std::string> query(const std::string& target) {
    std::map<std::string, std::string> values;
    const auto mark = target.find('?');
    std::string rest = mark == std::string::npos ? "" : target.substr(mark + 1);
    while (!rest.empty()) {
      const auto amp = rest.find('&');
      const std::string pair = rest.substr(0, amp);
      const auto eq = pair.find('=');
      if (eq != std::string::npos) values[pair.substr(0, eq)] = pair.substr(eq + 1);
      rest = amp == std::string::npos ? "" : rest.substr(amp + 1);
    }
    return values;
  }

  // The gzip form of prefix, N bytes of 'x' and suffix, compressed `times` over, made once per size.
  static const std::string& compressedWhole(const std::string& prefix, long long bytes, const std::string& suffix,
                                            int times = 1) {
    static std::mutex mutex;
    static std::map<std::string, std::string> made;
    const std::string key = prefix + std::to_string(bytes) + suffix + "/" + std::to_string(times);
    std::lock_guard lock(mutex);
    auto found = made.find(key);
    if (found != made.end()) return found->second;
    static const std::string piece(1 << 16, 'x');
    std::string out = gzipOf([&](const Feed& feed) {
      feed(prefix.data(), prefix.size());
      for (long long left = bytes; left > 0; left -= static_cast<long long>(piece.size())) {
        feed(piece.data(), static_cast<std::size_t>(std::min<long long>(left, piece.size())));
      }
      feed(suffix.data(), suffix.size());
    });
    for (int i = 1; i < times; ++i) out = gzipOf([&](const Feed& feed) { feed(out.data(), out.size()); });
    return made.emplace(key, std::move(out)).first->second;
  }
  using Feed = std::function<void(const char*, std::size_t)>;
  // The gzip stream of the bytes `write` feeds.
  static std::string gzipOf(const std::function<void(const Feed&)>& write) {
    std::string out;
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    char buffer[1 << 16];
    auto run = [&](const char* data, std::size_t n, int flush) {
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
      z.avail_in = static_cast<uInt>(n);
      do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        deflate(&z, flush);
        out.append(buffer, sizeof buffer - z.avail_out);
      } while (z.avail_in > 0 || z.avail_out == 0);
    };
    write([&](const char* data, std::size_t n) { run(data, n, Z_NO_FLUSH); });
    run(nullptr, 0, Z_FINISH);
    deflateEnd(&z);
    return out;
  }

  static void serve(int fd) {
    std::string head;
    char buffer[8192];
    std::size_t end;
    while ((end = head.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return (void)::shutdown(fd, SHUT_RDWR);
      head.append(buffer, static_cast<std::size_t>(n));
    }
    // The request body (a business packet) is read and dropped.
    long long left = static_cast<long long>(bench::requestContentLength(std::string_view(head).substr(0, end))) -
                     static_cast<long long>(head.size() - end - 4);
    while (left > 0) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      left -= n;
    }
    const std::string target = head.substr(head.find(' ') + 1, head.find(' ', head.find(' ') + 1) - head.find(' ') - 1);
    auto q = query(target);
    const long long bytes = std::atoll(q["bytes"].c_str());
    const bool packet = target.rfind("/packet", 0) == 0;
    const int gzipTimes = std::atoi(q["gzip"].c_str());
    const bool gzip = gzipTimes > 0;
    const bool chunked = q["framing"] != "length";
    const std::string prefix = packet ? R"({"flag":0,"errCode":0,"errMsg":"","data":{"cryptFlag":0,"hashFlag":0,)"
                                        R"("signFlag":0,"business":"{\"RETCODE\":\"AAAAAAA\",\"PAD\":\")"
                                      : "";
    const std::string suffix = packet ? R"(\"}"}})" : "";
    std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n";
    if (gzip) answer += gzipTimes > 1 ? "Content-Encoding: gzip, gzip\r\n" : "Content-Encoding: gzip\r\n";
    if (gzip && !chunked) {
      const std::string& whole = compressedWhole(prefix, bytes, suffix, gzipTimes);
      answer += "Content-Length: " + std::to_string(whole.size()) + "\r\n\r\n";
      Sender out(fd, false, false);
      out.wire(answer.data(), answer.size());
      out.wire(whole.data(), whole.size());
      ::shutdown(fd, SHUT_WR);
      while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
      }
      return;
    }
    answer += chunked ? "Transfer-Encoding: chunked\r\n\r\n"
                      : "Content-Length: " + std::to_string(prefix.size() + bytes + suffix.size()) + "\r\n\r\n";
    Sender out(fd, false, false);
    out.wire(answer.data(), answer.size());
    Sender sender(fd, chunked, gzip);
    sender.ok = out.ok;
    // Written in pieces of 65,540 bytes (chunks of that size when chunked), as a server writes what
    // it makes: a body's pieces need not come in powers of two.
    static const std::string piece(65540, 'x');
    sender.body(prefix.data(), prefix.size());
    for (long long sent = 0; sender.ok && sent < bytes; sent += static_cast<long long>(piece.size())) {
      sender.body(piece.data(), static_cast<std::size_t>(std::min<long long>(bytes - sent, piece.size())));
    }
    sender.body(suffix.data(), suffix.size());
    sender.end();
    ::shutdown(fd, SHUT_WR);
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
  }

  fxtest::LoopbackListener listener_;
};

Generator& generator() {
  static auto* g = new Generator();  // serves until the program ends
  return *g;
}

// ---------------------------------------------------------------- the roads (child)

bool spin(const std::function<bool()>& done) { return pf::RunLoop::main()->spinUntil(done, 300); }

// One exchange of the road for the answer path; "ok" or what failed.
std::string exchange(const std::string& road, const std::string& base, const std::string& path) {
  using namespace container;
  if (road == "business") {
    auto answer = MwCommunicationHelper::synchBusinessRequest(path.substr(1), nullptr, kCryptPlain, 120);
    if (!answer) return "no package";
    return answer->getErrCode() == 0 ? "ok" : "package " + std::to_string(answer->getErrCode());
  }
  const pf::UrlRequest request(pf::Url::parse(base + path));
  if (road == "operation") {
    auto manager = appnet::TnqHTTPRequestOperationManager::manager();
    manager->responseSerializer = appnet::TnqHTTPResponseSerializer::serializer();
    bool done = false;
    std::string outcome;
    auto op = manager->HTTPRequestOperationWithRequest(
        request, [&](const auto&, const auto&) { outcome = "ok", done = true; },
        [&](const auto&, const pf::Error& e) { outcome = "error " + std::to_string(e.code), done = true; });
    manager->operationQueue->addOperation(op);
    spin([&] { return done; });
    return outcome;
  }
  if (road == "session") {
    auto manager = appnet::TnqURLSessionManager::manager();
    manager->setResponseSerializer(appnet::TnqHTTPResponseSerializer::serializer());
    bool done = false;
    std::string outcome;
    manager->dataTaskWithRequest(request, [&](const auto&, const auto&, const std::optional<pf::Error>& e) {
      outcome = e ? "error " + std::to_string(e->code) : "ok", done = true;
    })->resume();
    spin([&] { return done; });
    return outcome;
  }
  if (road == "api") {
    bool done = false;
    std::string outcome;
    app::TnqApiProxy::sharedInstance()->callApiWithRequest(
        request, [&](const std::shared_ptr<app::TnqURLResponse>&) { outcome = "ok", done = true; },
        [&](const std::shared_ptr<app::TnqURLResponse>& r) {
          outcome = "error " + std::to_string(r && r->error ? r->error->code : 0), done = true;
        });
    spin([&] { return done; });
    return outcome;
  }
  if (road == "connection") {
    // A delegate that keeps nothing and refuses an answer past 16 MiB, as a client with a limit of
    // its own does: the connection itself has none.
    struct Refusing : pf::UrlConnectionDelegate {
      long long received = 0;
      std::string outcome;
      void didReceiveData(pf::UrlConnection& connection, const pf::Bytes& data) override {
        received += static_cast<long long>(data.size());
        if (received <= 16 * kMB) return;
        outcome = "refused";
        connection.cancel();
      }
      void didFinishLoading(pf::UrlConnection&) override { outcome = "ok"; }
      void didFailWithError(pf::UrlConnection&, const pf::Error& e) override {
        outcome = "error " + std::to_string(e.code);
      }
    };
    auto delegate = std::make_shared<Refusing>();
    auto connection = pf::UrlConnection::make(request, delegate);
    connection->scheduleInRunLoop(pf::RunLoop::main(), pf::kRunLoopCommonModes);
    connection->start();
    spin([&] { return !delegate->outcome.empty(); });
    return delegate->outcome;
  }
  if (road == "chart") {
    auto engine = kline::KLineHttpEngine::make();
    bool done = false;
    std::string outcome;
    engine->getUrl(
        base + path, [&](const pf::Bytes&) { outcome = "ok", done = true; },
        [&](const pf::Error& e) { outcome = "error " + std::to_string(e.code), done = true; });
    spin([&] { return done; });
    return outcome;
  }
  auto result = pf::UrlConnection::sendSynchronousRequest(request);
  return result.error ? "error " + std::to_string(result.error->code) : "ok";
}

// Child: the road warmed up, then the measured exchange; prints "<peak growth MB> <outcome>".
int childMain(const std::string& road, const std::string& base, const std::string& path) {
  container::LoggerUtil::setDebugEnabled(false);
  // The chart engine logs every answer's text: written, as ever, but to nowhere.
  if (road == "chart" && !std::freopen("/dev/null", "w", stderr)) return 1;
  container::MwServerConfiguration::getInstance().setServerBaseUrl(base);
  container::MwFramework::getInstance().setCurrentNetworkState(1);
  container::MwSessionManager::getInstance().setSessionState(4);
  const std::string kind = path.substr(0, path.find('?'));
  exchange(road, base, kind + "?bytes=1024&framing=length");
  const double before = bench::peakResidentMB();
  const std::string outcome = exchange(road, base, path);
  std::printf("%.1f %s\n", bench::peakResidentMB() - before, outcome.c_str());
  std::fflush(stdout);
  return 0;
}

// ---------------------------------------------------------------- the rows (parent)

std::string self() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

void peakRow(benchmark::State& state, const std::string& road, const std::string& path, double bodyMB,
             const std::string& expected) {
  const std::string base = generator().base();
  double growth = 0;
  for (auto _ : state) {
    fxtest::ChildProcess child({self(), "--peak-child", road, base, path});
    auto line = child.readLine(600000);
    child.wait();
    if (!line) {
      state.SkipWithError("the child reported nothing");
      return;
    }
    growth = std::atof(line->c_str());
    const std::string outcome = line->substr(line->find(' ') + 1);
    if (outcome != expected) {
      state.SkipWithError(("the exchange ended " + outcome + ", not " + expected).c_str());
      return;
    }
  }
  state.counters["peak_MB"] = growth;
  state.counters["body_MB"] = bodyMB;
}

// gzip: how many times the answer is gzip-compressed.
std::string answerPath(const char* kind, long long bytes, const char* framing, int gzip = 0) {
  return std::string("/") + kind + "?bytes=" + std::to_string(bytes) + "&framing=" + framing +
         (gzip > 0 ? "&gzip=" + std::to_string(gzip) : "");
}

void registerRow(const std::string& row, const std::string& road, std::string path, double bodyMB, const char* outcome) {
  benchmark::RegisterBenchmark(row.c_str(), peakRow, road, std::move(path), bodyMB, outcome)
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
}

void registerRows() {
  struct Road {
    const char* row;
    const char* road;
    const char* kind;
    const char* refused;  // the outcome of the 1 GB answer
    fxbench::Aim aim;
  };
  const Road roads[] = {
      {"BM_BusinessPeak", "business", "packet", "package 4", kRefusedAim},
      {"BM_OperationPeak", "operation", "raw", "error -1103", kRefusedAim},
      {"BM_SessionPeak", "session", "raw", "error -1103", kRefusedAim},
      {"BM_ChartPeak", "chart", "raw", "error -1103", kRefusedAim},
      {"BM_ConnectionPeak", "connection", "raw", "refused", kRefusedAim},
      // Its limit is 256 MiB: a refused answer costs about that.
      {"BM_SyncSendPeak", "sync", "raw", "error -1103", fxbench::noAim()},
  };
  for (const Road& r : roads) {
    registerRow(std::string(r.row) + "/1", r.road, answerPath(r.kind, kMB, "chunked"), 1.0, "ok");
    registerRow(std::string(r.row) + "/1024", r.road, answerPath(r.kind, 1024 * kMB, "chunked"), 1024.0, r.refused);
    fxbench::addRatio(std::string(r.road) + ": peak of a refused 1 GB answer / of an accepted 1 MB one",
                      fxbench::counter(std::string(r.row) + "/1024", "peak_MB"),
                      fxbench::counter(std::string(r.row) + "/1", "peak_MB"), r.aim);
  }
  registerRow("BM_BusinessGzipPeak/1024", "business", answerPath("packet", 1024 * kMB, "chunked", 1), 1024.0, "package 4");
  fxbench::addRatio("business: peak of a refused gzip answer inflating to 1 GB / of an accepted 1 MB one",
                    fxbench::counter("BM_BusinessGzipPeak/1024", "peak_MB"), fxbench::counter("BM_BusinessPeak/1", "peak_MB"),
                    kRefusedAim);
  // A bomb compressed twice over is decoded one piece at a time, as the road reads on: it costs the
  // road what the bomb compressed once does, on the roads whose limit is their own (session task,
  // chart engine) as on the synchronous send, whose limit the load holds.
  struct Bombs {
    const char* road;
    const char* accepted;  // the row of its accepted 1 MB answer
    const char* once;
    const char* twice;
    const char* refused;  // the outcome of a bomb
  };
  for (const Bombs& b :
       {Bombs{"session", "BM_SessionPeak/1", "BM_SessionGzipPeak/1024", "BM_SessionGzipGzipPeak/1024", "error -1103"},
        Bombs{"chart", "BM_ChartPeak/1", "BM_ChartGzipPeak/1024", "BM_ChartGzipGzipPeak/1024", "error -1103"},
        Bombs{"connection", "BM_ConnectionPeak/1", "BM_ConnectionGzipPeak/1024", "BM_ConnectionGzipGzipPeak/1024",
              "refused"}}) {
    registerRow(b.once, b.road, answerPath("raw", 1024 * kMB, "chunked", 1), 1024.0, b.refused);
    registerRow(b.twice, b.road, answerPath("raw", 1024 * kMB, "length", 2), 1024.0, b.refused);
    fxbench::addRatio(std::string(b.road) + ": peak of a refused gzip answer inflating to 1 GB / of an accepted 1 MB one",
                      fxbench::counter(b.once, "peak_MB"), fxbench::counter(b.accepted, "peak_MB"), kRefusedAim);
    fxbench::addRatio(std::string(b.road) + ": peak of a refused \"gzip, gzip\" bomb inflating to 1 GB / of the gzip one",
                      fxbench::counter(b.twice, "peak_MB"), fxbench::counter(b.once, "peak_MB"), kTwiceAim);
  }
  // Accepted answers at the limit of the HTTP client's memory (16 MiB), no length announced: what
  // each road holds on the way to the caller, against the body.
  struct Accepted {
    const char* row;
    const char* road;
    fxbench::Aim aim;
  };
  for (const Accepted& a : {Accepted{"BM_OperationAcceptedPeak/16", "operation", kHeldOnceAim},
                            Accepted{"BM_SessionAcceptedPeak/16", "session", kHeldOnceAim},
                            Accepted{"BM_ApiAcceptedPeak/16", "api", kApiRecordAim}}) {
    registerRow(a.row, a.road, answerPath("raw", 16 * kMB, "chunked"), 16.0, "ok");
    fxbench::addRatio(std::string(a.road) + ": peak / body of an accepted 16 MiB answer",
                      fxbench::counter(a.row, "peak_MB"), fxbench::counter(a.row, "body_MB"), a.aim);
  }
  // The synchronous send's limit bounds what it holds: an accepted answer at the limit without a
  // length, and a gzip bomb announced by its 1 MB compressed length, refused when it passes the limit.
  const auto syncRow = [](const char* row, std::string path, double bodyMB, const char* outcome, std::string ratio,
                          fxbench::Aim aim) {
    registerRow(row, "sync", std::move(path), bodyMB, outcome);
    fxbench::addRatio(std::move(ratio), fxbench::counter(row, "peak_MB"), fxbench::counter(row, "body_MB"), aim);
  };
  syncRow("BM_SyncSendAcceptedPeak/256", answerPath("raw", 256 * kMB, "chunked"), 256.0, "ok",
          "sync send: peak / body of an accepted 256 MiB answer without a length", kWithinLimitAim);
  syncRow("BM_SyncSendGzipBombPeak/1024", answerPath("raw", 1024 * kMB, "length", 1), 256.0, "error -1103",
          "sync send: peak of a refused gzip bomb announced by its compressed length / the send's limit",
          kWithinLimitAim);
  syncRow("BM_SyncSendGzipGzipBombPeak/1024", answerPath("raw", 1024 * kMB, "length", 2), 256.0, "error -1103",
          "sync send: peak of a refused \"gzip, gzip\" bomb announced by its compressed length / the send's limit",
          kWithinLimitAim);
  syncRow("BM_SyncSendAnnouncedPeak/160", answerPath("raw", 160 * kMB, "length"), 160.0, "ok",
          "sync send: peak / body of an accepted 160 MiB answer announced by its length", fxbench::atMost(1.2));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--peak-child") == 0) return childMain(argv[2], argv[3], argv[4]);
  registerRows();
  return fxbench::runBenchmarks(argc, argv);
}
