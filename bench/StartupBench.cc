// One update run of the application against the loopback bank (the menu fetched from the front-end
// server, two page packages marked, downloaded, checked and installed, the business and menu files
// saved) against bare libcurl fetching the same three files and bare minizip unpacking the two
// packages, each tree flushed to disk as the install does (the durability both promise), taken in
// turns in the same run.
#include <curl/curl.h>
#include <unzip.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BareMinizip.h"
#include "Ratios.h"
#include "app/PylUpdateManager.h"
#include "container/LoggerUtil.h"
#include "container/MwBusinessManager.h"
#include "container/MwConfiguration.h"
#include "container/MwLicenseKey.h"
#include "container/MwMenusManager.h"
#include "container/MwServerConfiguration.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/UrlConnection.h"
#include "support/TestSupport.h"
#include "DemoBankControl.h"

namespace {

namespace fs = std::filesystem;

pf::Value post(const std::string& url, const pf::Value& body) { return postToDemoBank(url, body); }

struct Page {
  std::string url, package, dir, hash;
};

struct Bank {
  fxtest::TempDir keys;
  fxtest::ChildProcess child{{fxtest::kPython, (fxtest::sourceDir() / "tools/bank_server.py").string(), "--keys",
                              keys.path().string()}};
  std::string base;
  std::vector<Page> pages{{"html|index.html", "index.zip", "index", ""}, {"html|news.html", "news.zip", "news", ""}};
  bool ready = false;

  Bank() {
    auto port = child.readLine(20000);
    if (!port) return;
    base = "http://127.0.0.1:" + *port;
    container::LoggerUtil::setDebugEnabled(false);
    container::MwLicenseKey::setKeyDirectoryForTesting(keys.path());
    container::MwServerConfiguration::getInstance().setServerBaseUrl(base);
    container::MwConfiguration::getInstance().setValue(base + "/front/", "front-url");
    pf::Value items = pf::Value::array();
    for (auto& page : pages) {
      pf::Value files = pf::Value::object();
      for (int i = 0; i < 20; ++i)
        files[page.dir + std::to_string(i) + ".html"] = std::string(4000, static_cast<char>('a' + i));
      auto answer = post(base + "/control", {{"package", {{"name", page.package}, {"files", files}}}});
      if (!answer.contains("hash")) return;
      page.hash = answer["hash"].get<std::string>();
      items.push_back({{"id", page.dir}, {"url", page.url}, {"version", "2"}});
    }
    pf::Value menu = pf::Value::object();
    menu["items"] = items;
    pf::Value command = pf::Value::object();
    command["menu"] = menu;
    post(base + "/control", command);
    ready = true;
  }
};

Bank& bank() {
  static Bank instance;
  return instance;
}

class Done : public app::PylUpdateDelegate {
 public:
  void benginDownloadHTML() override {}
  void downloadProgress(double) override {}
  void updateCompelete() override { complete = true; }
  bool complete = false;
};

// One update run in a fresh home folder: the seconds from benginLoading to updateCompelete with
// every download ended, or -1 when the pages were not installed.
double updateRun(const Bank& b) {
  fxtest::TempDir home;
  pf::Sandbox::setHome(home.path());
  container::MwBusinessManager::resetForTesting();
  app::PylUpdateManager::resetForTesting();
  for (const auto& page : b.pages)
    container::MwBusinessManager::getInstance().setPackageFacts(page.url, {page.package, page.hash, page.dir});
  auto done = std::make_shared<Done>();
  auto manager = app::PylUpdateManager::sharedInstance();
  manager->setDelegate(done);
  const double seconds = fxbench::secondsOf([&] {
    manager->benginLoading();
    pf::RunLoop::main()->spinUntil([&] { return done->complete && manager->downloadTags() == 0; }, 30);
  });
  const bool installed = done->complete && fs::exists(home / "Documents/release/news/news0.html");
  container::MwMenusManager::getInstance().waitUntilIdleForTesting();
  return installed ? seconds : -1;
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// The same three files fetched with bare libcurl into a fresh folder, the two packages unpacked
// there with bare minizip and flushed to disk as the install flushes them: the seconds it took,
// or -1 on a failure.
double bareRun(const Bank& b, CURL* curl) {
  fxtest::TempDir home;
  bool ok = true;
  const double seconds = fxbench::secondsOf([&] {
    std::vector<std::string> names{"menu.xml"};
    for (const auto& page : b.pages) names.push_back(page.package);
    for (const auto& name : names) {
      std::string body;
      const std::string url = b.base + "/front/mwframework/data/iphone/" + name;
      curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
      ok = ok && curl_easy_perform(curl) == CURLE_OK;
      const fs::path file = home / name;
      std::ofstream(file, std::ios::binary) << body;
      if (name != "menu.xml") {
        const fs::path tree = home / fs::path(name).stem();
        ok = ok && bench::bareExtract(file, tree) && bench::bareFlush(tree);
      }
    }
  });
  return ok ? seconds : -1;
}

// Each iteration is one turn: an update run and the bare fetch and unpack, who goes first
// alternating, each in a fresh home folder, so both meet the same state of the machine and of the
// file system.
void BM_UpdateRunAgainstBareCurlAndMinizipInTurns(benchmark::State& state) {
  auto& b = bank();
  if (!b.ready) return state.SkipWithError("no bank");
  pf::LogCapture quiet;
  CURL* curl = curl_easy_init();
  fxbench::Turns("update", "bare").run(state, [&] { return updateRun(b); }, [&] { return bareRun(b, curl); });
  curl_easy_cleanup(curl);
  pf::Sandbox::setHome({});
}

// Ten turns a repetition: five with each road first.
BENCHMARK(BM_UpdateRunAgainstBareCurlAndMinizipInTurns)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

FX_BENCH_RATIO("start-up: update run / bare libcurl and minizip, flushed alike (in turns)",
               fxbench::counterRate("BM_UpdateRunAgainstBareCurlAndMinizipInTurns", "update_ms"),
               fxbench::counterRate("BM_UpdateRunAgainstBareCurlAndMinizipInTurns", "bare_ms"), fxbench::atLeast(0.5));

}  // namespace

FX_BENCH_MAIN();
