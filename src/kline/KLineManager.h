#pragma once
// The charts a page lays over its web view. KLineManager owns one chart view: it loads the
// history (with an overlay while the first load runs), then asks for the latest rows every
// 5 seconds and appends the new ones. PylKLineManager keeps every chart by its id
// ("klineId+++<n>") and is what the chart plug-in drives with the page's dictionaries.
//
// Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kline/KLineDataManager.h"
#include "kline/TnqKLineView.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/Value.h"

namespace kline {

class KLineManager : public LineViewProctocol, public std::enable_shared_from_this<KLineManager> {
 public:
  static constexpr double kRefreshInterval = 5.0;
  static std::shared_ptr<KLineManager> make() { return std::make_shared<KLineManager>(); }
  ~KLineManager() override;

  std::shared_ptr<TnqKLineView> klineView;
  TradeRows dataArray;
  std::string kLineURL;
  std::string currencyCode;
  std::string klineType;
  // Decimal places from the page, handed to the data manager when it is made.
  std::optional<std::string> available;
  std::string hostAddress;
  std::string contentAddresss;
  std::shared_ptr<pf::Timer> refreshTimer;
  bool needRefresh = false;
  bool loadingData = false;

  std::shared_ptr<KLineDataManager> klineDataManager();

  // Makes the chart view (this manager its delegate) and starts it.
  std::shared_ptr<TnqKLineView> createKLineView(const pf::Rect& frame);
  // The first load, then the refresh cycle.
  void benginWithURL(const std::string& url);
  void parseURL();
  void beginRefresh();
  void cancelRefreshTimer();
  void getLatestData();
  // The refresh URL: next to the history, with its code and type.
  std::string latestDataURL() const;
  void closeKLine();

 private:
  void mergeLatest(const TradeRows& rows);
  std::shared_ptr<KLineDataManager> klineDataManager_;
};

// One chart of the page.
struct SavedKlineModel {
  std::string moduleId;
  std::shared_ptr<TnqKLineView> kline;
  std::shared_ptr<KLineManager> klineManager;
};

class PylKLineManager : public LineViewProctocol {
 public:
  static PylKLineManager& sharedInstance();
  // Tests: forgets every chart and restarts the id counter.
  static void resetForTesting();

  std::vector<std::shared_ptr<SavedKlineModel>> klineManagerPool;
  std::int64_t klineViewId = 0;

  // "l", "t", "w", "h": a new chart at that frame.
  std::shared_ptr<SavedKlineModel> create(const pf::Value& dict);
  // "chartId" with "l", "t", "w", "h": a new frame, then a reload.
  void layoutView(const pf::Value& dict);
  // "chartId", "url", optional "available".
  void start(const pf::Value& dict);
  void show(const pf::Value& dict);
  void hide(const pf::Value& dict);
  std::shared_ptr<SavedKlineModel> dismiss(const pf::Value& dict);
  void removeKLineById(const std::string& chartId);
  std::shared_ptr<SavedKlineModel> addKLineManager(const std::shared_ptr<KLineManager>& manager);
  std::shared_ptr<SavedKlineModel> addKLineView(const std::shared_ptr<TnqKLineView>& view);
  std::shared_ptr<SavedKlineModel> getSavedKlineModelById(const std::string& chartId) const;
  std::shared_ptr<KLineManager> getKLineManagerByViewId(const std::string& chartId) const;
  std::shared_ptr<TnqKLineView> getKLineViewById(const std::string& chartId) const;

 private:
  std::shared_ptr<SavedKlineModel> addRecord(const std::shared_ptr<TnqKLineView>& view,
                                             const std::shared_ptr<KLineManager>& manager);
};

}  // namespace kline
