#include "app/PylDialogPlugin.h"

#include "app/PylPluginArguments.h"
#include "app/PylResult.h"
#include "container/MwTask.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

namespace {

// The button texts, or nullopt when "buttons" is no list or holds anything but texts.
std::optional<std::vector<std::string>> buttonsOf(const pf::Value& data) {
  const pf::Value& list = PylPluginArguments::argument(data, "buttons");
  if (!list.is_array()) return std::nullopt;
  std::vector<std::string> buttons;
  for (const auto& button : list) {
    if (!button.is_string()) return std::nullopt;
    buttons.push_back(button.get<std::string>());
  }
  return buttons;
}

}  // namespace

bool PylDialogPlugin::handleRequest(const container::MwServletRequest& request) {
  PF_ASSERT_MAIN_THREAD();
  task()->setTimeoutValue(0);
  if (request.getParameterValue() != "showAlert") {
    task()->successWithResult(pf::Value::object());
    return true;
  }
  const pf::Value& data = request.getData();
  const auto buttons = buttonsOf(data);
  // A call that can show no alert could never be answered: it ends at once with an error.
  if (!buttons ||
      !showAlertOnlySure(PylPluginArguments::text(data, "title"), PylPluginArguments::text(data, "content"), *buttons))
    task()->error(pf::Value::object());
  return true;
}

bool PylDialogPlugin::showAlertOnlySure(const std::string& title, const std::string& content,
                                        const std::vector<std::string>& buttons) {
  if (buttons.empty() || buttons.size() > 2) return false;
  auto self = std::dynamic_pointer_cast<PylDialogPlugin>(shared_from_this());
  std::vector<std::string> others;
  if (buttons.size() == 2) others.push_back(buttons[1]);
  pf::AlertView::make(title, content, self, buttons[0], std::move(others))->show();
  return true;
}

void PylDialogPlugin::alertViewClickedButtonAtIndex(pf::AlertView&, int index) {
  if (task()) task()->successWithResult(PylResult(pf::Value{{"wdata", index}}).getSuccessResult());
}

}  // namespace app
