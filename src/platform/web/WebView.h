#pragma once
// The page host view: loads an HTML page from the page tree into a script engine of its own
// (one heap per page, with a time budget and a memory cap), runs its scripts, keeps a least DOM,
// lays the document out in blocks and draws it as the content of its scroll view. Native views
// inserted into the scroll view scroll and render with the page. Taps injected through the window
// reach the element under them and fire its click listeners. Main thread only (asserted in debug
// builds); made with make(), held by shared_ptr.
//
// Re-entrancy: the engine is never entered from inside one of its own native frames. While a
// NativeCallScope is open (a native call made on the page's behalf, which may run the main loop
// nested), page timers, click deliveries, navigation and other delegate calls that come due wait
// in a queue and run, in order, on a main-loop pass after the last scope has closed. See
// docs/bridge.md ("Page host").

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"
#include "platform/web/ScriptLimits.h"

namespace pf {

class WebView;
class PageContentView;

class WebViewDelegate {  // held weakly by the web view; every call on the main thread
 public:
  // Every call but webViewDidClosePage comes on a later main-loop pass, never from inside
  // loadFile or a script.
  virtual ~WebViewDelegate() = default;
  // The page asks to go to `url` (window.location, a link). A page path (no scheme, resolved
  // against the current page, inside the page tree) loads in this web view when this returns
  // true; any other URL only reaches the delegate.
  virtual bool webViewShouldStartLoad(WebView& view, const std::string& url) { return true; }
  virtual void webViewDidFinishLoad(WebView& view) {}                     // scripts and onload have run
  virtual void webViewDidFailLoad(WebView& view, const Error& error) {}   // the page cannot open
  virtual void webViewDidSetTitle(WebView& view, const std::string& title) {}
  virtual void webViewDidRequestBack(WebView& view) {}                    // history.back()
  // The loaded page has gone: another page replaces it. Called at once, from inside the load,
  // before the next page runs a line (nothing of the old page runs any more, and no page is
  // loaded during the call: evaluating script answers ""). Must not load a page.
  virtual void webViewDidClosePage(WebView& view) {}
};

class WebView : public View {
 public:
  static constexpr std::size_t kMaxPageBytes = 8u << 20;    // an HTML file or a script file
  static constexpr const char* kDefaultUserAgent = "FxPageHost/1.0 (Linux; headless)";

  explicit WebView(const Rect& frame = Rect());
  ~WebView() override;
  static std::shared_ptr<WebView> make(const Rect& frame);
  std::string className() const override { return "UIWebView"; }

  void setDelegate(std::weak_ptr<WebViewDelegate> delegate) { delegate_ = std::move(delegate); }
  void setUserScript(std::string script) { userScript_ = std::move(script); }  // before each page's own scripts
  void setUserAgent(std::string ua) { userAgent_ = std::move(ua); }           // navigator.userAgent
  const std::string& userAgent() const { return userAgent_; }
  void setScriptLimits(ScriptLimits limits) { limits_ = limits; }             // for pages loaded later
  // The page tree: pages and their `src` scripts are read only inside it. Empty: the folder of
  // each file given to loadFile.
  void setPageRoot(const std::string& root);
  const std::string& pageRoot() const { return pageRoot_; }
  // Whether loadFile(path) under the page tree `root` finds a page: a regular file inside the
  // tree, symbolic links followed (whether it reads is found out by loading it).
  static bool isPageInTree(const std::string& root, const std::string& path);

  // Loads an HTML file: title, user script, the page's scripts in document order, then onload.
  // Runs at once (queued while a script of this view is running); the delegate hears
  // webViewDidFinishLoad or webViewDidFailLoad on a later pass.
  void loadFile(const std::string& path);
  // Evaluates the script in the page and answers its result as text ("" for undefined, for an
  // error, or when no page is loaded). Inside an open NativeCallScope it runs at once (no script
  // of the page is running then: this is how a native call's answer reaches the page). Called
  // from inside one of the page's own native frames it answers "" and the script is queued to run
  // once that frame has returned.
  std::string evaluateScript(const std::string& script);

  // A script function the native side calls again and again (the page bridge's): its source, a
  // function expression run in the page's global scope, is compiled once per page, at its first
  // call, and kept with the page out of the page's reach.
  class Function {
   public:
    Function(std::string source, std::string name);  // name: the file name of its errors

   private:
    friend class WebView;
    std::string source_;
    std::string name_;
    unsigned slot_;
  };
  // Calls the function with the arguments, handed to the page as JSON.parse would make them from
  // their JSON text (no script text is compiled or read for them). Answers, and waits for a running
  // script, as evaluateScript; nullopt, with nothing run, when an argument has no JSON text (a
  // number that is not finite, binary data, text that is not UTF-8, nesting beyond 512 levels).
  std::optional<std::string> callFunction(const Function& function, std::span<const Value> arguments = {});

  std::shared_ptr<ScrollView> scrollView() const { return scrollView_; }
  std::string title() const;
  std::string currentPath() const;
  bool isLoaded() const;

  // A native call made for the page is in progress while one is alive (see the header comment).
  class NativeCallScope {
   public:
    explicit NativeCallScope(WebView& view);
    ~NativeCallScope();
    NativeCallScope(const NativeCallScope&) = delete;
    NativeCallScope& operator=(const NativeCallScope&) = delete;

   private:
    std::weak_ptr<WebView> view_;
  };
  bool isInNativeCall() const { return nativeCalls_ > 0; }

  // The laid-out height of the page content (points), after any pending layout.
  double contentHeight();
  // Where the element with the id is drawn, in this view's coordinates, after any pending layout:
  // its first box (for an inline element, the paragraph it is in). What a finger aims at; nullopt
  // when no loaded page has the element or it has no box.
  std::optional<Rect> elementFrame(std::string_view elementId);
  void layoutSubviews() override;

  struct Page;  // one loaded page (internal)

 private:
  friend struct Page;
  friend class PageContentView;
  friend class NativeCallScope;
  // A tap on the page content (content coordinates), from the content view: the element under
  // it gets a click. Returns whether an element was there.
  bool tapContent(Point point);
  // Runs fn now when the page host may enter the engine, else queues it.
  void deliver(std::function<void()> fn);
  // Runs fn on a later main-loop pass (then as deliver).
  void post(std::function<void()> fn);
  void drainQueue();
  void scheduleDrain();
  void addPageTimer(Page& page, int id, double seconds, bool repeats);
  bool mayEnter() const;
  void loadNow(const std::string& path);
  void navigate(const std::string& url);
  void requestBack();
  void titleChanged();
  void afterScript();
  void failLoad(const Error& error);
  std::weak_ptr<WebView> weakSelf();

  std::weak_ptr<WebViewDelegate> delegate_;
  std::string userScript_;
  std::string userAgent_ = kDefaultUserAgent;
  std::string pageRoot_;
  ScriptLimits limits_;
  std::shared_ptr<ScrollView> scrollView_;
  std::shared_ptr<View> pageView_;
  std::unique_ptr<Page> page_;
  std::deque<std::function<void()>> queue_;
  int nativeCalls_ = 0;
  bool drainPosted_ = false;
  bool draining_ = false;
};

}  // namespace pf
