#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <cmath>

#include "platform/ui/Font.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/ui/Path.h"

namespace {

using pf::Color;
using pf::Rect;

TEST(Drawing, PieFromTopClockwiseFillsUpperRightQuadrant) {
  pf::ImageContext ic({40, 40}, false, 1);
  auto& ctx = ic.context();
  ctx.setFillColor(Color::whiteColor());
  ctx.moveTo(20, 20);
  ctx.addArc(20, 20, 18, -M_PI / 2, -M_PI / 2 + 2 * M_PI * 0.25, 0);
  ctx.closePath();
  ctx.fillPath();
  auto img = ic.image();
  EXPECT_TRUE(img->pixel(30, 10).near(Color::whiteColor()));  // upper right
  EXPECT_TRUE(img->pixel(10, 10).isClear());                  // upper left
  EXPECT_TRUE(img->pixel(30, 30).isClear());                  // lower right
  EXPECT_TRUE(img->pixel(10, 30).isClear());
}

TEST(Drawing, ArcFlagOneSweepsTowardsSmallerAngles) {
  pf::ImageContext ic({40, 40}, false, 1);
  auto& ctx = ic.context();
  ctx.setFillColor(Color::whiteColor());
  ctx.moveTo(20, 20);
  ctx.addArc(20, 20, 18, -M_PI / 2, -M_PI, 1);  // from the top to the left, anticlockwise on screen
  ctx.closePath();
  ctx.fillPath();
  auto img = ic.image();
  EXPECT_TRUE(img->pixel(10, 10).near(Color::whiteColor()));
  EXPECT_TRUE(img->pixel(30, 10).isClear());
}

TEST(Drawing, ArcToPointRoundsTheCorner) {
  pf::Path p;
  p.moveTo({0, 10});
  p.addArcToPoint({0, 0}, {10, 0}, 5);
  auto b = p.bounds();
  // Line to (0, 5), then a quarter circle about (5, 5) ending at (5, 0).
  EXPECT_NEAR(p.currentPoint().x, 5, 1e-9);
  EXPECT_NEAR(p.currentPoint().y, 0, 1e-9);
  EXPECT_GE(b.minX(), -1e-9);
}

TEST(Drawing, EvenOddClipLeavesTheRing) {
  pf::ImageContext ic({40, 40}, false, 1);
  auto& ctx = ic.context();
  ctx.addEllipse(Rect(0, 0, 40, 40));
  ctx.addEllipse(Rect(10, 10, 20, 20));
  ctx.clip(pf::FillRule::EvenOdd);
  ctx.setFillColor(Color::red());
  ctx.fillRect(Rect(0, 0, 40, 40));
  auto img = ic.image();
  EXPECT_TRUE(img->pixel(20, 20).isClear());
  EXPECT_TRUE(img->pixel(20, 5).near(Color::red()));
}

TEST(Drawing, BlendModesAndGlobalAlpha) {
  pf::ImageContext ic({10, 10}, false, 1);
  auto& ctx = ic.context();
  ctx.setFillColor(Color::white(0.5));
  ctx.fillRect(Rect(0, 0, 10, 10));
  ctx.setBlendMode(pf::BlendMode::Multiply);
  ctx.setFillColor(Color::white(0.5));
  ctx.fillRect(Rect(0, 0, 5, 10));
  ctx.setBlendMode(pf::BlendMode::Normal);
  ctx.setAlpha(0.5);
  ctx.setFillColor(Color::black());
  ctx.fillRect(Rect(5, 0, 5, 10));
  auto img = ic.image();
  EXPECT_NEAR(img->pixel(2, 5).r, 0.25, 0.01);
  EXPECT_NEAR(img->pixel(7, 5).r, 0.25, 0.01);
}

TEST(Drawing, LinearGradientRunsTopToBottom) {
  pf::ImageContext ic({10, 100}, false, 1);
  auto& ctx = ic.context();
  ctx.drawLinearGradient(pf::Gradient::make({Color::white(1), Color::white(0)}), {0, 0}, {0, 100});
  auto img = ic.image();
  EXPECT_GT(img->pixel(5, 5).r, 0.9);
  EXPECT_NEAR(img->pixel(5, 50).r, 0.5, 0.02);
  EXPECT_LT(img->pixel(5, 95).r, 0.1);
}

// A gradient or an image laid down with a blend mode or an alpha covers the clip's partly
// covered pixels once: column 10 is half inside the clip.
TEST(Drawing, BlendedGradientsAndImagesCoverClipEdgesOnce) {
  auto image = [] {
    pf::ImageContext ic({4, 4}, true, 1);
    ic.context().setFillColor(Color::black());
    ic.context().fillRect(Rect(0, 0, 4, 4));
    return ic.takeImage();
  }();
  for (int kind = 0; kind < 3; ++kind) {
    pf::ImageContext ic({20, 10}, true, 1);
    auto& ctx = ic.context();
    ctx.setFillColor(Color::white(1));
    ctx.fillRect(Rect(0, 0, 20, 10));
    ctx.clipToRect(Rect(0, 0, 10.5, 10));
    if (kind == 0) {
      ctx.setBlendMode(pf::BlendMode::Multiply);
      ctx.drawLinearGradient(pf::Gradient::make({Color::black(), Color::black()}), {0, 0}, {0, 10});
    } else if (kind == 1) {
      ctx.setBlendMode(pf::BlendMode::Darken);
      ctx.drawImage(*image, Rect(0, 0, 20, 10));
    } else {
      ctx.setAlpha(0.5);
      ctx.drawRadialGradient(pf::Gradient::make({Color::black(), Color::black()}), {10, 5}, 0, {10, 5}, 40);
    }
    auto img = ic.takeImage();
    double inside = kind == 2 ? 0.5 : 0.0, edge = kind == 2 ? 0.75 : 0.5;
    EXPECT_NEAR(img->pixel(5, 5).r, inside, 0.01) << kind;
    EXPECT_NEAR(img->pixel(10, 5).r, edge, 0.02) << kind;
    EXPECT_NEAR(img->pixel(15, 5).r, 1.0, 0.01) << kind;
  }
}

// Copy replaces what lies under the whole painted area, the clear parts of the source included.
TEST(Drawing, CopyBlendPaintsTheSourceAlone) {
  pf::ImageContext ic({10, 10}, false, 1);
  auto& ctx = ic.context();
  ctx.setFillColor(Color::red());
  ctx.fillRect(Rect(0, 0, 10, 10));
  ctx.setBlendMode(pf::BlendMode::Copy);
  ctx.drawLinearGradient(pf::Gradient::make({Color::clear(), Color::clear()}), {0, 0}, {0, 10});
  EXPECT_TRUE(ic.takeImage()->pixel(5, 5).isClear());
}

// A clip to a path holds for everything drawn after it, whatever the drawing, until the state it
// was set in is restored; the path being built when drawing starts is not lost to it.
TEST(Drawing, PathClipsHoldUntilRestored) {
  pf::ImageContext ic({40, 40}, false, 1);
  auto& ctx = ic.context();
  auto black = pf::Gradient::make({Color::black(), Color::black()});
  ctx.save();
  ctx.addRect(Rect(0, 0, 20, 40));
  ctx.clip();
  EXPECT_EQ(ctx.clipBoundingBox(), Rect(0, 0, 20, 40));
  ctx.save();
  ctx.drawLinearGradient(black, {0, 0}, {0, 10});
  ctx.restore();
  ctx.setFillColor(Color::red());
  ctx.addRect(Rect(0, 10, 40, 10));
  ctx.setShadow({0, 10}, 0, Color::blue());
  ctx.fillPath();  // clipped, and so is its shadow
  ctx.restore();
  ctx.setFillColor(Color::green());
  ctx.fillRect(Rect(0, 30, 40, 10));  // the clip is gone
  auto img = ic.takeImage();
  EXPECT_TRUE(img->pixel(5, 5).near(Color::black()));
  EXPECT_TRUE(img->pixel(25, 5).isClear());
  EXPECT_TRUE(img->pixel(5, 15).near(Color::red()));
  EXPECT_TRUE(img->pixel(25, 15).isClear());
  EXPECT_TRUE(img->pixel(5, 25).near(Color::blue()));
  EXPECT_TRUE(img->pixel(25, 25).isClear());
  EXPECT_TRUE(img->pixel(35, 35).near(Color::green()));
}

// A rectangle filled under a path clip is cut to the path, whether or not it holds all of it.
TEST(Drawing, RectanglesFillOnlyTheClippedPath) {
  for (Rect fill : {Rect(0, 0, 40, 40), Rect(0, 0, 20, 40)}) {
    pf::ImageContext ic({40, 40}, true, 1);
    auto& ctx = ic.context();
    ctx.setFillColor(Color::white(1));
    ctx.fillRect(Rect(0, 0, 40, 40));
    ctx.addEllipse(Rect(5, 5, 30, 30));
    ctx.clip();
    ctx.setBlendMode(pf::BlendMode::Multiply);
    ctx.setFillColor(Color::white(0.5));
    ctx.fillRect(fill);
    auto img = ic.takeImage();
    EXPECT_NEAR(img->pixel(10, 20).r, 0.5, 0.01);
    EXPECT_NEAR(img->pixel(30, 20).r, fill.width() > 20 ? 0.5 : 1.0, 0.01);
    EXPECT_NEAR(img->pixel(2, 2).r, 1.0, 0.01);
    EXPECT_NEAR(img->pixel(38, 38).r, 1.0, 0.01);
  }
}

TEST(Drawing, ImageContextScaleAndPngRoundTrip) {
  pf::ImageContext ic({10, 5}, false, 2);
  ic.context().setFillColor(Color::rgb(0, 0, 1));
  ic.context().fillRect(Rect(0, 0, 5, 5));
  auto img = ic.image();
  EXPECT_EQ(img->pixelWidth(), 20);
  EXPECT_EQ(img->size(), (pf::Size{10, 5}));
  auto back = pf::Image::fromData(img->pngData());
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->pixel(2, 2).near(Color::rgb(0, 0, 1)));
  EXPECT_TRUE(back->pixel(15, 2).isClear());
}

TEST(Text, MeasuresWithTheBundledFontTheSameEverywhere) {
  auto f = pf::Font::systemFont(16);
  auto one = pf::text::size("Hello", f);
  EXPECT_GT(one.width, 20);
  EXPECT_EQ(one.width, std::ceil(one.width));
  EXPECT_NEAR(one.height, f.lineHeight(), 1.0);
  EXPECT_EQ(pf::text::size("", f), (pf::Size{0, 0}));
  auto cjk = pf::text::size("正在加载...", f);
  EXPECT_GT(cjk.width, 4 * 14);  // four full-width glyphs
  auto wrapped = pf::text::boundingSize("one two three four five six seven eight", f, {80, 1000});
  EXPECT_LE(wrapped.width, 80);
  EXPECT_GT(wrapped.height, 2 * one.height);
  auto limited = pf::text::boundingSize("one two three four five six seven eight", f, {80, one.height * 2});
  EXPECT_LE(limited.height, one.height * 2 + 1);
  // Measured again: the same sizes, each for its own font, width and text.
  EXPECT_EQ(pf::text::size("Hello", f), one);
  EXPECT_GT(pf::text::size("Hello", pf::Font::systemFont(32)).width, one.width);
  EXPECT_LT(pf::text::size("Hell", f).width, one.width);
  EXPECT_EQ(pf::text::boundingSize("one two three four five six seven eight", f, {80, 1000}), wrapped);
  EXPECT_GT(pf::text::boundingSize("one two three four five six seven eight", f, {40, 1000}).height, wrapped.height);
}

// Every text is drawn in the bundled font; what it lacks (the Persian digits dates take under that
// locale) falls to the one fallback font, never to an empty box.
TEST(Text, TheBundledFontComesFirstAndTheFallbackCoversPersianDigits) {
  FcConfig* config = FcConfigCreate();
  ASSERT_TRUE(FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(pf::text::fontConfigPath().c_str()), FcTrue));
  ASSERT_TRUE(FcConfigBuildFonts(config));
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans"));
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcCharSet* covered = nullptr;
  FcFontSet* fonts = FcFontSort(config, pattern, FcTrue, &covered, &result);
  ASSERT_TRUE(fonts && fonts->nfont > 0);
  FcChar8* family = nullptr;
  ASSERT_EQ(FcPatternGetString(fonts->fonts[0], FC_FAMILY, 0, &family), FcResultMatch);
  EXPECT_STREQ(reinterpret_cast<const char*>(family), "WenQuanYi Micro Hei");
  for (FcChar32 c : {FcChar32{0x6F0}, FcChar32{0x6F9}, FcChar32{0x660}, FcChar32{0x66B}, FcChar32{0x5E74}})
    EXPECT_TRUE(FcCharSetHasChar(covered, c)) << std::hex << c;
  FcCharSetDestroy(covered);
  FcFontSetDestroy(fonts);
  FcPatternDestroy(pattern);
  FcConfigDestroy(config);
}

}  // namespace
