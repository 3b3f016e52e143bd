#include "platform/web/WebView.h"

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadChecker.h"
#include "platform/foundation/Timer.h"
#include "platform/net/UrlError.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/web/Page.h"

namespace pf {

namespace fs = std::filesystem;

namespace {

constexpr int kNoPermissionsToReadFile = -1102;

Error loadError(int code, const std::string& url, const std::string& detail) {
  Value info = Value::object();
  info[kLocalizedDescriptionKey] = urlErrorDescription(code);
  info[kUrlErrorFailingUrlStringKey] = url;
  if (!detail.empty()) info[kLocalizedFailureReasonKey] = detail;
  return Error(kUrlErrorDomain, code, std::move(info));
}

// Whether p lies inside root, symbolic links followed (a link in the tree cannot lead out of it).
bool isInside(const fs::path& root, const fs::path& p) {
  std::error_code ec;
  auto r = fs::weakly_canonical(root, ec);
  if (ec) return false;
  auto q = fs::weakly_canonical(p, ec);
  if (ec) return false;
  auto [ri, qi] = std::mismatch(r.begin(), r.end(), q.begin(), q.end());
  // A trailing empty element of the root ("dir/") matches anything.
  return ri == r.end() || (std::next(ri) == r.end() && ri->empty());
}

// Where a page path points: relative to `folder` (the current page's), a leading "/" to the
// root, a file: URL as it stands; query and fragment dropped. nullopt for a URL with another
// scheme, or one that names nothing.
std::optional<fs::path> resolvePagePath(const std::string& url, const fs::path& root, const fs::path& folder) {
  std::string target = url;
  const bool fileUrl = target.rfind("file://", 0) == 0;
  if (fileUrl) {
    target.erase(0, 7);
  } else {
    std::size_t colon = target.find(':');
    std::size_t slash = target.find_first_of("/?#");
    if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) return std::nullopt;
  }
  if (std::size_t cut = target.find_first_of("?#"); cut != std::string::npos) target.resize(cut);
  if (target.empty()) return std::nullopt;
  fs::path out = fileUrl ? fs::path(target) : target.front() == '/' ? root / target.substr(1) : folder / target;
  return out.lexically_normal();
}

// Text leaving the engine, made well-formed (its own bytes when they are already).
std::string wellFormed(std::string text) { return isValidUtf8(text) ? text : web::wellFormedUtf8(text); }

}  // namespace

// The view that shows the laid-out page inside the scroll view and takes its taps.
class PageContentView : public View {
 public:
  explicit PageContentView(WebView* owner) : View(Rect()), owner_(owner) { setOpaque(false); }
  std::string className() const override { return "FxPageContentView"; }
  void drawRect(const Rect& rect) override;
  void touchesEnded(const Touch& touch) override {
    if (owner_) owner_->tapContent(touch.location);
  }
  void detach() { owner_ = nullptr; }
  const web::PageLayout* layout = nullptr;

 private:
  WebView* owner_;
};

void PageContentView::drawRect(const Rect& rect) {
  if (!layout) return;
  // Only what the clip lets through is drawn: a long page costs what is in sight.
  if (GraphicsContext* ctx = currentContext()) layout->paint(*ctx, rect.intersection(ctx->clipBoundingBox()));
}

// ---------------------------------------------------------------------------------------------

WebView::WebView(const Rect& frame) : View(frame) {
  setBackgroundColor(Color::whiteColor());
  scrollView_ = ScrollView::make(Rect(Point(), frame.size));
  scrollView_->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
  scrollView_->setClipsToBounds(true);
  pageView_ = std::make_shared<PageContentView>(this);
  pageView_->setFrame(Rect(0, 0, frame.width(), frame.height()));
  scrollView_->addSubview(pageView_);
  addSubview(scrollView_);
}

WebView::~WebView() {
  static_cast<PageContentView*>(pageView_.get())->detach();
  static_cast<PageContentView*>(pageView_.get())->layout = nullptr;
}

std::shared_ptr<WebView> WebView::make(const Rect& frame) { return std::make_shared<WebView>(frame); }

std::weak_ptr<WebView> WebView::weakSelf() {
  return std::static_pointer_cast<WebView>(shared_from_this());
}

void WebView::setPageRoot(const std::string& root) {
  PF_ASSERT_MAIN_THREAD();
  pageRoot_ = root.empty() ? std::string() : fs::absolute(root).lexically_normal().string();
}

std::string WebView::title() const { return page_ && page_->doc ? page_->doc->title() : std::string(); }
std::string WebView::currentPath() const { return page_ ? page_->file : std::string(); }
bool WebView::isLoaded() const { return page_ && page_->loaded; }

// ---- the gate

bool WebView::mayEnter() const {
  return nativeCalls_ == 0 && !(page_ && page_->engine && page_->engine->isRunning());
}

void WebView::deliver(std::function<void()> fn) {
  queue_.push_back(std::move(fn));
  drainQueue();
}

void WebView::drainQueue() {
  if (draining_) return;
  // A delegate call in the queue may let go of the last reference to this view.
  auto self = weakSelf().lock();
  draining_ = true;
  while (!queue_.empty() && mayEnter()) {
    auto fn = std::move(queue_.front());
    queue_.pop_front();
    fn();
  }
  draining_ = false;
}

void WebView::post(std::function<void()> fn) {
  RunLoop::main()->perform([w = weakSelf(), fn = std::move(fn)]() mutable {
    if (auto v = w.lock()) v->deliver(std::move(fn));
  });
}

void WebView::scheduleDrain() {
  if (queue_.empty() || drainPosted_) return;
  drainPosted_ = true;
  RunLoop::main()->perform([w = weakSelf()] {
    if (auto v = w.lock()) {
      v->drainPosted_ = false;
      v->drainQueue();
    }
  });
}

WebView::NativeCallScope::NativeCallScope(WebView& view) : view_(view.weakSelf()) {
  PF_ASSERT_MAIN_THREAD();
  ++view.nativeCalls_;
}

WebView::NativeCallScope::~NativeCallScope() {
  auto v = view_.lock();
  if (!v) return;
  if (--v->nativeCalls_ == 0) v->scheduleDrain();
}

// ---- loading

bool WebView::isPageInTree(const std::string& root, const std::string& path) {
  std::error_code ec;
  const fs::path tree = fs::absolute(root, ec).lexically_normal();
  if (ec || root.empty()) return false;
  const fs::path file = fs::absolute(path, ec).lexically_normal();
  return !ec && isInside(tree, file) && fs::is_regular_file(file, ec);
}

void WebView::loadFile(const std::string& path) {
  PF_ASSERT_MAIN_THREAD();
  if (page_ && page_->engine && page_->engine->isRunning()) {
    deliver([this, w = weakSelf(), path] {
      if (w.lock()) loadNow(path);
    });
    return;
  }
  loadNow(path);
}

void WebView::failLoad(const Error& error) {
  logLine("Page host: cannot open " + error.userInfo.value(kUrlErrorFailingUrlStringKey, std::string()) + ": " +
          error.localizedDescription());
  post([this, error] {
    if (auto d = delegate_.lock()) d->webViewDidFailLoad(*this, error);
  });
}

namespace {

std::optional<std::string> readText(const fs::path& file, Error* error) {
  auto bytes = FileManager::readFile(file, error, WebView::kMaxPageBytes);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

}  // namespace

void WebView::loadNow(const std::string& path) {
  auto self = weakSelf().lock();  // the delegate told of the closing page may let go of this view
  fs::path file = fs::absolute(path).lexically_normal();
  fs::path root = pageRoot_.empty() ? file.parent_path() : fs::path(pageRoot_);
  if (!isInside(root, file)) {
    failLoad(loadError(kNoPermissionsToReadFile, path, "outside the page tree"));
    return;
  }
  Error readError;
  auto html = readText(file, &readError);
  if (!html) {
    bool tooLarge = FileManager::fileExists(file) && !FileManager::isDirectory(file);
    failLoad(loadError(tooLarge ? UrlErrorCode::kDataLengthExceedsMaximum : UrlErrorCode::kFileDoesNotExist, path,
                       readError.localizedDescription()));
    return;
  }
  std::string name = file.lexically_relative(root).string();
  auto page = std::make_unique<Page>(*this, file.string(), name);
  page->doc = web::Document::parse(*html);
  html->clear();
  // The old page goes (its timers with it) before the new one runs a line.
  const bool closing = page_ != nullptr;
  page_.reset();
  auto* content = static_cast<PageContentView*>(pageView_.get());
  content->layout = nullptr;
  scrollView_->setContentOffset(Point{0, 0});
  if (closing) {
    if (auto d = delegate_.lock()) d->webViewDidClosePage(*this);
  }
  page_ = std::move(page);
  Page& p = *page_;
  const std::uint64_t generation = p.generation;
  auto same = [this, generation] { return page_ && page_->generation == generation; };

  if (!p.start(limits_)) {
    page_.reset();
    failLoad(loadError(UrlErrorCode::kUnknown, path, "the script engine could not start"));
    return;
  }
  if (std::string t = p.doc->title(); !t.empty()) titleChanged();
  if (!userScript_.empty()) p.engine->run(userScript_, "user-script");
  auto scripts = p.doc->scripts();
  int index = 0;
  for (const auto& [inlineText, src, wellFormed] : scripts) {
    ++index;
    if (!same()) return;
    if (src.empty()) {
      std::string name = p.name + " (script " + std::to_string(index) + ")";
      if (wellFormed)
        p.engine->run(inlineText, name);
      else
        logLine(name + " skipped: not UTF-8");
      continue;
    }
    auto scriptFile = resolvePagePath(src, root, file.parent_path());
    if (!scriptFile || !isInside(root, *scriptFile)) {
      logLine(p.name + ": script " + src + " skipped: outside the page tree");
      continue;
    }
    Error err;
    auto code = readText(*scriptFile, &err);
    if (!code) {
      logLine(p.name + ": script " + src + " skipped: " + err.localizedDescription());
      continue;
    }
    if (!isValidUtf8(*code)) {
      logLine(p.name + ": script " + src + " skipped: not UTF-8");
      continue;
    }
    p.engine->run(*code, scriptFile->lexically_relative(root).string());
  }
  if (!same()) return;
  p.readyState = "interactive";
  p.callHook("load", 0, false);
  p.readyState = "complete";
  p.loaded = true;
  content->layout = &p.layout;
  afterScript();
  post([this, generation] {
    if (!page_ || page_->generation != generation) return;
    if (auto d = delegate_.lock()) d->webViewDidFinishLoad(*this);
  });
}

// ---- scripts

std::string WebView::evaluateScript(const std::string& script) {
  PF_ASSERT_MAIN_THREAD();
  if (!page_ || !page_->engine) return {};
  if (page_->engine->isRunning()) {
    // Never inside one of the page's own native frames: it runs once that frame has returned.
    queue_.push_back([this, w = weakSelf(), script] {
      if (w.lock()) evaluateScript(script);
    });
    return {};
  }
  std::string text;
  if (!page_->engine->run(script, page_->name + " (evaluated)", &text)) text.clear();
  afterScript();
  return wellFormed(std::move(text));
}

WebView::Function::Function(std::string source, std::string name) : source_(std::move(source)), name_(std::move(name)) {
  static std::atomic<unsigned> slots{0};
  slot_ = slots++;
}

std::optional<std::string> WebView::callFunction(const Function& function, std::span<const Value> arguments) {
  PF_ASSERT_MAIN_THREAD();
  if (!page_ || !page_->engine) return std::string();
  if (page_->engine->isRunning()) {
    // Checked now, so that the caller hears of an argument that cannot go.
    if (!std::all_of(arguments.begin(), arguments.end(), web::Engine::hasJsonForm)) return std::nullopt;
    queue_.push_back([this, w = weakSelf(), function, kept = std::vector<Value>(arguments.begin(), arguments.end())] {
      if (w.lock()) callFunction(function, kept);
    });
    return std::string();
  }
  std::string text;
  const auto result = page_->engine->callKept(function.slot_, function.source_, function.name_, arguments, &text);
  if (result == web::Engine::CallResult::kRefused) return std::nullopt;
  afterScript();
  return wellFormed(std::move(text));
}

void WebView::afterScript() {
  if (page_ && page_->loaded) {
    page_->ensureLayout(scrollView_->bounds().width());
    double height = std::max(page_->layout.height(), scrollView_->bounds().height());
    Rect frame(0, 0, scrollView_->bounds().width(), height);
    if (pageView_->frame() != frame) pageView_->setFrame(frame);
    scrollView_->setContentSize(Size{frame.width(), page_->layout.height()});
    // A page that got shorter keeps its end in sight.
    const double maxOffset = std::max(0.0, page_->layout.height() - scrollView_->bounds().height());
    if (scrollView_->contentOffset().y > maxOffset) scrollView_->setContentOffset(Point{0, maxOffset});
    pageView_->setNeedsDisplay();
  }
  if (mayEnter()) scheduleDrain();
}

double WebView::contentHeight() {
  PF_ASSERT_MAIN_THREAD();
  if (!page_ || !page_->loaded) return 0;
  page_->ensureLayout(scrollView_->bounds().width());
  return page_->layout.height();
}

std::optional<Rect> WebView::elementFrame(std::string_view elementId) {
  PF_ASSERT_MAIN_THREAD();
  if (!page_ || !page_->loaded) return std::nullopt;
  const web::Node* node = page_->doc->elementById(elementId);
  if (!node) return std::nullopt;
  page_->ensureLayout(scrollView_->bounds().width());
  const Rect frame = page_->layout.frameOf(node);
  if (frame.isEmpty()) return std::nullopt;
  return pageView_->convertRect(frame, this);
}

void WebView::layoutSubviews() {
  View::layoutSubviews();
  if (page_ && page_->loaded && page_->laidOutWidth != scrollView_->bounds().width()) afterScript();
}

bool WebView::tapContent(Point point) {
  PF_ASSERT_MAIN_THREAD();
  if (!page_ || !page_->loaded) return false;
  page_->ensureLayout(scrollView_->bounds().width());
  const web::Node* node = page_->layout.elementAt(point);
  if (!node) return false;
  const int id = node->id;
  const std::uint64_t generation = page_->generation;
  deliver([this, w = weakSelf(), id, generation] {
    if (!w.lock() || !page_ || page_->generation != generation) return;
    page_->callHook("click", id, true);
    afterScript();
  });
  return true;
}

// ---- requests from the page

void WebView::navigate(const std::string& url) {
  const std::uint64_t generation = page_ ? page_->generation : 0;
  post([this, url, generation] {
    if (!page_ || page_->generation != generation) return;
    bool go = true;
    if (auto d = delegate_.lock()) go = d->webViewShouldStartLoad(*this, url);
    if (!go || !page_ || page_->generation != generation) return;
    fs::path file(page_->file);
    auto next = resolvePagePath(url, pageRoot_.empty() ? file.parent_path() : fs::path(pageRoot_), file.parent_path());
    if (!next) return;
    loadNow(next->string());
  });
}

void WebView::requestBack() {
  const std::uint64_t generation = page_ ? page_->generation : 0;
  post([this, generation] {
    if (!page_ || page_->generation != generation) return;
    if (auto d = delegate_.lock()) d->webViewDidRequestBack(*this);
  });
}

void WebView::titleChanged() {
  const std::uint64_t generation = page_ ? page_->generation : 0;
  post([this, generation] {
    if (!page_ || page_->generation != generation) return;
    if (auto d = delegate_.lock()) d->webViewDidSetTitle(*this, title());
  });
}


// ---- page timers

void WebView::addPageTimer(Page& p, int id, double seconds, bool repeats) {
  const std::uint64_t generation = p.generation;
  auto timer = Timer::make(seconds, repeats, [w = weakSelf(), generation, id, repeats](Timer&) {
    auto v = w.lock();
    if (!v || !v->page_ || v->page_->generation != generation) return;
    Page& page = *v->page_;
    if (!repeats) page.timers.erase(id);
    if (!page.queuedTimers.insert(id).second) return;  // an interval whose last firing still waits
    v->deliver([w, generation, id, repeats] {
      auto v2 = w.lock();
      if (!v2 || !v2->page_ || v2->page_->generation != generation) return;
      v2->page_->queuedTimers.erase(id);
      web::fireTimer(*v2->page_, id, repeats);
      v2->afterScript();
    });
  });
  p.timers[id] = timer;
  RunLoop::main()->addTimer(timer, kRunLoopCommonModes);
}

}  // namespace pf
