#pragma once
// "chart.do": native candlestick charts laid into the page's scroll view (so they scroll with the
// page content) and driven by the page: "create", "relayout", "start", "show", "hide" and
// "dismiss". The charts live in kline::PylKLineManager. A chart belongs to the page load that
// created it: the "create" call stays with its web view until that page goes (the web view's
// keepUntilPageGoes), and then dismisses its chart as "dismiss" does. Main thread only.

#include <string>
#include <vector>

#include "app/PylPlugin.h"
#include "platform/foundation/Value.h"

namespace app {

class PylKLinePlugin : public PylPlugin {
 public:
  // Page edges and sides are cut to this many points either way: no page reaches further.
  static constexpr double kMaxPageCoordinate = 1e6;

  // Answers nothing for an unknown operation; false for "create", true otherwise.
  bool handleRequest(const container::MwServletRequest& request) override;

  // Each takes the manager's dictionary and answers the page.
  void createKline(const pf::Value& dict);
  void layoutView(const pf::Value& dict);
  void start(const pf::Value& dict);
  void show(const pf::Value& dict);
  void hide(const pf::Value& dict);
  void dismiss(const pf::Value& dict);

 protected:
  // The page of the charts this call created has gone: they are dismissed.
  void pageDidGo() override;

 private:
  void answer(pf::Value data);
  std::vector<std::string> charts_;  // created by this call
};

}  // namespace app
