// The XML wrapper, dotted version numbers, the business file's update marks and the keyed file
// hash of menu and business files (checked byte for byte against the bank server's Python); what
// the start does with files that are FIFOs or were left by killed writes.

#include <gtest/gtest.h>

#include "StartupSupport.h"
#include "container/MwCrashCollect.h"
#include "container/MwVersionCompare.h"

namespace container {
namespace {

TEST(MwXMLDocumentTest, ReadsBuildsAndWritesButRefusesDeclarationsDepthAndBrokenText) {
  pf::Error error;
  auto document = MwXMLDocument::initWithXMLString(
      R"(<?xml version="1.0"?><menus a="1 &amp; 2"><!-- c --><item url="html|a.html"/>text<item/></menus>)", 0, &error);
  ASSERT_TRUE(document);
  auto root = document->rootElement();
  EXPECT_EQ(root->name(), "menus");
  EXPECT_EQ(root->attributeForName("a")->stringValue(), "1 & 2");
  EXPECT_FALSE(root->attributeForName("b"));
  ASSERT_EQ(root->children().size(), 2u);
  EXPECT_EQ(root->children()[0].attributeForName("url")->stringValue(), "html|a.html");

  auto added = root->addChild("item");
  added.addAttribute("url", "<\"quoted\">");
  auto again = MwXMLDocument::initWithXMLString(document->XMLString());
  ASSERT_TRUE(again);
  EXPECT_EQ(again->rootElement()->children()[2].attributeForName("url")->stringValue(), "<\"quoted\">");

  const std::string laugh = R"(<?xml version="1.0"?><!DOCTYPE r [<!ENTITY a "aaaa"><!ENTITY b "&a;&a;&a;">]><r>&b;</r>)";
  const std::string external = R"(<?xml version="1.0"?><!DOCTYPE r SYSTEM "http://127.0.0.1:9/x.dtd"><r/>)";
  std::string deep;
  for (int i = 0; i < 100; ++i) deep += "<a>";
  for (int i = 0; i < 100; ++i) deep += "</a>";
  for (const auto& bad : {laugh, external, deep, std::string("<a><b></a>"), std::string(""), std::string("plain"),
                          std::string(kMwXMLMaxBytes + 1, ' ')}) {
    error = {};
    EXPECT_FALSE(MwXMLDocument::initWithXMLString(bad, 0, &error)) << bad.substr(0, 60);
    EXPECT_EQ(error.domain, kMwXMLErrorDomain);
  }
}

TEST(MwVersionCompareTest, ComparesDottedPartsAsWholeNumbers) {
  struct Case {
    const char* left;
    const char* right;
    int expected;
  };
  for (const auto& c : {Case{"1.0", "1.0", 0}, Case{"1.10", "1.9", 1}, Case{"1.9", "1.10", -1}, Case{"1", "1.0.0", 0},
                        Case{"1.01", "1.1", 0}, Case{"2", "10", -1}, Case{"1.0.1", "1.0", 1}, Case{"", "0", 0},
                        Case{"1.a", "1.0", 0}, Case{"12345678901234567890.1", "12345678901234567890.2", -1},
                        Case{"99999999999999999999", "100000000000000000000", -1}})
    EXPECT_EQ(MwVersionCompare::versionCompare(c.left, c.right), c.expected) << c.left << " vs " << c.right;
}

class ResourceFilesTest : public testing::StartupFixture {};

std::optional<std::string> attribute(const std::string& url, const char* name) {
  auto item = MwBusinessManager::getInstance().getElementByHTMLUrl(url);
  if (!item) return std::nullopt;
  auto value = item->attributeForName(name);
  return value ? std::optional(value->stringValue()) : std::nullopt;
}

TEST_F(ResourceFilesTest, BusinessRefreshMarksNewAndChangedPagesAndKeepsTheMarksInAVerifiedFile) {
  auto& business = MwBusinessManager::getInstance();
  business.refreshBusinessWithHTMLUrl("html|a.html", "");  // nothing for an empty version
  EXPECT_FALSE(business.getElementByHTMLUrl("html|a.html"));

  business.refreshBusinessWithHTMLUrl("html|a.html", "1.0");  // new page
  EXPECT_EQ(attribute("html|a.html", "version"), "1.0");
  EXPECT_EQ(attribute("html|a.html", "update"), "i");

  business.clearUpdateMark("html|a.html");
  business.refreshBusinessWithHTMLUrl("html|a.html", "1.00");  // the same number
  EXPECT_FALSE(attribute("html|a.html", "update"));
  business.refreshBusinessWithHTMLUrl("html|a.html", "1.1");
  EXPECT_EQ(attribute("html|a.html", "version"), "1.1");
  EXPECT_EQ(attribute("html|a.html", "update"), "u");

  // An element without "version" (package facts only) gets it and "i"; one whose version is empty stays.
  business.setPackageFacts("html|b.html", {"b.zip", "AA", "b"});
  business.refreshBusinessWithHTMLUrl("html|b.html", "3");
  EXPECT_EQ(attribute("html|b.html", "version"), "3");
  EXPECT_EQ(attribute("html|b.html", "update"), "i");
  business.getElementByHTMLUrl("html|c.html");
  business.setPackageFacts("html|c.html", {"c.zip", "AA", "c"});
  business.getElementByHTMLUrl("html|c.html")->addAttribute("version", "");
  business.refreshBusinessWithHTMLUrl("html|c.html", "4");
  EXPECT_EQ(attribute("html|c.html", "version"), "");
  EXPECT_FALSE(attribute("html|c.html", "update"));

  // Everything is in the file, which verifies; a tampered file counts as absent.
  MwBusinessManager::resetForTesting();
  EXPECT_EQ(attribute("html|a.html", "update"), "u");
  ASSERT_TRUE(business.packageFacts("html|b.html"));
  EXPECT_EQ(business.packageFacts("html|b.html")->dir, "b");
  auto text = *pf::FileManager::readFile(business.filePath());
  std::string tampered(text.begin(), text.end());
  tampered.replace(tampered.find("1.1"), 3, "9.9");
  ASSERT_TRUE(pf::FileManager::writeFile(business.filePath(), tampered, true));
  MwBusinessManager::resetForTesting();
  EXPECT_FALSE(business.getElementByHTMLUrl("html|a.html"));
}

// A batch holds the writes of its changes back to its end, when the file is written once; the
// pages are found by url, the first item of a url as in the file.
TEST_F(ResourceFilesTest, ABatchWritesTheBusinessFileOnceAtItsEnd) {
  auto& business = MwBusinessManager::getInstance();
  const auto text = MwLicenseKey::signXMLText(
      "<?xml version=\"1.0\"?>\n<business><item url=\"html|a.html\" version=\"1\"/><other url=\"html|b.html\"/>"
      "<item url=\"html|a.html\" version=\"7\"/><item version=\"3\"/><item url=\"\" version=\"4\"/></business>\n",
      kBusinessFileName);
  ASSERT_TRUE(text);
  ASSERT_TRUE(pf::FileManager::createDirectory(release(), true));
  ASSERT_TRUE(pf::FileManager::writeFile(business.filePath(), *text, true));
  MwBusinessManager::resetForTesting();
  EXPECT_EQ(attribute("html|a.html", "version"), "1") << "the first item of the url";
  EXPECT_FALSE(attribute("html|b.html", "version")) << "only items";
  EXPECT_EQ(attribute("", "version"), "4");

  const auto before = *pf::FileManager::readFile(business.filePath());
  business.performBatch([&] {
    business.refreshBusinessWithHTMLUrl("html|a.html", "2");
    business.performBatch([&] { business.refreshBusinessWithHTMLUrl("html|new.html", "1"); });
    business.setPackageFacts("html|new.html", {"new.zip", "AB", "new"});
    business.clearUpdateMark("html|a.html");
    EXPECT_EQ(*pf::FileManager::readFile(business.filePath()), before) << "not written inside the batch";
    EXPECT_EQ(attribute("html|new.html", "update"), "i") << "but changed";
  });
  EXPECT_NE(*pf::FileManager::readFile(business.filePath()), before);
  MwBusinessManager::resetForTesting();
  EXPECT_EQ(attribute("html|a.html", "version"), "2");
  EXPECT_FALSE(attribute("html|a.html", "update"));
  EXPECT_EQ(business.packageFacts("html|new.html")->package, "new.zip");

  // A change that raises still has what changed before it written.
  EXPECT_THROW(business.performBatch([&] {
    business.refreshBusinessWithHTMLUrl("html|c.html", "5");
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  MwBusinessManager::resetForTesting();
  EXPECT_EQ(attribute("html|c.html", "update"), "i");

  // An element whose url was changed in hand is looked up afresh.
  business.getElementByHTMLUrl("html|a.html")->addAttribute("url", "html|moved.html");
  EXPECT_EQ(attribute("html|a.html", "version"), "7");
  EXPECT_EQ(attribute("html|moved.html", "version"), "2");
}

TEST_F(ResourceFilesTest, KeyedFileHashAgreesWithPythonAndATamperedMenuCountsAsAbsent) {
  const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- menu -->\n<menus v=\"1\"><item id=\"1\" "
                           "url=\"html|trade/order.html\" version=\"1.0\"/><item id=\"2\" url=\"html|中文.html\"/></menus>\n";
  for (const char* name : {"menu.xml", "business.xml"}) {
    auto python = testing::control(*server, {{"sign", {{"name", name}, {"text", text}}}})["text"].get<std::string>();
    EXPECT_EQ(MwLicenseKey::signXMLText(text, name), python) << name;
    EXPECT_TRUE(MwLicenseKey::verifyXMLText(python, name));
  }
  auto signedMenu = *MwLicenseKey::signXMLText(text, "menu.xml");
  EXPECT_FALSE(MwLicenseKey::verifyXMLText(signedMenu, "business.xml")) << "the key is the file's own";

  // The menu loads, saves back with a hash that verifies, and fails once one byte changes.
  auto& menus = MwMenusManager::getInstance();
  ASSERT_TRUE(menus.replaceMenuWithVerifiedText(signedMenu));
  menus.menuRootElement()->children()[0].addAttribute("version", "2.0");
  ASSERT_TRUE(menus.saveMenusXMLFile());
  ASSERT_TRUE(menus.loadMenuFile());
  EXPECT_EQ(menus.menuRootElement()->children()[0].attributeForName("version")->stringValue(), "2.0");

  auto saved = *pf::FileManager::readFile(menus.menuFilePath());
  std::string tampered(saved.begin(), saved.end());
  tampered.replace(tampered.find("2.0"), 3, "2.1");
  ASSERT_TRUE(pf::FileManager::writeFile(menus.menuFilePath(), tampered, true));
  EXPECT_FALSE(menus.loadMenuFile());
  EXPECT_FALSE(menus.menuRootElement());
  EXPECT_FALSE(menus.replaceMenuWithVerifiedText(tampered));
  EXPECT_FALSE(MwLicenseKey::verifyXMLText(text, "menu.xml")) << "no hash at all";
  auto moved = signedMenu;
  moved.replace(moved.find("<menus hash"), 11, "<menus  hash");
  EXPECT_FALSE(MwLicenseKey::verifyXMLText(moved, "menu.xml")) << "only the written placement verifies";

  // A tampered menu file at start-up: data not prepared.
  auto listener = std::make_shared<testing::RecordingListener>(std::vector{MwFrameworkDelegate::Operation::DataPrepared});
  MwFramework::getInstance().addListener(listener);
  MwFramework::getInstance().initialization();
  ASSERT_TRUE(waitForEvents(*listener, 1));
  EXPECT_EQ(listener->events, std::vector<std::string>{"data:1"});
  MwFramework::getInstance().waitForStartupForTesting();
}

// A write of the business file that fails (here: past a file size limit) is the failure of the
// step that made it: the change answers false, the file stays byte for byte and the manager
// answers what the file holds; a page whose mark cannot go counts as not installed; the file-list
// check answers 1.
TEST_F(ResourceFilesTest, AFailedBusinessWriteIsTheStepsFailureAndLeavesTheFileAsItWas) {
  auto& business = MwBusinessManager::getInstance();
  const auto hash = testing::control(*server, {{"package", {{"name", "p.zip"}, {"files", {{"p.html", "page"}}}}}})["hash"];
  ASSERT_TRUE(business.performBatch([&] {
    for (int i = 0; i < 150; ++i) business.refreshBusinessWithHTMLUrl("html|filler" + std::to_string(i) + ".html", "1");
    business.refreshBusinessWithHTMLUrl("html|p.html", "1");
    business.setPackageFacts("html|p.html", {"p.zip", hash.get<std::string>(), "p"});
  }));
  const auto before = *pf::FileManager::readFile(business.filePath());
  ASSERT_GT(before.size(), 8192u);
  {
    fxtest::FileSizeLimit limit(4096);
    EXPECT_FALSE(business.refreshBusinessWithHTMLUrl("html|new.html", "1"));
    EXPECT_FALSE(business.getElementByHTMLUrl("html|new.html"));
    EXPECT_FALSE(business.setPackageFacts("html|filler1.html", {"f.zip", "AA", "f"}));
    EXPECT_FALSE(business.packageFacts("html|filler1.html"));
    EXPECT_FALSE(business.performBatch([&] { business.refreshBusinessWithHTMLUrl("html|filler2.html", "2"); }));
    EXPECT_EQ(attribute("html|filler2.html", "version"), "1");
    EXPECT_EQ(MwMenusManager::getInstance().downloadAndInstall("html|p.html"), 1);
    EXPECT_TRUE(pf::FileManager::fileExists(release() / "p" / "p.html")) << "installed, but still marked";
    EXPECT_EQ(attribute("html|p.html", "update"), "i");
  }
  EXPECT_EQ(*pf::FileManager::readFile(business.filePath()), before);
  EXPECT_TRUE(log.contains("business file not written, its changes are dropped"));

  testing::control(*server, {{"files", {{{"url", "html|filler3.html"}, {"version", "5"}}}}});
  auto listener = std::make_shared<testing::RecordingListener>(std::vector{MwFrameworkDelegate::Operation::CheckManifest});
  MwFramework::getInstance().addListener(listener);
  {
    fxtest::FileSizeLimit limit(4096);
    MwFramework::getInstance().initialization();
    ASSERT_TRUE(waitForEvents(*listener, 1));
  }
  EXPECT_EQ(listener->events, std::vector<std::string>{"files:1"});
  EXPECT_EQ(attribute("html|filler3.html", "version"), "1");
  EXPECT_EQ(*pf::FileManager::readFile(business.filePath()), before);

  // With room again the same steps go through.
  EXPECT_TRUE(business.clearUpdateMark("html|p.html"));
  EXPECT_TRUE(business.refreshBusinessWithHTMLUrl("html|filler3.html", "5"));
  MwBusinessManager::resetForTesting();
  EXPECT_EQ(attribute("html|filler3.html", "update"), "u");
  EXPECT_FALSE(attribute("html|p.html", "update"));
}

// A FIFO where the container keeps a file (menu, business file, the key file) counts as absent at
// once: none is opened for a blocking read. Were one read, its feeder would hand it a valid file.
TEST_F(ResourceFilesTest, FifosWhereFilesBelongCountAsAbsentAndNeverStallTheStart) {
  ASSERT_TRUE(pf::FileManager::createDirectory(release(), true));
  auto& menus = MwMenusManager::getInstance();
  fxtest::FifoFeeder menu(menus.menuFilePath(),
                          *MwLicenseKey::signXMLText("<menus><item id=\"1\" url=\"html|a.html\"/></menus>", "menu.xml"));
  fxtest::FifoFeeder business(MwBusinessManager::getInstance().filePath(),
                              *MwLicenseKey::signXMLText("<business><item url=\"html|a.html\" version=\"1\"/></business>",
                                                         kBusinessFileName));
  EXPECT_FALSE(menus.loadMenuFile());
  EXPECT_FALSE(MwBusinessManager::getInstance().getElementByHTMLUrl("html|a.html"));

  fxtest::TempDir keys;
  fxtest::FifoFeeder key(keys / "mwframework_license", "a key file's bytes");
  MwLicenseKey::setKeyDirectoryForTesting(keys.path());
  EXPECT_EQ(MwLicenseKey::keyForName("menu.xml"), std::nullopt);
  MwLicenseKey::setKeyDirectoryForTesting(testing::testKeys());
}

// A write killed before its rename leaves its temporary file beside the target; the start removes
// those of the framework's own files, each with a log line, and nothing that only looks alike:
// other names' temporary files, hand-made copies, folders and links.
TEST_F(ResourceFilesTest, TheStartRemovesWhatKilledWritesLeftAndNothingElse) {
  const auto crash = MwCrashCollect::reportFolder();
  ASSERT_TRUE(pf::FileManager::createDirectory(release(), true));
  ASSERT_TRUE(pf::FileManager::createDirectory(crash, true));
  const std::vector<std::filesystem::path> leftovers{
      release() / ".business.xml.write-AbC123", release() / ".menu.xml.write-x9Y8z7",
      release() / ".resource.json.write-000000", crash / ".report-17-0.json.write-abcdef",
      crash / ".report--5-12.json.write-ZZZZZZ"};
  const std::vector<std::filesystem::path> others{
      release() / "business.xml",                release() / ".business.xml.backup",
      release() / ".menu.xml.before",            release() / ".business.xml.AbC123",
      release() / ".business.xml.write-AbC12",   release() / ".business.xml.write-AbC12-",
      release() / "business.xml.write-AbC123",   release() / ".index.html.write-AbC123",
      release() / ".business.xml.write-AbC1234", crash / ".notes.json.write-abcdef",
      crash / "report-17-1.json",                crash / ".report-notes.json.backup",
      crash / ".report-notes.json.write-abcdef", crash / ".report-17.json.write-abcdef",
      crash / ".report-17-0.json.bak.write-abcdef"};
  for (const auto& file : leftovers) ASSERT_TRUE(pf::FileManager::writeFile(file, "part of a write", false));
  for (const auto& file : others) ASSERT_TRUE(pf::FileManager::writeFile(file, "kept", false));
  ASSERT_TRUE(pf::FileManager::createDirectory(release() / ".menu.xml.write-FOLDER", false));
  std::filesystem::create_symlink(release() / "business.xml", release() / ".business.xml.write-L1NKED");

  MwFramework::getInstance().unpackResources();
  for (const auto& file : leftovers) EXPECT_FALSE(pf::FileManager::fileExists(file)) << file;
  for (const auto& file : others) EXPECT_TRUE(pf::FileManager::fileExists(file)) << file;
  EXPECT_TRUE(pf::FileManager::isDirectory(release() / ".menu.xml.write-FOLDER"));
  EXPECT_TRUE(std::filesystem::is_symlink(release() / ".business.xml.write-L1NKED"));
  for (const auto& file : leftovers)
    EXPECT_TRUE(log.contains("removed " + file.string() + ", the temporary file of an interrupted write")) << file;
}

}  // namespace
}  // namespace container
