#include "app/PylStatisticPlugin.h"

#include "app/PylResult.h"
#include "container/MwFramework.h"
#include "container/MwTask.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

bool StatisticPlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  if (request.getParameterValue() != "getStatistic") return false;
  setContinueFlag(false);
  const auto bindKey = container::MwFramework::getInstance().getBindKey();
  task()->successWithResult(PylResult(pf::Value{{"wdata", bindKey.value_or("")}}).getSuccessResult());
  return true;
}

}  // namespace app
