// The natives the page's prelude builds window, document and node objects on: small calls on
// node ids of the document, timers, navigation and the console.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadChecker.h"
#include "platform/web/Page.h"

namespace pf {
namespace web {
namespace {

constexpr std::size_t kMaxTimers = 10000;  // per page

template <duk_c_function Native>
duk_ret_t guarded(duk_context* ctx);

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

// The callbacks of a page's timers, kept in the global stash under "timers" by timer id: the
// function, the code text, or an array of the function and its arguments.
void pushTimerCallbacks(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, "timers");
  duk_remove(ctx, -2);
}

// setTimeout and setInterval (magic 1): (callback or code text, delay in ms, arguments...) -> id.
duk_ret_t nSchedule(duk_context* ctx) {
  WebView::Page& p = page(ctx);
  const duk_idx_t given = duk_get_top(ctx);
  const bool repeats = duk_get_current_magic(ctx) != 0;
  if (given == 0) duk_push_undefined(ctx);
  if (!duk_is_callable(ctx, 0)) duk_to_string(ctx, 0);  // code, run as global code when due
  double ms = given > 1 ? duk_to_number(ctx, 1) : 0;
  if (!(ms >= 0)) ms = 0;
  ms = std::min(ms, 1e10);
  if (repeats) ms = std::max(ms, 1.0);  // an interval never spins the loop
  if (p.timers.size() >= kMaxTimers) return duk_error(ctx, DUK_ERR_RANGE_ERROR, "too many timers");
  const int id = p.nextTimer++;
  pushTimerCallbacks(ctx);
  if (given > 2) {
    const duk_idx_t call = duk_push_array(ctx);
    duk_dup(ctx, 0);
    duk_put_prop_index(ctx, call, 0);
    for (duk_idx_t i = 2; i < given; ++i) {
      duk_dup(ctx, i);
      duk_put_prop_index(ctx, call, static_cast<duk_uarridx_t>(i - 1));
    }
  } else {
    duk_dup(ctx, 0);
  }
  duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(id));
  p.addTimer(id, ms / 1000.0, repeats);
  duk_push_int(ctx, id);
  return 1;
}

// clearTimeout and clearInterval (id).
duk_ret_t nClearTimer(duk_context* ctx) {
  WebView::Page& p = page(ctx);
  const double number = duk_to_number(ctx, 0);
  if (!(number >= 1 && number < p.nextTimer) || number != std::floor(number)) return 0;
  const int id = static_cast<int>(number);
  pushTimerCallbacks(ctx);
  duk_del_prop_index(ctx, -1, static_cast<duk_uarridx_t>(id));
  if (auto it = p.timers.find(id); it != p.timers.end()) {
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

// Every native is entered through this guard, on the main thread: an exception of ours (a failed allocation, a
// fault in the DOM code) is logged and becomes a script error instead of unwinding through the
// engine's frames; the engine's own error unwinding (a duk_error, not a std::exception) passes.
template <duk_c_function Native>
duk_ret_t guarded(duk_context* ctx) {
  PF_ASSERT_MAIN_THREAD();
  std::exception_ptr engineUnwind;
  duk_ret_t ret = callGuarded("a page native", duk_ret_t{DUK_RET_ERROR}, [&]() -> duk_ret_t {
    try {
      return Native(ctx);
    } catch (const std::exception&) {
      throw;
    } catch (...) {
      engineUnwind = std::current_exception();
      return 0;
    }
  });
  if (engineUnwind) std::rethrow_exception(engineUnwind);
  return ret;
}

const duk_function_list_entry kNatives[] = {
    {"log", guarded<nLog>, 2},           {"report", guarded<nReport>, 1},       {"kind", guarded<nKind>, 1},
    {"tag", guarded<nTag>, 1},           {"parent", guarded<nParent>, 1},       {"children", guarded<nChildren>, 2},
    {"getAttr", guarded<nGetAttr>, 2},   {"setAttr", guarded<nSetAttr>, 3},     {"removeAttr", guarded<nRemoveAttr>, 2},
    {"getText", guarded<nGetText>, 1},   {"setText", guarded<nSetText>, 2},     {"getHtml", guarded<nGetHtml>, 1},
    {"setHtml", guarded<nSetHtml>, 2},   {"getStyle", guarded<nGetStyle>, 2},   {"setStyle", guarded<nSetStyle>, 3},
    {"create", guarded<nCreate>, 1},     {"createText", guarded<nCreateText>, 1}, {"insert", guarded<nInsert>, 3},
    {"remove", guarded<nRemove>, 2},     {"byId", guarded<nById>, 1},           {"query", guarded<nQuery>, 3},
    {"root", guarded<nRoot>, 0},         {"head", guarded<nHead>, 0},           {"body", guarded<nBody>, 0},
    {"getTitle", guarded<nGetTitle>, 0}, {"setTitle", guarded<nSetTitle>, 1},   {"readyState", guarded<nReadyState>, 0},
    {"clearTimer", guarded<nClearTimer>, 1}, {"navigate", guarded<nNavigate>, 1},
    {"back", guarded<nBack>, 0},         {"href", guarded<nHref>, 0},           {"userAgent", guarded<nUserAgent>, 0},
    {nullptr, nullptr, 0}};

}  // namespace

void installNatives(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_push_object(ctx);
  duk_put_prop_string(ctx, -2, "timers");
  duk_pop(ctx);
  duk_push_object(ctx);
  duk_put_function_list(ctx, -1, kNatives);
  // setTimeout and setInterval take any number of arguments; their length is the usual 2.
  for (const auto& [name, repeats] : {std::pair{"setTimeout", 0}, std::pair{"setInterval", 1}}) {
    duk_push_c_function(ctx, guarded<nSchedule>, DUK_VARARGS);
    duk_set_magic(ctx, -1, repeats);
    duk_push_string(ctx, "length");
    duk_push_int(ctx, 2);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    duk_put_prop_string(ctx, -2, name);
  }
}

namespace {

struct TimerFiring {
  int id;
  bool repeats;
  const std::string* pageName;
};

// [] -> [completion]; inside a protected call, as looking the callback up may fail (a full heap).
duk_ret_t fireTimerCallback(duk_context* ctx, void* udata) {
  const auto& firing = *static_cast<const TimerFiring*>(udata);
  const auto key = static_cast<duk_uarridx_t>(firing.id);
  pushTimerCallbacks(ctx);
  if (!duk_get_prop_index(ctx, -1, key)) return 1;  // cleared meanwhile
  if (!firing.repeats) duk_del_prop_index(ctx, -2, key);
  duk_remove(ctx, -2);
  if (duk_is_string(ctx, -1)) {  // code text: global code, as an indirect eval runs it
    const std::string fileName = *firing.pageName + " (timer)";
    duk_push_lstring(ctx, fileName.data(), fileName.size());
    duk_compile(ctx, 0);
    duk_push_global_object(ctx);
    duk_call_method(ctx, 0);
    return 1;
  }
  duk_idx_t nargs = 0;
  if (duk_is_array(ctx, -1)) {  // [call] -> [fn global args...]
    const duk_idx_t call = duk_get_top_index(ctx);
    nargs = static_cast<duk_idx_t>(duk_get_length(ctx, call)) - 1;
    duk_require_stack(ctx, nargs + 2);
    duk_get_prop_index(ctx, call, 0);
    duk_push_global_object(ctx);
    for (duk_idx_t i = 1; i <= nargs; ++i) duk_get_prop_index(ctx, call, static_cast<duk_uarridx_t>(i));
    duk_remove(ctx, call);
  } else {
    duk_push_global_object(ctx);
  }
  duk_call_method(ctx, nargs);
  return 1;
}

}  // namespace

void fireTimer(WebView::Page& p, int id, bool repeats) {
  TimerFiring firing{id, repeats, &p.name};
  p.engine->safeCall(fireTimerCallback, &firing);
}

}  // namespace web

}  // namespace pf
