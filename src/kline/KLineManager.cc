#include "kline/KLineManager.h"

#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "widgets/TnqProgressHUD.h"
#include "platform/foundation/ThreadChecker.h"

namespace kline {

namespace {

std::vector<std::string_view> pathComponents(std::string_view url) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= url.size()) {
    std::size_t at = url.find('/', start);
    if (at == std::string_view::npos) at = url.size();
    if (at > start) parts.push_back(url.substr(start, at - start));
    start = at + 1;
  }
  return parts;
}

std::string stringOf(const pf::Value& dict, const char* key) {
  return dict.is_object() && dict.contains(key) ? pf::stringValue(dict[key]) : std::string();
}

std::int64_t integerOf(const pf::Value& dict, const char* key) {
  return dict.is_object() && dict.contains(key) ? pf::integerValue(dict[key]) : 0;
}

pf::Rect frameOf(const pf::Value& dict) {
  return pf::Rect(static_cast<double>(integerOf(dict, "l")), static_cast<double>(integerOf(dict, "t")),
                  static_cast<double>(integerOf(dict, "w")), static_cast<double>(integerOf(dict, "h")));
}

}  // namespace

KLineManager::~KLineManager() {
  if (refreshTimer) refreshTimer->invalidate();
}

std::shared_ptr<KLineDataManager> KLineManager::klineDataManager() {
  if (!klineDataManager_) {
    klineDataManager_ = KLineDataManager::make();
    if (available) klineDataManager_->setAvailable(pf::integerValue(*available));
  }
  return klineDataManager_;
}

std::shared_ptr<TnqKLineView> KLineManager::createKLineView(const pf::Rect& frame) {
  klineView = TnqKLineView::make(frame);
  klineView->delegate = weak_from_this();
  klineView->start();
  return klineView;
}

void KLineManager::parseURL() {
  std::vector<std::string_view> parts = pathComponents(kLineURL);
  std::string_view last = parts.empty() ? std::string_view() : parts.back();
  std::size_t question = last.find('?');
  if (question != std::string_view::npos) {
    std::string_view query = last.substr(question + 1);
    std::size_t start = 0;
    while (start <= query.size()) {
      std::size_t amp = query.find('&', start);
      if (amp == std::string_view::npos) amp = query.size();
      std::string_view pair = query.substr(start, amp - start);
      std::size_t eq = pair.find('=');
      if (eq != std::string_view::npos) {
        std::string_view key = pair.substr(0, eq), value = pair.substr(eq + 1);
        value = value.substr(0, value.find('='));
        if (key == "code") currencyCode = std::string(value);
        if (key == "type") klineType = std::string(value);
      }
      start = amp + 1;
    }
  }
  hostAddress = pf::format("%@//%@", parts.size() > 0 ? std::string(parts[0]) : std::string("(null)"),
                           parts.size() > 1 ? std::string(parts[1]) : std::string("(null)"));
  contentAddresss.clear();
  for (std::size_t i = 2; i + 1 < parts.size(); ++i) contentAddresss += std::string(parts[i]) + "/";
}

void KLineManager::benginWithURL(const std::string& url) {
  PF_ASSERT_MAIN_THREAD();
  needRefresh = true;
  loadingData = true;
  kLineURL = url;
  parseURL();
  klineView->setKlineType(pf::integerValue(klineType));
  widgets::TnqProgressHUD::hideAllHUDsForView(klineView, false);
  widgets::TnqProgressHUD::showHUDAddedTo(klineView, true);
  cancelRefreshTimer();
  std::weak_ptr<KLineManager> weak = weak_from_this();
  klineDataManager()->getKLineData(
      url,
      [weak](const TradeRows& rows) {
        auto self = weak.lock();
        if (!self) return;
        pf::logFormat("%@", pf::format("<%zu rows>", rows.size()));
        self->dataArray = rows;
        self->klineView->setAvailable(self->klineDataManager()->available());
        self->klineView->drawLine(rows);
        self->loadingData = false;
        self->beginRefresh();
        widgets::TnqProgressHUD::hideAllHUDsForView(self->klineView, false);
      },
      [weak] {
        if (auto self = weak.lock()) widgets::TnqProgressHUD::hideAllHUDsForView(self->klineView, false);
      });
}

void KLineManager::beginRefresh() {
  PF_ASSERT_MAIN_THREAD();
  cancelRefreshTimer();
  if (!needRefresh) return;
  std::weak_ptr<KLineManager> weak = weak_from_this();
  refreshTimer = pf::Timer::scheduled(kRefreshInterval, true, [weak](pf::Timer&) {
    if (auto self = weak.lock()) self->getLatestData();
  });
}

void KLineManager::cancelRefreshTimer() {
  PF_ASSERT_MAIN_THREAD();
  if (refreshTimer && refreshTimer->isValid()) {
    refreshTimer->invalidate();
    refreshTimer.reset();
  }
}

std::string KLineManager::latestDataURL() const {
  return pf::format("%@/%@getLastRateRange.shtml?code=%@&type=%@", hostAddress, contentAddresss, currencyCode,
                    klineType);
}

void KLineManager::getLatestData() {
  if (loadingData) return;
  std::weak_ptr<KLineManager> weak = weak_from_this();
  klineDataManager()->getKLineData(
      latestDataURL(),
      [weak](const TradeRows& rows) {
        auto self = weak.lock();
        if (!self) return;
        pf::logFormat("%@", pf::format("<%zu rows>", rows.size()));
        if (!rows.empty() && !self->loadingData) self->mergeLatest(rows);
      },
      [] { pf::logLine("请求失败或者无新增元素"); });
}

void KLineManager::mergeLatest(const TradeRows& rows) {
  TradeRows merged = dataArray;
  const bool any = dataArray.empty();
  const double last = any ? 0 : dataArray.back()->timestamp;
  for (const TradeRow& row : rows) {
    if (!any && !(row->timestamp > last)) continue;
    // The averages of a new row run over the rows before it on the chart, not over the short
    // refresh packet alone.
    auto copy = std::make_shared<TradeModel>(*row);
    merged.push_back(copy);
    std::size_t i = merged.size() - 1;
    copy->MA5 = KLineDataManager::sumAndAverage(merged, i, 5);
    copy->MA10 = KLineDataManager::sumAndAverage(merged, i, 10);
    copy->MA20 = KLineDataManager::sumAndAverage(merged, i, 20);
  }
  dataArray = merged;
  klineView->drawLine(dataArray);
}

void KLineManager::closeKLine() {
  PF_ASSERT_MAIN_THREAD();
  if (klineView) klineView->removeFromSuperview();
  needRefresh = false;
  cancelRefreshTimer();
}

PylKLineManager& PylKLineManager::sharedInstance() {
  static PylKLineManager* instance = new PylKLineManager();
  return *instance;
}

void PylKLineManager::resetForTesting() {
  PylKLineManager& m = sharedInstance();
  for (auto& record : m.klineManagerPool)
    if (record->klineManager) record->klineManager->closeKLine();
  m.klineManagerPool.clear();
  m.klineViewId = 0;
}

std::shared_ptr<SavedKlineModel> PylKLineManager::create(const pf::Value& dict) {
  PF_ASSERT_MAIN_THREAD();
  auto manager = KLineManager::make();
  manager->createKLineView(frameOf(dict));
  return addKLineManager(manager);
}

void PylKLineManager::layoutView(const pf::Value& dict) {
  PF_ASSERT_MAIN_THREAD();
  auto view = getKLineViewById(stringOf(dict, "chartId"));
  if (!view) return;
  view->setFrame(frameOf(dict));
  view->reloadData();
}

void PylKLineManager::start(const pf::Value& dict) {
  PF_ASSERT_MAIN_THREAD();
  auto manager = getKLineManagerByViewId(stringOf(dict, "chartId"));
  if (!manager) return;
  if (dict.contains("available")) manager->available = stringOf(dict, "available");
  manager->benginWithURL(stringOf(dict, "url"));
}

void PylKLineManager::show(const pf::Value& dict) {
  PF_ASSERT_MAIN_THREAD();
  if (auto view = getKLineViewById(stringOf(dict, "chartId"))) view->setHidden(false);
}

void PylKLineManager::hide(const pf::Value& dict) {
  PF_ASSERT_MAIN_THREAD();
  if (auto view = getKLineViewById(stringOf(dict, "chartId"))) view->setHidden(true);
}

std::shared_ptr<SavedKlineModel> PylKLineManager::dismiss(const pf::Value& dict) {
  PF_ASSERT_MAIN_THREAD();
  return getSavedKlineModelById(stringOf(dict, "chartId"));
}

void PylKLineManager::removeKLineById(const std::string& chartId) {
  PF_ASSERT_MAIN_THREAD();
  auto it = std::find_if(klineManagerPool.begin(), klineManagerPool.end(),
                         [&](const auto& record) { return record->moduleId == chartId; });
  if (it == klineManagerPool.end()) return;
  if ((*it)->klineManager) (*it)->klineManager->closeKLine();
  klineManagerPool.erase(it);
}

std::shared_ptr<SavedKlineModel> PylKLineManager::addKLineManager(const std::shared_ptr<KLineManager>& manager) {
  return addRecord(manager->klineView, manager);
}

std::shared_ptr<SavedKlineModel> PylKLineManager::addKLineView(const std::shared_ptr<TnqKLineView>& view) {
  return addRecord(view, nullptr);
}

std::shared_ptr<SavedKlineModel> PylKLineManager::addRecord(const std::shared_ptr<TnqKLineView>& view,
                                                            const std::shared_ptr<KLineManager>& manager) {
  ++klineViewId;
  auto record = std::make_shared<SavedKlineModel>(
      SavedKlineModel{pf::format("klineId+++%ld", static_cast<long>(klineViewId)), view, manager});
  klineManagerPool.push_back(record);
  return record;
}

std::shared_ptr<SavedKlineModel> PylKLineManager::getSavedKlineModelById(const std::string& chartId) const {
  for (const auto& record : klineManagerPool)
    if (record->moduleId == chartId) return record;
  return nullptr;
}

std::shared_ptr<KLineManager> PylKLineManager::getKLineManagerByViewId(const std::string& chartId) const {
  auto record = getSavedKlineModelById(chartId);
  return record ? record->klineManager : nullptr;
}

std::shared_ptr<TnqKLineView> PylKLineManager::getKLineViewById(const std::string& chartId) const {
  auto record = getSavedKlineModelById(chartId);
  return record ? record->kline : nullptr;
}

}  // namespace kline
