#include "platform/web/WebView.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"
#include "platform/net/UrlError.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/web/Document.h"
#include "platform/web/PageLayout.h"
#include "platform/web/engine/Engine.h"

namespace pf {

namespace web {
extern const char kPagePrelude[];
void installNatives(duk_context* ctx);
}  // namespace web

namespace fs = std::filesystem;

namespace {

constexpr int kNoPermissionsToReadFile = -1102;
constexpr std::size_t kMaxTimers = 10000;
constexpr std::uint64_t kNoVersion = ~std::uint64_t{0};

void assertMainThread() { assert(Thread::isMainThread()); }

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

// The view that shows the laid-out page inside the scroll view.
class PageContentView : public View {
 public:
  explicit PageContentView(WebView* owner) : View(Rect()), owner_(owner) { setOpaque(false); }
  std::string className() const override { return "FxPageContentView"; }
  void drawRect(const Rect& rect) override;
  void touchesEnded(const Touch& touch) override {
    if (owner_) owner_->clickAtContentPoint(touch.location);
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

}  // namespace

// ---------------------------------------------------------------------------------------------
// One loaded page.

struct WebView::Page {
  Page(WebView& v, std::string file, std::string name) : view(v), file(std::move(file)), name(std::move(name)) {
    static std::uint64_t counter = 0;
    generation = ++counter;
  }
  ~Page() {
    for (auto& [id, t] : timers) t->invalidate();
  }

  WebView& view;
  std::uint64_t generation;
  std::string file;  // absolute path of the HTML file
  std::string name;  // its path inside the page tree, for log lines
  std::unique_ptr<web::Document> doc;
  std::unique_ptr<web::Engine> engine;
  std::map<int, std::shared_ptr<Timer>> timers;
  std::set<int> queuedTimers;
  int nextTimer = 1;
  bool loaded = false;
  const char* readyState = "loading";
  web::PageLayout layout;
  std::uint64_t laidOutVersion = kNoVersion;
  double laidOutWidth = -1;

  // Calls hooks.<name>(arg...) of the prelude; false when it threw (logged).
  bool callHook(const char* hook, int arg, bool withArg) {
    duk_context* ctx = engine->ctx();
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, "hooks");
    duk_remove(ctx, -2);
    if (!duk_is_object(ctx, -1)) {
      duk_pop(ctx);
      return false;
    }
    if (withArg) duk_push_int(ctx, arg);
    bool ok = engine->callMethod(withArg ? -2 : -1, hook, withArg ? 1 : 0);
    duk_pop(ctx);
    return ok;
  }

  bool start(const ScriptLimits& limits) {
    engine = std::make_unique<web::Engine>(limits, this, name);
    duk_context* ctx = engine->ctx();
    duk_push_string(ctx, "page-host");
    if (duk_pcompile_string_filename(ctx, DUK_COMPILE_FUNCTION, web::kPagePrelude) != 0) {
      engine->reportError("page host set-up");
      return false;
    }
    web::installNatives(ctx);  // pushes the natives object
    duk_push_global_object(ctx);
    web::Engine::Entry entry(*engine);
    if (duk_pcall(ctx, 2) != DUK_EXEC_SUCCESS) {
      engine->reportError("page host set-up");
      return false;
    }
    duk_push_global_stash(ctx);
    duk_insert(ctx, -2);
    duk_put_prop_string(ctx, -2, "hooks");
    duk_pop(ctx);
    return true;
  }

  // Requests of the page's natives, forwarded to the view.
  void navigate(const std::string& url) { view.navigate(url); }
  void back() { view.requestBack(); }
  void titleChanged() { view.titleChanged(); }
  void addTimer(int id, double seconds, bool repeats) { view.addPageTimer(*this, id, seconds, repeats); }
  const std::string& userAgent() const { return view.userAgent(); }

  void ensureLayout(double width) {
    if (doc->version() == laidOutVersion && width == laidOutWidth) return;
    layout.build(*doc, width);
    laidOutVersion = doc->version();
    laidOutWidth = width;
  }
};

WebView::Page* pageOf(duk_context* ctx) { return static_cast<WebView::Page*>(web::Engine::ownerOf(ctx)); }

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
  assertMainThread();
  ++view.nativeCalls_;
}

WebView::NativeCallScope::~NativeCallScope() {
  auto v = view_.lock();
  if (!v) return;
  if (--v->nativeCalls_ == 0) v->scheduleDrain();
}

// ---- loading

void WebView::loadFile(const std::string& path) {
  assertMainThread();
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
  page_.reset();
  auto* content = static_cast<PageContentView*>(pageView_.get());
  content->layout = nullptr;
  scrollView_->setContentOffset(Point(0, 0));
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
  assertMainThread();
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
  return web::wellFormedUtf8(text);
}

void WebView::afterScript() {
  if (page_ && page_->loaded) {
    page_->ensureLayout(scrollView_->bounds().width());
    double height = std::max(page_->layout.height(), scrollView_->bounds().height());
    Rect frame(0, 0, scrollView_->bounds().width(), height);
    if (pageView_->frame() != frame) pageView_->setFrame(frame);
    scrollView_->setContentSize(Size(frame.width(), page_->layout.height()));
    pageView_->setNeedsDisplay();
  }
  if (mayEnter()) scheduleDrain();
}

double WebView::contentHeight() {
  if (!page_ || !page_->loaded) return 0;
  page_->ensureLayout(scrollView_->bounds().width());
  return page_->layout.height();
}

void WebView::layoutSubviews() {
  View::layoutSubviews();
  if (page_ && page_->loaded && page_->laidOutWidth != scrollView_->bounds().width()) afterScript();
}

bool WebView::clickAtContentPoint(Point point) {
  assertMainThread();
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
  post([this] {
    if (auto d = delegate_.lock()) d->webViewDidRequestBack(*this);
  });
}

void WebView::titleChanged() {
  post([this] {
    if (auto d = delegate_.lock()) d->webViewDidSetTitle(*this, title());
  });
}

// ---------------------------------------------------------------------------------------------
// Natives the prelude builds the page's objects on. Node arguments are ids in the document.

namespace web {
namespace {

// The page of a native call; past the time budget the call throws instead (a loop over natives
// that do much each would otherwise meet the budget only at the engine's next interrupt).
WebView::Page& page(duk_context* ctx) {
  WebView::Page& p = *pageOf(ctx);
  if (p.engine->timedOut()) duk_error(ctx, DUK_ERR_RANGE_ERROR, "execution timeout");
  return p;
}

std::string str(duk_context* ctx, duk_idx_t i) {
  duk_size_t n = 0;
  const char* s = duk_get_lstring(ctx, i, &n);
  return s ? wellFormedUtf8(std::string_view(s, n)) : std::string();
}

Node* nodeAt(duk_context* ctx, duk_idx_t i) {
  return duk_is_number(ctx, i) ? page(ctx).doc->node(duk_get_int(ctx, i)) : nullptr;
}

int idOr(const Node* n) { return n ? n->id : -1; }

void pushString(duk_context* ctx, const std::string& s) { duk_push_lstring(ctx, s.data(), s.size()); }

void pushIds(duk_context* ctx, const std::vector<Node*>& nodes) {
  duk_idx_t arr = duk_push_array(ctx);
  duk_uarridx_t i = 0;
  for (const Node* n : nodes) {
    duk_push_int(ctx, n->id);
    duk_put_prop_index(ctx, arr, i++);
  }
}

duk_ret_t nLog(duk_context* ctx) {
  logLine(page(ctx).name + ": console." + str(ctx, 0) + ": " + str(ctx, 1));
  return 0;
}

duk_ret_t nReport(duk_context* ctx) {
  duk_dup(ctx, 0);
  page(ctx).engine->reportError("uncaught error in a listener");
  return 0;
}

duk_ret_t nKind(duk_context* ctx) {
  const Node* n = nodeAt(ctx, 0);
  duk_push_int(ctx, !n ? 0 : n->isElement() ? 1 : 3);
  return 1;
}

duk_ret_t nTag(duk_context* ctx) {
  const Node* n = nodeAt(ctx, 0);
  pushString(ctx, n ? (n->isElement() ? n->tag : std::string("#text")) : std::string());
  return 1;
}

duk_ret_t nParent(duk_context* ctx) {
  const Node* n = nodeAt(ctx, 0);
  duk_push_int(ctx, n ? idOr(n->parent) : -1);
  return 1;
}

duk_ret_t nChildren(duk_context* ctx) {
  const Node* n = nodeAt(ctx, 0);
  std::vector<Node*> out;
  if (n)
    for (Node* c : n->children)
      if (!duk_get_boolean(ctx, 1) || c->isElement()) out.push_back(c);
  pushIds(ctx, out);
  return 1;
}

duk_ret_t nGetAttr(duk_context* ctx) {
  auto v = page(ctx).doc->attribute(nodeAt(ctx, 0), str(ctx, 1));
  if (v)
    pushString(ctx, *v);
  else
    duk_push_null(ctx);
  return 1;
}

duk_ret_t nSetAttr(duk_context* ctx) {
  page(ctx).doc->setAttribute(nodeAt(ctx, 0), str(ctx, 1), str(ctx, 2));
  return 0;
}

duk_ret_t nRemoveAttr(duk_context* ctx) {
  page(ctx).doc->removeAttribute(nodeAt(ctx, 0), str(ctx, 1));
  return 0;
}

duk_ret_t nGetText(duk_context* ctx) {
  pushString(ctx, page(ctx).doc->textContent(nodeAt(ctx, 0)));
  return 1;
}

duk_ret_t nSetText(duk_context* ctx) {
  page(ctx).doc->setTextContent(nodeAt(ctx, 0), str(ctx, 1));
  return 0;
}

duk_ret_t nGetHtml(duk_context* ctx) {
  pushString(ctx, page(ctx).doc->innerHtml(nodeAt(ctx, 0)));
  return 1;
}

duk_ret_t nSetHtml(duk_context* ctx) {
  page(ctx).doc->setInnerHtml(nodeAt(ctx, 0), str(ctx, 1));
  return 0;
}

duk_ret_t nGetStyle(duk_context* ctx) {
  pushString(ctx, page(ctx).doc->styleValue(nodeAt(ctx, 0), str(ctx, 1)));
  return 1;
}

duk_ret_t nSetStyle(duk_context* ctx) {
  page(ctx).doc->setStyleValue(nodeAt(ctx, 0), str(ctx, 1), str(ctx, 2));
  return 0;
}

duk_ret_t nCreate(duk_context* ctx) {
  std::string tag = str(ctx, 0);
  const bool valid = !tag.empty() && std::isalpha(static_cast<unsigned char>(tag[0])) &&
                     std::all_of(tag.begin(), tag.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; });
  if (!valid) return duk_error(ctx, DUK_ERR_ERROR, "InvalidCharacterError: not a tag name");
  Node* n = page(ctx).doc->createElement(tag);
  if (!n) return duk_error(ctx, DUK_ERR_RANGE_ERROR, "the document holds too many nodes");
  duk_push_int(ctx, n->id);
  return 1;
}

duk_ret_t nCreateText(duk_context* ctx) {
  Node* n = page(ctx).doc->createText(str(ctx, 0));
  if (!n) return duk_error(ctx, DUK_ERR_RANGE_ERROR, "the document holds too many nodes");
  duk_push_int(ctx, n->id);
  return 1;
}

duk_ret_t nInsert(duk_context* ctx) {
  Node* parent = nodeAt(ctx, 0);
  Node* child = nodeAt(ctx, 1);
  Node* before = nodeAt(ctx, 2);
  if (before && before->parent != parent) return duk_error(ctx, DUK_ERR_ERROR, "NotFoundError: the reference node is not a child");
  if (!page(ctx).doc->insertChild(parent, child, before))
    return duk_error(ctx, DUK_ERR_ERROR, "HierarchyRequestError: the node cannot be inserted there");
  return 0;
}

duk_ret_t nRemove(duk_context* ctx) {
  duk_push_boolean(ctx, page(ctx).doc->removeChild(nodeAt(ctx, 0), nodeAt(ctx, 1)));
  return 1;
}

duk_ret_t nById(duk_context* ctx) {
  duk_push_int(ctx, idOr(page(ctx).doc->elementById(str(ctx, 0))));
  return 1;
}

duk_ret_t nQuery(duk_context* ctx) {
  auto found = page(ctx).doc->query(nodeAt(ctx, 0), str(ctx, 1), duk_get_boolean(ctx, 2));
  if (!found) return duk_error(ctx, DUK_ERR_SYNTAX_ERROR, "'%s' is not a valid selector", str(ctx, 1).c_str());
  pushIds(ctx, *found);
  return 1;
}

duk_ret_t nRoot(duk_context* ctx) {
  duk_push_int(ctx, page(ctx).doc->root()->id);
  return 1;
}
duk_ret_t nHead(duk_context* ctx) {
  duk_push_int(ctx, page(ctx).doc->head()->id);
  return 1;
}
duk_ret_t nBody(duk_context* ctx) {
  duk_push_int(ctx, page(ctx).doc->body()->id);
  return 1;
}

duk_ret_t nGetTitle(duk_context* ctx) {
  pushString(ctx, page(ctx).doc->title());
  return 1;
}

duk_ret_t nSetTitle(duk_context* ctx) {
  WebView::Page& p = page(ctx);
  p.doc->setTitle(str(ctx, 0));
  p.titleChanged();
  return 0;
}

duk_ret_t nReadyState(duk_context* ctx) {
  duk_push_string(ctx, page(ctx).readyState);
  return 1;
}

duk_ret_t nTimer(duk_context* ctx) {
  WebView::Page& p = page(ctx);
  if (p.timers.size() >= kMaxTimers) return duk_error(ctx, DUK_ERR_RANGE_ERROR, "too many timers");
  double ms = duk_get_number(ctx, 0);
  if (!(ms >= 0)) ms = 0;
  ms = std::min(ms, 1e10);
  const bool repeats = duk_get_boolean(ctx, 1);
  if (repeats) ms = std::max(ms, 1.0);  // an interval never spins the loop
  const int id = p.nextTimer++;
  p.addTimer(id, ms / 1000.0, repeats);
  duk_push_int(ctx, id);
  return 1;
}

duk_ret_t nClearTimer(duk_context* ctx) {
  WebView::Page& p = page(ctx);
  auto it = p.timers.find(duk_get_int(ctx, 0));
  if (it != p.timers.end()) {
    it->second->invalidate();
    p.timers.erase(it);
  }
  return 0;
}

duk_ret_t nNavigate(duk_context* ctx) {
  page(ctx).navigate(str(ctx, 0));
  return 0;
}

duk_ret_t nBack(duk_context* ctx) {
  page(ctx).back();
  return 0;
}

duk_ret_t nHref(duk_context* ctx) {
  pushString(ctx, "file://" + page(ctx).file);
  return 1;
}

duk_ret_t nUserAgent(duk_context* ctx) {
  pushString(ctx, page(ctx).userAgent());
  return 1;
}

const duk_function_list_entry kNatives[] = {
    {"log", nLog, 2},           {"report", nReport, 1},       {"kind", nKind, 1},
    {"tag", nTag, 1},           {"parent", nParent, 1},       {"children", nChildren, 2},
    {"getAttr", nGetAttr, 2},   {"setAttr", nSetAttr, 3},     {"removeAttr", nRemoveAttr, 2},
    {"getText", nGetText, 1},   {"setText", nSetText, 2},     {"getHtml", nGetHtml, 1},
    {"setHtml", nSetHtml, 2},   {"getStyle", nGetStyle, 2},   {"setStyle", nSetStyle, 3},
    {"create", nCreate, 1},     {"createText", nCreateText, 1}, {"insert", nInsert, 3},
    {"remove", nRemove, 2},     {"byId", nById, 1},           {"query", nQuery, 3},
    {"root", nRoot, 0},         {"head", nHead, 0},           {"body", nBody, 0},
    {"getTitle", nGetTitle, 0}, {"setTitle", nSetTitle, 1},   {"readyState", nReadyState, 0},
    {"timer", nTimer, 2},       {"clearTimer", nClearTimer, 1}, {"navigate", nNavigate, 1},
    {"back", nBack, 0},         {"href", nHref, 0},           {"userAgent", nUserAgent, 0},
    {nullptr, nullptr, 0}};

}  // namespace

void installNatives(duk_context* ctx) {
  duk_push_object(ctx);
  duk_put_function_list(ctx, -1, kNatives);
}

}  // namespace web

// ---- page timers

void WebView::addPageTimer(Page& p, int id, double seconds, bool repeats) {
  const std::uint64_t generation = p.generation;
  auto timer = Timer::make(seconds, repeats, [w = weakSelf(), generation, id, repeats](Timer&) {
    auto v = w.lock();
    if (!v || !v->page_ || v->page_->generation != generation) return;
    Page& page = *v->page_;
    if (!repeats) page.timers.erase(id);
    if (!page.queuedTimers.insert(id).second) return;  // an interval whose last firing still waits
    v->deliver([w, generation, id] {
      auto v2 = w.lock();
      if (!v2 || !v2->page_ || v2->page_->generation != generation) return;
      v2->page_->queuedTimers.erase(id);
      v2->page_->callHook("fire", id, true);
      v2->afterScript();
    });
  });
  p.timers[id] = timer;
  RunLoop::main()->addTimer(timer, kRunLoopCommonModes);
}

}  // namespace pf
