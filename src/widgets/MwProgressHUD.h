#pragma once
// The container's progress overlay (shown over a page while a request waits).

#include <memory>
#include <vector>

#include "platform/ui/Window.h"
#include "widgets/ProgressHUD.h"

namespace widgets {

class MwProgressHUD;

class MwProgressHUDDelegate {
 public:
  virtual ~MwProgressHUDDelegate() = default;
  virtual void hudWasHidden(MwProgressHUD& hud) {}
};

class MwProgressHUD : public ProgressHUD {
 public:
  explicit MwProgressHUD(const pf::Rect& frame = pf::Rect()) : ProgressHUD(HUDKind::Mw, frame) {}
  std::string className() const override { return "MwProgressHUD"; }

  static std::shared_ptr<MwProgressHUD> initWithFrame(const pf::Rect& frame);
  // Throws pf::Exception (NSInternalInconsistencyException, "View must not be nil.") for no view.
  static std::shared_ptr<MwProgressHUD> initWithView(const std::shared_ptr<pf::View>& view);
  static std::shared_ptr<MwProgressHUD> initWithWindow(const std::shared_ptr<pf::Window>& window);

  // Leaves removeFromSuperViewOnHide off.
  static std::shared_ptr<MwProgressHUD> showHUDAddedTo(const std::shared_ptr<pf::View>& view, bool animated);
  static bool hideHUDForView(const std::shared_ptr<pf::View>& view, bool animated);
  static unsigned hideAllHUDsForView(const std::shared_ptr<pf::View>& view, bool animated);
  static std::shared_ptr<MwProgressHUD> HUDForView(const std::shared_ptr<pf::View>& view);
  static std::vector<std::shared_ptr<MwProgressHUD>> allHUDsForView(const std::shared_ptr<pf::View>& view);

  // Held weakly: a delegate that goes away is never called.
  std::weak_ptr<MwProgressHUDDelegate> delegate;

  using ProgressHUD::color;
  using ProgressHUD::completionBlock;
  using ProgressHUD::cornerRadius;
  using ProgressHUD::detailsLabelColor;
  using ProgressHUD::labelColor;
  using ProgressHUD::setColor;
  using ProgressHUD::setCompletionBlock;
  using ProgressHUD::setCornerRadius;
  using ProgressHUD::setDetailsLabelColor;
  using ProgressHUD::setLabelColor;
  using ProgressHUD::setSize;

  void showAnimated(bool animated, std::function<void()> block, std::shared_ptr<pf::DispatchQueue> queue,
                    std::function<void()> completion);
  void showAnimated(bool animated, std::function<void()> block);
  void showAnimated(bool animated, std::function<void()> block, std::function<void()> completion);
  void showAnimated(bool animated, std::function<void()> block, std::shared_ptr<pf::DispatchQueue> queue);

 protected:
  void tellDelegate() override;
  std::shared_ptr<pf::View> makeRoundView() const override { return std::make_shared<MwRoundProgressView>(); }
  std::shared_ptr<pf::View> makeBarView() const override { return std::make_shared<MwBarProgressView>(); }
  bool isRoundView(const pf::View* v) const override { return dynamic_cast<const MwRoundProgressView*>(v); }
};

}  // namespace widgets
