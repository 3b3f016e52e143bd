#include <gtest/gtest.h>

#include "WidgetScenes.h"
#include "platform/foundation/Clock.h"
#include "support/ImageCompare.h"
#include "support/TestSupport.h"

namespace {

// Renders kept as references; regenerate with: render_widgets tests/data/ui 2
TEST(ReferenceImages, ScenesStillLookAsReviewed) {
  pf::VirtualTimeScope time;
  for (const char* name :
       {"hud-spinner", "hud-pie", "hud-text", "buttons", "overlay-ring", "overlay-marks", "grid", "gif"}) {
    auto reference = pf::Image::fromFile(fxtest::dataPath(std::string("ui/") + name + ".png"));
    ASSERT_TRUE(reference) << name;
    auto now = scenes::render(name, 2);
    ASSERT_TRUE(now) << name;
    EXPECT_LT(fxtest::differingShare(*now, *reference), 0.01) << name;
  }
}

}  // namespace
