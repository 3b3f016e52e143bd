#pragma once
// The body of the render_* tools: every named scene rendered at a scale and written as
// <name>.png into a folder given on the command line ([output directory] [scale]).

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/Image.h"

namespace scenefiles {

using Render = std::function<std::shared_ptr<pf::Image>(const std::string& name, double scale)>;

inline int writeAll(int argc, char** argv, const char* defaultDirectory, const std::vector<std::string>& names,
                    const Render& render) {
  std::filesystem::path out = argc > 1 ? argv[1] : defaultDirectory;
  double scale = argc > 2 ? std::atof(argv[2]) : 2.0;
  if (scale <= 0 || scale > 4) scale = 2.0;
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::fprintf(stderr, "cannot create %s: %s\n", out.c_str(), ec.message().c_str());
    return 1;
  }
  pf::VirtualTimeScope time;  // still pictures: nothing moves
  int failures = 0;
  for (const auto& name : names) {
    auto image = render(name, scale);
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

}  // namespace scenefiles
