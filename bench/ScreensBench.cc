// Frames per second of the watch-list screen in editing mode, five groups of 100 favourites,
// scrolling: each frame moves the content, lays the table out (reusing cells) and renders the
// 375 by 667 screen at scale 2; against bare cairo and pango drawing the same visible rows' fills,
// lines and texts.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <string>

#include "Ratios.h"
#include "ScreenScenes.h"
#include "app/SortViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Window.h"

namespace {

constexpr int kGroups = 5;
constexpr int kPerGroup = 100;
constexpr double kStep = 37;

pf::Value watchList() {
  pf::Value groups = pf::Value::array();
  for (int g = 0; g < kGroups; ++g) {
    pf::Value data = pf::Value::array();
    for (int p = 0; p < kPerGroup; ++p) {
      const std::string number = std::to_string(g * kPerGroup + p);
      data.push_back({{"product", "USD/CNH 美元 " + number}, {"isInterest", "1"}, {"currencyCode", "C" + number}});
    }
    const std::string number = std::to_string(g);
    groups.push_back({{"name", "分组 " + number}, {"data", data}});
  }
  return groups;
}

void BM_ScrollWatchListInEditingMode(benchmark::State& state) {
  pf::VirtualTimeScope time;
  pf::Application::shared().reset();
  auto stage = screens::openWatchList(watchList());
  auto table = stage.screen->mainTableView();
  stage.window->layoutIfNeeded();
  double limit = table->contentSize().height - table->bounds().height();
  double y = 0;
  for (auto _ : state) {
    y += kStep;
    if (y > limit) y = 0;
    table->setContentOffset({0, y});
    auto image = pf::render::screen(2);
    benchmark::DoNotOptimize(image);
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["cells"] = static_cast<double>(table->visibleCells().size() + table->reusePoolSize());
  pf::Application::shared().reset();
}
BENCHMARK(BM_ScrollWatchListInEditingMode)->Unit(benchmark::kMillisecond);

void text(cairo_t* cr, PangoLayout* layout, const std::string& s, double x, double y) {
  pango_layout_set_text(layout, s.c_str(), -1);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
}

// The same frame by hand: bar and title, the headers in view (fill, lines, mark, name) and the
// rows in view (fill, separator, delete disc and bar, reorder bars, name).
void BM_BareCairoAndPangoSameRows(benchmark::State& state) {
  PangoFontDescription* font = pango_font_description_from_string("WenQuanYi Micro Hei 17");
  double y = 0;
  const double content = kGroups * 44.0 + kGroups * kPerGroup * 44.0;
  for (auto _ : state) {
    y += kStep;
    if (y > content - 603) y = 0;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 750, 1334);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, 2, 2);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, font);
    cairo_set_source_rgb(cr, 0.96, 0.96, 0.96);
    cairo_paint(cr);
    cairo_save(cr);
    cairo_rectangle(cr, 0, 64, 375, 603);
    cairo_clip(cr);
    cairo_translate(cr, 0, 64 - y);
    // Rows and headers that meet [y, y + 603).
    int first = static_cast<int>(y / 44), last = static_cast<int>((y + 603) / 44);
    for (int i = first; i <= last; ++i) {
      double top = i * 44.0;
      bool header = i % (kPerGroup + 1) == 0;
      cairo_set_source_rgb(cr, header ? 1 : 0.96, header ? 1 : 0.96, header ? 1 : 0.96);
      cairo_rectangle(cr, 0, top, 375, 44);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
      cairo_rectangle(cr, header ? 0 : 38, top + 43.5, 375, 0.5);
      cairo_fill(cr);
      if (header) {
        cairo_set_source_rgb(cr, 0.18, 0.51, 0.93);
        cairo_rectangle(cr, 0, top + 12, 4, 20);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        text(cr, layout, "分组 " + std::to_string(i / (kPerGroup + 1)), 15, top + 8);
        continue;
      }
      cairo_set_source_rgb(cr, 1, 0.23, 0.19);
      cairo_arc(cr, 19, top + 22, 11, 0, 2 * M_PI);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_rectangle(cr, 13, top + 21, 12, 2);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 0.68, 0.68, 0.68);
      for (int b = -1; b <= 1; ++b) {
        cairo_rectangle(cr, 375 - 28, top + 21 + b * 5, 18, 2);
        cairo_fill(cr);
      }
      cairo_set_source_rgb(cr, 0.27, 0.27, 0.27);
      text(cr, layout, "USD/CNH 美元 " + std::to_string(i), 38, top + 10);
    }
    cairo_restore(cr);
    cairo_set_source_rgb(cr, 0.86, 0.18, 0.18);
    cairo_rectangle(cr, 0, 0, 375, 64);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    text(cr, layout, "编辑自选", 150, 30);
    text(cr, layout, "完成", 10, 32);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(s));
    cairo_surface_destroy(s);
  }
  pango_font_description_free(font);
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareCairoAndPangoSameRows)->Unit(benchmark::kMillisecond);

FX_BENCH_RATIO("watch-list scroll frame / bare cairo and pango", fxbench::rate("BM_ScrollWatchListInEditingMode"),
               fxbench::rate("BM_BareCairoAndPangoSameRows"), fxbench::atLeast(0.5));

}  // namespace

FX_BENCH_MAIN();
