#include "container/MwWebview.h"


#include "container/MwJSWebview.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadChecker.h"

namespace container {

MwWebview::MwWebview(const pf::Rect& frame)
    : pf::View(frame), pageRoot_((pf::Sandbox::documents() / "release").string()) {}

std::shared_ptr<MwWebview> MwWebview::initWithFrame(const pf::Rect& frame) {
  return std::make_shared<MwWebview>(frame);
}

MwWebview::~MwWebview() = default;

std::weak_ptr<pf::WebViewDelegate> MwWebview::weakDelegate() {
  return std::static_pointer_cast<MwWebview>(shared_from_this());
}

void MwWebview::openUrl(const std::string& path) {
  PF_ASSERT_MAIN_THREAD();
  auto page = MwJSWebview::make(pf::Rect{{0, 0}, bounds().size});
  page->setPageDelegate(weakDelegate());
  page->webView()->setPageRoot(pageRoot_);
  pages_.push_back(page);
  addSubview(page->webView());
  page->webView()->loadFile((std::filesystem::path(pageRoot_) / path).string());
}

std::shared_ptr<MwJSWebview> MwWebview::currentPage() const { return pages_.empty() ? nullptr : pages_.back(); }

void MwWebview::layoutSubviews() {
  pf::View::layoutSubviews();
  for (const auto& page : pages_) page->webView()->setFrame(pf::Rect{{0, 0}, bounds().size});
}

void MwWebview::webViewDidFinishLoad(pf::WebView&) {
  if (auto d = statusDelegate_.lock()) d->didPageStatus(true);
  if (!initCompleted_) {
    initCompleted_ = true;
    if (auto d = initDelegate_.lock()) d->didInitCompleted();
  }
}

void MwWebview::webViewDidFailLoad(pf::WebView&, const pf::Error&) {
  if (auto d = statusDelegate_.lock()) d->didPageStatus(false);
}

void MwWebview::webViewDidSetTitle(pf::WebView&, const std::string& title) {
  if (auto d = setingDelegate_.lock()) d->didSetingTitle(title);
}

void MwWebview::webViewDidRequestBack(pf::WebView& view) {
  if (pages_.size() > 1 && pages_.back()->webView().get() == &view) {
    auto closing = pages_.back();
    pages_.pop_back();
    closing->webView()->removeFromSuperview();
    return;
  }
  if (pages_.size() == 1) {
    if (auto l = eventListener_.lock()) l->onBack();
  }
}

}  // namespace container
