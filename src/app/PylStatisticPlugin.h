#pragma once
// "statistics.do": "getStatistic" answers {"wdata": the device bind key} ("" when there is none);
// any other operation is not answered. Main thread only.

#include "app/PylPlugin.h"

namespace app {

class StatisticPlugin : public PylPlugin {
 public:
  bool handleRequest(const container::MwServletRequest& request) override;
};

}  // namespace app
