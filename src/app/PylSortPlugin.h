#pragma once
// "sort.do": "callSortView" opens the watch-list edit screen on the plug-in's navigation
// controller with the page's groups and answers the call when the screen is done; any other
// operation, data that is no array, or no navigation controller gets the empty answer at once.
// Main thread only.

#include <memory>

#include "app/SortViewController.h"
#include "app/PylPlugin.h"
#include "platform/ui/ViewController.h"

namespace app {

class PylSortPlugin : public PylPlugin, public SortViewDelegate {
 public:
  bool handleRequest(const container::MwServletRequest& request) override;
  // Answers the call with {"data": array, "result": 0, "continue": false}.
  void sortComplete(const pf::Value& array) override;

 private:
  void answerEmpty();
};

}  // namespace app
