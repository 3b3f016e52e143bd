#include <gtest/gtest.h>

#include "platform/ui/Font.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"

namespace {

using pf::Color;
using pf::Font;

TEST(Paragraph, MeasuresOnceDrawsItsRunsAndFindsCharacters) {
  const std::string text = "black RED black";
  pf::text::Paragraph single(text, Font::systemFont(16), 1000, {{6, 9, Font::systemFont(16), Color::red()}});
  // The same size as the one-shot measurement, not rounded.
  pf::Size once = pf::text::boundingSizeExact(text, Font::systemFont(16), {1000, 0});
  EXPECT_DOUBLE_EQ(single.size().width, once.width);
  EXPECT_DOUBLE_EQ(single.size().height, once.height);

  pf::text::Paragraph wrapped(text, Font::systemFont(16), 40);
  EXPECT_GT(wrapped.size().height, 2 * single.size().height);
  EXPECT_LE(wrapped.size().width, 40);

  // The run is drawn red, the rest in the paragraph's colour.
  pf::ImageContext ic({200, 30}, false, 1);
  single.draw(ic.context(), {0, 0}, Color::blue());
  auto img = ic.image();
  int red = 0, blue = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 200; ++x) {
      Color c = img->pixel(x, y);
      red += c.a > 0.5 && c.r > 0.6 && c.b < 0.3;
      blue += c.a > 0.5 && c.b > 0.6 && c.r < 0.3;
    }
  EXPECT_GT(red, 20);
  EXPECT_GT(blue, 20);

  // Byte indexes under points: the first character, one inside the run, nothing outside.
  EXPECT_EQ(single.indexAt({1, 5}), 0u);
  auto inRun = single.indexAt({pf::text::size("black R", Font::systemFont(16)).width - 2, 5});
  ASSERT_TRUE(inRun);
  EXPECT_GE(*inRun, 6u);
  EXPECT_LT(*inRun, 9u);
  EXPECT_FALSE(single.indexAt({1, single.size().height + 5}));
  EXPECT_FALSE(single.indexAt({-1, 5}));
  // Runs out of range are ignored, not trusted.
  pf::text::Paragraph odd("ab", Font::systemFont(16), 100, {{1, 99, Font::boldSystemFont(20), Color::red()}, {2, 1, Font::systemFont(16), Color::red()}});
  EXPECT_GT(odd.size().width, 0);
}

TEST(Paragraph, ClipBoundingBoxFollowsClipAndTransform) {
  pf::ImageContext ic({100, 80}, false, 2);
  auto& ctx = ic.context();
  EXPECT_EQ(ctx.clipBoundingBox(), pf::Rect(0, 0, 100, 80));
  ctx.save();
  ctx.translate(10, 20);
  ctx.clipToRect(pf::Rect(0, 0, 30, 30));
  EXPECT_EQ(ctx.clipBoundingBox(), pf::Rect(0, 0, 30, 30));
  ctx.translate(5, 0);
  EXPECT_EQ(ctx.clipBoundingBox(), pf::Rect(-5, 0, 30, 30));
  ctx.restore();
  EXPECT_EQ(ctx.clipBoundingBox(), pf::Rect(0, 0, 100, 80));
}

}  // namespace
