#pragma once
// "webnet.do": the page side of the push channel. "setup" names the push server and subjects and
// connects; "registerSelf" subscribes the calling page, whose call stays open and whose page then
// gets every pushed text through "MOWebData(...)"; "unregisterSelf" ends a subscription by its id.
// No call of this servlet times out. Main thread only.

#include <memory>
#include <string>
#include <vector>

#include "app/PylPlugin.h"
#include "appnet/WebnetLibDelegate.h"

namespace appnet {
class TnqPushWebsocket;
}

namespace container {
class MwTask;
}

namespace app {

class PylWebnetPlugin : public PylPlugin, public appnet::WebnetLibDelegate {
 public:
  bool handleRequest(const container::MwServletRequest& request) override;

  // WebnetLibDelegate: a pushed text goes into the page as {"moduleId", "wdata"}; the end of the
  // subscription answers the open call {"wdata": "closeServlet"}.
  void receiveMessage(const std::string& text) override;
  void sendCloseSign() override;

  // The listener id the push hub gave this instance ("" before "registerSelf").
  const std::string& servletId() const { return servletId_; }

  // Task bookkeeping: keepTask appends a task not already kept; removeTaskById drops the first
  // task with that id.
  void keepTask(const std::shared_ptr<container::MwTask>& task);
  void removeTaskById(const std::string& taskID);
  const std::vector<std::shared_ptr<container::MwTask>>& taskArray() const { return taskArray_; }

 protected:
  // The subscribing page has gone: the hub lets go of this listener.
  void pageDidGo() override;

 private:
  std::string servletId_;
  std::weak_ptr<appnet::TnqPushWebsocket> hub_;  // the hub this instance listens to
  std::vector<std::shared_ptr<container::MwTask>> taskArray_;
};

}  // namespace app
