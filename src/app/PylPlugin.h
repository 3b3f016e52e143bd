#pragma once
// The base of the app's plug-ins: a servlet with the page's web view and a navigation controller.
// Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "container/MwServlet.h"

namespace pf {
class NavigationController;
}

namespace app {

class PylPlugin : public container::MwServlet {
 public:
  // Has the page evaluate the script; the result is dropped. Nothing happens once the page has gone.
  void evalJS(const std::string& script);

  // The stored navigation controller; when none is stored (or it has gone), the application's is
  // taken (see setApplicationNavController), stored and returned.
  std::shared_ptr<pf::NavigationController> navController();
  void setNavController(const std::shared_ptr<pf::NavigationController>& controller) { navController_ = controller; }

  // Where navController finds the application's navigation controller; the app shell sets it.
  static void setApplicationNavController(std::function<std::shared_ptr<pf::NavigationController>()> provider);

 private:
  std::weak_ptr<pf::NavigationController> navController_;
};

}  // namespace app
