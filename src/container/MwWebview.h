#pragma once
// The page host view: a stack of pages (MwJSWebview), each opened by its path under the page tree
// (Documents/release unless set). The top page fills the view; history.back() closes it, or, on the
// only page, tells the event listener (onBack). Main thread only.

#include <memory>
#include <string>
#include <vector>

#include "container/MwWebviewDelegates.h"
#include "platform/ui/View.h"
#include "platform/web/WebView.h"

namespace container {

class MwJSWebview;

class MwWebview : public pf::View, public pf::WebViewDelegate {
 public:
  explicit MwWebview(const pf::Rect& frame);
  static std::shared_ptr<MwWebview> initWithFrame(const pf::Rect& frame);
  ~MwWebview() override;

  // Opens the page at the path (relative to the page tree) on top of the stack.
  void openUrl(const std::string& path);

  std::shared_ptr<MwJSWebview> currentPage() const;
  std::size_t pageCount() const { return pages_.size(); }

  // Documents/release by default.
  void setPageRoot(const std::string& root) { pageRoot_ = root; }
  const std::string& pageRoot() const { return pageRoot_; }

  void setDelegate(std::weak_ptr<MwWebviewKeyboardDelegate> d) { delegate_ = std::move(d); }
  std::shared_ptr<MwWebviewKeyboardDelegate> delegate() const { return delegate_.lock(); }
  void setStatusDelegate(std::weak_ptr<MwWebviewStatusDelegate> d) { statusDelegate_ = std::move(d); }
  void setInitDelegate(std::weak_ptr<MwWebviewInitDelegate> d) { initDelegate_ = std::move(d); }
  void setSetingDelegate(std::weak_ptr<MwWebviewSetingDelegate> d) { setingDelegate_ = std::move(d); }
  void setEventListener(std::weak_ptr<MwWebviewListener> l) { eventListener_ = std::move(l); }

  void layoutSubviews() override;

  // The pages' navigation calls.
  void webViewDidFinishLoad(pf::WebView& view) override;
  void webViewDidFailLoad(pf::WebView& view, const pf::Error& error) override;
  void webViewDidSetTitle(pf::WebView& view, const std::string& title) override;
  void webViewDidRequestBack(pf::WebView& view) override;

 private:
  std::weak_ptr<pf::WebViewDelegate> weakDelegate();

  std::vector<std::shared_ptr<MwJSWebview>> pages_;
  std::string pageRoot_;
  bool initCompleted_ = false;
  std::weak_ptr<MwWebviewKeyboardDelegate> delegate_;
  std::weak_ptr<MwWebviewStatusDelegate> statusDelegate_;
  std::weak_ptr<MwWebviewInitDelegate> initDelegate_;
  std::weak_ptr<MwWebviewSetingDelegate> setingDelegate_;
  std::weak_ptr<MwWebviewListener> eventListener_;
};

}  // namespace container
