// Renders the watch-list and currency search screens to PNG files for people to look at:
//   render_screens [output directory] [scale] [icon directory]
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "ScreenScenes.h"

int main(int argc, char** argv) {
  std::filesystem::path out = argc > 1 ? argv[1] : "screen-renders";
  double scale = argc > 2 ? std::atof(argv[2]) : 2.0;
  if (scale <= 0 || scale > 4) scale = 2.0;
  std::filesystem::path icons = argc > 3 ? argv[3] : FX_APP_IMAGES;
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::fprintf(stderr, "cannot create %s: %s\n", out.c_str(), ec.message().c_str());
    return 1;
  }
  int failures = 0;
  for (const auto& name : screens::names()) {
    auto image = screens::render(name, scale, icons);
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
