// The menu comparison after a menu download: every "html" entry of a menu of N pages checked
// against the business file (here every page changed, so every page is marked and its download
// queued), the file written and signed, next to libxml2 alone parsing the same menu and business
// file, marking the same items through a hash index and writing the file once (flushed and
// renamed into place, as the business file is), in the same run.
// The time should grow linearly with N.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <string>
#include <unordered_map>

#include "Ratios.h"
#include "app/PylUpdateManager.h"
#include "container/LoggerUtil.h"
#include "container/MwBusinessManager.h"
#include "container/MwLicenseKey.h"
#include "container/MwMenusManager.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Sandbox.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string pageUrl(std::int64_t i) { return "html|pages/p" + std::to_string(i) + ".html"; }

// The menu of n pages at version 2, and the signed business file that has them at version 1.
struct Files {
  std::string menu;
  std::string business;

  explicit Files(std::int64_t n) {
    menu = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<menus>";
    std::string items = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<business>";
    for (std::int64_t i = 0; i < n; ++i) {
      menu += "<menu id=\"" + std::to_string(i) + "\" url=\"" + pageUrl(i) + "\" version=\"2.0." +
              std::to_string(i % 7) + "\"/>";
      items += "<item url=\"" + pageUrl(i) + "\" version=\"1.0\"/>";
    }
    menu += "</menus>\n";
    items += "</business>\n";
    business = container::MwLicenseKey::signXMLText(items, container::kBusinessFileName).value_or("");
  }
};

struct Home {
  fxtest::TempDir dir;
  Home() {
    pf::Sandbox::setHome(dir.path());
    container::LoggerUtil::setDebugEnabled(false);
    container::MwLicenseKey::setKeyDirectoryForTesting(fxtest::dataPath("container/keys"));
    fs::create_directories(container::MwMenusManager::releasePath());
  }
};

Home& home() {
  static Home instance;
  return instance;
}

void BM_CompareMenu(benchmark::State& state) {
  home();
  pf::LogCapture quiet;
  const Files files(state.range(0));
  if (files.business.empty()) return state.SkipWithError("no key to sign with");
  auto& business = container::MwBusinessManager::getInstance();
  for (auto _ : state) {
    state.PauseTiming();
    pf::FileManager::writeFile(business.filePath(), files.business, true);
    container::MwBusinessManager::resetForTesting();
    app::PylUpdateManager::resetForTesting();
    auto manager = app::PylUpdateManager::sharedInstance();
    manager->checkMenuDirExist();
    pf::FileManager::writeFile(manager->menuFilePath(), files.menu, true);
    quiet.clear();
    state.ResumeTiming();
    manager->compareMenuInsideList();
    state.PauseTiming();
    if (manager->downloadCount() != state.range(0)) state.SkipWithError("not every page marked");
    // The queued downloads (each ends at once: no package is listed) and their ends on the main
    // queue are not the comparison's.
    container::MwMenusManager::getInstance().waitUntilIdleForTesting();
    pf::RunLoop::main()->spinUntil([&] { return manager->downloadTags() == 0; }, 60);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

const xmlChar* x(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

void BM_BareLibxml2(benchmark::State& state) {
  home();
  const Files files(state.range(0));
  const fs::path out = home().dir.path() / "bare-business.xml";
  for (auto _ : state) {
    xmlDoc* menu = xmlReadMemory(files.menu.data(), static_cast<int>(files.menu.size()), nullptr, nullptr, XML_PARSE_NONET);
    xmlDoc* doc = xmlReadMemory(files.business.data(), static_cast<int>(files.business.size()), nullptr, nullptr, XML_PARSE_NONET);
    std::unordered_map<std::string, xmlNode*> index;
    for (xmlNode* item = xmlDocGetRootElement(doc)->children; item; item = item->next) {
      if (item->type != XML_ELEMENT_NODE) continue;
      xmlChar* url = xmlGetProp(item, x("url"));
      if (url) index.emplace(reinterpret_cast<const char*>(url), item);
      xmlFree(url);
    }
    for (xmlNode* entry = xmlDocGetRootElement(menu)->children; entry; entry = entry->next) {
      if (entry->type != XML_ELEMENT_NODE) continue;
      xmlChar* url = xmlGetProp(entry, x("url"));
      xmlChar* version = xmlGetProp(entry, x("version"));
      auto found = url ? index.find(reinterpret_cast<const char*>(url)) : index.end();
      if (found != index.end() && version) {
        xmlSetProp(found->second, x("version"), version);
        xmlSetProp(found->second, x("update"), x("u"));
      }
      xmlFree(url);
      xmlFree(version);
    }
    xmlChar* text = nullptr;
    int length = 0;
    xmlDocDumpMemoryEnc(doc, &text, &length, "UTF-8");
    // Durably, as a file the next start reads must be: a temporary file, flushed, renamed over.
    const std::string temporary = out.string() + ".new";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, text, static_cast<std::size_t>(length)) != length || ::fsync(fd) != 0 ||
        ::close(fd) != 0 || ::rename(temporary.c_str(), out.c_str()) != 0)
      state.SkipWithError("not written");
    xmlFree(text);
    xmlFreeDoc(doc);
    xmlFreeDoc(menu);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_CompareMenu)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BareLibxml2)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();

FX_BENCH_RATIO("menu comparison, time / bare libxml2's, 2,000 entries", fxbench::seconds("BM_CompareMenu/2000"),
               fxbench::seconds("BM_BareLibxml2/2000"), fxbench::noAim());
FX_BENCH_RATIO("menu comparison, time / bare libxml2's, 20,000 entries", fxbench::seconds("BM_CompareMenu/20000"),
               fxbench::seconds("BM_BareLibxml2/20000"), fxbench::noAim());
FX_BENCH_RATIO("menu comparison, time at 20,000 entries / at 2,000 (linear: about 10)",
               fxbench::seconds("BM_CompareMenu/20000"), fxbench::seconds("BM_CompareMenu/2000"),
               fxbench::noAim());

}  // namespace
FX_BENCH_MAIN();
