#pragma once
// "chart.do": native candlestick charts laid into the page's scroll view (so they scroll with the
// page content) and driven by the page: "create", "relayout", "start", "show", "hide" and
// "dismiss". The charts live in kline::PylKLineManager. Main thread only.

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

 private:
  void answer(pf::Value data);
};

}  // namespace app
