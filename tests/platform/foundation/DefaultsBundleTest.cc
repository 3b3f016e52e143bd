#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TestSupport.h"

namespace pf {
namespace {

TEST(UserDefaults, PersistsEveryChangeAndReadsItBack) {
  fxtest::TempDir dir;
  auto file = dir / "Library" / "Preferences" / "app.plist";
  {
    UserDefaults defaults(file);
    defaults.setObject("zipMD5", "0A1B2C");
    defaults.setInteger("count", 3);
    defaults.setBool("flag", true);
    defaults.setObject("removed", Value(1));
    defaults.setObject("removed", nullptr);  // nil removes
  }
  UserDefaults again(file);
  EXPECT_EQ(again.string("zipMD5"), "0A1B2C");
  EXPECT_EQ(again.integerValue("count"), 3);
  EXPECT_EQ(again.string("count"), "3");
  EXPECT_TRUE(again.boolValue("flag"));
  EXPECT_FALSE(again.object("removed"));
  EXPECT_FALSE(again.string("missing"));
  EXPECT_EQ(again.integerValue("missing"), 0);
  // The file is an ordinary binary property list.
  auto stored = parsePropertyList(*FileManager::readFile(file));
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["zipMD5"], "0A1B2C");

  // What writes killed before their rename left beside the file goes when it is next opened;
  // another file's temporary file stays.
  const auto leftover = file.parent_path() / ".app.plist.write-Zq81xA";
  const auto other = file.parent_path() / ".other.plist.write-Zq81xA";
  ASSERT_TRUE(FileManager::writeFile(leftover, std::string_view("bplist00"), false));
  ASSERT_TRUE(FileManager::writeFile(other, std::string_view("bplist00"), false));
  UserDefaults third(file);
  EXPECT_FALSE(FileManager::fileExists(leftover));
  EXPECT_TRUE(FileManager::fileExists(other));
  EXPECT_EQ(third.string("zipMD5"), "0A1B2C");
}

// A change whose write fails (past a file size limit here) is undone: the defaults answer what the
// file holds, for a set, a replacement and a removal alike, and the change answers false.
TEST(UserDefaults, AChangeThatCannotBeWrittenIsUndone) {
  fxtest::TempDir dir;
  const auto file = dir / "app.plist";
  UserDefaults defaults(file);
  defaults.setObject("zipMD5", "old");
  defaults.setObject("kept", "k");
  const auto before = *FileManager::readFile(file);
  {
    LogCapture log;
    fxtest::FileSizeLimit limit(before.size() / 2);
    EXPECT_FALSE(defaults.setObject("zipMD5", "new"));
    EXPECT_FALSE(defaults.setObject("added", 1));
    EXPECT_FALSE(defaults.removeObject("kept"));
    EXPECT_FALSE(defaults.setObject("kept", nullptr));
    EXPECT_TRUE(defaults.removeObject("absent"));  // nothing to write
    EXPECT_EQ(log.lines().size(), 4u);
    EXPECT_TRUE(log.contains("UserDefaults: could not write " + file.string()));
  }
  EXPECT_EQ(*FileManager::readFile(file), before);
  EXPECT_EQ(defaults.string("zipMD5"), "old");
  EXPECT_EQ(defaults.string("kept"), "k");
  EXPECT_FALSE(defaults.object("added"));
  EXPECT_EQ(defaults.dictionaryRepresentation(), UserDefaults(file).dictionaryRepresentation());

  // With room again the same change is kept.
  EXPECT_TRUE(defaults.setObject("zipMD5", "new"));
  EXPECT_EQ(UserDefaults(file).string("zipMD5"), "new");
}

TEST(UserDefaults, RegisteredDefaultsAnswerUntilSetAndAreNotStored) {
  fxtest::TempDir dir;
  UserDefaults defaults(dir / "d.plist");
  defaults.registerDefaults(Value{{"env", 1}, {"name", "x"}});
  EXPECT_EQ(defaults.integerValue("env"), 1);
  defaults.setInteger("env", 2);
  EXPECT_EQ(defaults.integerValue("env"), 2);
  EXPECT_EQ(defaults.dictionaryRepresentation(), (Value{{"env", 2}, {"name", "x"}}));
  UserDefaults reread(dir / "d.plist");
  EXPECT_FALSE(reread.object("name"));
}

TEST(UserDefaults, ACorruptFileStartsEmptyWithALogLine) {
  fxtest::TempDir dir;
  ASSERT_TRUE(FileManager::writeFile(dir / "bad.plist", std::string_view("bplist00garbage"), false));
  LogCapture log;
  UserDefaults defaults(dir / "bad.plist");
  EXPECT_TRUE(log.contains("UserDefaults: starting empty"));
  EXPECT_EQ(defaults.dictionaryRepresentation(), Value::object());
  defaults.setObject("k", "v");
  EXPECT_EQ(UserDefaults(dir / "bad.plist").string("k"), "v");

  // A FIFO in the file's place is not read (its feeder would hand it real defaults): the defaults
  // start empty at once, and the next change puts a file there.
  const Value stored{{"zipMD5", "abc"}};
  fxtest::FifoFeeder fifo(dir / "fifo.plist", pf::toString(*writePropertyList(stored, PropertyListFormat::Binary)));
  UserDefaults fromFifo(fifo.path());
  EXPECT_EQ(fromFifo.string("zipMD5"), std::nullopt);
  fromFifo.setObject("k", "v");
  EXPECT_EQ(UserDefaults(fifo.path()).string("k"), "v");
}

TEST(UserDefaults, ConcurrentWritersLoseNothing) {
  fxtest::TempDir dir;
  UserDefaults defaults(dir / "c.plist");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) defaults.setInteger("k" + std::to_string(t) + "_" + std::to_string(i), i);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(UserDefaults(dir / "c.plist").dictionaryRepresentation().size(), 80u);
}

TEST(UserDefaults, StandardLivesInTheSandboxPreferences) {
  fxtest::TempDir home, bundle;
  ASSERT_TRUE(FileManager::writeFile(bundle / "Info.plist",
                                     *writePropertyList(Value{{"CFBundleIdentifier", "com.example.fx"}},
                                                        PropertyListFormat::Xml),
                                     true));
  Sandbox::setHome(home.path());
  Bundle::setMainPath(bundle.path());
  UserDefaults::resetStandard();
  UserDefaults::standard()->setObject("zipMD5", "abc");
  EXPECT_EQ(UserDefaults::standard()->file(), home.path() / "Library" / "Preferences" / "com.example.fx.plist");
  EXPECT_TRUE(FileManager::fileExists(UserDefaults::standard()->file()));
  UserDefaults::resetStandard();
  Bundle::setMainPath({});
  Sandbox::setHome({});
}

class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto write = [&](const std::string& relative, std::string_view text) {
      auto path = dir_ / relative;
      ASSERT_TRUE(FileManager::createDirectory(path.parent_path(), true));
      ASSERT_TRUE(FileManager::writeFile(path, text, false));
    };
    write("Info.plist",
          pf::toString(*writePropertyList(Value{{"CFBundleIdentifier", "com.example.fx"},
                                            {"CFBundleExecutable", "FxClient"},
                                            {"CFBundleDevelopmentRegion", "zh-Hans"}},
                                      PropertyListFormat::Binary)));
    write("System.plist", "<?xml version=\"1.0\"?><plist><dict><key>timeout</key><integer>60</integer></dict></plist>");
    write("data.zip", "zip");
    write("mwframework.der", "der");
    write("MwResources/icon.png", "png");
    write("zh-Hans.lproj/Localizable.strings", "\"Cellular\" = \"蜂窝网络\";");
    write("en.lproj/Localizable.strings", "\"Cellular\" = \"Cellular data\"; \"WiFi\" = \"Wi-Fi\";");
    write("en.lproj/TnqNet.strings", "\"Unknown\" = \"Unknown status\";");
    write("en.lproj/only-english.txt", "en");
  }

  fxtest::TempDir dir_;
};

TEST_F(BundleTest, FindsResourcesByNameAndType) {
  Bundle bundle(dir_.path());
  EXPECT_EQ(bundle.pathForResource("data", "zip"), dir_ / "data.zip");
  EXPECT_EQ(bundle.pathForResource("System.plist", ""), dir_ / "System.plist");
  EXPECT_EQ(bundle.pathForResource("icon", "png", "MwResources"), dir_.path() / "MwResources" / "icon.png");
  EXPECT_EQ(bundle.pathForResource("only-english", "txt"), dir_.path() / "en.lproj" / "only-english.txt");
  EXPECT_FALSE(bundle.pathForResource("plugin", "plist"));
  EXPECT_FALSE(bundle.pathForResource("../outside", "txt"));
  EXPECT_EQ(bundle.pathsForResources("der").size(), 1u);
  EXPECT_EQ(bundle.bundleIdentifier(), "com.example.fx");
  EXPECT_EQ(*bundle.objectForInfoDictionaryKey("CFBundleExecutable"), "FxClient");
  EXPECT_EQ(bundle.objectForInfoDictionaryKey("missing"), nullptr);
}

TEST_F(BundleTest, ResourceNamesNeverLeaveTheBundle) {
  Bundle bundle(dir_.path());
  fxtest::TempDir outside;
  ASSERT_TRUE(FileManager::writeFile(outside / "secret.txt", "x", false));
  auto absolute = (outside / "secret").string();
  EXPECT_FALSE(bundle.pathForResource(absolute, "txt"));
  EXPECT_FALSE(bundle.pathForResource("secret", "txt", outside.path().string()));
  EXPECT_FALSE(bundle.pathForResource("icon", "png", "../MwResources"));
}

TEST_F(BundleTest, LocalizedStringsFallBackToDefaultTextThenKey) {
  Bundle bundle(dir_.path());
  EXPECT_EQ(bundle.localizedString("Cellular"), "蜂窝网络");        // development region first
  EXPECT_EQ(bundle.localizedString("WiFi"), "Wi-Fi");              // from the next language
  EXPECT_EQ(bundle.localizedString("No Connection", ""), "No Connection");
  EXPECT_EQ(bundle.localizedString("Request failed: %@ (%ld)", "", "TnqNet"), "Request failed: %@ (%ld)");
  EXPECT_EQ(bundle.localizedString("Unknown", "", "TnqNet"), "Unknown status");
  EXPECT_EQ(bundle.localizedString("key", "default", "Missing"), "default");
  bundle.setPreferredLocalizations({"en"});
  EXPECT_EQ(bundle.localizedString("Cellular"), "Cellular data");
}

TEST(Bundle, MissingInfoAndFolder) {
  fxtest::TempDir dir;
  Bundle bundle(dir.path());
  EXPECT_EQ(bundle.infoDictionary(), Value::object());
  EXPECT_EQ(bundle.bundleIdentifier(), "");
  EXPECT_EQ(Bundle::at(dir / "none"), nullptr);
}

TEST(DateFormatter, FormatsAndParsesMachineTexts) {
  DateFormatter log("yyyy/MM/dd HH:mm:ss:SSS", "en_US_POSIX", "GMT");
  ASSERT_TRUE(log.isValid());
  EXPECT_EQ(log.string(1700000000.123), "2023/11/14 22:13:20:123");
  EXPECT_DOUBLE_EQ(*log.date("2023/11/14 22:13:20:123"), 1700000000.123);
  DateFormatter shanghai("yyyy-MM-dd HH:mm", "en_US_POSIX", "Asia/Shanghai");
  EXPECT_EQ(shanghai.string(0), "1970-01-01 08:00");
  DateFormatter http("EEE, dd MMM yyyy HH:mm:ss 'GMT'", "en_US", "GMT");
  EXPECT_EQ(http.string(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(http.date("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777.0);
  // Strict: the whole text, real dates only.
  EXPECT_FALSE(log.date("2023/11/14 22:13:20:123 trailing"));
  EXPECT_FALSE(log.date("2023/13/45 22:13:20:123"));
  EXPECT_FALSE(log.date(""));
  EXPECT_FALSE(log.date(std::string(5000, '1')));
  EXPECT_FALSE(DateFormatter("yyyy", "en_US_POSIX", "No/Such_Zone_").date("x"));
}

// Machine texts read and write the same under a user's Buddhist or Persian calendar and
// Persian digits; texts for the user follow the locale.
TEST(DateFormatter, MachineTextsIgnoreTheUsersCalendarAndDigits) {
  const std::string before = currentLocaleIdentifier();
  for (const char* user : {"th_TH", "fa_IR"}) {
    ASSERT_TRUE(setCurrentLocaleIdentifier(user));
    EXPECT_EQ(currentLocaleIdentifier(), user);
    DateFormatter server("yyyyMMddHHmmss", "en_US_POSIX", "Asia/Shanghai");
    EXPECT_EQ(server.date("20260102093000"), 1767317400.0) << user;
    EXPECT_EQ(server.string(1767317400.0), "20260102093000") << user;
    DateFormatter shown("yyyy", currentLocaleIdentifier(), "Asia/Shanghai");
    EXPECT_EQ(shown.string(1767317400.0), std::string(user) == "th_TH" ? "2569" : "\u06f1\u06f4\u06f0\u06f4");
  }
  EXPECT_FALSE(setCurrentLocaleIdentifier(""));
  ASSERT_TRUE(setCurrentLocaleIdentifier(before));
}

struct Plugin {
  virtual ~Plugin() = default;
  virtual std::string name() const = 0;
};
struct StorePlugin : Plugin {
  std::string name() const override { return "store"; }
};

TEST(ClassRegistry, MakesNewInstancesByName) {
  auto& registry = ClassRegistry<Plugin>::shared();
  registry.reset();
  registry.add<StorePlugin>("PylStorePlugin");
  registry.add("Custom", [] { return std::make_shared<StorePlugin>(); });
  EXPECT_TRUE(registry.contains("PylStorePlugin"));
  auto a = registry.make("PylStorePlugin"), b = registry.make("PylStorePlugin");
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->name(), "store");
  EXPECT_EQ(registry.make("Nope"), nullptr);
  EXPECT_EQ(registry.names(), (std::vector<std::string>{"Custom", "PylStorePlugin"}));
  registry.remove("Custom");
  EXPECT_FALSE(registry.contains("Custom"));
  registry.reset();
}

}  // namespace
}  // namespace pf
