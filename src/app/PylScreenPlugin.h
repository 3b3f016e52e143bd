#pragma once
// "screenoperation.do": "screenShot" draws the page's web view (with the native views laid into
// its scroll view) at the main screen's scale into "<caches>/screenShot/screenShot.png" and
// answers {"success": "screenSuccess", "filePath"} once the new picture is in place, or
// {"success": "failure"}; a second, empty answer follows. Main thread only.

#include <string>

#include "app/PylPlugin.h"

namespace app {

class ScreenPlugin : public PylPlugin {
 public:
  bool handleRequest(const container::MwServletRequest& request) override;

  // "<caches>/screenShot/screenShot.png", its folder made on first use; "" when the folder cannot
  // be made.
  const std::string& screenShotPath();

  // Draws the page and writes the picture; true once the new file has replaced the old one.
  bool screenShot();

 private:
  std::string screenShotPath_;
  bool pathMade_ = false;
};

}  // namespace app
