#pragma once
// The native screens in the states people review, rendered to images: shared by the
// render_screens tool and the reference-image tests.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"

namespace pf {
class Window;
class NavigationController;
}  // namespace pf
namespace container {
class MwTask;
}  // namespace container
namespace app {
class PylSortPlugin;
class SortViewController;
}  // namespace app

namespace screens {

// "watchlist" (three groups, one closed, editing controls), "watchlist-delete" (the delete
// confirmation) and "search" (filtered by "美元", keyboard up).
std::vector<std::string> names();

// A 375x667 window under a navigation controller with the watch-list screen opened on it through
// the sort plug-in with the groups (the call's task answers nobody).
struct WatchListStage {
  std::shared_ptr<pf::Window> window;
  std::shared_ptr<pf::NavigationController> nav;
  std::shared_ptr<container::MwTask> task;
  std::shared_ptr<app::PylSortPlugin> plugin;
  std::shared_ptr<app::SortViewController> screen;
};
WatchListStage openWatchList(const pf::Value& groups);

// The whole 375x667 screen at the scale; the icons are read from imageDir. Null for an unknown name.
std::shared_ptr<pf::Image> render(const std::string& name, double scale, const std::filesystem::path& imageDir);

}  // namespace screens
