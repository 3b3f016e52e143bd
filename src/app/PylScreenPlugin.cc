#include "app/PylScreenPlugin.h"

#include <cmath>

#include "app/FileController.h"
#include "app/PylResult.h"
#include "container/MwJSWebview.h"
#include "container/MwTask.h"
#include "platform/foundation/FileManager.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "platform/web/WebView.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

const std::string& ScreenPlugin::screenShotPath() {
  if (!pathMade_) {
    pathMade_ = true;
    const std::string folder = FileController::libCachePath() + "/screenShot";
    if (FileController::touchDirectory(folder)) screenShotPath_ = folder + "/screenShot.png";
  }
  return screenShotPath_;
}

bool ScreenPlugin::screenShot() {
  PF_ASSERT_MAIN_THREAD();
  auto page = jsWebView();
  const std::string& path = screenShotPath();
  if (!page || path.empty()) return false;
  pf::View& view = *page->webView();
  const pf::Rect bounds = view.bounds();
  const double scale = pf::Screen::main()->scale();
  if (!(bounds.width() > 0 && bounds.height() > 0)) return false;
  auto image = pf::render::view(view, scale);
  // A size the bitmap refuses comes back as a stand-in pixel: no picture of the page.
  if (!image || image->pixelWidth() != static_cast<int>(std::ceil(bounds.width() * scale - 1e-9)) ||
      image->pixelHeight() != static_cast<int>(std::ceil(bounds.height() * scale - 1e-9)))
    return false;
  const pf::Bytes png = image->pngData();
  // Through a temporary file and a rename: the previous picture stays whole until the new one is.
  return !png.empty() && pf::FileManager::writeFile(path, png, true);
}

bool ScreenPlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  if (request.getParameterValue() == "screenShot") {
    const pf::Value answer = screenShot() ? pf::Value{{"success", "screenSuccess"}, {"filePath", screenShotPath()}}
                                          : pf::Value{{"success", "failure"}};
    task()->successWithResult(PylResult(answer).getSuccessResult());
  }
  task()->successWithResult(pf::Value::object());
  return true;
}

}  // namespace app
