#include "container/MwServerServlet.h"

#include "container/LoggerUtil.h"
#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwFramework.h"
#include "container/MwHttpTask.h"
#include "container/MwTask.h"
#include "platform/foundation/ThreadChecker.h"

namespace container {

bool MwServerServlet::handleRequest(const MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  auto& framework = MwFramework::getInstance();
  if (framework.getCurrentNetworkState() == 0) {
    fail({{"ERRMSG", kGateNoNetworkMessage}});
    return false;
  }
  if (request.getBusinessPath().empty()) {
    fail({{"ERRMSG", kServerRequestFailedMessage}});
    return false;
  }
  if (framework.getSessionState() < 4) {
    fail({{"ERRMSG", kGateNoSessionMessage}});
    return false;
  }
  const pf::Value& data = request.getData();
  pf::Value options = {
      {"abolishable", request.isCancelable()},
      {"preventable", request.isBlock()},
      {"timeout", request.getTimeout()},
      {"data", data.is_null() ? pf::Value::object() : data},
  };
  // The business task carries the command's waiting time, so its own time-out answer is the one the
  // page hears.
  if (task()) task()->setTimeoutValue(0);
  auto self = std::static_pointer_cast<MwServerServlet>(shared_from_this());
  businessTask_ = MwCommunicationHelper::asynchBusinessTask(request.getBusinessPath(), options,
                                                            std::weak_ptr<MwTaskListener>(self), false);
  if (!businessTask_) {
    fail({{"ERRMSG", kServerRequestFailedMessage}});
    return false;
  }
  businessTask_->setTag(kBusinessTaskTag);
  businessTask_->doTask();
  return true;
}

void MwServerServlet::onSuccessWithResult(const std::shared_ptr<MwComPackage>& result, MwBaseTask&) {
  pf::Value business = result ? result->businessObject().value_or(pf::Value()) : pf::Value();
  if (task()) task()->successWithResult({{"result", 0}, {"data", std::move(business)}});
}

void MwServerServlet::onErrorWithMessage(const std::shared_ptr<MwComPackage>& result, MwBaseTask&) {
  // A package whose payload cannot be read tells the page no more than no package does.
  auto business = result ? result->businessObject() : std::nullopt;
  fail(business ? std::move(*business) : pf::Value{{"ERRMSG", kServerRequestFailedMessage}});
}

void MwServerServlet::onCancelByTask(MwBaseTask&) {
  if (task()) task()->cancel();
}

void MwServerServlet::onTimeOutByTask(MwBaseTask&) {
  fail({{"ERRMSG", kServerRequestTimeoutMessage}, {"RETCODE", "TIMEOUT"}});
}

void MwServerServlet::fail(pf::Value data) {
  LoggerUtil::debug("server.do answers a failure");
  if (task()) task()->error({{"result", 1}, {"data", std::move(data)}});
}

}  // namespace container
