// "screenoperation.do": the page's picture, with the native views laid into its scroll view, is
// written at the screen's scale and read back by another PNG reader; failures leave the old file.

#include <gtest/gtest.h>

#include <fstream>

#include "PluginPageSupport.h"
#include "app/FileController.h"
#include "app/PylScreenPlugin.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ScrollView.h"

namespace app {
namespace {

using plugintest::PluginPage;

class ScreenPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::Sandbox::setHome(home.path());
    FileController::resetForTesting();
    pf::Screen::main()->reset();
    plugintest::registerBuiltInPlugins();
  }
  void TearDown() override {
    container::MwServletManager::resetForTesting();
    FileController::resetForTesting();
    pf::Sandbox::setHome({});
  }
  std::string shotPath() const { return (home.path() / "Library/Caches/screenShot/screenShot.png").string(); }
  // What python3-pil reads of the picture: "<width> <height> <r,g,b,a at the pixel>".
  static std::string pilReads(const std::string& path, int x, int y) {
    fxtest::ChildProcess pil({fxtest::kPython, "-c",
                              "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1]).convert('RGBA')\n"
                              "print(im.size[0], im.size[1], ','.join(map(str, im.getpixel((int(sys.argv[2]), "
                              "int(sys.argv[3]))))))",
                              path, std::to_string(x), std::to_string(y)});
    return pil.readLine(15000).value_or("(nothing)");
  }

  pf::LogCapture quiet;
  fxtest::TempDir home;
};

TEST_F(ScreenPluginTest, PictureOfThePageWithItsNativeViews) {
  PluginPage page;
  auto marker = std::make_shared<pf::View>(pf::Rect(10, 300, 50, 40));
  marker->setBackgroundColor(pf::Color::rgb(1, 0, 0));
  page.page->scrollView()->insertSubview(marker, 1);

  auto answers = page.call("screenoperation.do", "screenShot", "{}");
  // The page's callback ends with the first answer; the second, empty one is seen natively below.
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0]["data"], (pf::Value{{"success", "screenSuccess"}, {"filePath", shotPath()}}));
  EXPECT_EQ(pilReads(shotPath(), 35 * 2, 320 * 2), "750 1334 255,0,0,255");
  EXPECT_EQ(pilReads(shotPath(), 5 * 2, 320 * 2), "750 1334 255,255,255,255");

  // Each picture replaces the previous one; another operation answers once, empty.
  marker->setBackgroundColor(pf::Color::rgb(0, 0, 1));
  page.call("screenoperation.do", "screenShot", "{}");
  EXPECT_EQ(pilReads(shotPath(), 35 * 2, 320 * 2), "750 1334 0,0,255,255");
  auto other = page.call("screenoperation.do", "record", "{}");
  ASSERT_EQ(other.size(), 1u);
  EXPECT_FALSE(other[0].contains("data"));
}

TEST_F(ScreenPluginTest, FailuresAnswerFailureAndKeepTheOldPicture) {
  PluginPage empty(pf::Rect(0, 0, 0, 0));
  auto answers = empty.call("screenoperation.do", "screenShot", "{}");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0]["data"], (pf::Value{{"success", "failure"}})) << "empty bounds";

  PluginPage huge(pf::Rect(0, 0, 100000, 100000));
  EXPECT_EQ(huge.call("screenoperation.do", "screenShot", "{}").at(0)["data"], (pf::Value{{"success", "failure"}}))
      << "a size the bitmap refuses";

  // A folder where the picture should go: the write fails and the folder stays.
  std::filesystem::create_directories(shotPath());
  PluginPage page;
  EXPECT_EQ(page.call("screenoperation.do", "screenShot", "{}").at(0)["data"], (pf::Value{{"success", "failure"}}));
  EXPECT_TRUE(std::filesystem::is_directory(shotPath()));

  // A file where the folder should be: no path at all.
  std::filesystem::remove_all(home.path() / "Library/Caches/screenShot");
  std::ofstream((home.path() / "Library/Caches/screenShot").string()) << "x";
  ScreenPlugin plugin;
  EXPECT_EQ(plugin.screenShotPath(), "");
  plugintest::DirectCall call(plugin, "screenoperation.do", "screenShot", nullptr, page.page);
  ASSERT_EQ(call.data().size(), 2u);
  EXPECT_EQ(call.data()[0], (pf::Value{{"success", "failure"}}));
  EXPECT_EQ(call.recorder->answers[1].result, (pf::Value{{"result", 0}})) << "a second, empty answer";
  EXPECT_EQ(call.recorder->unregistered, (std::vector<std::string>{"direct1", "direct1"}));
}

}  // namespace
}  // namespace app
