#include "app/PylSortPlugin.h"

#include "app/PylResult.h"
#include "container/MwTask.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

void PylSortPlugin::answerEmpty() {
  if (task()) task()->successWithResult(pf::Value::object());
}

bool PylSortPlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  if (request.getParameterValue() != "callSortView") {
    answerEmpty();
    return true;
  }
  auto nav = navController();
  const pf::Value& data = request.getData();
  if (!nav || !data.is_array()) {
    answerEmpty();
    return false;
  }
  if (task()) task()->setTimeoutValue(0);
  auto screen = std::make_shared<SortViewController>();
  screen->dataSource = pf::Value{{"all", data}};
  screen->delegate = std::static_pointer_cast<SortViewDelegate>(
      std::static_pointer_cast<PylSortPlugin>(shared_from_this()));
  nav->pushViewController(screen, true);
  return false;
}

void PylSortPlugin::sortComplete(const pf::Value& array) {
  auto keep = shared_from_this();
  if (task()) task()->successWithResult(PylResult(array).getSuccessResult());
}

}  // namespace app
