#pragma once
// The pieces of the window overlay (OvProgressHUD): the rounded content box (OvHud) with its
// title, status and content area (spinner, progress ring, image, image animation or completion
// mark), the progress ring and its layer, the full-window backdrop and the drawn marks.
// Main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace widgets {

enum OvProgressHUDPresentationStyle : std::int64_t {
  OvProgressHUDPresentationStyleDrop = 0,
  OvProgressHUDPresentationStyleExpand = 1,
  OvProgressHUDPresentationStyleShrink = 2,
  OvProgressHUDPresentationStyleSwingLeft = 3,
  OvProgressHUDPresentationStyleSwingRight = 4,
  OvProgressHUDPresentationStyleBalloon = 5,
  OvProgressHUDPresentationStyleFade = 6,
  OvProgressHUDPresentationStyleNone = 7,
};
enum OvProgressHUDCompletionState : std::int64_t {
  OvProgressHUDCompletionStateNone = 0,
  OvProgressHUDCompletionStateError = 1,
  OvProgressHUDCompletionStateSuccess = 2,
};
enum OvProgressHUDProgressStyle : std::int64_t {
  OvProgressHUDProgressStyleIndeterminate = 0,
  OvProgressHUDProgressStyleRadial = 1,
  OvProgressHUDProgressStyleNoIndicator = 2,
};
enum OvProgressHUDDisplayStyle : std::int64_t {
  OvProgressHUDDisplayStylePlain = 0,
  OvProgressHUDDisplayStyleBordered = 1,
};

class OvHud;

class OvHudDelegate {
 public:
  virtual ~OvHudDelegate() = default;
  // Where the box's centre is to stand in its superview.
  virtual pf::Point hudCenterPointForDisplay(OvHud& hud) = 0;
  virtual std::shared_ptr<pf::Image> hudImageForCompletionState(OvHud& hud, std::int64_t state) = 0;
  // A progress change to 1 or more has finished.
  virtual void hudDidCompleteProgress(OvHud& hud) {}
};

// The ring's layer: draws the ring for its "progress" key, which animates like any layer value.
class OvRadialProgressLayer : public pf::Layer {
 public:
  static constexpr const char* kProgressKey = "progress";
  OvRadialProgressLayer() { model_.custom[kProgressKey] = 0.0; }
  double progress() const { return model().customDouble(kProgressKey); }
  void setProgress(double progress) { setValueForKeyPath(kProgressKey, progress); }
  bool needsDisplayForKey(const std::string& key) const override { return key == kProgressKey; }
  void drawInContext(pf::GraphicsContext& ctx, const pf::LayerProps& presentation) override;
};

class OvRadialProgressView : public pf::View {
 public:
  explicit OvRadialProgressView(const pf::Rect& frame = pf::Rect());
  std::string className() const override { return "OvRadialProgressView"; }
  OvRadialProgressLayer& progressLayer() const { return static_cast<OvRadialProgressLayer&>(layer()); }
  double progress() const { return progressLayer().progress(); }
  void setProgress(double progress) { setProgress(progress, false); }
  void setProgress(double progress, bool animated, std::function<void(bool finished)> completion = {});
};

// The backdrop: a radial gradient (mode 0) or a flat tint (mode 1) of the overlay colour.
class OvProgressHUDOverlayView : public pf::View {
 public:
  explicit OvProgressHUDOverlayView(const pf::Rect& frame = pf::Rect(), std::int64_t overlayMode = 0);
  std::string className() const override { return "OvProgressHUDOverlayView"; }
  std::int64_t overlayMode() const { return overlayMode_; }
  void setOverlayMode(std::int64_t mode);
  const pf::Color& overlayColor() const { return overlayColor_; }
  void setOverlayColor(const pf::Color& color);
  void drawRect(const pf::Rect& rect) override;

 private:
  std::int64_t overlayMode_;
  pf::Color overlayColor_;
  pf::Gradient gradient_;
};

// The check mark (0) and the cross (1), drawn from point lists on a 512 by 512 grid.
namespace OvVectorImage {
std::shared_ptr<pf::Image> vectorImageShapeOfType(std::int64_t type, pf::Size size, const pf::Color& fillColor);
void drawShapeOfType(std::int64_t type, pf::Size size, const pf::Color& fillColor);
std::string checkMarkVectorString();
std::string xMarkVectorString();
std::string vectorPointStringForShapeType(std::int64_t type);
}  // namespace OvVectorImage

class OvHud : public pf::View {
 public:
  OvHud();
  static std::shared_ptr<OvHud> make() { return std::make_shared<OvHud>(); }
  std::string className() const override { return "OvHud"; }

  // ---- texts (nullopt: none; an empty text counts as none)
  const std::optional<std::string>& titleText() const { return titleText_; }
  void setTitleText(std::optional<std::string> text);
  const std::optional<std::string>& messageText() const { return messageText_; }
  void setMessageText(std::optional<std::string> text);
  void updateTitle(std::optional<std::string> title, bool animated);
  void updateMessage(std::optional<std::string> message, bool animated);
  void updateTitleMessage(std::optional<std::string> title, std::optional<std::string> message, bool animated);

  // ---- content
  std::shared_ptr<pf::Image> image;
  std::vector<std::shared_ptr<pf::Image>> animationImages;
  double animationLoopDuration = 0;  // 0 plays one loop in 0.5 s
  double progress() const { return progress_; }
  void setProgress(double progress) { setProgress(progress, true); }
  void setProgress(double progress, bool animated);
  std::int64_t progressStyle = OvProgressHUDProgressStyleIndeterminate;
  std::int64_t displayStyle() const { return displayStyle_; }
  void setDisplayStyle(std::int64_t style);
  std::int64_t completionState = OvProgressHUDCompletionStateNone;
  bool visible = false;
  bool needsUpdate = true;
  std::weak_ptr<OvHudDelegate> delegate;

  // ---- subviews, built on first access
  pf::Label& titleLabel();
  pf::Label& statusLabel();
  pf::ImageView& imageView();
  pf::ActivityIndicatorView& activityIndicator();
  pf::View& progressViewContainer();
  OvRadialProgressView& radialProgressView();

  pf::Rect titleFrame, statusFrame, contentAreaFrame;

  // ---- updates
  void updateAnimated(bool animated, std::function<void(bool finished)> completion = {});
  void buildHUDAnimated(bool animated);
  void prepareForReuse();

  // ---- layout steps
  void configureInitialDisplayAttributes();
  pf::Size titleLabelSizeForTitleText(const std::string& title);
  pf::Size statusSizeForMessageText();
  void layoutContentAreaForCurrentState();
  void layoutLabelFramesForStatusSize(pf::Size statusSize, pf::Size titleSize);
  void layoutChildContentFramesForFinalHUDBounds(const pf::Rect& bounds);
  void updateLayoutFrames();
  void frameInitialHUDPositionOffscreenWithDelegate(OvHudDelegate* delegate, const pf::Rect& finalBounds);
  void frameHUDPositionPreservingCenterWithDelegate(OvHudDelegate* delegate, const pf::Rect& finalBounds);
  void applyLayoutFrames();
  pf::ContentMode contentModeForImage(const pf::Image& image);

 private:
  bool hasTitle() const { return titleText_ && !titleText_->empty(); }
  bool hasMessage() const { return messageText_ && !messageText_->empty(); }
  bool hasImageContent() const { return image || !animationImages.empty(); }
  void layoutContentArea();
  void updateAccessibility();
  std::shared_ptr<pf::Label> makeLabel(const char* fontName, const pf::Color& color);

  std::optional<std::string> titleText_, messageText_;
  double progress_ = 0;
  std::int64_t displayStyle_ = OvProgressHUDDisplayStylePlain;
  std::shared_ptr<pf::Label> titleLabel_, statusLabel_;
  std::shared_ptr<pf::ImageView> imageView_;
  std::shared_ptr<pf::ActivityIndicatorView> activityIndicator_;
  std::shared_ptr<pf::View> container_;
  std::shared_ptr<OvRadialProgressView> ring_;
};

}  // namespace widgets
