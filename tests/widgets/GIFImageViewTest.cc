#include <gtest/gtest.h>

#include <gif_lib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "GifTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Image.h"
#include "support/TestSupport.h"
#include "widgets/TnqGIFImageView.h"

namespace {

using giftest::GifWriter;
using widgets::TnqGIFImageView;

bool near(const pf::Color& a, const pf::Color& b, double tolerance = 0.02) {
  return std::fabs(a.r - b.r) <= tolerance && std::fabs(a.g - b.g) <= tolerance && std::fabs(a.b - b.b) <= tolerance &&
         std::fabs(a.a - b.a) <= tolerance;
}

const pf::Color kRedPixel = pf::Color::rgb(1, 0, 0), kGreenPixel = pf::Color::rgb(0, 1, 0),
                kWhitePixel = pf::Color::rgb(1, 1, 1), kClear = pf::Color{0, 0, 0, 0};

// One frame filling a w x h screen of red and green with the given index.
pf::Bytes oneFrame(int w, int h, int delay, int index) {
  GifWriter g;
  g.screen(w, h, {giftest::kRed, giftest::kGreen});
  g.control(1, delay);
  g.filled(0, 0, std::min(w, 2), std::min(h, 2), index);
  g.trailer();
  return g.bytes;
}

// A 4 x 4 white screen, then a red and a green 2 x 2 square with the given disposals.
pf::Bytes twoSquares(int firstDisposal, int secondDisposal = 1) {
  GifWriter g;
  g.screen(4, 4, {giftest::kWhite, giftest::kRed, giftest::kGreen, giftest::kBlue});
  g.control(1, 10);
  g.filled(0, 0, 4, 4, 0);
  g.control(firstDisposal, 20);
  g.filled(0, 0, 2, 2, 1);
  g.control(secondDisposal, 30);
  g.filled(2, 2, 2, 2, 2);
  g.trailer();
  return g.bytes;
}

TEST(GIFImageView, FramesCarryTheirControlBlocksAndPlayWithTheirDelays) {
  pf::VirtualTimeScope time;
  auto view = TnqGIFImageView::initWithGIFData(twoSquares(1));
  ASSERT_TRUE(view);
  const auto& frames = view->GIF_frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[1]->area, pf::Rect(0, 0, 2, 2));
  EXPECT_EQ(frames[2]->area, pf::Rect(2, 2, 2, 2));
  EXPECT_EQ(frames[2]->delay, 30);
  EXPECT_EQ(frames[1]->disposalMethod, 1);
  EXPECT_EQ(frames[1]->header, (pf::Bytes{0x21, 0xF9, 0x04, 0x04, 20, 0, 0, 0}));
  EXPECT_TRUE(view->isAnimating());
  EXPECT_EQ(view->animationImages().size(), 3u);
  EXPECT_NEAR(view->animationDuration(), 0.6, 1e-9);
  EXPECT_EQ(view->animationRepeatCount(), 0);
  EXPECT_EQ(view->image(), view->animationImages().front());
  // Each cut frame is a GIF of its own: the screen, the global table, the control block, the image.
  auto data = view->getFrameAsDataAtIndex(1);
  ASSERT_TRUE(data);
  EXPECT_TRUE(TnqGIFImageView::isGifImage(*data));
  EXPECT_EQ((*data)[10], 0x80 | 0x70 | 1);
  EXPECT_EQ(data->back(), 0x3B);
  auto image = view->getFrameAsImageAtIndex(1);
  ASSERT_TRUE(image);
  EXPECT_TRUE(near(image->pixel(0, 0), kRedPixel));
  EXPECT_FALSE(view->getFrameAsImageAtIndex(3));
  EXPECT_FALSE(view->getFrameAsDataAtIndex(-1));

  // Composed frames keep what the earlier frames left.
  const auto& composed = view->animationImages();
  EXPECT_TRUE(near(composed[2]->pixel(0, 0), kRedPixel));
  EXPECT_TRUE(near(composed[2]->pixel(3, 3), kGreenPixel));
  EXPECT_TRUE(near(composed[2]->pixel(3, 0), kWhitePixel));

  // A zero delay plays as ten hundredths.
  auto zero = TnqGIFImageView::initWithGIFData(oneFrame(2, 2, 0, 0));
  ASSERT_TRUE(zero);
  EXPECT_NEAR(zero->animationDuration(), 0.1, 1e-9);
  EXPECT_EQ(zero->GIF_frames()[0]->delay, 10);
}

TEST(GIFImageView, DisposalClearsOrRestoresTheFrameArea) {
  pf::VirtualTimeScope time;
  auto background = TnqGIFImageView::initWithGIFData(twoSquares(2));
  ASSERT_TRUE(background);
  auto frames = background->animationImages();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_TRUE(near(frames[1]->pixel(1, 1), kRedPixel));
  EXPECT_TRUE(near(frames[2]->pixel(1, 1), kClear)) << "disposal 2 leaves the area transparent";
  EXPECT_TRUE(near(frames[2]->pixel(3, 0), kWhitePixel));

  auto previous = TnqGIFImageView::initWithGIFData(twoSquares(3));
  ASSERT_TRUE(previous);
  frames = previous->animationImages();
  EXPECT_TRUE(near(frames[1]->pixel(1, 1), kRedPixel));
  EXPECT_TRUE(near(frames[2]->pixel(1, 1), kWhitePixel)) << "disposal 3 brings back the canvas before the frame";
  EXPECT_TRUE(near(frames[2]->pixel(3, 3), kGreenPixel));

  // The first frame's disposal holds too: its area is cleared, or the clear screen comes back,
  // before the second frame is drawn; kept, it stays under the second.
  for (int disposal : {1, 2, 3}) {
    GifWriter g;
    g.screen(4, 4, {giftest::kWhite, giftest::kRed, giftest::kGreen, giftest::kBlue});
    g.control(disposal, 10);
    g.filled(0, 0, 2, 4, 1);
    g.control(1, 10);
    g.filled(2, 2, 2, 2, 2);
    g.trailer();
    auto view = TnqGIFImageView::initWithGIFData(g.bytes);
    ASSERT_TRUE(view);
    frames = view->animationImages();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(near(frames[0]->pixel(0, 3), kRedPixel));
    EXPECT_TRUE(near(frames[0]->pixel(3, 3), kClear));
    EXPECT_TRUE(near(frames[1]->pixel(0, 3), disposal == 1 ? kRedPixel : kClear)) << disposal;
    EXPECT_TRUE(near(frames[1]->pixel(3, 3), kGreenPixel));
  }
}

TEST(GIFImageView, ColourTablesAndInterlaceInTheCutFrames) {
  pf::VirtualTimeScope time;
  GifWriter g;
  g.screen(2, 2, {giftest::kRed, giftest::kGreen});
  g.control(1, 10);
  g.filled(0, 0, 2, 2, 0);
  g.control(1, 10);
  g.image(0, 0, 2, 2, {1, 1, 1, 1}, true, {giftest::kBlue, giftest::kWhite, 0, 0}, 1);
  g.trailer();
  auto view = TnqGIFImageView::initWithGIFData(g.bytes);
  ASSERT_TRUE(view);
  ASSERT_EQ(view->GIF_frames().size(), 2u);
  const pf::Bytes& global = view->GIF_frames()[0]->data;
  const pf::Bytes& local = view->GIF_frames()[1]->data;
  // The global table of the cut frame is the frame's local one.
  EXPECT_EQ(pf::Bytes(global.begin() + 13, global.begin() + 19), (pf::Bytes{0xFF, 0, 0, 0, 0xFF, 0}));
  EXPECT_EQ(pf::Bytes(local.begin() + 13, local.begin() + 19), (pf::Bytes{0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  // The descriptor keeps only the interlace bit.
  std::size_t descriptor = 13 + 12 + 8;
  EXPECT_EQ(local[descriptor], 0x2C);
  EXPECT_EQ(local[descriptor + 9], 0x40);
  EXPECT_TRUE(near(view->animationImages()[1]->pixel(0, 0), kWhitePixel));

  // With no colour table at all the cut frame says it has none.
  GifWriter bare;
  bare.screen(2, 2);
  bare.control(0, 10);
  bare.filled(0, 0, 2, 2, 0);
  bare.trailer();
  auto none = TnqGIFImageView::initWithGIFData(bare.bytes);
  ASSERT_TRUE(none);
  ASSERT_EQ(none->GIF_frames().size(), 1u);
  const pf::Bytes& cut = none->GIF_frames()[0]->data;
  EXPECT_EQ(cut[10] & 0x80, 0);
  EXPECT_EQ(cut[13], 0x21);
}

// An interlaced frame written by giflib's encoder keeps its rows in place.
TEST(GIFImageView, InterlacedFramesFromGiflib) {
  pf::VirtualTimeScope time;
  const int w = 6, h = 11;
  const GifColorType colours[4] = {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  giftest::GiflibWriter gif(w, h, colours);
  gif.frame(1, 7, 0, 0, w, h, true);
  // The encoder takes the rows in the order of the four interlace passes.
  const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = starts[pass]; y < h; y += steps[pass]) {
      std::vector<GifPixelType> row(w, static_cast<GifPixelType>(1 + y % 3));
      gif.line(row);
    }
  const pf::Bytes out = gif.finish();
  ASSERT_FALSE(out.empty());

  auto view = TnqGIFImageView::initWithGIFData(out);
  ASSERT_TRUE(view);
  ASSERT_EQ(view->GIF_frames().size(), 1u);
  const pf::Bytes& cut = view->GIF_frames()[0]->data;
  EXPECT_EQ(cut[13 + 12 + 8 + 9], 0x40) << "the interlace bit stays";
  const pf::Color expected[] = {kRedPixel, kGreenPixel, pf::Color::rgb(0, 0, 1)};
  for (int y = 0; y < h; ++y) EXPECT_TRUE(near(view->image()->pixel(3, y), expected[y % 3])) << y;
}

TEST(GIFImageView, ExtensionsAreSkippedByTheirBlocks) {
  pf::VirtualTimeScope time;
  GifWriter g;
  g.screen(2, 2, {giftest::kRed, giftest::kGreen});
  // A loop count of 15104 holds the bytes 0x00 0x3B; a comment holds a zero, a trailer and F9 04.
  g.raw({0x21, 0xFF, 0x0B});
  g.text("NETSCAPE2.0");
  g.raw({0x03, 0x01, 0x00, 0x3B, 0x00});
  g.comment(std::string("ab\0;cd\xF9\x04", 8));
  g.control(1, 10);
  g.filled(0, 0, 2, 2, 0);
  // A control block without an image makes no frame.
  g.control(1, 10);
  g.filled(0, 0, 1, 1, 1);
  g.control(1, 40);
  g.trailer();
  auto view = TnqGIFImageView::initWithGIFData(g.bytes);
  ASSERT_TRUE(view);
  ASSERT_EQ(view->GIF_frames().size(), 2u);
  EXPECT_EQ(view->GIF_frames()[1]->area, pf::Rect(0, 0, 1, 1));
  EXPECT_NEAR(view->animationDuration(), 0.2, 1e-9);
  EXPECT_TRUE(near(view->animationImages()[1]->pixel(1, 1), kRedPixel));
}

TEST(GIFImageView, AnImageWithoutItsOwnControlBlockIsAFrameWithDelayZero) {
  pf::VirtualTimeScope time;
  GifWriter g;
  g.screen(2, 2, {giftest::kRed, giftest::kGreen});
  g.filled(0, 0, 2, 2, 0);  // the first frame, as common encoders write it
  g.control(1, 20);
  g.filled(0, 0, 1, 1, 1);
  g.filled(1, 1, 1, 1, 1);  // and one between two others
  g.control(1, 30);
  g.filled(1, 0, 1, 1, 1);
  g.trailer();
  auto view = TnqGIFImageView::initWithGIFData(g.bytes);
  ASSERT_TRUE(view);
  const auto& frames = view->GIF_frames();
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0]->header, (pf::Bytes{0x21, 0xF9, 0x04, 0, 0, 0, 0, 0}));
  EXPECT_EQ(frames[0]->disposalMethod, 0);
  EXPECT_EQ(frames[0]->delay, 10);  // 0 plays as 10
  EXPECT_EQ(frames[2]->area, pf::Rect(1, 1, 1, 1));
  EXPECT_NEAR(view->animationDuration(), (10 + 20 + 10 + 30) / 100.0, 1e-9);
  const auto& composed = view->animationImages();
  ASSERT_EQ(composed.size(), 4u);
  EXPECT_TRUE(near(composed[0]->pixel(1, 1), kRedPixel));
  EXPECT_TRUE(near(composed[2]->pixel(1, 1), kGreenPixel));
  EXPECT_TRUE(near(composed[3]->pixel(0, 1), kRedPixel));
  EXPECT_TRUE(near(composed[3]->pixel(1, 0), kGreenPixel));
}

// A frame whose data codes fewer pixels than its rectangle leaves the rest of the canvas alone.
TEST(GIFImageView, AShortFrameLeavesTheCanvasAsItWas) {
  pf::VirtualTimeScope time;
  GifWriter g;
  g.screen(2, 2, {giftest::kRed, giftest::kGreen, giftest::kBlue});
  g.control(1, 10);
  g.filled(0, 0, 2, 2, 1);
  g.control(1, 10);
  g.image(0, 0, 2, 2, {2, 2});  // the first row only
  g.trailer();
  auto view = TnqGIFImageView::initWithGIFData(g.bytes);
  ASSERT_TRUE(view);
  const auto& composed = view->animationImages();
  ASSERT_EQ(composed.size(), 2u);
  EXPECT_TRUE(near(composed[1]->pixel(1, 0), pf::Color::rgb(0, 0, 1)));
  EXPECT_TRUE(near(composed[1]->pixel(0, 1), kGreenPixel)) << "not palette entry 0";
  EXPECT_TRUE(near(composed[1]->pixel(1, 1), kGreenPixel));
}

// A small file of many frames that each claim a huge rectangle on a one-pixel screen: every frame
// is clipped to the screen before anything is allocated, and one budget counts all of them.
TEST(GIFImageView, HugeFramesOnATinyScreenCostTheScreenNotTheirRectangles) {
  pf::VirtualTimeScope time;
  GifWriter g;
  g.screen(1, 1, {giftest::kRed, giftest::kGreen});
  for (int i = 0; i < 1000; ++i) {
    g.control(1, 0);
    g.image(0, 0, 6000, 6000, {1});
  }
  g.trailer();
  EXPECT_LT(g.bytes.size(), 24u * 1000);
  auto view = TnqGIFImageView::initWithGIFData(g.bytes);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->GIF_frames().size(), 1000u);
  EXPECT_EQ(view->animationImages().size(), 1000u);
  EXPECT_NEAR(view->animationDuration(), 100, 1e-9);
  // Per frame: the one-pixel screen and visible part, a row buffer and the one row that shows,
  // not 6000 x 6000.
  EXPECT_LT(view->pixelsSpent(), 1000LL * 3 * 6000);
  EXPECT_GT(view->pixelsSpent(), 1000LL * 6000);
}

// Composed frames stop at the view's bound, with one log line; a screen over it is no animation.
TEST(GIFImageView, ComposedFramesStayWithinTheViewsBound) {
  pf::VirtualTimeScope time;
  const int side = 2000;  // 4 M pixels a frame: eight frames fit
  GifWriter g;
  g.screen(side, side, {giftest::kRed, giftest::kGreen});
  for (int i = 0; i < 20; ++i) {
    g.control(1, 10);
    g.filled(i, 0, 1, 1, 1);
  }
  g.trailer();
  EXPECT_LT(g.bytes.size(), 600u);
  pf::LogCapture log;
  auto view = TnqGIFImageView::initWithGIFData(g.bytes);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->GIF_frames().size(), 20u);
  ASSERT_EQ(view->animationImages().size(), 8u);  // 32 M pixels
  EXPECT_NEAR(view->animationDuration(), 0.8, 1e-9);
  EXPECT_TRUE(near(view->animationImages().back()->pixel(7, 0), kGreenPixel));
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_TRUE(log.contains("composition stopped after 8 of 20 frames"));

  auto tooBig = TnqGIFImageView::getGifFrames(oneFrame(6000, 6000, 10, 1));
  ASSERT_TRUE(tooBig);
  EXPECT_TRUE(tooBig->empty());
}

// A large screen shows at least its first frame whenever the platform's still image of the file
// shows, and composing is charged what it holds: three full 3000 x 3000 frames (27 M pixels kept)
// all compose. The budgets also run on real time: a machine too slow (or too busy) to decode the
// frames within it may stop early, and only then.
TEST(GIFImageView, LargeScreensComposeWhatTheirBoundsHold) {
  pf::VirtualTimeScope time;
  pf::LogCapture log;
  const pf::Color blue = pf::Color::rgb(0, 0, 1);
  // Composes a file's view; false when it fell short of its frames, which its time must explain.
  auto compose = [](const pf::Bytes& gif, std::size_t frames, std::shared_ptr<TnqGIFImageView>& view) {
    const auto began = std::chrono::steady_clock::now();
    view = TnqGIFImageView::initWithGIFData(gif);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    if (!view || view->animationImages().size() == frames) return true;
    EXPECT_GE(took.count(), pf::kMaxGifSeconds) << view->animationImages().size() << " of " << frames << " frames";
    return false;
  };
  std::shared_ptr<TnqGIFImageView> view;
  const pf::Bytes one = giftest::fullFrames(5000, 5000, 1);
  const bool oneShows = static_cast<bool>(pf::Image::fromData(one));  // (the platform's still image)
  const bool oneWhole = !oneShows || compose(one, 1, view);
  if (oneShows && oneWhole) {
    ASSERT_TRUE(view);
    EXPECT_TRUE(view->image() && view->image()->pixelWidth() == 5000 &&
                near(view->image()->pixel(4999, 4999), kGreenPixel));  // row 4999: (49 + 0) % 4
  }
  const bool threeWhole = compose(giftest::fullFrames(3000, 3000, 3), 3, view);
  if (threeWhole) {
    ASSERT_TRUE(view);
    const auto& composed = view->animationImages();
    EXPECT_TRUE(near(composed[0]->pixel(2999, 0), kRedPixel));
    EXPECT_TRUE(near(composed[1]->pixel(0, 2999), blue));          // (29 + 1) % 4
    EXPECT_TRUE(near(composed[2]->pixel(1500, 1500), kGreenPixel));  // (15 + 2) % 4
  }
  if (oneWhole && threeWhole) {
    EXPECT_TRUE(log.lines().empty());
  }
}

TEST(GIFImageView, StillImagesAndRefusals) {
  pf::VirtualTimeScope time;
  EXPECT_FALSE(TnqGIFImageView::initWithGIFData(pf::Bytes{'G', 'I', 'F'}));
  EXPECT_FALSE(TnqGIFImageView::getGifFrames(pf::Bytes{1, 2}));
  EXPECT_FALSE(TnqGIFImageView::initWithGIFFile("/nonexistent/splash.gif"));

  auto png = pf::Image::blank(3, 2)->pngData();
  auto still = TnqGIFImageView::initWithGIFData(png);
  ASSERT_TRUE(still);
  EXPECT_TRUE(still->GIF_frames().empty());
  ASSERT_TRUE(still->image());
  EXPECT_EQ(still->frame(), pf::Rect(0, 0, 3, 2));
  EXPECT_FALSE(still->isAnimating());

  auto junk = TnqGIFImageView::initWithGIFData(pf::Bytes{'J', 'U', 'N', 'K', 0});
  ASSERT_TRUE(junk);
  EXPECT_FALSE(junk->image());

  // Without a control extension a GIF is a still image.
  GifWriter g;
  g.screen(2, 2, {giftest::kRed, giftest::kGreen});
  g.filled(0, 0, 2, 2, 1);
  g.trailer();
  auto plain = TnqGIFImageView::initWithGIFData(g.bytes);
  ASSERT_TRUE(plain);
  EXPECT_TRUE(plain->GIF_frames().empty());
  ASSERT_TRUE(plain->image());
  EXPECT_TRUE(near(plain->image()->pixel(0, 0), kGreenPixel));
  EXPECT_FALSE(plain->isAnimating());

  // A screen beyond the image limits makes no frame.
  auto refused = TnqGIFImageView::getGifFrames(oneFrame(20000, 2, 10, 1));
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->empty());
}

TEST(GIFImageView, EveryPrefixDecodesWithoutHarm) {
  pf::VirtualTimeScope time;
  pf::Bytes full = twoSquares(3, 2);
  for (std::size_t n = 0; n <= full.size(); ++n) {
    pf::Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    auto frames = TnqGIFImageView::getGifFrames(prefix);
    if (n < 4) {
      EXPECT_FALSE(frames);
      continue;
    }
    ASSERT_TRUE(frames) << n;
    EXPECT_LE(frames->size(), 3u) << n;
  }
  EXPECT_EQ(TnqGIFImageView::getGifFrames(full)->size(), 3u);
}

TEST(GIFImageView, SettingFramesComposesThemAgain) {
  pf::VirtualTimeScope time;
  auto view = TnqGIFImageView::initWithGIFData(twoSquares(1));
  ASSERT_TRUE(view);
  auto frames = view->GIF_frames();
  frames.erase(frames.begin());
  view->setGIF_frames(frames);
  ASSERT_EQ(view->animationImages().size(), 2u);
  EXPECT_NEAR(view->animationDuration(), 0.5, 1e-9);
  EXPECT_TRUE(near(view->animationImages()[0]->pixel(3, 3), kClear));
  view->setGIF_frames({});
  EXPECT_FALSE(view->image());
  EXPECT_FALSE(view->isAnimating());
}

// Files written by Pillow, composed by us and by Pillow itself.
TEST(GIFImageView, MatchesThePeersComposition) {
  pf::VirtualTimeScope time;
  fxtest::TempDir dir;
  fxtest::ChildProcess peer(
      {fxtest::kPython, (fxtest::sourceDir() / "tests/widgets/gif_peer.py").string(), dir.path().string()});
  std::vector<std::pair<std::string, int>> files;
  while (auto line = peer.readLine()) {
    std::istringstream in(*line);
    std::string name;
    int count = 0;
    in >> name >> count;
    files.emplace_back(name, count);
  }
  ASSERT_EQ(peer.wait(), 0);
  ASSERT_EQ(files.size(), 5u);
  for (const auto& [name, count] : files) {
    auto view = TnqGIFImageView::initWithGIFFile(dir / (name + ".gif"));
    ASSERT_TRUE(view) << name;
    ASSERT_EQ(static_cast<int>(view->animationImages().size()), count) << name;
    for (int k = 0; k < count; ++k) {
      auto theirs = pf::Image::fromFile(dir / (name + "." + std::to_string(k) + ".png"));
      ASSERT_TRUE(theirs);
      const auto& ours = *view->animationImages()[static_cast<std::size_t>(k)];
      ASSERT_EQ(ours.pixelWidth(), theirs->pixelWidth());
      int differing = 0;
      for (int y = 0; y < ours.pixelHeight(); ++y)
        for (int x = 0; x < ours.pixelWidth(); ++x) {
          pf::Color a = ours.pixel(x, y), b = theirs->pixel(x, y);
          // Fully transparent pixels match whatever colour they carry.
          if (a.a < 0.01 && b.a < 0.01) continue;
          if (!near(a, b, 0.05)) ++differing;
        }
      EXPECT_EQ(differing, 0) << name << " frame " << k;
    }
  }
  auto comment = TnqGIFImageView::initWithGIFFile(dir / "comment.gif");
  ASSERT_TRUE(comment);
  EXPECT_NEAR(comment->animationDuration(), 0.21, 1e-9);
  auto keep = TnqGIFImageView::initWithGIFFile(dir / "keep.gif");
  EXPECT_NEAR(keep->animationDuration(), (10 + 10 + 20) / 100.0, 1e-9);
}

}  // namespace
