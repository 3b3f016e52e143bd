#include "app/PylKLinePlugin.h"

#include <algorithm>
#include <utility>

#include "app/PylResult.h"
#include "container/MwJSWebview.h"
#include "container/MwTask.h"
#include "kline/KLineManager.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/ui/ScrollView.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

namespace {

const pf::Value* field(const pf::Value& data, const char* key) {
  return data.is_object() && data.contains(key) ? &data[key] : nullptr;
}

std::int64_t integerOf(const pf::Value& data, const char* key) {
  const pf::Value* v = field(data, key);
  return v ? pf::integerValue(*v) : 0;
}

pf::Value valueOf(const pf::Value& data, const char* key) {
  const pf::Value* v = field(data, key);
  return v ? *v : pf::Value();
}

// A page number (its integer part) or a difference of two, in floating point (no 64-bit
// overflow) and cut to the page's reach.
double onPage(double points) {
  return std::clamp(points, -PylKLinePlugin::kMaxPageCoordinate, PylKLinePlugin::kMaxPageCoordinate);
}

double edgeOf(const pf::Value& data, const char* key) { return onPage(static_cast<double>(integerOf(data, key))); }

// {"l", "t", "w", "h"} of the page's edges: the left and top edges' integer parts, widths as the
// text of the integer differences.
pf::Value frameOf(const pf::Value& data) {
  const double left = edgeOf(data, "left"), top = edgeOf(data, "top");
  const double width = onPage(static_cast<double>(integerOf(data, "right")) - static_cast<double>(integerOf(data, "left")));
  const double height = onPage(static_cast<double>(integerOf(data, "bottom")) - static_cast<double>(integerOf(data, "top")));
  pf::Value dict = pf::Value::object();
  dict["l"] = static_cast<long>(left);
  dict["t"] = static_cast<long>(top);
  dict["w"] = pf::format("%ld", static_cast<long>(width));
  dict["h"] = pf::format("%ld", static_cast<long>(height));
  return dict;
}

pf::Value chartIdOf(const pf::Value& dict) {
  pf::Value answer = pf::Value::object();
  if (const pf::Value* id = field(dict, "chartId")) answer["chartId"] = *id;
  return answer;
}

}  // namespace

bool PylKLinePlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  const std::string& action = request.getParameterValue();
  const pf::Value& data = request.getData();
  if (action == "create") {
    pf::Value dict = frameOf(data);
    dict["z"] = valueOf(data, "zaxis");
    createKline(dict);
    return false;
  }
  if (action == "relayout") {
    pf::Value dict = frameOf(data);
    dict["chartId"] = valueOf(data, "chartId");
    layoutView(dict);
  } else if (action == "start") {
    pf::Value dict = pf::Value::object();
    for (const char* key : {"chartId", "url", "available"})
      if (const pf::Value* v = field(data, key)) dict[key] = *v;
    start(dict);
  } else if (action == "show") {
    show(chartIdOf(data));
  } else if (action == "hide") {
    hide(chartIdOf(data));
  } else if (action == "dismiss") {
    dismiss(chartIdOf(data));
  }
  return true;
}

void PylKLinePlugin::createKline(const pf::Value& dict) {
  auto page = jsWebView();
  if (!page) {
    // The page has gone: a chart belongs to a page, and a chart made now would have none to go with.
    pf::logLine("chart.do: create for a page that has gone; no chart made");
    if (task()) task()->error(pf::Value::object());
    return;
  }
  auto record = kline::PylKLineManager::sharedInstance().create(dict);
  auto scroll = page->scrollView();
  std::int64_t z = std::clamp<std::int64_t>(integerOf(dict, "z"), 0, static_cast<std::int64_t>(scroll->subviews().size()));
  scroll->insertSubview(record->kline, static_cast<std::size_t>(z));
  charts_.push_back(record->moduleId);
  page->keepUntilPageGoes(shared_from_this());
  answer(pf::Value{{"chartId", record->moduleId}});
}

void PylKLinePlugin::layoutView(const pf::Value& dict) {
  kline::PylKLineManager::sharedInstance().layoutView(dict);
  answer(chartIdOf(dict));
}

void PylKLinePlugin::start(const pf::Value& dict) {
  kline::PylKLineManager::sharedInstance().start(dict);
  answer(dict);
}

void PylKLinePlugin::show(const pf::Value& dict) {
  kline::PylKLineManager::sharedInstance().show(dict);
  answer(chartIdOf(dict));
}

void PylKLinePlugin::hide(const pf::Value& dict) {
  kline::PylKLineManager::sharedInstance().hide(dict);
  answer(chartIdOf(dict));
}

void PylKLinePlugin::dismiss(const pf::Value& dict) {
  auto& charts = kline::PylKLineManager::sharedInstance();
  if (auto record = charts.dismiss(dict)) charts.removeKLineById(record->moduleId);
  answer(chartIdOf(dict));
}

void PylKLinePlugin::pageDidGo() {
  // As "dismiss" does: each leaves the page and the pool, and its refresh stops (one the page
  // dismissed already is not found).
  for (const std::string& id : std::exchange(charts_, {})) kline::PylKLineManager::sharedInstance().removeKLineById(id);
}

void PylKLinePlugin::answer(pf::Value data) {
  if (task()) task()->successWithResult(PylResult(std::move(data)).getSuccessResult());
}

}  // namespace app
