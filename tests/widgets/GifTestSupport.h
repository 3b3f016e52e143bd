#pragma once
// Hand-made GIF files for the tests, fuzz seeds and benchmarks: exact blocks where a test needs
// them, pixels packed with a clear code before each so any index list encodes; large screens
// written by giflib's encoder.

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace giftest {

struct GifWriter {
  pf::Bytes bytes;

  void u8(int v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
  void u16(int v) {
    u8(v & 0xFF);
    u8((v >> 8) & 0xFF);
  }
  void raw(std::initializer_list<int> values) {
    for (int v : values) u8(v);
  }
  void text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }

  // Header and logical screen; with colours, a global table of 2 << tableSize entries.
  void screen(int w, int h, const std::vector<std::uint32_t>& colours = {}, int tableSize = 1) {
    text("GIF89a");
    u16(w);
    u16(h);
    u8((colours.empty() ? 0 : 0x80 | tableSize) | 0x70);
    u8(0);
    u8(0);
    if (!colours.empty()) table(colours, tableSize);
  }
  void table(const std::vector<std::uint32_t>& colours, int tableSize) {
    for (int i = 0; i < (2 << tableSize); ++i) {
      std::uint32_t c = i < static_cast<int>(colours.size()) ? colours[static_cast<std::size_t>(i)] : 0;
      u8(static_cast<int>(c >> 16) & 0xFF);
      u8(static_cast<int>(c >> 8) & 0xFF);
      u8(static_cast<int>(c) & 0xFF);
    }
  }
  // A graphic control extension; transparent < 0 for none.
  void control(int disposal, int delay, int transparent = -1) {
    raw({0x21, 0xF9, 0x04});
    u8((disposal << 2) | (transparent >= 0 ? 1 : 0));
    u16(delay);
    u8(transparent >= 0 ? transparent : 0);
    u8(0);
  }
  void comment(const std::string& s) {
    raw({0x21, 0xFE});
    u8(static_cast<int>(s.size()));
    text(s);
    u8(0);
  }
  // An image of indexes (w x h of them) with min code size 2 (indexes 0 to 3).
  void image(int left, int top, int w, int h, const std::vector<int>& indexes, bool interlaced = false,
             const std::vector<std::uint32_t>& localColours = {}, int localSize = 1) {
    u8(0x2C);
    u16(left);
    u16(top);
    u16(w);
    u16(h);
    u8((localColours.empty() ? 0 : 0x80 | localSize) | (interlaced ? 0x40 : 0));
    if (!localColours.empty()) table(localColours, localSize);
    const int minCode = 2, clear = 4, end = 5, width = 3;
    u8(minCode);
    std::vector<std::uint8_t> packed;
    std::uint32_t acc = 0;
    int bits = 0;
    auto put = [&](int code) {
      acc |= static_cast<std::uint32_t>(code) << bits;
      bits += width;
      while (bits >= 8) {
        packed.push_back(static_cast<std::uint8_t>(acc & 0xFF));
        acc >>= 8;
        bits -= 8;
      }
    };
    for (int index : indexes) {
      put(clear);
      put(index);
    }
    put(end);
    if (bits > 0) packed.push_back(static_cast<std::uint8_t>(acc & 0xFF));
    for (std::size_t i = 0; i < packed.size(); i += 255) {
      std::size_t n = std::min<std::size_t>(255, packed.size() - i);
      u8(static_cast<int>(n));
      bytes.insert(bytes.end(), packed.begin() + static_cast<std::ptrdiff_t>(i),
                   packed.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    u8(0);
  }
  void filled(int left, int top, int w, int h, int index) {
    image(left, top, w, h, std::vector<int>(static_cast<std::size_t>(w * h), index));
  }
  void trailer() { u8(0x3B); }
};

inline constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

// A size x size GIF of n frames, each a square moving across a white screen.
inline pf::Bytes movingSquare(int size, int frames, int disposal = 1) {
  GifWriter g;
  g.screen(size, size, {kWhite, kRed, kGreen, kBlue});
  for (int i = 0; i < frames; ++i) {
    g.control(disposal, 5);
    int side = size / 4, pos = (i * 7) % (size - side);
    g.filled(pos, pos, side, side, 1 + i % 3);
  }
  g.trailer();
  return g.bytes;
}

// giflib's own encoder: a screen with a four-colour table, then frames of lines.
class GiflibWriter {
 public:
  GiflibWriter(int w, int h, const GifColorType (&colours)[4]) {
    gif_ = EGifOpen(&bytes_, [](GifFileType* g, const GifByteType* data, int n) {
      auto* sink = static_cast<pf::Bytes*>(g->UserData);
      sink->insert(sink->end(), data, data + n);
      return n;
    }, &error_);
    if (!gif_) return;
    EGifSetGifVersion(gif_, true);
    ColorMapObject* map = GifMakeMapObject(4, colours);
    ok_ = EGifPutScreenDesc(gif_, w, h, 2, 0, map) == GIF_OK;
    GifFreeMapObject(map);
  }
  ~GiflibWriter() {
    if (gif_) EGifCloseFile(gif_, &error_);
  }
  GiflibWriter(const GiflibWriter&) = delete;
  GiflibWriter& operator=(const GiflibWriter&) = delete;

  // A control extension (no transparency) and an image descriptor; its lines follow, in the order
  // of the interlace passes for an interlaced frame.
  void frame(int disposal, int delay, int left, int top, int w, int h, bool interlaced = false) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = disposal;
    gcb.DelayTime = delay;
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    ok_ = ok_ && EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK &&
          EGifPutImageDesc(gif_, left, top, w, h, interlaced, nullptr) == GIF_OK;
  }
  void line(std::vector<GifPixelType>& row) {
    ok_ = ok_ && EGifPutLine(gif_, row.data(), static_cast<int>(row.size())) == GIF_OK;
  }
  // The file, or nothing when giflib refused a part of it.
  pf::Bytes finish() {
    if (!gif_) return {};
    const bool closed = EGifCloseFile(gif_, &error_) == GIF_OK;
    gif_ = nullptr;
    return ok_ && closed ? bytes_ : pf::Bytes();
  }

 private:
  pf::Bytes bytes_;
  GifFileType* gif_ = nullptr;
  int error_ = 0;
  bool ok_ = false;
};

// A w x h GIF of full frames written by giflib's encoder (red, green, blue and white; each frame
// kept, delay 10): frame k paints row y with colour (y / 100 + k) % 4.
inline pf::Bytes fullFrames(int w, int h, int frames) {
  const GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  GiflibWriter gif(w, h, colours);
  std::vector<GifPixelType> row(static_cast<std::size_t>(w));
  for (int k = 0; k < frames; ++k) {
    gif.frame(1, 10, 0, 0, w, h);
    for (int y = 0; y < h; ++y) {
      std::fill(row.begin(), row.end(), static_cast<GifPixelType>((y / 100 + k) % 4));
      gif.line(row);
    }
  }
  return gif.finish();
}

}  // namespace giftest
