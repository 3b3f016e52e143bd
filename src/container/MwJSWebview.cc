#include "container/MwJSWebview.h"

#include <cctype>
#include <cmath>

#include "container/LoggerUtil.h"
#include "container/MwPageBridgeScript.h"
#include "container/MwServlet.h"
#include "container/MwServletManager.h"
#include "container/MwTask.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Thread.h"
#include "platform/net/Url.h"
#include "widgets/MwProgressHUD.h"
#include "platform/foundation/ThreadChecker.h"

namespace container {

std::shared_ptr<MwJSWebview> MwJSWebview::make(const pf::Rect& frame) {
  auto view = std::shared_ptr<MwJSWebview>(new MwJSWebview());
  view->webView_ = pf::WebView::make(frame);
  view->webView_->setUserScript(pageBridgeScript());
  view->webView_->setDelegate(std::weak_ptr<pf::WebViewDelegate>(view));
  view->bridge_ = std::make_unique<MwWebViewMiddleBridge>(*view);
  return view;
}

MwJSWebview::~MwJSWebview() {
  if (!waitingCalls_.empty()) widgets::MwProgressHUD::hideHUDForView(webView_, false);
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
  std::shared_ptr<MwServlet> servlet;
  if (auto kept = servlets_.find(id); kept != servlets_.end()) {
    servlet = kept->second;
  } else {
    servlet = MwServletManager::getInstance().getServletWithName(request.getServletName(), request.getScheme());
  }
  if (!servlet) {
    const std::string name = request.getScheme() == kSchemeClient ? request.getServletName() : request.getUrl();
    LoggerUtil::debug(pf::format("no servlet for the page call %@ (%@)", id, request.getUrl()));
    answer({{"result", kResultError}, {"data", {{"ERRMSG", "no servlet is registered for \"" + name + "\""}}}}, id);
    return false;
  }
  auto self = shared_from_this();
  servlets_[id] = servlet;
  if (request.isWaiting() && waitingCalls_.insert(id).second && waitingCalls_.size() == 1) {
    widgets::MwProgressHUD::showHUDAddedTo(webView_, false);
  }
  servlet->awareAboutJSWebView(self);
  auto task = MwTask::make(kTaskTypePageCall, id, std::weak_ptr<MwJSTaskListener>(self),
                           std::weak_ptr<MwJSTaskDelegate>(self));
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

std::optional<std::string> MwJSWebview::answerScript(const pf::Value& answer) {
  pf::JsonWriteOptions options;
  options.escapeLineSeparators = true;
  auto json = pf::writeJson(answer, options);
  if (!json) return std::nullopt;
  return pf::format("javascript:%@(%@)", kAnswerFunction, *json);
}

void MwJSWebview::answer(pf::Value result, const std::string& taskID) {
  if (!result.is_object()) result = pf::Value::object();
  result["responseId"] = taskID;
  auto script = answerScript(result);
  if (!script) {
    LoggerUtil::debug(pf::format("the answer to %@ is no JSON: an error goes instead", taskID));
    script = answerScript({{"result", kResultError}, {"responseId", taskID}});
  }
  webView_->evaluateScript(*script);
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
  const std::string fetched = webView_->evaluateScript(std::string(kFetchQueueScript));
  bridge_->flushMessageQueue(fetched);
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
  bool go = true;
  if (auto delegate = pageDelegate_.lock()) go = delegate->webViewShouldStartLoad(view, url);
  if (go && isPagePath(url)) closeOpenCalls();
  return go;
}

bool MwJSWebview::isPagePath(std::string_view url) {
  // "scheme:" is letters, digits, "+", "-", "." after a letter; a page path has none, or "file:".
  std::size_t i = 0;
  if (i < url.size() && std::isalpha(static_cast<unsigned char>(url[i]))) {
    while (++i < url.size() && (std::isalnum(static_cast<unsigned char>(url[i])) || url[i] == '+' ||
                                 url[i] == '-' || url[i] == '.')) {
    }
    if (i < url.size() && url[i] == ':') return pf::equalsIgnoringCase(url.substr(0, i), "file");
  }
  return true;
}

void MwJSWebview::closeOpenCalls() {
  PF_ASSERT_MAIN_THREAD();
  // The next page numbers its calls afresh: calls of the page that goes must not take them.
  servlets_.clear();
  if (!waitingCalls_.empty()) {
    waitingCalls_.clear();
    widgets::MwProgressHUD::hideHUDForView(webView_, false);
  }
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
