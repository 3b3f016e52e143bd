#pragma once
// "nativedialog.do": native alerts for pages. "showAlert" with "title", "content" and one or two
// button texts shows an alert (the first text is the cancel button, index 0) and answers
// {"wdata": index} when a button is pressed. No call of this servlet times out. Main thread only.

#include <string>
#include <vector>

#include "app/PylPlugin.h"
#include "platform/ui/AlertView.h"

namespace app {

class PylDialogPlugin : public PylPlugin, public pf::AlertViewDelegate {
 public:
  bool handleRequest(const container::MwServletRequest& request) override;

  // One button: it is the cancel button; two: the cancel button and another. Answers whether an
  // alert was shown (any other number of buttons shows none).
  bool showAlertOnlySure(const std::string& title, const std::string& content,
                         const std::vector<std::string>& buttons);

  void alertViewClickedButtonAtIndex(pf::AlertView& alert, int index) override;
};

}  // namespace app
