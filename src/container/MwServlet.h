#pragma once
// The base of everything a page calls by name. One instance serves one page call (and its later
// answers while continueFlag is set). Main thread only.

#include <memory>

#include "container/MwServletRequest.h"
#include "platform/foundation/ThreadChecker.h"

namespace container {

class MwJSWebview;
class MwTask;

class MwServlet : public std::enable_shared_from_this<MwServlet> {
 public:
  virtual ~MwServlet() = default;

  // The container hands the page's web view over before the request. The base keeps it (weakly: the
  // web view keeps its open calls, so a strong link back would keep a closed page alive).
  virtual void awareAboutJSWebView(const std::shared_ptr<MwJSWebview>& webView) { jsWebView_ = webView; }
  std::shared_ptr<MwJSWebview> jsWebView() const { return jsWebView_.lock(); }

  // Stores the task, then handleRequest(request).
  bool handleRequestAndTask(const MwServletRequest& request, std::shared_ptr<MwTask> task) {
    PF_ASSERT_MAIN_THREAD();
    task_ = std::move(task);
    return handleRequest(request);
  }
  // Overridden by each servlet; the base answers true. The container only logs the value.
  virtual bool handleRequest(const MwServletRequest& request) { return true; }

  const std::shared_ptr<MwTask>& task() const { return task_; }
  bool continueFlag() const { return continueFlag_; }
  void setContinueFlag(bool value) { continueFlag_ = value; }

  // The page of this call has gone (another page loaded in its web view, or the web view went) and
  // the web view has dropped the call: the servlet lets go of the web view and its continue flag,
  // then pageDidGo() ends what it keeps for the page elsewhere. Its task answers nobody any more.
  void endWithPage() {
    PF_ASSERT_MAIN_THREAD();
    jsWebView_.reset();
    continueFlag_ = false;
    pageDidGo();
  }

 protected:
  // See endWithPage; the base has nothing to end.
  virtual void pageDidGo() {}

 private:
  std::weak_ptr<MwJSWebview> jsWebView_;
  std::shared_ptr<MwTask> task_;
  bool continueFlag_ = false;
};

}  // namespace container
