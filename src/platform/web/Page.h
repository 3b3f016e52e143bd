#pragma once
// One loaded page of a web view (internal to the page host): its document, its script engine
// with the prelude's hooks, its timers and its layout. The natives the prelude builds the page's
// objects on are in PageNatives.cc.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/foundation/Timer.h"
#include "platform/web/Document.h"
#include "platform/web/PageLayout.h"
#include "platform/web/WebView.h"
#include "platform/web/engine/Engine.h"

namespace pf {

namespace web {
extern const char kPagePrelude[];
// Pushes the natives object the prelude is called with (and makes the page's timer table).
void installNatives(duk_context* ctx);
// Runs the callback of the page's timer `id`, unless it was cleared; a timer that does not
// repeat is forgotten first.
void fireTimer(WebView::Page& page, int id, bool repeats);
inline constexpr std::uint64_t kNoVersion = ~std::uint64_t{0};
}  // namespace web

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
  std::uint64_t laidOutVersion = web::kNoVersion;
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


// The page a native function runs for.
inline WebView::Page* pageOf(duk_context* ctx) { return static_cast<WebView::Page*>(web::Engine::ownerOf(ctx)); }

}  // namespace pf
