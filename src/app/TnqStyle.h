#pragma once
// The navigation bars of the native screens (black, red and white), their bar views found by tag,
// the back action and one-button alerts, for any view controller.

#include <memory>
#include <string>

#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace app {

// A controller whose back button does something else than going back implements this.
class TnqBackActionHandler {
 public:
  virtual ~TnqBackActionHandler() = default;
  virtual void backAction(pf::Control* sender) = 0;
};

namespace TnqStyle {

inline constexpr int kBgViewTag = 1;
inline constexpr int kLineTag = 2;
inline constexpr int kTitleLabelTag = 3;
inline constexpr int kNavBarTag = 4;
inline constexpr int kRedBackButtonTag = 100001;

// The screen's size as the interface shows it: width and height exchanged below system "8.0".
pf::Size orientedScreenSize();

// Views found by tag in the controller's view; a new, detached view with the tag when none is.
std::shared_ptr<pf::View> bgView(pf::ViewController& vc);
std::shared_ptr<pf::View> line(pf::ViewController& vc);
std::shared_ptr<pf::Label> titleLabel(pf::ViewController& vc);
std::shared_ptr<pf::View> navBar(pf::ViewController& vc);

void blackNavigationBar(pf::ViewController& vc);
void blackNavigationBarWithTitle(pf::ViewController& vc, const std::string& title);
void redNavigationBar(pf::ViewController& vc);
void redNavigationBarWithTitle(pf::ViewController& vc, const std::string& title);
void patpWhiteNavigationBar(pf::ViewController& vc);
void whiteNavigationBarWithTitle(pf::ViewController& vc, const std::string& title);
void layoutHeadViews(pf::ViewController& vc);

// The back button's action: the controller's own (TnqBackActionHandler), else the navigation
// controller pops its top controller, animated.
void backAction(pf::ViewController& vc, pf::Control* sender);
// The default back action alone.
void popBack(pf::ViewController& vc);

std::shared_ptr<pf::AlertView> showTip(pf::ViewController& vc, const std::string& message, const std::string& title);
std::shared_ptr<pf::AlertView> showTip(pf::ViewController& vc, const std::string& message, const std::string& title,
                                       std::weak_ptr<pf::AlertViewDelegate> delegate);

}  // namespace TnqStyle
}  // namespace app
