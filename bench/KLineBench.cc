// (1) A 50,000-record rate series: bare zlib inflate of the packet, against the prefix-code
//     stage alone and the whole decode to rows with averages (report both as multiples of it).
// (2) A 375 by 300 chart frame at scale 2 after a one-candle scroll step, through the view
//     tree, against bare cairo and pango-cairo drawing the same candles, average segments,
//     dashes and texts.
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <pango/pangocairo.h>
#include <zlib.h>

#include <cmath>

#include "ChartScenes.h"
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

void BM_BareZlibInflate(benchmark::State& state) {
  const Series& s = series();
  pf::Bytes out(s.inflated.size());
  for (auto _ : state) {
    z_stream zs{};
    inflateInit2(&zs, 47);
    zs.next_in = const_cast<Bytef*>(s.compressed.data());
    zs.avail_in = static_cast<uInt>(s.compressed.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    inflate(&zs, Z_FINISH);
    inflateEnd(&zs);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_BareZlibInflate)->Unit(benchmark::kMillisecond);

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

}  // namespace
BENCHMARK_MAIN();
