#pragma once
// The charts' progress overlay.

#include <memory>
#include <vector>

#include "platform/ui/Window.h"
#include "widgets/ProgressHUD.h"

namespace widgets {

class TnqProgressHUD;

class TnqProgressHUDDelegate {
 public:
  virtual ~TnqProgressHUDDelegate() = default;
  virtual void hudWasHidden(TnqProgressHUD& hud) {}
};

class TnqProgressHUD : public ProgressHUD {
 public:
  explicit TnqProgressHUD(const pf::Rect& frame = pf::Rect()) : ProgressHUD(HUDKind::Tnq, frame) {}
  std::string className() const override { return "TnqProgressHUD"; }

  static std::shared_ptr<TnqProgressHUD> initWithFrame(const pf::Rect& frame);
  // The view's bounds (an empty frame without a view).
  static std::shared_ptr<TnqProgressHUD> initWithView(const std::shared_ptr<pf::View>& view);
  static std::shared_ptr<TnqProgressHUD> initWithWindow(const std::shared_ptr<pf::Window>& window);

  static std::shared_ptr<TnqProgressHUD> showHUDAddedTo(const std::shared_ptr<pf::View>& view, bool animated);
  static bool hideHUDForView(const std::shared_ptr<pf::View>& view, bool animated);
  static unsigned hideAllHUDsForView(const std::shared_ptr<pf::View>& view, bool animated);
  static std::shared_ptr<TnqProgressHUD> HUDForView(const std::shared_ptr<pf::View>& view);
  static std::vector<std::shared_ptr<TnqProgressHUD>> allHUDsForView(const std::shared_ptr<pf::View>& view);

  std::weak_ptr<TnqProgressHUDDelegate> delegate;

  using ProgressHUD::activityIndicatorColor;
  using ProgressHUD::color;
  using ProgressHUD::completionBlock;
  using ProgressHUD::cornerRadius;
  using ProgressHUD::detailsLabelColor;
  using ProgressHUD::labelColor;
  using ProgressHUD::setActivityIndicatorColor;
  using ProgressHUD::setColor;
  using ProgressHUD::setCompletionBlock;
  using ProgressHUD::setCornerRadius;
  using ProgressHUD::setDetailsLabelColor;
  using ProgressHUD::setLabelColor;

  // The callback task and its shorter forms (the global queue of default priority; no completion).
  void showAnimated(bool animated, std::function<void()> block, std::shared_ptr<pf::DispatchQueue> queue,
                    std::function<void()> completion);
  void showAnimated(bool animated, std::function<void()> block);
  void showAnimated(bool animated, std::function<void()> block, std::function<void()> completion);
  void showAnimated(bool animated, std::function<void()> block, std::shared_ptr<pf::DispatchQueue> queue);

 protected:
  void tellDelegate() override;
  std::shared_ptr<pf::View> makeRoundView() const override { return std::make_shared<TnqRoundProgressView>(); }
  std::shared_ptr<pf::View> makeBarView() const override { return std::make_shared<TnqBarProgressView>(); }
  bool isRoundView(const pf::View* v) const override { return dynamic_cast<const TnqRoundProgressView*>(v); }
};

}  // namespace widgets
