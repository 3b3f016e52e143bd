// fxclient: launches the application headless, as its entry does, against the loopback demo bank
// (or --server), observes it and writes DIR/startup.log and PNGs of the window.
//
//   fxclient [--tour] [--server URL] [--front URL] [--keys DIR] [--page NAME] [--time virtual|real]
//            [--out DIR] [--home DIR] [--scenario NAME] [--timeout S]
//
// With --tour it goes on through the bank's pages and every plug-in they call (FxTour.cc). The
// terminal gets the run's milestones and the tour's steps with their verdicts; startup.log gets
// everything. The demo bank is the runner's child and ends with it, however the runner ends.
// Exit codes: see kUsage.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "DemoBankControl.h"
#include "FxOutFolder.h"
#include "FxTour.h"
#include "app/AppDelegate.h"
#include "app/MwFrameWorkListener.h"
#include "container/MwFramework.h"
#include "container/MwJSWebview.h"
#include "kline/TnqKLineView.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/UrlConnection.h"
#include "platform/ui/Application.h"
#include "platform/ui/Color.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"
#include "share/QxApi.h"
#include "widgets/PylProgressHUD.h"

namespace fs = std::filesystem;

namespace {

struct Options {
  std::string server, front, keys, page, time = "virtual", out = "out", home, scenario = "update";
  double timeout = 60;
  bool help = false;
  bool tour = false;
  bool outGiven = false;
};

// What the exit code says.
enum Exit : int {
  kExitOk = 0,
  kExitHandshakeFailed = 1,
  kExitDeadline = fxrun::kDeadlinePassed,
  kExitTourFailed = fxtour::kTourFailed,
  kExitPageFailed = 4,
  kExitBankFailed = 5,
  kExitBadOptions = 64,
  kExitInternal = 70,
  kExitCannotWrite = fxrun::kCannotWrite,
  kExitInUse = fxrun::kInUse,
};
static_assert(fxrun::kBadFolderOption == kExitBadOptions);

const char* const kScenarios[] = {"update", "current", "broken-package", "menu-check-fail", "handshake-fail"};

constexpr const char* kUsage =
    "usage: fxclient [--tour] [--server URL] [--front URL] [--keys DIR] [--page NAME] [--time virtual|real]\n"
    "                [--out DIR] [--home DIR] [--scenario NAME] [--timeout S]\n"
    "  --tour      after the start-up, tours the bank's pages and every plug-in (tour-NN-*.png)\n"
    "  --scenario  update (default), current, broken-package, menu-check-fail, handshake-fail\n"
    "  --timeout   the real-time deadline of the whole run in seconds (default 60)\n"
    "  --out       where startup.log and the PNGs go (default out); only what an earlier run listed\n"
    "              in its mark (.fxclient-made) is deleted there\n"
    "  --page      a page of the installed page tree (HOME/Documents/release/), opened over the first\n"
    "              page; HOME is OUT/home unless --home names one\n"
    "exit 0: the first page is open (and every tour step saw what it expects); 1: the key\n"
    "     negotiation failed; 2: the deadline passed; 3: a tour step failed; 4: the --page did not\n"
    "     open; 5: the demo bank could not be started or set up; 64: bad options (also a file given\n"
    "     as a folder, or an out folder this runner did not make); 70: an internal error; 73: a\n"
    "     folder, the log or a picture could not be made or written; 75: the out folder or the home\n"
    "     is in use by another run of yours on this /tmp, or lies in or holds a folder such a run\n"
    "     uses (nothing is touched); killed by a signal: the demo bank ends too\n";

// A whole decimal number of seconds above 0 and at most a day; anything else is refused.
std::optional<double> parseSeconds(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value) || value <= 0 || value > 86400) return std::nullopt;
  return value;
}

// The options, or nullopt with `why` naming the option that is wrong.
std::optional<Options> parseOptions(int argc, char** argv, std::string& why) {
  Options o;
  std::map<std::string, std::string*> texts{{"--server", &o.server}, {"--front", &o.front}, {"--keys", &o.keys},
                                            {"--page", &o.page},     {"--time", &o.time},   {"--out", &o.out},
                                            {"--home", &o.home},     {"--scenario", &o.scenario}};
  const auto bad = [&](const std::string& name, const std::string& value) {
    why = "bad value for " + name + ": " + value;
    return std::nullopt;
  };
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      o.help = true;
      continue;
    }
    if (name == "--tour") {
      o.tour = true;
      continue;
    }
    if (name != "--timeout" && !texts.count(name)) {
      why = "unknown option " + name;
      return std::nullopt;
    }
    // (A value is never the next option: "--out --tour" lacks its folder.)
    if (i + 1 >= argc || std::string_view(argv[i + 1]).starts_with("--")) {
      why = name + " needs a value";
      return std::nullopt;
    }
    std::string value = argv[++i];
    if (name == "--timeout") {
      auto seconds = parseSeconds(value);
      if (!seconds) return bad(name, value);
      o.timeout = *seconds;
    } else {
      *texts.at(name) = value;
      if (name == "--out") o.outGiven = true;
    }
  }
  if (o.time != "virtual" && o.time != "real") return bad("--time", o.time);
  // A bank named on the command line is an http(s) URL with a host.
  for (const auto& [name, url] : {std::pair{"--server", &o.server}, {"--front", &o.front}}) {
    if (url->empty()) continue;
    auto parsed = pf::Url::parse(*url);
    if (!parsed || (parsed->scheme() != "http" && parsed->scheme() != "https") || parsed->host().empty())
      return bad(name, *url);
  }
  if (std::find(std::begin(kScenarios), std::end(kScenarios), o.scenario) == std::end(kScenarios))
    return bad("--scenario", o.scenario);
  if (o.out.empty()) return bad("--out", "(empty)");
  return o;
}

// The tour goes through the pages the update scenario installs, from the first page: another
// scenario, or another page opened first, would leave it nothing to tour.
std::optional<std::string> tourRefusal(const Options& o) {
  if (!o.tour) return std::nullopt;
  if (o.scenario != "update")
    return "--tour tours the pages the \"update\" scenario installs; it does not go with --scenario " + o.scenario;
  if (!o.page.empty()) return "--tour starts from the bank's home page; it does not go with --page";
  return std::nullopt;
}

// The demo bank's process, for the signal handler: it goes when the runner goes.
std::atomic<pid_t> gBankProcess{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

void endBank(pid_t pid) {
  kill(pid, SIGKILL);  // the demo bank keeps nothing worth a clean end
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// A signal that ends the runner ends its bank first, then the runner as the signal would.
extern "C" void endWithSignal(int signal) {
  if (pid_t bank = gBankProcess.exchange(0); bank > 0) endBank(bank);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void endBankOnSignals() {
  struct sigaction action {};
  action.sa_handler = endWithSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// The demo bank: tools/bank_server.py on a free loopback port, a child that dies with the runner
// (when the runner is killed too: the kernel ends it).
class DemoBank {
 public:
  DemoBank(const std::string& keys, double seconds) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const std::string script = std::string(FX_TOOLS_DIR) + "/bank_server.py";
    const pid_t runner = getpid();
    pid_ = fork();
    if (pid_ == 0) {  // only async-signal-safe calls until exec
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != runner) _exit(1);  // the runner went before the request took hold
      dup2(fds[1], 1);
      execl("/usr/bin/python3", "python3", script.c_str(), "--keys", keys.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      return;
    }
    gBankProcess = pid_;
    std::string line;
    char c;
    pollfd p{fds[0], POLLIN, 0};
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      line += c;
    }
    close(fds[0]);
    if (!line.empty() && line.size() < 6 && std::all_of(line.begin(), line.end(), ::isdigit)) port_ = std::stoi(line);
  }
  ~DemoBank() {
    if (pid_ > 0 && gBankProcess.exchange(0) == pid_) endBank(pid_);
  }
  DemoBank(const DemoBank&) = delete;
  DemoBank& operator=(const DemoBank&) = delete;
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// The progress overlay's fade-in on the launch image.
constexpr double kOverlayFadeIn = 0.3;
// Virtual time moves by steps this long when the tour lets it pass.
constexpr double kTimeStep = 0.1;
// The demo device's time zone.
constexpr const char* kDeviceTimeZone = "Asia/Shanghai";

// Every file below a folder as {relative path: text}.
pf::Value filesOf(const fs::path& root) {
  pf::Value files = pf::Value::object();
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    auto bytes = pf::FileManager::readFile(entry.path());
    if (!bytes) throw std::runtime_error("the demo file " + entry.path().string() + " cannot be read");
    files[fs::relative(entry.path(), root).string()] = std::string(bytes->begin(), bytes->end());
  }
  return files;
}

pf::Value entry(const std::string& id, const std::string& url, const std::string& version) {
  return {{"id", id}, {"url", url}, {"version", version}};
}

std::string menuText(const std::vector<pf::Value>& items) {
  std::string body;
  for (const auto& i : items)
    body += "<item id=\"" + i["id"].get<std::string>() + "\" url=\"" + i["url"].get<std::string>() + "\" version=\"" +
            i["version"].get<std::string>() + "\"/>";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<menus>" + body + "</menus>\n";
}

// Watches one page's load for the runner and passes every call on to the page's own delegate.
class PageLoadWatch : public pf::WebViewDelegate {
 public:
  explicit PageLoadWatch(std::weak_ptr<pf::WebViewDelegate> next) : next_(std::move(next)) {}
  std::optional<pf::Error> failure;
  bool finished = false;

  bool webViewShouldStartLoad(pf::WebView& view, const std::string& url) override {
    auto next = next_.lock();
    return !next || next->webViewShouldStartLoad(view, url);
  }
  void webViewDidFinishLoad(pf::WebView& view) override {
    finished = true;
    if (auto next = next_.lock()) next->webViewDidFinishLoad(view);
  }
  void webViewDidFailLoad(pf::WebView& view, const pf::Error& error) override {
    failure = error;
    if (auto next = next_.lock()) next->webViewDidFailLoad(view, error);
  }
  void webViewDidSetTitle(pf::WebView& view, const std::string& title) override {
    if (auto next = next_.lock()) next->webViewDidSetTitle(view, title);
  }
  void webViewDidRequestBack(pf::WebView& view) override {
    if (auto next = next_.lock()) next->webViewDidRequestBack(view);
  }

 private:
  std::weak_ptr<pf::WebViewDelegate> next_;
};

class Runner : public fxtour::Driver {
 public:
  explicit Runner(Options options) : o_(std::move(options)), realStart_(std::chrono::steady_clock::now()) {}

  int run();

  // ---- the tour's driver
  void log(const std::string& line) override {
    flushLog();
    say(line);
  }
  std::vector<std::string> logLines() override {
    flushLog();
    return capture_ ? capture_->lines() : std::vector<std::string>();
  }
  bool snapshot(const std::string& name) override {
    flushLog();
    auto path = fs::path(o_.out) / (name + ".png");
    auto image = pf::render::screen(1);
    if (!out_.note(path.filename().string()) || !image || !image->writePNG(path)) {
      say("the picture " + path.string() + " could not be written");
      return false;
    }
    step("snapshot " + path.string());
    return true;
  }
  bool waitFor(const std::function<bool()>& done, double realSeconds) override {
    const bool held = pf::RunLoop::main()->spinUntil(done, std::max(0.0, std::min(realSeconds, timeLeft())));
    flushLog();
    return held;
  }
  void advance(double seconds) override;
  bool expired() const override { return timeLeft() <= 0; }
  pf::Value bankGet(const std::string& path) override;
  pf::Value bankControl(const pf::Value& command) override {
    return postToDemoBank(base_ + "/control", command, requestLimit());
  }

 private:
  // A line of the log; said lines go to the terminal as well.
  void step(const std::string& text, bool said = false) {
    double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart_).count();
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "[v %8.3f | r %7.3f] ", pf::Clock::now() - virtualStart_, real);
    log_ << prefix << text << "\n";
    log_.flush();
    if (said) std::cout << prefix << text << std::endl;
  }
  void say(const std::string& text) { step(text, true); }
  // The application's log lines captured since the last call go into the log.
  void flushLog() {
    if (!capture_) return;
    auto lines = capture_->lines();
    for (; logged_ < lines.size(); ++logged_) step(lines[logged_]);
  }
  double realElapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart_).count();
  }
  // Real seconds left before the deadline of the whole run.
  double timeLeft() const { return o_.timeout - realElapsed(); }
  // How long one request to the demo bank may take: never past the deadline.
  double requestLimit() const { return std::clamp(timeLeft(), 0.05, 30.0); }
  // Checks the folder options and takes the out folder, before anything starts: 0 or an exit code
  // (the reason is on stderr).
  int prepareFolders();
  // A snapshot of the start-up; a picture that cannot be written makes the run's end 73.
  void startupShot(const std::string& name) {
    if (!snapshot(name)) pictureLost_ = true;
  }
  bool prepareBank(const std::string& base);
  // Opens --page on top of the first page: 0 once it has loaded (page.png), else 4 with the
  // page host's error in the log (or 2 at the deadline).
  int openPage(const std::shared_ptr<container::MwWebview>& webview);
  // Builds DIR/bundle: 0, or 5 when the bank does not sign or package it, 73 when it cannot be
  // written.
  int prepareBundle(const std::string& base, const std::string& front);
  // Runs the main loop until done() holds; virtual time moves only while nothing else happens.
  bool drive(const std::function<bool()>& done, double deadline);
  // Waits until the first page's start is over: its texts stop saying "waiting" once its bridge
  // calls have answered, a page that tells its readiness ("homeReady") is ready, and every chart
  // laid over it has its rows.
  bool firstPageSettled(container::MwJSWebview& page);
  int startAndTour();

  Options o_;
  std::chrono::steady_clock::time_point realStart_;
  double virtualStart_ = 0;
  std::ofstream log_;
  fxrun::RunHolds holds_;  // the out folder, the home and the folders around them
  fxrun::OutFolder out_;
  fs::path home_;
  bool pictureLost_ = false;
  std::unique_ptr<pf::VirtualTimeScope> time_;
  std::unique_ptr<pf::LogCapture> capture_;
  std::size_t logged_ = 0;
  std::string base_;
};

int Runner::prepareFolders() {
  std::string why;
  auto refuse = [&](int code) {  // leaving the folders as the run found them
    holds_.undo();
    std::cerr << "fxclient: " << why << "\n";
    return code;
  };
  // Every option is checked before anything in the out folder is read or changed: a file where a
  // folder is wanted, then the user's own folders, made when missing and tried by writing there,
  // before the out folder is made.
  for (const auto& [dir, option] : {std::pair{o_.out, "--out"}, {o_.keys, "--keys"}, {o_.home, "--home"}})
    if (!dir.empty())
      if (int code = fxrun::refuseNonFolder(dir, option, why)) return refuse(code);
  // The home and the out folder are this run's until it ends, and the folders around them are held
  // shared: a run refused for either makes nothing. The runner's own home lies in the out folder
  // and is held with it, also while the claim removes it and it is made afresh.
  home_ = o_.home.empty() ? fs::path(o_.out) / "home" : fs::path(o_.home);
  std::vector<fxrun::RunHolds::Folder> folders;
  if (!o_.keys.empty()) folders.push_back({o_.keys, "--keys", false, true});
  if (!o_.home.empty()) folders.push_back({o_.home, "--home", true, true});
  folders.push_back({o_.out, "--out", true, false});
  if (int code = holds_.take(folders, timeLeft(), why)) return refuse(code);
  std::vector<fs::path> keep;  // the user's folders stay whatever the last run listed
  for (const std::string* dir : {&o_.keys, &o_.home})
    if (!dir->empty()) keep.emplace_back(*dir);
  if (int code = out_.claim(o_.out, !o_.outGiven, keep, why)) return refuse(code);
  // For a test only: the run stops here, its earlier things gone and its home not yet made again,
  // until it is sent SIGCONT.
  if (std::getenv("FXCLIENT_TEST_STOP_AFTER_CLAIM")) raise(SIGSTOP);
  // The runner's own keys and home live in its out folder, listed before they are made.
  const auto note = [&](const char* name) {
    why = "--out " + o_.out + " cannot be written";
    return out_.note(name);
  };
  if (o_.keys.empty()) {
    o_.keys = (fs::path(o_.out) / "keys").string();
    if (!note("keys")) return refuse(fxrun::kCannotWrite);
    if (int code = fxrun::prepareFolder(o_.keys, "--keys", why)) return refuse(code);
  }
  if (o_.home.empty()) {
    if (!note("home")) return refuse(fxrun::kCannotWrite);
    if (int code = fxrun::prepareFolder(home_, "--home", why)) return refuse(code);
  }
  const fs::path log = fs::path(o_.out) / "startup.log";
  if (out_.note("startup.log")) log_.open(log, std::ios::trunc);
  if (!log_.is_open()) {
    why = "the log " + log.string() + " cannot be written";
    return refuse(fxrun::kCannotWrite);
  }
  return 0;
}

bool Runner::prepareBank(const std::string& base) {
  const fs::path demo = fs::path(FX_TOOLS_DIR) / "demo";
  pf::Value files = pf::Value::array();
  struct Page {
    const char* url;
    const char* version;
    const char* dir;
    fs::path source;
  };
  const bool broken = o_.scenario == "broken-package";
  std::vector<Page> pages{{"html|index.html", "2", "index", demo / "bank/index"},
                          {"html|news.html", "1", "news", demo / "bank/news"},
                          {"html|lock.html", "1", "lock", demo / "bank/lock"},
                          {"html|quote.html", "1", "quote", demo / "bundle/quote"}};
  const bool current = o_.scenario == "current";  // the bank has what the bundle has
  if (current)
    pages = {{"html|index.html", "1", "index", demo / "bundle/index"},
             {"html|quote.html", "1", "quote", demo / "bundle/quote"}};
  for (const auto& page : pages) {
    std::string name = std::string(page.dir) + ".zip";
    pf::Value wanted{{"name", name}, {"files", filesOf(page.source)}};
    if (broken && std::string(page.dir) == "index") wanted["kind"] = "traversal";
    auto answer = postToDemoBank(base + "/control", {{"package", wanted}}, requestLimit());
    if (!answer.contains("hash")) return false;
    // A broken package: the index unsafe inside, the news page under a hash it does not have.
    pf::Value hash = broken && std::string(page.dir) == "news" ? pf::Value(std::string(64, '0')) : answer["hash"];
    files.push_back({{"url", page.url}, {"version", page.version}, {"package", name}, {"hash", hash}, {"dir", page.dir}});
  }
  std::vector<pf::Value> items{entry("1", "html|index.html", "2"), entry("2", "html|news.html", "1"),
                               entry("3", "html|quote.html", "1"), entry("4", "no-bar.html", "1"),
                               entry("5", "image|logo.png", "1"),  entry("6", "html|lock.html", "1")};
  if (current) items = {entry("1", "html|index.html", "1"), entry("3", "html|quote.html", "1")};
  pf::Value list = pf::Value::array();
  for (auto& i : items) list.push_back(i);
  pf::Value control{{"files", files}, {"needUpdate", "auto"}, {"manifest", {{"version", "2"}}}};
  control["menu"] = pf::Value{{"items", list}};
  control["handshake"] = o_.scenario == "handshake-fail" ? "refuse" : "ok";
  if (o_.scenario == "menu-check-fail") {  // the menu check itself fails, and the menu file with it
    control["actStatus"] = pf::Value{{"updateMenu", 500}};
    control["status"] = pf::Value{{"menu.xml", 500}};
  }
  return postToDemoBank(base + "/control", control, requestLimit()).is_object();
}

int Runner::prepareBundle(const std::string& base, const std::string& front) {
  const fs::path bundle = fs::path(o_.out) / "bundle";
  // (An earlier run's bundle went with the folder's mark.)
  std::error_code ec;
  if (out_.note("bundle")) fs::create_directories(bundle, ec);
  if (ec || !fs::is_directory(bundle)) {
    say("the bundle " + bundle.string() + " cannot be made" + (ec ? ": " + ec.message() : ""));
    return kExitCannotWrite;
  }
  auto written = [&](const fs::path& file, bool ok) {
    if (!ok) say("the bundle's " + file.filename().string() + " cannot be written");
    return ok;
  };
  auto probe = pf::Url::parse(base);
  const pf::Value plist{{"list", {base}},
                        {"probe-hosts", {probe->host() + ":" + std::to_string(probe->port().value_or(80))}},
                        {"front-url", front},
                        {"parameters", {{"version", "1"}}}};
  if (!written(bundle / "System.plist",
               pf::FileManager::writeFile(bundle / "System.plist",
                                          *pf::writePropertyList(plist, pf::PropertyListFormat::Xml), true)))
    return kExitCannotWrite;
  for (const char* key : {"mwframework.der", "mwframework_sign.der", "mwframework_license"}) {
    fs::copy_file(fs::path(o_.keys) / key, bundle / key, fs::copy_options::overwrite_existing, ec);
    if (ec && fs::exists(fs::path(o_.keys) / key)) {
      say("the bundle's " + std::string(key) + " cannot be written: " + ec.message());
      return kExitCannotWrite;
    }
  }
  // The application's images (the native screens' icons), as its bundle carries them.
  for (const auto& image : fs::directory_iterator(FX_APP_IMAGES)) {
    if (image.path().extension() == ".png" &&
        !fs::copy_file(image.path(), bundle / image.path().filename(), fs::copy_options::overwrite_existing, ec) &&
        ec) {
      say("the bundle's " + image.path().filename().string() + " cannot be written: " + ec.message());
      return kExitCannotWrite;
    }
  }
  // The application's own Info.plist (its URL schemes), then resource package v1: the bundle's
  // pages, its menu and business file signed by the bank's key.
  const fs::path demo = fs::path(FX_TOOLS_DIR) / "demo";
  fs::copy_file(demo / "bundle/Info.plist", bundle / "Info.plist", fs::copy_options::overwrite_existing, ec);
  if (ec) {
    say("the bundle's Info.plist cannot be written: " + ec.message());
    return kExitCannotWrite;
  }
  pf::Value files = filesOf(demo / "bundle");
  files.erase("Info.plist");
  const auto signedText = [&](const char* name, const std::string& text) {
    pf::Value answer = postToDemoBank(base + "/control", {{"sign", {{"name", name}, {"text", text}}}}, requestLimit());
    return answer.contains("text") && answer["text"].is_string() ? answer["text"] : pf::Value();
  };
  files["menu.xml"] =
      signedText("menu.xml", menuText({entry("1", "html|index.html", "1"), entry("3", "html|quote.html", "1")}));
  files["business.xml"] = signedText("business.xml",
                                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<business>"
                                     "<item url=\"html|index.html\" version=\"1\"/>"
                                     "<item url=\"html|quote.html\" version=\"1\"/></business>\n");
  auto zip =
      postToDemoBank(base + "/control", {{"package", {{"name", "bundle-data.zip"}, {"files", files}}}}, requestLimit());
  auto bytes = zip.contains("zip") && zip["zip"].is_string() && files["menu.xml"].is_string() &&
                       files["business.xml"].is_string()
                   ? pf::base64DecodeStrict(zip["zip"].get<std::string>())
                   : std::nullopt;
  if (!bytes) {
    say("the bank did not sign and package the bundle's resources");
    return kExitBankFailed;
  }
  if (!written(bundle / "data.zip", pf::FileManager::writeFile(bundle / "data.zip", *bytes, true)))
    return kExitCannotWrite;
  // The launch image: a red field with the product's name above the middle, where the progress
  // overlay stands.
  auto screen = pf::Screen::main()->bounds();
  auto launch = pf::View::make(screen);
  launch->setBackgroundColor(pf::Color{0.86, 0.18, 0.18, 1});
  const double top = screen.size.height * 0.28;
  auto title = std::make_shared<pf::Label>(pf::Rect{0, top, screen.size.width, 40});
  title->setText("FX Client");
  title->setFont(pf::Font::boldSystemFont(30));
  auto subtitle = std::make_shared<pf::Label>(pf::Rect{0, top + 44, screen.size.width, 24});
  subtitle->setText("外汇交易");
  subtitle->setFont(pf::Font::systemFont(17));
  for (const auto& label : {title, subtitle}) {
    label->setTextAlignment(pf::TextAlignment::Center);
    label->setTextColor(pf::Color::whiteColor());
    launch->addSubview(label);
  }
  auto image = pf::render::view(*launch, 2);
  return written(bundle / "launchImage@2x.png", image && image->writePNG(bundle / "launchImage@2x.png"))
             ? 0
             : kExitCannotWrite;
}

int Runner::openPage(const std::shared_ptr<container::MwWebview>& webview) {
  webview->openUrl(o_.page);
  // The page host tells its delegate on a later pass: the watch is in place before it does.
  auto page = webview->currentPage();
  auto watch = std::make_shared<PageLoadWatch>(std::static_pointer_cast<pf::WebViewDelegate>(webview));
  page->setPageDelegate(watch);
  if (!drive([&] { return watch->finished || watch->failure.has_value(); }, o_.timeout)) {
    say("deadline passed");
    return kExitDeadline;
  }
  if (watch->failure) {
    // The page host's own reason, where it gives one, says more than the code's general text.
    const std::string reason = watch->failure->localizedFailureReason();
    say("page " + o_.page + " did not open: " + watch->failure->domain + " " + std::to_string(watch->failure->code) +
        " " + (reason.empty() ? watch->failure->localizedDescription() : reason));
    return kExitPageFailed;
  }
  say("page loaded " + page->webView()->currentPath());
  startupShot("page");
  return kExitOk;
}

bool Runner::drive(const std::function<bool()>& done, double deadline) {
  auto loop = pf::RunLoop::main();
  int idleSlices = 0;
  while (!done()) {
    double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart_).count();
    if (real > deadline) return false;
    // Loopback answers come in real time and never meet a moved clock: virtual time steps only
    // after a whole real second in which the main loop waited and nothing came.
    if (loop->spinUntil(done, 0.05)) return true;
    if (time_ && ++idleSlices >= 20) {
      idleSlices = 0;
      time_->advance(0.1);
    }
  }
  return true;
}

void Runner::advance(double seconds) {
  if (!time_) {  // real time: the clock moves by itself meanwhile, until the run's deadline at most
    const double until = pf::Clock::now() + seconds;
    drive([&] { return pf::Clock::now() >= until; }, std::min(o_.timeout, realElapsed() + seconds + 10));
    return;
  }
  // Short steps with the loopback peers' answers (a pong, a chart's rows) taken between them, so
  // no time-out of the client fires for an answer that is already on its way.
  for (double left = seconds; left > 1e-9 && !expired(); left -= kTimeStep) {
    time_->advance(std::min(kTimeStep, left));
    pf::RunLoop::main()->spinUntil([] { return false; }, 0.005);
  }
  flushLog();
}

pf::Value Runner::bankGet(const std::string& path) { return getFromDemoBank(base_ + path, requestLimit()); }

bool Runner::firstPageSettled(container::MwJSWebview& page) {
  auto text = [&](const char* id) {
    return page.stringByEvaluatingJavaScriptFromString(std::string("(function(){var e=document.getElementById('") + id +
                                                       "');return e?e.textContent:'';})()");
  };
  for (const char* id : {"quote", "store"})
    if (text(id).find("waiting") != std::string::npos || text(id).rfind("store set", 0) == 0) return false;
  if (page.stringByEvaluatingJavaScriptFromString("String(window.homeReady)") == "false") return false;
  for (const auto& view : page.scrollView()->subviews())
    if (auto chart = std::dynamic_pointer_cast<kline::TnqKLineView>(view); chart && chart->dataArray.empty()) return false;
  return true;
}

int Runner::run() {
  // The clock is chosen before the first line, so every line's virtual time counts from the start.
  if (o_.time == "virtual") time_ = std::make_unique<pf::VirtualTimeScope>();
  virtualStart_ = pf::Clock::now();
  // The demo device's time zone (the bank's series are dated in it), whatever the machine's.
  pf::setDefaultTimeZone(kDeviceTimeZone);
  if (int refused = prepareFolders()) return refused;
  int code = startAndTour();
  if (code == kExitOk && pictureLost_) code = kExitCannotWrite;
  flushLog();
  say("exit " + std::to_string(code) + "; the whole log is " + (fs::path(o_.out) / "startup.log").string());
  return code;
}

int Runner::startAndTour() {
  std::unique_ptr<DemoBank> bank;
  base_ = o_.server;
  if (base_.empty()) {
    bank = std::make_unique<DemoBank>(fs::absolute(o_.keys).string(), std::min(20.0, std::max(0.0, timeLeft())));
    if (!bank->port()) {
      say("the demo bank did not start");
      return kExitBankFailed;
    }
    base_ = "http://127.0.0.1:" + std::to_string(bank->port());
    if (!prepareBank(base_)) {
      say("the demo bank did not take its content");
      return kExitBankFailed;
    }
  }
  std::string front = o_.front.empty() ? base_ + "/front/" : o_.front;
  say("bank " + base_ + " front " + front + " scenario " + o_.scenario);
  if (int code = prepareBundle(base_, front)) return code;
  // The app reads its paths as texts, "a/link/../b" as "a/b": it is given them as the system
  // resolves them, where the run made its folders.
  pf::Sandbox::setHome(fxrun::resolved(home_));
  pf::Bundle::setMainPath(fxrun::resolved(fs::path(o_.out) / "bundle"));

  // Observation only: the log, the notifications and the window.
  capture_ = std::make_unique<pf::LogCapture>();
  int handshake = -1;
  auto& center = pf::NotificationCenter::defaultCenter();
  auto token = center.addObserver(app::kNotificationHandShakeResult, {}, [&](const pf::Notification& n) {
    auto v = n.object.value();
    if (v && v->is_object()) {
      handshake = static_cast<int>(pf::integerValue(v->value("result", pf::Value())));
      say("handshake " + std::to_string(handshake));
    } else if (v && v->is_number()) {  // the same name carries the container's menu check
      say("menu check " + pf::description(*v));
    }
  });
  auto manifestToken =
      center.addObserver(app::kDidCheckManifestWithResultNotification, {},
                         [&](const pf::Notification& n) { say("manifest check " + pf::description(n.object)); });

  auto delegate = std::make_shared<app::AppDelegate>();
  pf::Application::shared().launch(delegate);
  say("launched");
  // The state the tour depends on is set up before the first page reads it.
  if (o_.tour) fxtour::prepare(*this);
  // The messaging platform answers on the registration identifier's scheme: only a scheme the
  // bundle declares as ours ever comes back.
  const std::string answerScheme = share::QxApi::registeredAppId();
  step("share answer scheme " + answerScheme +
       (pf::Application::shared().isOwnURLScheme(answerScheme) ? ": one of ours" : ": not declared by the bundle"));
  // The overlay on the launch image fades in over 0.3 s: the launch screen is taken once it stands
  // (no exchange of the start-up times out that soon). In real time the loopback bank answers
  // sooner than that: the main loop waits meanwhile, so its answers are taken after the shot.
  if (time_)
    time_->advance(kOverlayFadeIn);
  else
    std::this_thread::sleep_for(std::chrono::duration<double>(std::clamp(timeLeft(), 0.0, kOverlayFadeIn)));
  startupShot("launch");
  auto webview = delegate->viewController()->webview();
  bool downloadsShot = false, completeSeen = false;
  auto pageOpen = [&] { return webview->currentPage() && webview->currentPage()->webView()->isLoaded(); };
  bool ok = drive(
      [&] {
        flushLog();
        if (!downloadsShot && logged_ > 0) {
          for (const auto& line : capture_->lines())
            if (line.rfind("update: page download ", 0) == 0) {
              downloadsShot = true;
              startupShot("downloading");
              break;
            }
        }
        if (!completeSeen && webview->pageCount() > 0) completeSeen = true;
        return handshake == 1 || completeSeen;
      },
      o_.timeout);
  int code = kExitOk;
  if (!ok) {
    say("deadline passed");
    startupShot("stopped");
    code = kExitDeadline;
  } else if (handshake == 1) {
    drive([&] { return false; }, std::min(o_.timeout, realElapsed() + 1.0));
    if (time_) time_->advance(0.5);  // the overlays' fades end before the screen is taken
    startupShot("stopped");
    code = kExitHandshakeFailed;
  } else {
    double start = pf::Clock::now();
    if (time_) {
      time_->advance(0.5);
      pf::RunLoop::main()->spinUntil([] { return false; }, 0.05);
      // The page behind the animation is taken once its start is over (the clock stands meanwhile).
      if (pageOpen()) waitFor([&] { return firstPageSettled(*webview->currentPage()); }, 10);
    } else {
      drive([&] { return pf::Clock::now() - start >= 0.5; }, o_.timeout);
    }
    startupShot("launch-animation");
    if (!drive(pageOpen, o_.timeout)) {
      say("deadline passed");
      code = kExitDeadline;
    } else {
      if (time_) {  // the rest of the launch animation
        time_->advance(0.5);
        pf::RunLoop::main()->spinUntil([&] { return !delegate->launchImageView()->superview(); },
                                       std::clamp(timeLeft(), 0.0, 2.0));
      } else {
        drive([&] { return !delegate->launchImageView()->superview(); }, o_.timeout);
      }
      auto page = webview->currentPage();
      say("page loaded " + page->webView()->currentPath());
      if (!waitFor([&] { return firstPageSettled(*page); }, 10)) say("the first page's start is not over");
      for (const char* id : {"version", "quote", "store"})
        say(std::string("page ") + id + ": " +
            page->stringByEvaluatingJavaScriptFromString(std::string("(function(){var e=document.getElementById('") +
                                                         id + "');return e?e.textContent:'';})()"));
      startupShot("first-page");
      if (!o_.page.empty()) code = openPage(webview);
      if (code == kExitOk && o_.tour) {
        code = fxtour::run(*this, delegate);
        if (code != kExitOk && expired()) {
          say("deadline passed during the tour");
          code = kExitDeadline;
        }
      }
    }
  }
  flushLog();
  center.removeObserver(token);
  center.removeObserver(manifestToken);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::string why;
  auto options = parseOptions(argc, argv, why);
  if (!options) {
    std::cerr << "fxclient: " << why << "\n" << kUsage;
    return kExitBadOptions;
  }
  if (options->help) {
    std::cout << kUsage;
    return kExitOk;
  }
  if (auto refusal = tourRefusal(*options)) {
    std::cerr << "fxclient: " << *refusal << "\n";
    return kExitBadOptions;
  }
  endBankOnSignals();
  int code = kExitInternal;
  try {
    Runner runner(*options);
    code = runner.run();
  } catch (const fs::filesystem_error& e) {  // a file or folder the run needs, gone or refused midway
    std::cerr << "fxclient: " << e.what() << "\n";
    code = kExitCannotWrite;
  } catch (const std::exception& e) {
    std::cerr << "fxclient: " << e.what() << "\n";
    code = kExitInternal;
  }
  std::fflush(stdout);
  std::_Exit(code);  // the framework's threads and queues live for the whole run
}
