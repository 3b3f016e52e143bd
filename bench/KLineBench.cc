// (1) A 50,000-record rate series: its whole decode to rows with averages against the
//     like-for-like baseline (bare zlib inflate, a bare table-driven pass over the prefix code and
//     the split of every record at "#", no model objects); bare inflate alone and our prefix-code
//     stage alone are shown beside them.
// (2) A 375 by 300 chart frame at scale 2 after a one-candle scroll step, through the view
//     tree, against bare cairo and pango-cairo drawing the same candles, average segments,
//     dashes and texts.
//
// Ratios of the rows' medians (Ratios.h). Run with repetitions, in turns:
//   bench_kline --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <pango/pangocairo.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ChartScenes.h"
#include "Ratios.h"
#include "kline/KLineCodec.h"
#include "kline/KLineDataManager.h"
#include "kline/SeriesEncoder.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/ui/Renderer.h"

namespace {

struct Series {
  pf::Bytes compressed;
  pf::Bytes inflated;
};

const Series& series() {
  static const Series s = [] {
    std::vector<std::string> texts = {"65432#0#12#-7#30#-15#20260102093000"};
    for (int i = 1; i < 50000; ++i)
      texts.push_back(std::to_string(i % 97 - 48) + "#" + std::to_string(i % 89 - 44) + "#-" + std::to_string(i % 71) +
                      "#" + std::to_string(i % 83) + "#" + std::to_string(i / 24 / 60) + "d" +
                      std::to_string(i / 60 % 24) + "h" + std::to_string(i % 60) + "m");
    Series out;
    out.inflated = klinetest::packetOf(texts);
    out.compressed = klinetest::deflateBytes(out.inflated);
    return out;
  }();
  return s;
}

// Bare zlib inflate of the series into `out` (room for all of it); the bytes produced.
std::size_t bareInflate(const Series& s, pf::Bytes& out) {
  z_stream zs{};
  inflateInit2(&zs, 47);
  zs.next_in = const_cast<Bytef*>(s.compressed.data());
  zs.avail_in = static_cast<uInt>(s.compressed.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  inflate(&zs, Z_FINISH);
  const std::size_t size = zs.total_out;
  inflateEnd(&zs);
  return size;
}

void BM_BareZlibInflate(benchmark::State& state) {
  const Series& s = series();
  pf::Bytes out(s.inflated.size());
  for (auto _ : state) {
    bareInflate(s, out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_BareZlibInflate)->Unit(benchmark::kMillisecond);

// The baseline's own decoding table, from the test-side code table (SeriesEncoder.h): for every
// 7-bit window, the symbol and length of the one code that is its prefix.
struct BareTable {
  std::array<char, 128> symbol{};
  std::array<std::uint8_t, 128> length{};
  BareTable() {
    for (char c : std::string_view("ligayzjeoqx8p5w1k2c4r3v#un$thfbsmd-0679")) {
      const std::string code = klinetest::codeOf(c);
      const auto value = static_cast<unsigned>(std::stoul(code, nullptr, 2));
      const auto bits = static_cast<unsigned>(code.size());
      for (unsigned w = value << (7 - bits); w < (value + 1) << (7 - bits); ++w) {
        symbol[w] = c;
        length[w] = static_cast<std::uint8_t>(bits);
      }
    }
  }
};

// Inflate, then every record: its symbols into one reused buffer through the window table (the
// last few bits by the same table on a zero-padded window, kept only while the code fits), then
// the record split at "#" into field views.
void BM_LikeForLikeBaseline(benchmark::State& state) {
  static const BareTable table;
  const Series& s = series();
  pf::Bytes out(s.inflated.size());
  std::string text;
  std::vector<std::string_view> fields;
  std::size_t fieldCount = 0;
  for (auto _ : state) {
    const std::size_t size = bareInflate(s, out);
    auto be32 = [&](std::size_t at) {
      return (std::uint32_t{out[at]} << 24) | (std::uint32_t{out[at + 1]} << 16) | (std::uint32_t{out[at + 2]} << 8) |
             out[at + 3];
    };
    const std::uint32_t records = be32(0);
    std::size_t at = 4;
    for (std::uint32_t r = 0; r < records && at + 8 <= size; ++r) {
      const std::uint64_t bits = be32(at + 4);
      const std::size_t bytes = static_cast<std::size_t>((bits + 7) / 8);
      const std::uint8_t* data = out.data() + at + 8;
      if (text.size() < bits / 4 + 1) text.resize(static_cast<std::size_t>(bits / 4 + 1));
      char* end = text.data();
      for (std::uint64_t pos = 0; pos < bits;) {
        const std::size_t b = static_cast<std::size_t>(pos >> 3);
        unsigned pair = static_cast<unsigned>(data[b]) << 8;
        if (b + 1 < bytes) pair |= data[b + 1];
        const unsigned window = (pair >> (9 - (pos & 7))) & 0x7fu;
        if (table.length[window] > bits - pos) break;
        *end++ = table.symbol[window];
        pos += table.length[window];
      }
      fields.clear();
      std::string_view rest(text.data(), static_cast<std::size_t>(end - text.data()));
      for (std::size_t hash; (hash = rest.find('#')) != std::string_view::npos; rest.remove_prefix(hash + 1))
        fields.push_back(rest.substr(0, hash));
      fields.push_back(rest);
      fieldCount += fields.size();
      at += 8 + bytes;
    }
    benchmark::DoNotOptimize(fieldCount);
  }
  // It must have decoded what the decoder decodes.
  std::size_t expected = 0;
  kline::Huffman decoder;
  for (const std::string& record : decoder.uncompress(s.inflated))
    expected += static_cast<std::size_t>(std::count(record.begin(), record.end(), '#')) + 1;
  if (fieldCount != expected * static_cast<std::size_t>(state.iterations()))
    state.SkipWithError("the baseline read other fields than the decoder");
}
BENCHMARK(BM_LikeForLikeBaseline)->Unit(benchmark::kMillisecond);

void BM_PrefixCodeStage(benchmark::State& state) {
  const Series& s = series();
  kline::Huffman h;
  for (auto _ : state) benchmark::DoNotOptimize(h.uncompress(s.inflated));
}
BENCHMARK(BM_PrefixCodeStage)->Unit(benchmark::kMillisecond);

void BM_PacketToRows(benchmark::State& state) {
  pf::setDefaultTimeZone("Asia/Shanghai");
  const Series& s = series();
  auto manager = kline::KLineDataManager::make();
  for (auto _ : state) benchmark::DoNotOptimize(manager->decode(s.compressed));
  state.counters["rows"] = static_cast<double>(manager->tradeArray().size());
}
BENCHMARK(BM_PacketToRows)->Unit(benchmark::kMillisecond);

void BM_ChartFrameAfterScroll(benchmark::State& state) {
  pf::VirtualTimeScope time;
  chartscenes::Stage stage = chartscenes::buildChart(100);
  double step = -1;
  for (auto _ : state) {
    auto& scroll = *stage.chart->mainView;
    scroll.setContentOffset({scroll.contentOffset().x + step, 0});
    step = -step;
    auto image = pf::render::screen(2);
    benchmark::DoNotOptimize(image);
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  stage.window->setHidden(true);
}
BENCHMARK(BM_ChartFrameAfterScroll)->Unit(benchmark::kMillisecond);

void text(cairo_t* cr, PangoFontDescription* font, const char* s, double x, double y) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, s, -1);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
}

// The same frame drawn with cairo and pango alone: page, frame border, 29 candles (wicks and
// bodies without antialiasing), three average lines stroked segment by segment, five dashed
// guides and fifteen texts.
void BM_BareCairoSameChart(benchmark::State& state) {
  PangoFontDescription* f9 = pango_font_description_from_string("WenQuanYi Micro Hei 9");
  PangoFontDescription* f10 = pango_font_description_from_string("WenQuanYi Micro Hei 10");
  for (auto _ : state) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 750, 600);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, 2, 2);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_line_width(cr, 0.5);
    cairo_set_source_rgb(cr, 0.67, 0.67, 0.67);
    cairo_rectangle(cr, 0.25, 40.25, 374.5, 239.5);
    cairo_stroke(cr);
    double dash[] = {3, 1};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgb(cr, 223 / 255.0, 223 / 255.0, 223 / 255.0);
    for (double y : {100.0, 161.0, 222.0}) {
      cairo_move_to(cr, 0, y);
      cairo_line_to(cr, 375, y);
      cairo_stroke(cr);
    }
    for (double x : {125.0, 250.0}) {
      cairo_move_to(cr, x, 40);
      cairo_line_to(cr, x, 280);
      cairo_stroke(cr);
    }
    cairo_set_dash(cr, nullptr, 0, 0);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    for (int i = 0; i < 29; ++i) {
      double x = i * 10.5 + 5.25, mid = 160 + 40 * std::sin(i * 0.7);
      if (i % 2)
        cairo_set_source_rgb(cr, 0xd0 / 255.0, 0x40 / 255.0, 0x2d / 255.0);
      else
        cairo_set_source_rgb(cr, 0x17 / 255.0, 0xb0 / 255.0, 0x3e / 255.0);
      cairo_set_line_width(cr, 1);
      cairo_move_to(cr, x, mid - 30);
      cairo_line_to(cr, x, mid - 15);
      cairo_stroke(cr);
      cairo_move_to(cr, x, mid + 15);
      cairo_line_to(cr, x, mid + 30);
      cairo_stroke(cr);
      cairo_set_line_width(cr, 9.5);
      cairo_move_to(cr, x, mid - 15);
      cairo_line_to(cr, x, mid + 15);
      cairo_stroke(cr);
    }
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    cairo_set_line_width(cr, 1);
    for (int line = 0; line < 3; ++line) {
      cairo_set_source_rgb(cr, 0.2 * line, 0.5, 0.9 - 0.3 * line);
      for (int i = 1; i < 29; ++i) {
        cairo_move_to(cr, (i - 1) * 10.5 + 5.25, 160 + 20 * std::sin((i - 1) * 0.3 + line));
        cairo_line_to(cr, i * 10.5 + 5.25, 160 + 20 * std::sin(i * 0.3 + line));
        cairo_stroke(cr);
      }
    }
    cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
    const char* texts10[] = {"2026-01-05 11", "高:6.4192", "开:6.4002", "收:6.4082", "低:6.3859", "MA10:6.4505",
                             "MA20:6.4531", "2026-01-04 00", "2026-01-05 11", "6.5527", "6.3737"};
    for (int i = 0; i < 11; ++i) text(cr, f10, texts10[i], 10 + (i % 4) * 90, 2 + (i / 4) * 100);
    const char* texts9[] = {"6.5825", "6.5229", "6.4632", "6.4035", "MA5:6.4346"};
    for (int i = 0; i < 5; ++i) text(cr, f9, texts9[i], 10, 45 + i * 50);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(s));
    cairo_surface_destroy(s);
  }
  pango_font_description_free(f9);
  pango_font_description_free(f10);
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareCairoSameChart)->Unit(benchmark::kMillisecond);

// ---- ratios of medians

FX_BENCH_RATIO("whole decode / like-for-like baseline", fxbench::seconds("BM_PacketToRows"),
               fxbench::seconds("BM_LikeForLikeBaseline"), fxbench::atMost(5));
FX_BENCH_RATIO("like-for-like baseline / bare inflate", fxbench::seconds("BM_LikeForLikeBaseline"),
               fxbench::seconds("BM_BareZlibInflate"), fxbench::noAim());
FX_BENCH_RATIO("whole decode / bare inflate", fxbench::seconds("BM_PacketToRows"),
               fxbench::seconds("BM_BareZlibInflate"), fxbench::noAim());
FX_BENCH_RATIO("chart frame after a scroll / bare cairo and pango", fxbench::rate("BM_ChartFrameAfterScroll"),
               fxbench::rate("BM_BareCairoSameChart"), fxbench::atLeast(0.5));

}  // namespace

FX_BENCH_MAIN();
