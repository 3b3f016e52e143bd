// Other applications reached by URL scheme, the road back through the delegate's open-URL
// entries, and named pasteboards.
#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Pasteboard.h"
#include "support/TestSupport.h"

namespace {

using pf::Application;
using pf::ApplicationState;

class RecordingDelegate : public pf::ApplicationDelegate {
 public:
  explicit RecordingDelegate(bool withSource) : withSource_(withSource) {}
  std::optional<bool> openURL(const std::string& url, const std::string& source, const pf::Value&) override {
    if (!withSource_) return std::nullopt;
    calls.push_back("openURL " + url + " from " + source);
    stateDuringCall = Application::shared().applicationState();
    return true;
  }
  std::optional<bool> handleOpenURL(const std::string& url) override {
    calls.push_back("handleOpenURL " + url);
    return true;
  }
  std::vector<std::string> calls;
  ApplicationState stateDuringCall = ApplicationState::Active;

 private:
  bool withSource_;
};

class OtherApplications : public ::testing::Test {
 protected:
  void TearDown() override {
    Application::shared().reset();
    pf::Pasteboard::resetAll();
  }
  bool spin(const std::function<bool()>& done) { return pf::RunLoop::main()->spinUntil(done, 5); }
};

TEST_F(OtherApplications, OpeningAnInstalledSchemeLeavesAndTheAnswerBringsUsBack) {
  auto& app = Application::shared();
  auto delegate = std::make_shared<RecordingDelegate>(true);
  app.setDelegate(delegate);
  app.addOwnURLScheme("fxback");
  std::vector<std::string> received;
  app.installApplication("org.example.notes", {"notes"}, [&](const std::string& url, const std::string& source) {
    received.push_back(url);
    EXPECT_EQ(app.applicationState(), ApplicationState::Background);
    EXPECT_TRUE(app.openURLFromApplication("org.example.notes", "FXBACK://done?x=1"));
  });

  EXPECT_FALSE(app.canOpenURL("other://x"));
  ASSERT_TRUE(app.canOpenURL("Notes://new"));
  ASSERT_TRUE(app.openURL("Notes://new"));
  EXPECT_EQ(app.applicationState(), ApplicationState::Background);
  EXPECT_TRUE(received.empty());  // the handler runs on the main queue, not inside openURL
  ASSERT_TRUE(spin([&] { return !delegate->calls.empty(); }));
  EXPECT_EQ(received, std::vector<std::string>{"Notes://new"});
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"openURL FXBACK://done?x=1 from org.example.notes"});
  EXPECT_EQ(delegate->stateDuringCall, ApplicationState::Background);
  EXPECT_EQ(app.applicationState(), ApplicationState::Active);

  app.removeApplication("org.example.notes");
  EXPECT_FALSE(app.openURL("notes://again"));
}

TEST_F(OtherApplications, TheOlderEntryServesADelegateWithoutTheNewerOne) {
  auto& app = Application::shared();
  auto delegate = std::make_shared<RecordingDelegate>(false);
  app.setDelegate(delegate);
  app.addOwnURLScheme("fxback");
  ASSERT_TRUE(app.openURLFromApplication("org.example.notes", "fxback://x"));
  ASSERT_TRUE(spin([&] { return !delegate->calls.empty(); }));
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"handleOpenURL fxback://x"});
}

TEST_F(OtherApplications, TextsThatAreNoUrlsOrNotOursOpenNothing) {
  auto& app = Application::shared();
  app.addOwnURLScheme("fxback");
  app.installApplication("org.example.notes", {"notes"}, [](const std::string&, const std::string&) { FAIL(); });
  for (const char* bad : {"notes", ":notes", "1notes://x", "no tes://x", "notes://a b", "notes://\xE4\xB8\xAD",
                          "notes://x\n"})
    EXPECT_FALSE(app.openURL(bad)) << bad;
  EXPECT_TRUE(app.openedURLs().empty());
  EXPECT_EQ(app.applicationState(), ApplicationState::Active);
  EXPECT_FALSE(app.openURLFromApplication("org.example.notes", "notes://x"));
  EXPECT_FALSE(app.openURLFromApplication("org.example.notes", "fxback x"));
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.05);
}

TEST_F(OtherApplications, OurSchemesComeFromTheMainBundle) {
  fxtest::TempDir bundle;
  pf::Value info = {{"CFBundleIdentifier", "org.example.fx"},
                    {"CFBundleURLTypes", {{{"CFBundleURLSchemes", {"fxmain", 7}}}, "junk"}}};
  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "Info.plist",
                                         *pf::writePropertyList(info, pf::PropertyListFormat::Xml), false));
  pf::Bundle::setMainPath(bundle.path());
  auto& app = Application::shared();
  EXPECT_TRUE(app.isOwnURLScheme("FXMAIN"));
  EXPECT_FALSE(app.isOwnURLScheme("fxother"));
  std::string source;
  app.installApplication("org.example.notes", {"notes"}, [&](const std::string&, const std::string& from) { source = from; });
  ASSERT_TRUE(app.openURL("notes://x"));
  ASSERT_TRUE(spin([&] { return !source.empty(); }));
  EXPECT_EQ(source, "org.example.fx");
  pf::Bundle::setMainPath({});
}

TEST(Pasteboards, NamedBoardsAreSharedProcessWideAndKeepOneItemPerType) {
  auto board = pf::Pasteboard::withName("fx.test", true);
  EXPECT_EQ(pf::Pasteboard::withName("fx.test", false), board);
  EXPECT_EQ(pf::Pasteboard::withName("fx.none", false), nullptr);
  long before = board->changeCount();
  std::thread writer([] { pf::Pasteboard::withName("fx.test", true)->setData({1, 2}, "a"); });
  writer.join();
  board->setData({3}, "b");
  board->setData({4}, "b");
  EXPECT_EQ(board->dataForType("a"), (pf::Bytes{1, 2}));
  EXPECT_EQ(board->dataForType("b"), (pf::Bytes{4}));
  EXPECT_EQ(board->types(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(board->changeCount(), before + 3);
  board->clear();
  EXPECT_EQ(board->dataForType("a"), std::nullopt);
  EXPECT_NE(pf::Pasteboard::general(), board);
  pf::Pasteboard::remove("fx.test");
  EXPECT_EQ(pf::Pasteboard::withName("fx.test", false), nullptr);
}

}  // namespace
