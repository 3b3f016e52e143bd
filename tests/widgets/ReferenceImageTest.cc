#include <gtest/gtest.h>

#include <cmath>

#include "WidgetScenes.h"
#include "platform/foundation/Clock.h"
#include "support/TestSupport.h"

namespace {

// Share of pixels that differ by more than 0.1 in any channel.
double differingShare(const pf::Image& a, const pf::Image& b) {
  if (a.pixelWidth() != b.pixelWidth() || a.pixelHeight() != b.pixelHeight()) return 1.0;
  long bad = 0;
  for (int y = 0; y < a.pixelHeight(); ++y)
    for (int x = 0; x < a.pixelWidth(); ++x) {
      pf::Color p = a.pixel(x, y), q = b.pixel(x, y);
      if (std::fabs(p.r - q.r) > 0.1 || std::fabs(p.g - q.g) > 0.1 || std::fabs(p.b - q.b) > 0.1 ||
          std::fabs(p.a - q.a) > 0.1)
        ++bad;
    }
  return static_cast<double>(bad) / (a.pixelWidth() * a.pixelHeight());
}

// Renders kept as references; regenerate with: render_widgets tests/data/ui 2
TEST(ReferenceImages, ScenesStillLookAsReviewed) {
  pf::VirtualTimeScope time;
  for (const char* name :
       {"hud-spinner", "hud-pie", "hud-text", "buttons", "overlay-ring", "overlay-marks", "grid", "gif"}) {
    auto reference = pf::Image::fromFile(fxtest::dataPath(std::string("ui/") + name + ".png"));
    ASSERT_TRUE(reference) << name;
    auto now = scenes::render(name, 2);
    ASSERT_TRUE(now) << name;
    EXPECT_LT(differingShare(*now, *reference), 0.01) << name;
  }
}

}  // namespace
