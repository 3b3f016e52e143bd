#include <gtest/gtest.h>

#include <gif_lib.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "GifTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"

namespace {

using pf::Bytes;
using pf::Color;

int writeBytes(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}

struct GifFrameSpec {
  int left, top, width, height;
  bool interlace;
  int disposal;
  int transparent;                       // colour index or -1
  std::vector<GifPixelType> pixels;      // row by row
};

// A GIF of 4x4 with a four-colour palette: 0 black, 1 red, 2 green, 3 blue.
Bytes makeGif(const std::vector<GifFrameSpec>& frames) {
  Bytes out;
  int err = 0;
  GifFileType* gif = EGifOpen(&out, writeBytes, &err);
  GifColorType colors[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  ColorMapObject* map = GifMakeMapObject(4, colors);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, 4, 4, 2, 0, map);
  for (const auto& f : frames) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = f.disposal;
    gcb.DelayTime = 10;
    gcb.TransparentColor = f.transparent;
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, nullptr);
    std::vector<int> order;
    if (f.interlace) {
      for (int start : {0, 4, 2, 1})
        for (int y = start; y < f.height; y += (start == 0 || start == 4) ? 8 : start == 2 ? 4 : 2) order.push_back(y);
    } else {
      for (int y = 0; y < f.height; ++y) order.push_back(y);
    }
    for (int y : order) {
      std::vector<GifPixelType> row(f.pixels.begin() + y * f.width, f.pixels.begin() + (y + 1) * f.width);
      EGifPutLine(gif, row.data(), f.width);
    }
  }
  EGifCloseFile(gif, &err);
  GifFreeMapObject(map);
  return out;
}

TEST(Image, GifFramesAreComposedWithDisposalTransparencyAndInterlacing) {
  // Frame 1: full screen, interlaced, rows 0..3 coloured 1, 2, 3, 1.
  GifFrameSpec first{0, 0, 4, 4, true, DISPOSE_DO_NOT, -1,
                     {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 1, 1, 1, 1}};
  // Frame 2: a 2x2 patch at (1,1), index 0 transparent except one green pixel; restored after.
  GifFrameSpec second{1, 1, 2, 2, false, DISPOSE_BACKGROUND, 0, {2, 0, 0, 0}};
  GifFrameSpec third{0, 0, 1, 1, false, DISPOSE_DO_NOT, -1, {3}};
  auto frames = pf::decodeGifFrames(makeGif({first, second, third}));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].delayCentiseconds, 10);
  EXPECT_TRUE(frames[0].image->pixel(0, 1).near(Color::rgb(0, 1, 0)));  // interlaced rows in place
  EXPECT_TRUE(frames[0].image->pixel(0, 2).near(Color::rgb(0, 0, 1)));
  EXPECT_TRUE(frames[1].image->pixel(1, 1).near(Color::rgb(0, 1, 0)));
  EXPECT_TRUE(frames[1].image->pixel(2, 2).near(Color::rgb(0, 0, 1)));  // transparent index shows frame 1
  // Disposal 2 cleared the patch before the third frame.
  EXPECT_TRUE(frames[2].image->pixel(2, 2).isClear());
  EXPECT_TRUE(frames[2].image->pixel(0, 0).near(Color::rgb(0, 0, 1)));
  EXPECT_TRUE(frames[2].image->pixel(3, 3).near(Color::rgb(1, 0, 0)));

  auto still = pf::Image::fromData(makeGif({first, second}));
  ASSERT_TRUE(still);
  EXPECT_EQ(still->pixelWidth(), 4);
  EXPECT_TRUE(still->pixel(2, 2).near(Color::rgb(0, 0, 1)));
}

TEST(Image, OneGifBudgetCountsEveryDecodeItIsHanded) {
  pf::VirtualTimeScope time;
  GifFrameSpec frame{0, 0, 4, 4, false, DISPOSE_DO_NOT, -1, std::vector<GifPixelType>(16, 1)};
  Bytes gif = makeGif({frame});
  // One decode: the screen, the frame's visible part, its row buffer, its rows and the frame kept.
  const long long once = 16 + 16 + 4 + 16 + 16;
  pf::GifBudget budget(once * 2 - 1);
  EXPECT_EQ(pf::decodeGifFrames(gif, 1, budget).size(), 1u);
  EXPECT_EQ(budget.pixelsTaken(), once);
  EXPECT_TRUE(pf::decodeGifFrames(gif, 1, budget).empty());
  EXPECT_TRUE(budget.spent());
  EXPECT_TRUE(pf::decodeGifFrames(gif, 1, budget).empty());

  // Its time is real time: the virtual clock moving on spends none of it, and a budget of no time
  // (or of a time that is no number) is spent at once.
  pf::GifBudget timed(pf::kMaxGifPixels, 60);
  time.advance(120);
  EXPECT_EQ(pf::decodeGifFrames(gif, 1, timed).size(), 1u);
  for (double seconds : {0.0, -1.0, std::nan("")}) {
    pf::GifBudget none(pf::kMaxGifPixels, seconds);
    EXPECT_TRUE(pf::decodeGifFrames(gif, 1, none).empty());
    EXPECT_FALSE(none.take(1));
  }
}

// A frame is clipped to the logical screen before anything is allocated for it, and the rows its
// data does not code leave the canvas as it was.
TEST(Image, GifFramesAreClippedToTheScreenAndShortFramesPaintOnlyWhatTheyCode) {
  giftest::GifWriter g;
  g.screen(2, 2, {giftest::kRed, giftest::kGreen, giftest::kBlue});
  g.control(1, 10);
  g.filled(0, 0, 2, 2, 1);
  g.control(1, 10);
  g.image(0, 0, 2, 2, {2, 2});  // the first row only: decoding ends there
  g.trailer();
  auto frames = pf::decodeGifFrames(g.bytes);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(frames[1].image->pixel(0, 0).near(Color::rgb(0, 0, 1)));
  EXPECT_TRUE(frames[1].image->pixel(0, 1).near(Color::rgb(0, 1, 0)));  // not palette entry 0
  EXPECT_TRUE(frames[1].image->pixel(1, 1).near(Color::rgb(0, 1, 0)));

  // A frame 6000 tall with one pixel on a 2 x 2 screen: every row is decoded (a later frame
  // follows), none of them kept but that pixel.
  giftest::GifWriter tall;
  tall.screen(2, 2, {giftest::kRed, giftest::kGreen});
  tall.control(1, 10);
  tall.image(1, 1, 1, 6000, std::vector<int>(6000, 1));
  tall.control(1, 10);
  tall.filled(0, 0, 1, 1, 1);
  tall.trailer();
  pf::GifBudget budget;
  auto both = pf::decodeGifFrames(tall.bytes, pf::kMaxGifFrames, budget);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_TRUE(both[0].image->pixel(1, 1).near(Color::rgb(0, 1, 0)));
  EXPECT_TRUE(both[0].image->pixel(0, 1).isClear());
  EXPECT_EQ(budget.pixelsTaken(), 4 + (1 + 1) + 6000 + 4 + (1 + 1) + 1 + 4);
  // The only frame asked for stops once its visible row is in.
  pf::GifBudget first;
  ASSERT_EQ(pf::decodeGifFrames(tall.bytes, 1, first).size(), 1u);
  EXPECT_EQ(first.pixelsTaken(), 4 + (1 + 1) + 1 + 4);
}

TEST(Image, BadAndOversizedInputIsRefused) {
  EXPECT_FALSE(pf::Image::fromData(Bytes{}));
  EXPECT_FALSE(pf::Image::fromData(pf::toBytes("GIF89a")));
  EXPECT_FALSE(pf::Image::fromData(pf::toBytes("not an image at all")));
  // A PNG header claiming 100000 x 100000 pixels is refused before decoding.
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
               0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0, 8, 6, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(pf::Image::fromData(png));
  // A GIF cut inside its first frame still gives what was read, never a crash.
  GifFrameSpec frame{0, 0, 4, 4, false, 0, -1, std::vector<GifPixelType>(16, 1)};
  Bytes gif = makeGif({frame});
  for (std::size_t cut = 0; cut < gif.size(); ++cut) {
    Bytes part(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(cut));
    (void)pf::Image::fromData(part);
  }
}

TEST(Image, JpegDecodesOpaque) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 8;
  info.image_height = 8;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(8 * 3);
  for (int x = 0; x < 8; ++x) row[x * 3] = 200, row[x * 3 + 1] = 30, row[x * 3 + 2] = 40;
  while (info.next_scanline < 8) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&info, &r, 1);
  }
  jpeg_finish_compress(&info);
  Bytes data(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  free(buffer);
  auto img = pf::Image::fromData(data);
  ASSERT_TRUE(img);
  EXPECT_TRUE(img->pixel(4, 4).near(Color::rgb(200 / 255.0, 30 / 255.0, 40 / 255.0), 6 / 255.0));
  EXPECT_EQ(img->pixel(4, 4).a, 1.0);
  data.resize(data.size() / 2);
  (void)pf::Image::fromData(data);  // truncated: no crash
}

}  // namespace

namespace {

TEST(ImageContext, OpaqueStartsBlackAndSnapshotsKeepEveryPixel) {
  // Several rounds, so that a buffer handed back by the allocator is reused.
  for (int round = 0; round < 3; ++round) {
    pf::ImageContext ic(pf::Size{37.5, 20.25}, true, 2);
    ic.context().setFillColor(Color::rgb(1, 0, 0));
    ic.context().fillRect(pf::Rect(10, 5, 4, 4));
    auto snapshot = ic.image();
    auto image = ic.takeImage();
    ASSERT_TRUE(snapshot && image);
    ASSERT_EQ(image->pixelWidth(), 75);
    ASSERT_EQ(image->pixelHeight(), 41);
    for (int y = 0; y < image->pixelHeight(); ++y) {
      for (int x = 0; x < image->pixelWidth(); ++x) {
        bool red = x >= 20 && x < 28 && y >= 10 && y < 18;
        Color c = image->pixel(x, y);
        ASSERT_TRUE(c.near(red ? Color::rgb(1, 0, 0) : Color::black()) && c.a == 1.0) << x << "," << y;
        ASSERT_TRUE(snapshot->pixel(x, y).near(c)) << x << "," << y;
      }
    }
  }
}

}  // namespace
