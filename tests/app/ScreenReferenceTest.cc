#include <gtest/gtest.h>

#include <cmath>

#include "ScreenScenes.h"
#include "support/ImageCompare.h"
#include "support/TestSupport.h"

namespace {

using fxtest::differingShare;

void expectColor(const pf::Image& image, pf::Point p, int hex, const char* what) {
  pf::Color c = image.colorAt(p);
  EXPECT_NEAR(c.r, ((hex >> 16) & 0xff) / 255.0, 0.02) << what;
  EXPECT_NEAR(c.g, ((hex >> 8) & 0xff) / 255.0, 0.02) << what;
  EXPECT_NEAR(c.b, (hex & 0xff) / 255.0, 0.02) << what;
}

// Renders kept as references; regenerate with: render_screens tests/data/ui 2
TEST(ScreenImages, ScreensStillLookAsReviewed) {
  for (const auto& name : screens::names()) {
    auto reference = pf::Image::fromFile(fxtest::dataPath("ui/" + name + ".png"));
    ASSERT_TRUE(reference) << name;
    auto now = screens::render(name, 2, FX_APP_IMAGES);
    ASSERT_TRUE(now) << name;
    EXPECT_LT(differingShare(*now, *reference), 0.01) << name;
  }
}

TEST(ScreenImages, BarMarksGreysAndTheDisabledChooseButton) {
  auto list = screens::render("watchlist", 2, FX_APP_IMAGES);
  ASSERT_TRUE(list);
  expectColor(*list, {200, 5}, 0xdb2e2e, "red bar");
  expectColor(*list, {1, 64 + 22}, 0x2e83ee, "first mark");
  expectColor(*list, {1, 64 + 44 + 3 * 44 + 22}, 0xff8320, "second mark");
  expectColor(*list, {1, 64 + 2 * 44 + 3 * 44 + 22}, 0x1bac41, "third mark");
  expectColor(*list, {200, 64 + 44 + 10}, 0xf5f5f5, "row grey");
  expectColor(*list, {19, 64 + 44 + 22 - 6}, 0xff3b30, "delete control");
  auto search = screens::render("search", 2, FX_APP_IMAGES);
  ASSERT_TRUE(search);
  // "USD 美元" is a favourite: its button shows the grey "cut" disc (ring at the left of centre).
  pf::Color ring = search->colorAt({375 - 40 - 10, 64 + 44 + 22});
  EXPECT_NEAR(ring.r, 0xc8 / 255.0, 0.08);
  EXPECT_NEAR(ring.b, 0xc8 / 255.0, 0.08);
  expectColor(*search, {20, 667 - 100}, 0xd1d5db, "keyboard");
}

}  // namespace
