// Pages: a page of 200 paragraphs changed by a script, laid out and rendered through the web view
// at scale 2, against bare pango drawing the same texts with the same font into the same bitmap.
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Ratios.h"
#include "platform/ui/Font.h"
#include "platform/ui/Renderer.h"
#include "platform/web/WebView.h"

namespace {

constexpr int kParagraphs = 200;
constexpr double kWidth = 375;
constexpr double kMargin = 8;  // the body's margin
constexpr double kGap = 4;     // each paragraph's top and bottom margin

std::vector<std::string> texts() {
  static const char* const kPairs[] = {"USD/CNY", "EUR/USD", "GBP/JPY", "AUD/CHF", "美元/人民币", "欧元/日元"};
  std::vector<std::string> out;
  for (int i = 0; i < kParagraphs; ++i)
    out.push_back(std::string(kPairs[i % 6]) + " 买入 " + std::to_string(700 + i) + ".25 卖出 " +
                  std::to_string(701 + i) + ".75 涨跌 +0." + std::to_string(i % 10) + "%");
  return out;
}

std::string writePage() {
  auto dir = std::filesystem::temp_directory_path() / "bench_bridge_pages";
  std::filesystem::create_directories(dir);
  std::string html = "<html><head><title>Board</title></head><body>";
  for (const auto& t : texts()) html += "<p style=\"margin: 4px 0\">" + t + "</p>";
  html += "</body></html>";
  auto file = dir / "board.html";
  std::ofstream(file, std::ios::binary | std::ios::trunc) << html;
  return file.string();
}

void BM_PageLayoutAndRender(benchmark::State& state) {
  auto view = pf::WebView::make(pf::Rect(0, 0, kWidth, 100));
  view->loadFile(writePage());
  // The view shows the whole page, so every paragraph is drawn.
  view->setFrame(pf::Rect(0, 0, kWidth, view->contentHeight()));
  long long n = 0;
  for (auto _ : state) {
    // A script change: the page is laid out again, then drawn.
    view->evaluateScript("document.body.setAttribute('data-frame', '" + std::to_string(++n) + "')");
    auto image = pf::render::view(*view, 2);
    benchmark::DoNotOptimize(image);
  }
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["height"] = view->contentHeight();
}
BENCHMARK(BM_PageLayoutAndRender)->Unit(benchmark::kMillisecond);

// Each text measured and drawn with one pango layout, stacked with the same margins.
void BM_BarePangoSameTexts(benchmark::State& state) {
  (void)pf::text::size("x", pf::Font::systemFont(16));  // the project's font configuration is in place
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoContext* context = pango_font_map_create_context(map);
  cairo_font_options_t* fo = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
  pango_cairo_context_set_font_options(context, fo);
  cairo_font_options_destroy(fo);
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, "WenQuanYi Micro Hei");
  pango_font_description_set_absolute_size(font, 16 * PANGO_SCALE);
  const auto all = texts();
  auto layoutOf = [&](const std::string& t) {
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_width(layout, static_cast<int>((kWidth - 2 * kMargin) * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_text(layout, t.data(), static_cast<int>(t.size()));
    return layout;
  };
  // The page's height, as the web view lays it out.
  double height = 2 * kMargin;
  for (const auto& t : all) {
    PangoLayout* layout = layoutOf(t);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    height += 2 * kGap + static_cast<double>(logical.height) / PANGO_SCALE;
    g_object_unref(layout);
  }
  for (auto _ : state) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(kWidth * 2),
                                                    static_cast<int>(std::ceil(height * 2)));
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, 2, 2);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    pango_cairo_update_context(cr, context);
    cairo_set_source_rgb(cr, 0, 0, 0);
    double y = kMargin;
    for (const auto& t : all) {
      PangoLayout* layout = layoutOf(t);
      PangoRectangle logical;
      pango_layout_get_extents(layout, nullptr, &logical);
      y += kGap;
      cairo_move_to(cr, kMargin, y);
      pango_cairo_show_layout(cr, layout);
      y += static_cast<double>(logical.height) / PANGO_SCALE + kGap;
      g_object_unref(layout);
    }
    cairo_destroy(cr);
    cairo_surface_flush(s);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(s));
    cairo_surface_destroy(s);
  }
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["height"] = height;
  pango_font_description_free(font);
  g_object_unref(context);
  g_object_unref(map);
}
BENCHMARK(BM_BarePangoSameTexts)->Unit(benchmark::kMillisecond);

FX_BENCH_RATIO("page of 200 paragraphs laid out and rendered / bare pango",
               fxbench::rate("BM_PageLayoutAndRender"), fxbench::rate("BM_BarePangoSameTexts"),
               fxbench::atLeast(0.5));

}  // namespace

FX_BENCH_MAIN();
