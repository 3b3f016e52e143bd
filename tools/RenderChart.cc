// Renders the chart scenes to PNG files for people to look at:
//   render_chart [output directory] [scale]
#include "ChartScenes.h"
#include "SceneFiles.h"

int main(int argc, char** argv) {
  return scenefiles::writeAll(argc, argv, "chart-renders", chartscenes::names(), chartscenes::render);
}
