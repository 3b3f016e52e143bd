#pragma once
// Chart scenes for people to look at: a 100-row chart, the same zoomed in, and one with the
// cross-hair, each in a 375-wide window, rendered to an image (times in Asia/Shanghai). Used by
// the render_chart tool, the chart benchmark and the reference-image tests.

#include <memory>
#include <string>
#include <vector>

#include "kline/TnqKLineView.h"
#include "platform/ui/Image.h"
#include "platform/ui/Window.h"

namespace chartscenes {

std::vector<std::string> names();
// Builds the scene and renders it; nullptr for an unknown name.
std::shared_ptr<pf::Image> render(const std::string& name, double scale = 2);

// A made-up series of n hourly rows with moving averages (the same every time).
kline::TradeRows series(int n);

// A window of 375 by 300 holding a chart of `rows` rows; keep the window alive while using the
// chart.
struct Stage {
  std::shared_ptr<pf::Window> window;
  std::shared_ptr<kline::TnqKLineView> chart;
};
Stage buildChart(int rows);

}  // namespace chartscenes
