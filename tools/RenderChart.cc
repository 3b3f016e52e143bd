// Renders the chart scenes to PNG files for people to look at:
//   render_chart [output directory] [scale]
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "ChartScenes.h"
#include "platform/foundation/Clock.h"

int main(int argc, char** argv) {
  std::filesystem::path out = argc > 1 ? argv[1] : "chart-renders";
  double scale = argc > 2 ? std::atof(argv[2]) : 2.0;
  if (scale <= 0 || scale > 4) scale = 2.0;
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::fprintf(stderr, "cannot create %s: %s\n", out.c_str(), ec.message().c_str());
    return 1;
  }
  pf::VirtualTimeScope time;  // still pictures: overlays and animations stand still
  int failures = 0;
  for (const auto& name : chartscenes::names()) {
    auto image = chartscenes::render(name, scale);
    auto path = out / (name + ".png");
    if (!image || !image->writePNG(path)) {
      std::fprintf(stderr, "failed: %s\n", name.c_str());
      ++failures;
      continue;
    }
    std::printf("%s\n", path.c_str());
  }
  return failures == 0 ? 0 : 1;
}
