#pragma once
// Scenes of the widgets for people to look at: every overlay mode and button style, each built in
// its own window and rendered to an image. Used by the render_widgets tool, the render benchmark
// and the reference-image tests.

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Image.h"
#include "platform/ui/Window.h"

namespace scenes {

std::vector<std::string> names();
// Builds the scene (windows shown on the screen) and renders it; nullptr for an unknown name.
std::shared_ptr<pf::Image> render(const std::string& name, double scale = 2);

// The benchmark's screen: a 375 by 667 window with a page-like background, a progress overlay
// with its label and a glossy button. Keep the returned window alive while rendering.
std::shared_ptr<pf::Window> buildBenchScreen();

}  // namespace scenes
