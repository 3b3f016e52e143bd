#pragma once
// The built-in "server.do" servlet: one business task per page command to the bank's server, its
// answers turned into the page's: {"result": 0, "data": business} on success, {"result": 1, "data":
// ...} for a failure or time-out; a cancelled business task cancels the page call.

#include <memory>

#include "container/MwServlet.h"
#include "container/MwTaskListener.h"

namespace container {

class MwHttpTask;

inline constexpr const char* kServerRequestFailedMessage = "交易请求失败，请联系客服人员！";
inline constexpr const char* kServerRequestTimeoutMessage = "交易请求超时，请联系客服人员！";

class MwServerServlet : public MwServlet, public MwTaskListener {
 public:
  static constexpr std::int64_t kBusinessTaskTag = 1000;

  // Refuses (an error answer at once) without network, with an empty business path, or below
  // session state 4; otherwise starts the business task with the command's options.
  bool handleRequest(const MwServletRequest& request) override;

  void onSuccessWithResult(const std::shared_ptr<MwComPackage>& result, MwBaseTask& task) override;
  void onErrorWithMessage(const std::shared_ptr<MwComPackage>& result, MwBaseTask& task) override;
  void onCancelByTask(MwBaseTask& task) override;
  void onTimeOutByTask(MwBaseTask& task) override;

  const std::shared_ptr<MwHttpTask>& businessTask() const { return businessTask_; }

 private:
  void fail(pf::Value data);
  std::shared_ptr<MwHttpTask> businessTask_;
};

}  // namespace container
