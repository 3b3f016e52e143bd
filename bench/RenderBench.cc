// Frames per second of a 375 by 667 screen at scale 2 with a progress overlay and a glossy
// button, rendered through the view tree, against bare cairo drawing the same shapes. The second
// bare row adds the button's rim highlight and gloss, which the first leaves out. The ratios are
// the rendered frame's rate over each bare row's.
#include <cairo.h>

#include <cmath>

#include "Ratios.h"
#include "WidgetScenes.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Renderer.h"

namespace {

void BM_RenderScreenWithOverlayAndButton(benchmark::State& state) {
  pf::VirtualTimeScope time;
  auto window = scenes::buildBenchScreen();
  for (auto _ : state) {
    auto image = pf::render::screen(2);
    benchmark::DoNotOptimize(image);
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  window->setHidden(true);
}
BENCHMARK(BM_RenderScreenWithOverlayAndButton)->Unit(benchmark::kMillisecond);

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

// The button's rim highlight (an overlay gradient through a one-point ring) and its gloss (a
// lighten gradient over the upper half).
// Fills the current path with a vertical grey gradient from `top` to `bottom` through `op`.
void fillWithGrey(cairo_t* cr, double y0, double y1, double top, double bottom, cairo_operator_t op) {
  cairo_pattern_t* pattern = cairo_pattern_create_linear(0, y0, 0, y1);
  cairo_pattern_add_color_stop_rgb(pattern, 0, top, top, top);
  cairo_pattern_add_color_stop_rgb(pattern, 1, bottom, bottom, bottom);
  cairo_set_source(cr, pattern);
  cairo_set_operator(cr, op);
  cairo_fill(cr);
  cairo_pattern_destroy(pattern);
}

void buttonShading(cairo_t* cr) {
  cairo_save(cr);
  roundedRect(cr, 40, 560, 295, 44, 4);
  roundedRect(cr, 41, 561, 293, 42, 3);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  fillWithGrey(cr, 560, 604, 0.25, 1, CAIRO_OPERATOR_OVERLAY);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  roundedRect(cr, 42, 562, 291, 20, 3);
  fillWithGrey(cr, 562, 590, 0.8, 0.55, CAIRO_OPERATOR_LIGHTEN);
  cairo_restore(cr);
}

// The same shapes with cairo alone: page, header, overlay box, spinner spokes, button gradient
// and border (the text is left out: it is the same pango call in both).
void bareCairoSameShapes(benchmark::State& state, bool withButtonShading) {
  for (auto _ : state) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 750, 1334);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, 2, 2);
    cairo_set_source_rgb(cr, 0.96, 0.96, 0.96);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.86, 0.18, 0.18);
    cairo_rectangle(cr, 0, 0, 375, 64);
    cairo_fill(cr);
    roundedRect(cr, 40, 560, 295, 44, 4);
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 560, 0, 604);
    cairo_pattern_add_color_stop_rgb(g, 0, 0.5, 0.5, 0.5);
    cairo_pattern_add_color_stop_rgb(g, 1, 0.35, 0.35, 0.35);
    cairo_set_source(cr, g);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.13, 0.38, 0.87);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVERLAY);
    cairo_fill_preserve(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source_rgb(cr, 0.33, 0.33, 0.33);
    cairo_stroke(cr);
    cairo_pattern_destroy(g);
    if (withButtonShading) buttonShading(cr);
    roundedRect(cr, 120, 280, 135, 107, 10);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.8);
    cairo_fill(cr);
    cairo_set_line_width(cr, 3.3);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 0; i < 12; ++i) {
      double a = -M_PI / 2 + i * M_PI / 6;
      cairo_set_source_rgba(cr, 1, 1, 1, 1 - i / 14.0);
      cairo_move_to(cr, 187.5 + std::cos(a) * 8, 318 + std::sin(a) * 8);
      cairo_line_to(cr, 187.5 + std::cos(a) * 16.8, 318 + std::sin(a) * 16.8);
      cairo_stroke(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(s);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(s));
    cairo_surface_destroy(s);
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_BareCairoSameShapes(benchmark::State& state) { bareCairoSameShapes(state, false); }
BENCHMARK(BM_BareCairoSameShapes)->Unit(benchmark::kMillisecond);

void BM_BareCairoSameShapesWithButtonShading(benchmark::State& state) { bareCairoSameShapes(state, true); }
BENCHMARK(BM_BareCairoSameShapesWithButtonShading)->Unit(benchmark::kMillisecond);

FX_BENCH_RATIO("render: screen with overlay and button / bare cairo, same shapes",
               fxbench::rate("BM_RenderScreenWithOverlayAndButton"), fxbench::rate("BM_BareCairoSameShapes"),
               fxbench::atLeast(0.6));
FX_BENCH_RATIO("render: screen with overlay and button / bare cairo with the button's shading",
               fxbench::rate("BM_RenderScreenWithOverlayAndButton"),
               fxbench::rate("BM_BareCairoSameShapesWithButtonShading"), fxbench::atLeast(0.6));

}  // namespace

FX_BENCH_MAIN();
