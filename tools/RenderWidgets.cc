// Renders every overlay mode and button style to PNG files for people to look at:
//   render_widgets [output directory] [scale]
#include "SceneFiles.h"
#include "WidgetScenes.h"

int main(int argc, char** argv) {
  return scenefiles::writeAll(argc, argv, "widget-renders", scenes::names(), scenes::render);
}
