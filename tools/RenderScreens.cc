// Renders the watch-list and currency search screens to PNG files for people to look at:
//   render_screens [output directory] [scale] [icon directory]
#include <filesystem>

#include "SceneFiles.h"
#include "ScreenScenes.h"

int main(int argc, char** argv) {
  const std::filesystem::path icons = argc > 3 ? argv[3] : FX_APP_IMAGES;
  return scenefiles::writeAll(argc, argv, "screen-renders", screens::names(),
                              [&](const std::string& name, double scale) { return screens::render(name, scale, icons); });
}
