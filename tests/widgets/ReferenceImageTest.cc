#include <gtest/gtest.h>

#include <cmath>

#include "WidgetScenes.h"
#include "platform/foundation/Clock.h"
#include "support/ImageCompare.h"
#include "support/TestSupport.h"

namespace {

using fxtest::differingShare;

// Renders kept as references; regenerate with: render_widgets tests/data/ui 2
TEST(ReferenceImages, ScenesStillLookAsReviewed) {
  pf::VirtualTimeScope time;
  for (const char* name : {"hud-spinner", "hud-pie", "hud-text", "buttons"}) {
    auto reference = pf::Image::fromFile(fxtest::dataPath(std::string("ui/") + name + ".png"));
    ASSERT_TRUE(reference) << name;
    auto now = scenes::render(name, 2);
    ASSERT_TRUE(now) << name;
    EXPECT_LT(differingShare(*now, *reference), 0.01) << name;
  }
}

}  // namespace
