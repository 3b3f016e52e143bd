#pragma once
// The web view of one page: it owns the page host (pf::WebView) and its bridge, answers the page's
// calls through servlets and their tasks, and shows the container's overlay while a waiting call is
// open. Main thread only (asserted in debug builds).
//
// A page call: the page queues a message and asks for "mwpagebridge://queuehasmessage"; on that
// navigation the web view fetches the queue (MwPageBridge._fetchQueue()), the bridge sorts it and
// every call reaches onAsyncJsCommand: the servlet kept under the request id, or a new one from the
// registry, gets the web view and a page task (type 1, the request id, the waiting time: 100 s when
// none or no sensible one was given). Answers go back to the page's MwUI.Bridge.sendMessage with
// "result" and "responseId" set. The fetch and the answer are functions compiled once per page and
// called with arguments (the answer built straight into the page's engine), never script text per call.
//
// Page loads: a page task answers only the page load it was made for. When another page loads in
// the web view (navigation, reload, loadFile) or the web view goes, the open calls of the page that
// went are dropped, their servlets are ended (MwServlet::endWithPage) and their tasks answer nobody:
// the next page numbers its calls afresh. A servlet that made something for the page that outlives
// its call (a chart over the page) is kept with the page (keepUntilPageGoes) and ended with it the
// same way. The calls of one fetched batch are its page's: when one of them loads another page,
// those behind it are dropped unanswered with the page that made them. See docs/bridge.md.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "container/MwJSTaskListener.h"
#include "container/MwWebViewMiddleBridge.h"
#include "platform/web/WebView.h"

namespace container {

class MwServlet;

inline constexpr const char* kAnswerFunction = "MwUI.Bridge.sendMessage";

class MwJSWebview : public pf::WebViewDelegate,
                    public MwJSTaskListener,
                    public MwJSTaskDelegate,
                    public MwWebViewMiddleBridgeDelegate,
                    public std::enable_shared_from_this<MwJSWebview> {
 public:
  static std::shared_ptr<MwJSWebview> make(const pf::Rect& frame);
  ~MwJSWebview() override;
  MwJSWebview(const MwJSWebview&) = delete;
  MwJSWebview& operator=(const MwJSWebview&) = delete;

  // The page host view (lay it into any view).
  const std::shared_ptr<pf::WebView>& webView() const { return webView_; }
  // Navigation calls of the page host other than the bridge's are passed on to this delegate.
  void setPageDelegate(std::weak_ptr<pf::WebViewDelegate> delegate) { pageDelegate_ = std::move(delegate); }

  // Evaluates the script in the page (result dropped).
  void doJs(const std::string& script);
  // Evaluates the script and answers its result text ("" for undefined or an error).
  std::string stringByEvaluatingJavaScriptFromString(const std::string& script);
  // The page's scroll view; native views inserted into it scroll with the page.
  std::shared_ptr<pf::ScrollView> scrollView() const { return webView_->scrollView(); }

  // One page call (see the class comment); answers what the servlet's handleRequest answered.
  bool onAsyncJsCommand(const MwServletRequest& request) override;
  // A call that cannot be taken: answered at once with {"result": 100, "data": {"ERRMSG": reason}}.
  void onRefusedJsCommand(const std::string& requestId, const std::string& reason) override;

  // Page tasks report here.
  void onSuccessWithResult(const pf::Value& result, int type, const std::string& taskID) override;
  void onErrorWithResult(const pf::Value& result, int type, const std::string& taskID) override;
  void onCancelWithResult(const pf::Value& result, int type, const std::string& taskID) override;
  void onTimeOutWithResult(const pf::Value& result, int type, const std::string& taskID) override;
  void unregisterNativeToJSRequest(const std::string& taskID) override;
  void endNativeToJSRequest(const std::string& taskID) override;

  // The page host's delegate calls.
  bool webViewShouldStartLoad(pf::WebView& view, const std::string& url) override;
  void webViewDidFinishLoad(pf::WebView& view) override;
  void webViewDidFailLoad(pf::WebView& view, const pf::Error& error) override;
  void webViewDidSetTitle(pf::WebView& view, const std::string& title) override;
  void webViewDidRequestBack(pf::WebView& view) override;
  void webViewDidClosePage(pf::WebView& view) override;

  // Ends the servlet (MwServlet::endWithPage) when the current page goes, with its open calls,
  // though it keeps no call open: what it made for the page goes with the page.
  void keepUntilPageGoes(std::shared_ptr<MwServlet> servlet);

  // Calls kept open (answered or not) and whether the overlay is up.
  std::size_t openCallCount() const { return servlets_.size(); }
  bool isShowingOverlay() const { return !waitingCalls_.empty(); }

  // The waiting time of a call as its task's time-out.
  static double taskTimeout(double waiting);

  static constexpr double kDefaultWaiting = 100;

 private:
  class PageLoad;
  MwJSWebview() = default;
  void answer(pf::Value result, const std::string& taskID);
  void endWaiting(const std::string& taskID);
  void fetchQueue();
  // Whether the call comes in a batch whose page has gone since it was fetched (logged).
  bool isCallOfAGonePage(const std::string& requestId) const;
  // The page has gone: its open calls are dropped and their servlets ended.
  void closeOpenCalls();
  // The overlay of the waiting calls goes and every kept servlet is ended (closeOpenCalls, and the
  // web view's end).
  void endPageCalls();

  std::shared_ptr<pf::WebView> webView_;
  // The current page load: the listener and delegate of its page tasks (held weakly by them).
  std::shared_ptr<PageLoad> pageLoad_;
  // While a fetched batch is sorted: the page load it was fetched from.
  std::optional<std::weak_ptr<PageLoad>> batchPage_;
  std::unique_ptr<MwWebViewMiddleBridge> bridge_;
  std::weak_ptr<pf::WebViewDelegate> pageDelegate_;
  std::map<std::string, std::shared_ptr<MwServlet>, std::less<>> servlets_;
  // Servlets ended with the current page (keepUntilPageGoes).
  std::vector<std::shared_ptr<MwServlet>> pageServlets_;
  std::set<std::string, std::less<>> waitingCalls_;
};

}  // namespace container
