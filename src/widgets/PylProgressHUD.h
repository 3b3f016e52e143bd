#pragma once
// The application shell's progress overlay: white labels, a black box of fixed corner radius, a
// ring as its only determinate indicator, and a text overlay.

#include <memory>
#include <vector>

#include "platform/ui/Window.h"
#include "widgets/ProgressHUD.h"

namespace widgets {

class PylProgressHUD;

class PylProgressHUDDelegate {
 public:
  virtual ~PylProgressHUDDelegate() = default;
  virtual void hudWasHidden(PylProgressHUD& hud) {}
};

class PylProgressHUD : public ProgressHUD {
 public:
  explicit PylProgressHUD(const pf::Rect& frame = pf::Rect()) : ProgressHUD(HUDKind::Pyl, frame) {}
  std::string className() const override { return "PylProgressHUD"; }

  static std::shared_ptr<PylProgressHUD> initWithFrame(const pf::Rect& frame);
  // A window as the view also takes the interface orientation.
  static std::shared_ptr<PylProgressHUD> initWithView(const std::shared_ptr<pf::View>& view);
  static std::shared_ptr<PylProgressHUD> initWithWindow(const std::shared_ptr<pf::Window>& window);

  // Leaves removeFromSuperViewOnHide off.
  static std::shared_ptr<PylProgressHUD> showHUDAddedTo(const std::shared_ptr<pf::View>& view, bool animated);
  static std::shared_ptr<PylProgressHUD> showHUDAddedTo(const std::shared_ptr<pf::View>& view, const std::string& text,
                                                        bool animated);
  static bool hideHUDForView(const std::shared_ptr<pf::View>& view, bool animated);
  static unsigned hideAllHUDsForView(const std::shared_ptr<pf::View>& view, bool animated);
  static std::shared_ptr<PylProgressHUD> HUDForView(const std::shared_ptr<pf::View>& view);
  static std::vector<std::shared_ptr<PylProgressHUD>> allHUDsForView(const std::shared_ptr<pf::View>& view);

  std::weak_ptr<PylProgressHUDDelegate> delegate;

  using ProgressHUD::setSize;

 protected:
  void tellDelegate() override;
  std::shared_ptr<pf::View> makeRoundView() const override { return std::make_shared<PylRoundProgressView>(); }
  std::shared_ptr<pf::View> makeBarView() const override { return nullptr; }
  bool isRoundView(const pf::View* v) const override { return dynamic_cast<const PylRoundProgressView*>(v); }
};

}  // namespace widgets
