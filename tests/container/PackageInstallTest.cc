// Resource and page packages made by Python's zipfile or record by record: installed through
// staging and one swap, hostile ones refused with the old tree left byte for byte, one download per
// page for every delegate waiting on it.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include "StartupSupport.h"
#include "container/peers/TestArchives.h"
#include "container/MwPackageInstaller.h"
#include "container/MwResourceFetch.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Log.h"
#include "platform/net/SocketTestSupport.h"
#include "platform/security/Digest.h"
#include "support/AllocationFailures.h"
#include "support/SyncCalls.h"

namespace container {
namespace {

class PackageInstallTest : public testing::StartupFixture {
 protected:
  // Has the server make a package; answers {"hash", "size", "zip"}.
  pf::Value makePackage(const std::string& name, const std::string& kind, const pf::Value& files) {
    return testing::control(*server, {{"package", {{"name", name}, {"kind", kind}, {"files", files}}}});
  }
  static pf::Bytes zipBytes(const pf::Value& made) { return *pf::base64DecodeStrict(made["zip"].get<std::string>()); }

  // A page listed with its package facts and marked for update, and an old tree in its folder.
  void listPage(const std::string& url, const std::string& package, const std::string& hash) {
    auto& business = MwBusinessManager::getInstance();
    business.refreshBusinessWithHTMLUrl(url, "2.0");
    business.setPackageFacts(url, {package, hash, "trade"});
  }
  void writeOldTree() {
    ASSERT_TRUE(pf::FileManager::createDirectory(release() / "trade" / "css", true));
    ASSERT_TRUE(pf::FileManager::writeFile(release() / "trade" / "order.html", std::string_view("old order"), false));
    ASSERT_TRUE(pf::FileManager::writeFile(release() / "trade" / "css" / "a.css", std::string_view("old css"), false));
  }
  static bool marked(const std::string& url) {
    auto item = MwBusinessManager::getInstance().getElementByHTMLUrl(url);
    return item && item->attributeForName("update");
  }
  // The names in a folder that start with "." (staging folders left behind).
  static std::vector<std::string> hidden(const std::filesystem::path& folder) {
    std::vector<std::string> out;
    for (const auto& name : pf::FileManager::contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
      if (name.front() == '.') out.push_back(name);
    return out;
  }
  // The resource package's road from a fresh start: an old page tree, "zipMD5" of another package.
  void prepareResourceRoad(const pf::Bytes& package) {
    pf::FileManager::removeItem(release());
    pf::FileManager::removeItem(pf::Sandbox::documents() / "backup");
    ASSERT_TRUE(pf::FileManager::createDirectory(release(), true));
    ASSERT_TRUE(pf::FileManager::writeFile(release() / "index.html", std::string_view("old index"), true));
    pf::UserDefaults::standard()->setObject(kZipMD5DefaultsKey, "old");
    pf::UserDefaults::standard()->synchronize();
    ASSERT_TRUE(pf::FileManager::writeFile(bundle / "data.zip", package, true));
  }
};

using Tree = std::map<std::string, std::string>;

// Each file (folder letter, name, text) at the end of a chain of `levels` folders named by its
// letter.
Tree deepTree(int levels, const std::vector<std::tuple<char, std::string, std::string>>& files) {
  Tree tree;
  for (const auto& [letter, leaf, text] : files) {
    std::string path;
    for (int i = 0; i < levels; ++i) tree[path += std::string(1, letter) + "/"] = "";
    tree[path + leaf] = text;
  }
  return tree;
}

class Waiter : public MwMenuManagerDelegate {
 public:
  void didDownloadMenuRateWithResult(const pf::Value&) override {}
  void didDownloadMenuCompletedWithResult(const pf::Value& result) override {
    results.push_back(result);
    onMain = onMain && pf::Thread::isMainThread();
  }
  std::vector<pf::Value> results;
  bool onMain = true;
};

TEST_F(PackageInstallTest, AChangedPagePackageIsDownloadedOnceAndSwappedInForEveryWaitingDelegate) {
  writeOldTree();
  const std::string url = "html|trade/order.html";
  auto made = makePackage("trade.zip", "good", {{"order.html", "new order"}, {"js/app.js", "let a = 1;"}});
  listPage(url, "trade.zip", made["hash"]);
  const auto downloadsBefore = testing::serverCall(server->baseUrl(), "/stats")["downloads"].value("trade.zip", 0);

  auto first = std::make_shared<Waiter>();
  auto second = std::make_shared<Waiter>();
  auto& menus = MwMenusManager::getInstance();
  menus.updateTemplateWithUrl(url, first);
  menus.updateTemplateWithUrl(url, second);
  menus.updateTemplateWithUrl("", first);  // ignored
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return !first->results.empty() && !second->results.empty(); }, 30));
  EXPECT_EQ(first->results, (std::vector<pf::Value>{{{"url", url}, {"result", 0}}}));
  EXPECT_EQ(second->results, first->results);
  EXPECT_TRUE(first->onMain && second->onMain);
  EXPECT_EQ(testing::serverCall(server->baseUrl(), "/stats")["downloads"].value("trade.zip", 0), downloadsBefore + 1);

  EXPECT_EQ(testing::snapshot(release() / "trade"),
            (std::map<std::string, std::string>{{"order.html", "new order"}, {"js/", ""}, {"js/app.js", "let a = 1;"}}));
  EXPECT_FALSE(marked(url));
  // No staging folder stays behind; the cleared mark is in the file, which still verifies.
  EXPECT_EQ(hidden(release()), std::vector<std::string>{});
  MwBusinessManager::resetForTesting();
  ASSERT_TRUE(MwBusinessManager::getInstance().getElementByHTMLUrl(url));
  EXPECT_FALSE(marked(url));
}

TEST_F(PackageInstallTest, EveryHostilePackageLeavesTheOldTreeByteForByteAndTheMarkSet) {
  writeOldTree();
  const std::string url = "html|trade/order.html";
  const pf::Value files{{"order.html", "evil order"}};
  struct Case {
    std::string kind;
    std::string hash;  // empty: the package's own
    int status = 200;
  };
  std::vector<Case> cases;
  for (const char* kind : {"traversal", "absolute", "backslash", "symlink", "bomb", "badcrc", "duplicate", "encrypted", "many"})
    cases.push_back({kind, "", 200});
  cases.push_back({"good", std::string(64, 'A'), 200});  // a hash that differs
  cases.push_back({"good", "", 404});
  cases.push_back({"good", "", 206});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind + " " + c.hash + " " + std::to_string(c.status));
    const std::string package = "hostile-" + c.kind + ".zip";
    auto made = makePackage(package, c.kind, files);
    testing::control(*server, {{"status", {{package, c.status}}}});
    listPage(url, package, c.hash.empty() ? made["hash"].get<std::string>() : c.hash);
    const auto before = testing::snapshot(pf::Sandbox::documents());
    EXPECT_EQ(MwMenusManager::getInstance().downloadAndInstall(url), 1);
    EXPECT_EQ(testing::snapshot(pf::Sandbox::documents()), before);
    EXPECT_TRUE(marked(url));
    EXPECT_FALSE(std::filesystem::exists("/tmp/absolute.html"));
  }
}

TEST_F(PackageInstallTest, UnpackResourcesInstallsOnceKeepsABackupAndSkipsAnUnchangedPackage) {
  auto first = makePackage("data.zip", "good", {{"index.html", "v1"}, {"img/a.png", "png"}});
  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "data.zip", zipBytes(first), true));
  auto& framework = MwFramework::getInstance();
  framework.unpackResources();
  EXPECT_EQ(testing::snapshot(release()),
            (std::map<std::string, std::string>{{"index.html", "v1"}, {"img/", ""}, {"img/a.png", "png"}}));
  const auto md5 = pf::hexEncode(pf::md5(zipBytes(first)));
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), md5);

  // Unchanged: a local change stays.
  ASSERT_TRUE(pf::FileManager::writeFile(release() / "index.html", std::string_view("local"), false));
  framework.unpackResources();
  EXPECT_EQ(testing::snapshot(release())["index.html"], "local");

  // A hostile package changes nothing, "zipMD5" included.
  auto hostile = makePackage("data.zip", "traversal", {{"index.html", "v2"}});
  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "data.zip", zipBytes(hostile), true));
  const auto before = testing::snapshot(pf::Sandbox::documents());
  framework.unpackResources();
  EXPECT_EQ(testing::snapshot(pf::Sandbox::documents()), before);
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), md5);

  // A new package replaces the tree; the old one becomes the backup.
  auto second = makePackage("data.zip", "good", {{"index.html", "v2"}});
  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "data.zip", zipBytes(second), true));
  framework.unpackResources();
  EXPECT_EQ(testing::snapshot(release()), (std::map<std::string, std::string>{{"index.html", "v2"}}));
  EXPECT_EQ(testing::snapshot(pf::Sandbox::documents() / "backup")["index.html"], "local");
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), pf::hexEncode(pf::md5(zipBytes(second))));
}

// The recorded "zipMD5" is removed from the preferences before the swap and written only once the
// pages of the replaced tree are marked again in the business file. When the marks cannot be
// written (past a file size limit here) no digest is left: the next start installs again, the
// same package or the one it replaced when the application package goes back to it. A removal
// that cannot be written installs nothing.
TEST_F(PackageInstallTest, ADigestIsRecordedOnlyForATreeWhoseBookkeepingIsDone) {
  auto made = makePackage("data.zip", "good", {{"index.html", "v1"}});
  const auto md5 = pf::hexEncode(pf::md5(zipBytes(made)));
  auto& business = MwBusinessManager::getInstance();
  // Pages downloaded since the package in place was made, in a business file that needs more room
  // than the limit gives.
  const auto downloadPages = [&] {
    MwBusinessManager::resetForTesting();
    ASSERT_TRUE(business.performBatch([&] {
      for (int i = 0; i < 150; ++i) business.refreshBusinessWithHTMLUrl("html|p" + std::to_string(i) + ".html", "2");
    }));
    ASSERT_GT(pf::FileManager::readFile(business.filePath())->size(), 6000u);
  };
  // A start of a new process on the same home.
  const auto restart = [] {
    pf::UserDefaults::resetStandard();
    MwBusinessManager::resetForTesting();
  };

  prepareResourceRoad(zipBytes(made));
  downloadPages();
  MwFramework::getInstance().unpackResources();
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), md5);
  MwBusinessManager::resetForTesting();  // what the file holds
  EXPECT_TRUE(marked("html|p0.html"));
  EXPECT_TRUE(marked("html|p149.html"));

  // The marks cannot be written: the package stands, without a digest.
  prepareResourceRoad(zipBytes(made));
  downloadPages();
  {
    fxtest::FileSizeLimit limit(4096);
    MwFramework::getInstance().unpackResources();
  }
  EXPECT_EQ(testing::snapshot(release()), (Tree{{"index.html", "v1"}}));
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), std::nullopt);
  EXPECT_TRUE(log.contains("its pages could not be marked")) << ::testing::PrintToString(log.lines());
  restart();
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), std::nullopt);
  MwFramework::getInstance().unpackResources();
  EXPECT_EQ(testing::snapshot(release()), (Tree{{"index.html", "v1"}}));
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), md5);

  // A second package whose marks cannot be written, then the first one back in the application
  // package: the first is installed again, although its digest was the one recorded last.
  auto second = makePackage("data.zip", "good", {{"index.html", "v2"}});
  downloadPages();
  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "data.zip", zipBytes(second), true));
  {
    fxtest::FileSizeLimit limit(4096);
    MwFramework::getInstance().unpackResources();
  }
  EXPECT_EQ(testing::snapshot(release()), (Tree{{"index.html", "v2"}}));
  restart();
  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "data.zip", zipBytes(made), true));
  MwFramework::getInstance().unpackResources();
  EXPECT_EQ(testing::snapshot(release()), (Tree{{"index.html", "v1"}}));
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), md5);

  // The recorded digest cannot be removed (no room even for the preferences): nothing changes,
  // and the next start with room installs the package.
  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "data.zip", zipBytes(second), true));
  const auto before = testing::snapshot(home.path());
  log.clear();
  {
    fxtest::FileSizeLimit limit(16);
    MwFramework::getInstance().unpackResources();
  }
  EXPECT_EQ(testing::snapshot(home.path()), before);
  EXPECT_TRUE(log.contains("the recorded digest could not be removed")) << ::testing::PrintToString(log.lines());
  restart();
  MwFramework::getInstance().unpackResources();
  EXPECT_EQ(testing::snapshot(release()), (Tree{{"index.html", "v2"}}));
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), pf::hexEncode(pf::md5(zipBytes(second))));
}

// A start killed between the swap and the digest's write (a child process killed as the installer
// flushes the swap) leaves no digest on disk: the next start installs again, also when the
// application package holds the package the killed start replaced. The killed start's staging
// folder goes then.
TEST_F(PackageInstallTest, AStartKilledAfterTheSwapLeavesATreeTheNextStartInstallsAgain) {
  using Step = MwPackageInstaller::Step;
  struct Unhook {
    ~Unhook() { MwPackageInstaller::setStepHookForTesting({}); }
  } unhook;
  auto first = makePackage("data.zip", "good", {{"index.html", "v1"}});
  auto second = makePackage("data.zip", "good", {{"index.html", "v2"}});
  const auto md5 = pf::hexEncode(pf::md5(zipBytes(first)));
  prepareResourceRoad(zipBytes(first));
  MwFramework::getInstance().unpackResources();
  ASSERT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), md5);

  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "data.zip", zipBytes(second), true));
  MwPackageInstaller::setStepHookForTesting([](Step at) {
    if (at == Step::Publish) ::raise(SIGKILL);
    return true;
  });
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    MwFramework::getInstance().unpackResources();
    ::_exit(1);  // not killed
  }
  MwPackageInstaller::setStepHookForTesting({});
  int status = 0;
  for (int waited = 0; ::waitpid(child, &status, WNOHANG) == 0; ++waited) {
    if (waited == 6000) {  // a minute: the child is stuck
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      FAIL() << "the start did not end";
    }
    ::usleep(10'000);
  }
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  EXPECT_EQ(testing::snapshot(release()), (Tree{{"index.html", "v2"}}));
  EXPECT_EQ(hidden(pf::Sandbox::documents()).size(), 1u);  // the replaced tree, still staged

  // The next start, with the first package back in the application package.
  pf::UserDefaults::resetStandard();
  MwBusinessManager::resetForTesting();
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), std::nullopt);
  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "data.zip", zipBytes(first), true));
  MwFramework::getInstance().unpackResources();
  EXPECT_EQ(testing::snapshot(release()), (Tree{{"index.html", "v1"}}));
  EXPECT_EQ(pf::UserDefaults::standard()->string(kZipMD5DefaultsKey), md5);
  EXPECT_EQ(hidden(pf::Sandbox::documents()), std::vector<std::string>{});
}

TEST_F(PackageInstallTest, DownloadsAboveTheLimitAreRefusedAndLeaveTheDestination) {
  fxtest::TempDir scratch;
  ASSERT_TRUE(pf::FileManager::writeFile(scratch / "kept", std::string_view("old"), false));
  pf::Error error;
  // Whole and in chunks (the first report already passes the limit).
  for (const char* query : {"/files/big?size=5000", "/files/big?size=5000&chunks=5"}) {
    EXPECT_FALSE(MwResourceFetch::download(server->baseUrl() + query, scratch / "kept", 1000, &error)) << query;
    EXPECT_EQ(error.code, kMwResourceTooLarge) << query;
    EXPECT_EQ(testing::snapshot(scratch.path()), (std::map<std::string, std::string>{{"kept", "old"}}));
  }
  ASSERT_TRUE(MwResourceFetch::download(server->baseUrl() + "/files/small?size=1000", scratch / "kept", 1000, &error));
  EXPECT_EQ(pf::FileManager::readFile(scratch / "kept")->size(), 1000u);
  EXPECT_FALSE(MwResourceFetch::download("ftp://127.0.0.1/x", scratch / "kept", 1000, &error));
  EXPECT_EQ(error.code, kMwResourceBadUrl);
}

// Each archive of make_archives.py goes through both roads: served by the bank server as a page
// package (download, hash, install) and given as the application package's resource package.
TEST_F(PackageInstallTest, OnlyAWholeWellFormedArchiveInstallsThroughEitherRoad) {
  struct Case {
    const char* kind;
    Tree files;  // empty: refused
  };
  std::vector<Case> cases = {
      // The end record and the central directory disagree, or the directory hides an entry.
      {"undercount", {}}, {"overcount", {}}, {"zip64-undercount", {}}, {"directory-size", {}}, {"hidden-first-entry", {}},
      {"many-undercounted", {}},
      // No file at all.
      {"empty", {}}, {"folders-only", {}},
      // Names: not UTF-8 under the UTF-8 flag, equal ignoring case, a drive or a colon.
      {"flagged-not-utf8", {}}, {"flagged-overlong", {}}, {"case-duplicate", {}}, {"case-folder", {}},
      {"drive", {}}, {"colon", {}},
      // Records that do not hold together.
      {"overlap", {}}, {"folder-data", {}}, {"comment-past-end", {}}, {"prefix", {}}, {"prefix-shifted", {}},
      {"local-name", {}}, {"local-method", {}}, {"local-size", {}}, {"descriptor-crc", {}},
      // Well-formed.
      {"zip64", {{"index.html", "sixty-four"}, {"js/", ""}, {"js/app.js", std::string(1000, 'x')}}},
      {"python-zip64", {{"index.html", "forced"}, {"img/", ""}, {"img/a.txt", std::string(300, 'b')}}},
      {"max-comment", {{"index.html", "commented"}}},
      {"legacy-names", {{"café.html", "cp437"}, {"中文.html", "plain utf-8"}, {"页/", ""}, {"页/新.html", "flagged"}}},
      {"descriptors", {{"index.html", "streamed index"}, {"js/", ""}, {"js/app.js", "streamed app"}}},
      {"folders", {{"d/", ""}, {"d/x.html", "in d"}, {"e/", ""}}},
      // Names too deep, folders past the entry limit, names that break a rule or meet another
      // through the Unicode path field or once normalized.
      {"deep-65", {}}, {"deep-names", {}}, {"folder-flood", {}},
      {"unicode-path-traversal", {}}, {"unicode-path-case", {}}, {"unicode-path-not-utf8", {}},
      {"normalization-duplicate", {}}, {"normalization-folder", {}},
      // Within the limits; names from the Unicode path field; an empty deflated file; bytes
      // between entries; a descriptor entry whose local header holds other values.
      {"deep-64", deepTree(63, {{'a', "x.html", "deep"}})},
      {"unicode-path",
       {{"页面/", ""}, {"页面/首页.html", "unicode"}, {"╛╔.html", "stale"}, {"v2.html", "version 2"}}},
      {"empty-deflated", {{"index.html", "i"}, {"empty.txt", ""}}},
      {"gaps", {{"index.html", "gapped"}, {"js/", ""}, {"js/app.js", "gapped app"}}},
      {"descriptor-local-other", {{"index.html", "described"}}},
  };
  std::vector<std::tuple<char, std::string, std::string>> turns;
  for (int i = 0; i < 200; ++i)
    turns.emplace_back("ab"[i % 2], "f" + std::to_string(i) + ".html", "file " + std::to_string(i));
  cases.push_back({"alternating", deepTree(62, turns)});
  auto& menus = MwMenusManager::getInstance();
  auto defaults = pf::UserDefaults::standard();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const bool good = !c.files.empty();
    const auto bytes = *pf::FileManager::readFile(fxtest::testArchive(c.kind));

    // The page package road.
    const std::string url = std::string("html|") + c.kind + "/index.html";
    const std::string package = std::string(c.kind) + ".zip";
    auto made = testing::control(*server, {{"package", {{"name", package}, {"zip", pf::base64Encode(bytes)}}}});
    ASSERT_EQ(made.value("size", 0u), bytes.size());
    pf::FileManager::removeItem(release() / "trade");
    writeOldTree();
    listPage(url, package, made["hash"]);
    auto before = testing::snapshot(home.path());
    EXPECT_EQ(menus.downloadAndInstall(url), good ? 0 : 1);
    EXPECT_EQ(marked(url), !good);
    if (good) {
      EXPECT_EQ(testing::snapshot(release() / "trade"), c.files);
      EXPECT_EQ(hidden(release()), std::vector<std::string>{});
      EXPECT_EQ(testing::snapshot(pf::Sandbox::tmp()), Tree{});
    } else {
      EXPECT_EQ(testing::snapshot(home.path()), before);
    }

    // The resource package road.
    prepareResourceRoad(bytes);
    before = testing::snapshot(home.path());
    MwFramework::getInstance().unpackResources();
    if (good) {
      EXPECT_EQ(testing::snapshot(release()), c.files);
      EXPECT_EQ(hidden(pf::Sandbox::documents()), std::vector<std::string>{});
      EXPECT_EQ(testing::snapshot(pf::Sandbox::documents() / "backup"), (Tree{{"index.html", "old index"}}));
      EXPECT_EQ(defaults->string(kZipMD5DefaultsKey), pf::hexEncode(pf::md5(bytes)));
    } else {
      EXPECT_EQ(testing::snapshot(home.path()), before);
      EXPECT_EQ(defaults->string(kZipMD5DefaultsKey), "old");
    }
  }
}

// Each step of an install fails as a failing system call would, or raises (out of memory, a file
// system error), through both roads. Up to the swap the home stays byte for byte and the caller
// hears of the failure (the page's waiting delegate with result 1); after it the new tree stands.
// No staging folder is left either way.
TEST_F(PackageInstallTest, EveryStepThatFailsOrRaisesEndsWithTheOldTreeOrTheNewOneAndNoStaging) {
  using Step = MwPackageInstaller::Step;
  struct Unhook {
    ~Unhook() { MwPackageInstaller::setStepHookForTesting({}); }
  } unhook;
  enum class Fault { Fails, RaisesBadAlloc, RaisesFileSystemError };
  const std::string url = "html|trade/order.html";
  auto made = makePackage("trade.zip", "good", {{"order.html", "new order"}});
  auto& menus = MwMenusManager::getInstance();
  auto defaults = pf::UserDefaults::standard();
  for (const Step step : {Step::Prepare, Step::CleanUp, Step::Stage, Step::Unpack, Step::Sync, Step::Swap,
                          Step::Publish, Step::KeepPrevious}) {
    for (const Fault fault : {Fault::Fails, Fault::RaisesBadAlloc, Fault::RaisesFileSystemError}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(step)) + "/" + std::to_string(static_cast<int>(fault)));
      MwPackageInstaller::setStepHookForTesting([step, fault](Step at) {
        if (at != step) return true;
        if (fault == Fault::RaisesBadAlloc) throw std::bad_alloc();
        if (fault == Fault::RaisesFileSystemError)
          throw std::filesystem::filesystem_error("symlink_status",
                                                  std::make_error_code(std::errc::too_many_symbolic_link_levels));
        return false;
      });
      const bool stands = step > Step::Swap;
      pf::LogCapture log;

      pf::FileManager::removeItem(release() / "trade");
      writeOldTree();
      listPage(url, "trade.zip", made["hash"]);
      auto before = testing::snapshot(home.path());
      auto waiter = std::make_shared<Waiter>();
      menus.updateTemplateWithUrl(url, waiter);
      ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return !waiter->results.empty(); }, 30));
      EXPECT_EQ(waiter->results, (std::vector<pf::Value>{{{"url", url}, {"result", stands ? 0 : 1}}}));
      if (stands) {
        EXPECT_EQ(testing::snapshot(release() / "trade"), (Tree{{"order.html", "new order"}}));
        EXPECT_FALSE(marked(url));
      } else {
        EXPECT_EQ(testing::snapshot(home.path()), before);
        EXPECT_TRUE(marked(url));
      }
      EXPECT_EQ(hidden(release()), std::vector<std::string>{});

      prepareResourceRoad(zipBytes(made));
      before = testing::snapshot(home.path());
      MwFramework::getInstance().unpackResources();
      if (stands) {
        EXPECT_EQ(testing::snapshot(release()), (Tree{{"order.html", "new order"}}));
        EXPECT_EQ(defaults->string(kZipMD5DefaultsKey), pf::hexEncode(pf::md5(zipBytes(made))));
      } else {
        EXPECT_EQ(testing::snapshot(home.path()), before);
        EXPECT_EQ(defaults->string(kZipMD5DefaultsKey), "old");
      }
      EXPECT_EQ(hidden(pf::Sandbox::documents()), std::vector<std::string>{});
      if (fault != Fault::Fails) {
        EXPECT_TRUE(log.contains("package install: ")) << ::testing::PrintToString(log.lines());
      }
    }
  }
}

// An install that runs out of memory at any of its allocations, once or for good from there on,
// returns (nothing raises out of its clean-up) and keeps no descriptor open. The target holds the
// new tree (true) or the old one byte for byte (false); the backup is the old tree, the earlier
// backup or none. Memory that fails once leaves no staging folder; memory gone for good may, and
// the next install of the target removes it.
TEST_F(PackageInstallTest, AnInstallOutOfMemoryAtAnyAllocationEndsWholeAndLeavesNoStaging) {
  using Mode = fxtest::AllocationFailures::Mode;
  if (!fxtest::AllocationFailures::kAvailable) GTEST_SKIP() << "allocations cannot be made to fail here";
  const auto archive = fxtest::testArchive("gaps");
  const Tree fresh{{"index.html", "gapped"}, {"js/", ""}, {"js/app.js", "gapped app"}};
  const auto target = release() / "trade";
  const auto previous = release() / "previous";
  for (const Mode mode : {Mode::One, Mode::AllFromThen}) {
    for (std::size_t nth = 1;; ++nth) {
      SCOPED_TRACE((mode == Mode::One ? "once at " : "for good from ") + std::to_string(nth));
      ASSERT_LT(nth, 20000u);
      pf::FileManager::removeItem(previous);
      pf::FileManager::removeItem(target);
      writeOldTree();
      ASSERT_TRUE(pf::FileManager::createDirectory(previous, true));
      ASSERT_TRUE(pf::FileManager::writeFile(previous / "earlier.html", std::string_view("earlier"), false));
      const auto old = testing::snapshot(target);
      bool installed = false;
      std::size_t failed = 0;
      const int descriptors = fxtest::openDescriptorCount();
      {
        fxtest::AllocationFailures failures(nth, mode);
        installed = MwPackageInstaller::install(archive, target, previous);
        failed = failures.failed();
      }
      EXPECT_EQ(fxtest::openDescriptorCount(), descriptors);
      EXPECT_EQ(testing::snapshot(target), installed ? fresh : old);
      const auto kept = testing::snapshot(previous);
      const Tree earlier{{"earlier.html", "earlier"}};
      EXPECT_TRUE(kept.empty() || kept == earlier || (installed && kept == old))
          << ::testing::PrintToString(kept);
      if (mode == Mode::One) {
        EXPECT_EQ(hidden(release()), std::vector<std::string>{});
      } else {
        EXPECT_TRUE(MwPackageInstaller::install(archive, target, previous));
        EXPECT_EQ(hidden(release()), std::vector<std::string>{});
        EXPECT_EQ(testing::snapshot(target), fresh);
      }
      if (failed == 0) {  // the install made fewer allocations: every one of them has failed once
        EXPECT_TRUE(installed);
        EXPECT_GT(nth, 50u);
        break;
      }
    }
  }
}

// Once its staging folder has moved into place (as the target, or as the old tree kept), an
// install forgets that name: a folder made under it afterwards (here when the install flushes the
// folder that holds the moved tree) is not the install's, and stays.
TEST_F(PackageInstallTest, AStagingNameIsForgottenOnceItsFolderHasMoved) {
  using Step = MwPackageInstaller::Step;
  struct Unhook {
    ~Unhook() { MwPackageInstaller::setStepHookForTesting({}); }
  } unhook;
  const auto archive = fxtest::testArchive("gaps");
  const auto target = release() / "trade";
  ASSERT_TRUE(pf::FileManager::createDirectory(release(), true));
  const auto folder = std::filesystem::canonical(release());
  for (const bool replacing : {false, true}) {
    SCOPED_TRACE(replacing ? "replacing, the old tree kept" : "new");
    pf::FileManager::removeItem(target);
    pf::FileManager::removeItem(release() / "previous");
    if (replacing) writeOldTree();
    std::string staging;  // its name, as found once unpacked
    MwPackageInstaller::setStepHookForTesting([&](Step at) {
      if (at == Step::Sync)
        for (const auto& name : hidden(release()))
          if (name.starts_with(".trade.stage-")) staging = name;
      return true;
    });
    fxtest::SyncCalls sync([&](const fxtest::SyncCall& call) {
      std::error_code ignored;  // where the staging folder still is, nothing is made
      if (call.kind == "fsync" && call.path == folder && !staging.empty())
        std::filesystem::create_directory(release() / staging, ignored);
    });
    ASSERT_TRUE(MwPackageInstaller::install(archive, target, release() / "previous"));
    ASSERT_FALSE(staging.empty());
    EXPECT_TRUE(pf::FileManager::isDirectory(release() / staging));
    pf::FileManager::removeItem(release() / staging);
  }
}

// The new tree is on disk before it is swapped in (one flush of its file system while it still has
// its staging name), and the swap after it (the folder that holds it), through both roads.
TEST_F(PackageInstallTest, NewTreesReachTheDiskBeforeTheSwapAndTheSwapAfterIt) {
  auto made = makePackage("trade.zip", "good", {{"order.html", "new order"}});
  // Where the staging folder's flush stands among the calls, and whether the folder is flushed after.
  auto flushedInOrder = [](const std::vector<fxtest::SyncCall>& calls, const std::filesystem::path& folder,
                           const std::string& staging) {
    const auto canonical = std::filesystem::canonical(folder);
    auto at = std::find_if(calls.begin(), calls.end(), [&](const fxtest::SyncCall& call) {
      return call.kind == "syncfs" && call.path.parent_path() == canonical &&
             call.path.filename().string().starts_with(staging);
    });
    return at != calls.end() && std::find(at, calls.end(), fxtest::SyncCall{"fsync", canonical}) != calls.end();
  };

  writeOldTree();
  const std::string url = "html|trade/order.html";
  listPage(url, "trade.zip", made["hash"]);
  {
    fxtest::SyncCalls sync;
    ASSERT_EQ(MwMenusManager::getInstance().downloadAndInstall(url), 0);
    EXPECT_TRUE(flushedInOrder(sync.calls(), release(), ".trade.stage-"));
  }
  prepareResourceRoad(zipBytes(made));
  {
    fxtest::SyncCalls sync;
    MwFramework::getInstance().unpackResources();
    EXPECT_TRUE(flushedInOrder(sync.calls(), pf::Sandbox::documents(), ".release.stage-"));
    EXPECT_EQ(testing::snapshot(pf::Sandbox::documents() / "backup"), (Tree{{"index.html", "old index"}}));
  }
  // The installer's own flushes, with nothing written after it.
  fxtest::SyncCalls sync;
  ASSERT_TRUE(MwPackageInstaller::install(fxtest::testArchive("gaps"), release() / "trade"));
  EXPECT_TRUE(flushedInOrder(sync.calls(), release(), ".trade.stage-"));
}

// Sets or clears the immutable attribute of an open file (which even the superuser cannot unlink
// past), wherever it has moved meanwhile.
bool setImmutable(int fd, bool on) {
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return false;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  return ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
}

// Staging folders that interrupted installs of a target left beside it (deep, as an archive may
// make them) go at its next install, each with a log line; other targets' staging folders, files
// and links of the same shape and other hidden names stay, through both roads. A removal that
// fails is logged, and what it left goes at the install after.
TEST_F(PackageInstallTest, StagingFoldersLeftBehindGoAtTheNextInstall) {
  writeOldTree();
  const auto staging = release() / ".trade.stage-K1LLED";
  std::filesystem::path deep = staging;
  for (int i = 0; i < 100; ++i) deep /= "d";
  ASSERT_TRUE(pf::FileManager::createDirectory(deep, true));
  ASSERT_TRUE(pf::FileManager::writeFile(deep / "page.html", std::string_view("half"), false));
  // Not this install's: another page's staging folder, a file and links shaped like a staging
  // folder of this one, names of another shape.
  const auto elsewhere = pf::Sandbox::documents() / "elsewhere";
  ASSERT_TRUE(pf::FileManager::createDirectory(elsewhere, true));
  ASSERT_TRUE(pf::FileManager::writeFile(elsewhere / "x.html", std::string_view("not ours"), false));
  ASSERT_TRUE(pf::FileManager::createDirectory(release() / ".other.stage-K1LLED", true));
  ASSERT_TRUE(pf::FileManager::writeFile(release() / ".trade.stage-F1LE00", std::string_view("mine"), false));
  std::filesystem::create_directory_symlink(elsewhere, release() / ".trade.stage-L1NKED");
  ASSERT_TRUE(pf::FileManager::createDirectory(release() / ".trade.stage-kept", true));
  ASSERT_TRUE(pf::FileManager::createDirectory(release() / ".trade.stage-K1LLED0", true));
  ASSERT_TRUE(pf::FileManager::createDirectory(release() / ".trade.backup", true));
  const std::vector<std::string> kept{".other.stage-K1LLED", ".trade.backup",      ".trade.stage-F1LE00",
                                      ".trade.stage-K1LLED0", ".trade.stage-L1NKED", ".trade.stage-kept"};
  const std::string url = "html|trade/order.html";
  auto first = makePackage("trade.zip", "good", {{"order.html", "first"}});
  listPage(url, "trade.zip", first["hash"]);
  log.clear();
  EXPECT_EQ(MwMenusManager::getInstance().downloadAndInstall(url), 0);
  EXPECT_EQ(hidden(release()), kept);
  EXPECT_EQ(testing::snapshot(release() / "trade"), (Tree{{"order.html", "first"}}));
  EXPECT_EQ(testing::snapshot(elsewhere), (Tree{{"x.html", "not ours"}}));
  EXPECT_TRUE(log.contains("package install: removing " + staging.string() + ", left by an interrupted install"));

  // The resource package's staging folders lie in Documents beside "release"; nothing else there
  // is the resource package's.
  prepareResourceRoad(zipBytes(first));
  const auto documents = pf::Sandbox::documents();
  ASSERT_TRUE(pf::FileManager::createDirectory(documents / ".release.stage-K1LLED" / "d", true));
  ASSERT_TRUE(pf::FileManager::createDirectory(documents / ".backup.stage-K1LLED", true));
  ASSERT_TRUE(pf::FileManager::writeFile(documents / ".release.stage-F1LE00", std::string_view("mine"), false));
  std::filesystem::create_directory_symlink(elsewhere, documents / ".release.stage-L1NKED");
  log.clear();
  MwFramework::getInstance().unpackResources();
  EXPECT_EQ(testing::snapshot(release()), (Tree{{"order.html", "first"}}));
  EXPECT_EQ(hidden(documents), (std::vector<std::string>{".backup.stage-K1LLED", ".release.stage-F1LE00", ".release.stage-L1NKED"}));
  EXPECT_EQ(testing::snapshot(elsewhere), (Tree{{"x.html", "not ours"}}));
  EXPECT_TRUE(log.contains("package install: removing " + (documents / ".release.stage-K1LLED").string() +
                           ", left by an interrupted install"));
  pf::FileManager::removeItem(release());
  writeOldTree();

  // The tree the next install replaces holds a file that cannot be removed.
  struct Pin {
    pf::UniqueFd fd;
    ~Pin() {
      if (fd.get() >= 0) setImmutable(fd.get(), false);
    }
  } pin{pf::UniqueFd(::open((release() / "trade" / "order.html").c_str(), O_RDONLY | O_CLOEXEC))};
  if (!setImmutable(pin.fd.get(), true)) GTEST_SKIP() << "no immutable files on this file system";
  auto second = makePackage("trade.zip", "good", {{"order.html", "second"}});
  listPage(url, "trade.zip", second["hash"]);
  {
    pf::LogCapture log;
    EXPECT_EQ(MwMenusManager::getInstance().downloadAndInstall(url), 0);
    EXPECT_TRUE(log.contains("package install: could not remove")) << ::testing::PrintToString(log.lines());
  }
  EXPECT_EQ(testing::snapshot(release() / "trade"), (Tree{{"order.html", "second"}}));
  ASSERT_EQ(hidden(release()).size(), 1u);  // the old tree's staging folder stays

  ASSERT_TRUE(setImmutable(pin.fd.get(), false));
  auto third = makePackage("trade.zip", "good", {{"order.html", "third"}});
  listPage(url, "trade.zip", third["hash"]);
  EXPECT_EQ(MwMenusManager::getInstance().downloadAndInstall(url), 0);
  EXPECT_EQ(hidden(release()), std::vector<std::string>{});
  EXPECT_EQ(testing::snapshot(release() / "trade"), (Tree{{"order.html", "third"}}));
}

}  // namespace
}  // namespace container
