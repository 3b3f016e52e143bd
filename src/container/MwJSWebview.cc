#include "container/MwJSWebview.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "container/LoggerUtil.h"
#include "container/MwPageBridgeScript.h"
#include "container/MwServlet.h"
#include "container/MwServletManager.h"
#include "container/MwTask.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Thread.h"
#include "platform/net/Url.h"
#include "widgets/MwProgressHUD.h"
#include "platform/foundation/ThreadChecker.h"

namespace container {

namespace {

// The bridge's calls into the page, compiled once per page. They look the page's bridge up at every
// call, as the script texts "MwPageBridge._fetchQueue()" and "MwUI.Bridge.sendMessage(...)" would.
const pf::WebView::Function& fetchQueueFunction() {
  static const pf::WebView::Function function(
      "function () { return " + std::string(kFetchQueueFunction) + "(); }", "page bridge");
  return function;
}

const pf::WebView::Function& answerFunction() {
  static const pf::WebView::Function function(
      "function (answer) { " + std::string(kAnswerFunction) + "(answer); }", "page bridge");
  return function;
}

}  // namespace

// One page load as its page tasks see it: it passes their answers and ends on to the web view. When
// the page goes the web view makes a new one, so the tasks of the old page reach nobody (the next
// page reuses their request ids).
class MwJSWebview::PageLoad final : public MwJSTaskListener, public MwJSTaskDelegate {
 public:
  explicit PageLoad(std::weak_ptr<MwJSWebview> view) : view_(std::move(view)) {}

  void onSuccessWithResult(const pf::Value& result, int type, const std::string& taskID) override {
    if (auto view = view_.lock()) view->onSuccessWithResult(result, type, taskID);
  }
  void onErrorWithResult(const pf::Value& result, int type, const std::string& taskID) override {
    if (auto view = view_.lock()) view->onErrorWithResult(result, type, taskID);
  }
  void onCancelWithResult(const pf::Value& result, int type, const std::string& taskID) override {
    if (auto view = view_.lock()) view->onCancelWithResult(result, type, taskID);
  }
  void onTimeOutWithResult(const pf::Value& result, int type, const std::string& taskID) override {
    if (auto view = view_.lock()) view->onTimeOutWithResult(result, type, taskID);
  }
  void unregisterNativeToJSRequest(const std::string& taskID) override {
    if (auto view = view_.lock()) view->unregisterNativeToJSRequest(taskID);
  }
  void endNativeToJSRequest(const std::string& taskID) override {
    if (auto view = view_.lock()) view->endNativeToJSRequest(taskID);
  }

 private:
  std::weak_ptr<MwJSWebview> view_;
};

std::shared_ptr<MwJSWebview> MwJSWebview::make(const pf::Rect& frame) {
  auto view = std::shared_ptr<MwJSWebview>(new MwJSWebview());
  view->webView_ = pf::WebView::make(frame);
  view->webView_->setUserScript(pageBridgeScript());
  view->webView_->setDelegate(std::weak_ptr<pf::WebViewDelegate>(view));
  view->bridge_ = std::make_unique<MwWebViewMiddleBridge>(*view);
  view->pageLoad_ = std::make_shared<PageLoad>(view);
  return view;
}

MwJSWebview::~MwJSWebview() {
  // The web view goes with its page: the calls still open end as they would for another page.
  pageLoad_.reset();
  endPageCalls();
}

void MwJSWebview::doJs(const std::string& script) { webView_->evaluateScript(script); }

std::string MwJSWebview::stringByEvaluatingJavaScriptFromString(const std::string& script) {
  PF_ASSERT_MAIN_THREAD();
  return webView_->evaluateScript(script);
}

double MwJSWebview::taskTimeout(double waiting) {
  if (!std::isfinite(waiting) || waiting < 0 || waiting > MwTask::kMaxTimeout) return kDefaultWaiting;
  return waiting;
}

bool MwJSWebview::onAsyncJsCommand(const MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  const std::string& id = request.getRequestId();
  if (isCallOfAGonePage(id)) return false;
  std::shared_ptr<MwServlet> servlet;
  if (auto kept = servlets_.find(id); kept != servlets_.end()) {
    servlet = kept->second;
  } else {
    servlet = MwServletManager::getInstance().getServletWithName(request.getServletName(), request.getScheme());
  }
  if (!servlet) {
    const std::string name = request.getScheme() == kSchemeClient ? request.getServletName() : request.getUrl();
    LoggerUtil::debug(pf::format("no servlet for the page call %@ (%@)", id, request.getUrl()));
    onRefusedJsCommand(id, "no servlet is registered for \"" + name + "\"");
    return false;
  }
  auto self = shared_from_this();
  servlets_[id] = servlet;
  if (request.isWaiting() && waitingCalls_.insert(id).second && waitingCalls_.size() == 1) {
    widgets::MwProgressHUD::showHUDAddedTo(webView_, false);
  }
  servlet->awareAboutJSWebView(self);
  auto task = MwTask::make(kTaskTypePageCall, id, std::weak_ptr<MwJSTaskListener>(pageLoad_),
                           std::weak_ptr<MwJSTaskDelegate>(pageLoad_));
  task->setTimeoutValue(taskTimeout(request.getTimeout()));
  pf::WebView::NativeCallScope inCall(*webView_);
  try {
    return servlet->handleRequestAndTask(request, task);
  } catch (const std::exception& e) {
    // A servlet that fails leaves no call open.
    LoggerUtil::debug(pf::format("servlet for the page call %@ raised: %@", id, e.what()));
    if (servlets_.count(id)) task->error({{"data", {{"ERRMSG", e.what()}}}});
    endNativeToJSRequest(id);
    return false;
  }
}

void MwJSWebview::onRefusedJsCommand(const std::string& requestId, const std::string& reason) {
  PF_ASSERT_MAIN_THREAD();
  if (isCallOfAGonePage(requestId)) return;
  answer({{"result", kResultError}, {"data", {{"ERRMSG", reason}}}}, requestId);
}

bool MwJSWebview::isCallOfAGonePage(const std::string& requestId) const {
  if (!batchPage_ || batchPage_->lock() == pageLoad_) return false;
  LoggerUtil::debug(pf::format("page call %@ dropped: the page that made it has gone", requestId));
  return true;
}

void MwJSWebview::answer(pf::Value result, const std::string& taskID) {
  if (!result.is_object()) result = pf::Value::object();
  result["responseId"] = taskID;
  if (!webView_->callFunction(answerFunction(), {&result, 1})) {
    LoggerUtil::debug(pf::format("the answer to %@ has no JSON form: an error goes instead", taskID));
    const pf::Value error{{"result", kResultError}, {"responseId", taskID}};
    webView_->callFunction(answerFunction(), {&error, 1});
  }
}

void MwJSWebview::onSuccessWithResult(const pf::Value& result, int, const std::string& taskID) {
  PF_ASSERT_MAIN_THREAD();
  pf::Value copy = result;
  copy["result"] = kResultSuccess;
  answer(std::move(copy), taskID);
}

void MwJSWebview::onErrorWithResult(const pf::Value& result, int, const std::string& taskID) {
  PF_ASSERT_MAIN_THREAD();
  answer(result, taskID);
}

void MwJSWebview::onCancelWithResult(const pf::Value& result, int, const std::string& taskID) {
  PF_ASSERT_MAIN_THREAD();
  pf::Value copy = result;
  copy["result"] = kResultCancelled;
  answer(std::move(copy), taskID);
}

void MwJSWebview::onTimeOutWithResult(const pf::Value& result, int, const std::string& taskID) {
  PF_ASSERT_MAIN_THREAD();
  pf::Value copy = result;
  copy["result"] = kResultTimedOut;
  answer(std::move(copy), taskID);
}

void MwJSWebview::unregisterNativeToJSRequest(const std::string& taskID) {
  PF_ASSERT_MAIN_THREAD();
  endWaiting(taskID);
  auto it = servlets_.find(taskID);
  if (it != servlets_.end() && !it->second->continueFlag()) servlets_.erase(it);
}

void MwJSWebview::endNativeToJSRequest(const std::string& taskID) {
  endWaiting(taskID);
  servlets_.erase(taskID);
}

void MwJSWebview::endWaiting(const std::string& taskID) {
  if (waitingCalls_.erase(taskID) && waitingCalls_.empty()) widgets::MwProgressHUD::hideHUDForView(webView_, false);
}

void MwJSWebview::fetchQueue() {
  PF_ASSERT_MAIN_THREAD();
  const std::string fetched = webView_->callFunction(fetchQueueFunction()).value_or(std::string());
  // The calls are the current page's: should one of them load another page, the rest of the
  // batch goes with the page that made it.
  batchPage_ = pageLoad_;
  bridge_->flushMessageQueue(fetched);
  batchPage_.reset();
}

bool MwJSWebview::webViewShouldStartLoad(pf::WebView& view, const std::string& url) {
  static const std::string kQueueUrl = std::string(kBridgeScheme) + "://" + std::string(kBridgeQueueHost);
  if (url == kQueueUrl) {  // the page's own bridge, every call
    auto self = shared_from_this();
    fetchQueue();
    return false;
  }
  if (auto parsed = pf::Url::parse(url); parsed && parsed->scheme() == kBridgeScheme) {
    if (parsed->host() == kBridgeQueueHost) {
      auto self = shared_from_this();
      fetchQueue();
    }
    return false;
  }
  if (auto delegate = pageDelegate_.lock()) return delegate->webViewShouldStartLoad(view, url);
  return true;
}

void MwJSWebview::webViewDidClosePage(pf::WebView&) { closeOpenCalls(); }

void MwJSWebview::closeOpenCalls() {
  PF_ASSERT_MAIN_THREAD();
  // The next page numbers its calls afresh: nothing of the page that went may reach it.
  pageLoad_ = std::make_shared<PageLoad>(weak_from_this());
  endPageCalls();
}

void MwJSWebview::keepUntilPageGoes(std::shared_ptr<MwServlet> servlet) {
  PF_ASSERT_MAIN_THREAD();
  if (servlet && std::find(pageServlets_.begin(), pageServlets_.end(), servlet) == pageServlets_.end())
    pageServlets_.push_back(std::move(servlet));
}

void MwJSWebview::endPageCalls() {
  if (!waitingCalls_.empty()) {
    waitingCalls_.clear();
    widgets::MwProgressHUD::hideHUDForView(webView_, false);
  }
  std::vector<std::shared_ptr<MwServlet>> ending = std::exchange(pageServlets_, {});
  for (const auto& [id, servlet] : std::exchange(servlets_, {}))
    if (std::find(ending.begin(), ending.end(), servlet) == ending.end()) ending.push_back(servlet);
  for (const auto& servlet : ending) servlet->endWithPage();
}

void MwJSWebview::webViewDidFinishLoad(pf::WebView& view) {
  if (auto delegate = pageDelegate_.lock()) delegate->webViewDidFinishLoad(view);
}

void MwJSWebview::webViewDidFailLoad(pf::WebView& view, const pf::Error& error) {
  if (auto delegate = pageDelegate_.lock()) delegate->webViewDidFailLoad(view, error);
}

void MwJSWebview::webViewDidSetTitle(pf::WebView& view, const std::string& title) {
  if (auto delegate = pageDelegate_.lock()) delegate->webViewDidSetTitle(view, title);
}

void MwJSWebview::webViewDidRequestBack(pf::WebView& view) {
  if (auto delegate = pageDelegate_.lock()) delegate->webViewDidRequestBack(view);
}

}  // namespace container
