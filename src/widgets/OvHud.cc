#include "widgets/OvHud.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "platform/ui/Animation.h"
#include "platform/ui/Font.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Screen.h"

namespace widgets {

namespace {

constexpr double kPadding = 5;
constexpr double kMinLabelWidth = 100, kMaxLabelWidth = 300, kWidthStep = 25, kWidestMeasure = 275;
constexpr double kMeasureHeight = 500;
constexpr double kImageSide = 100, kRingSide = 40;
constexpr const char* kTitleFont = "HelveticaNeue-Bold";
constexpr const char* kStatusFont = "HelveticaNeue-Light";
constexpr double kFontSize = 16;

pf::Rect unionOf(const pf::Rect& a, const pf::Rect& b, const pf::Rect& c) { return a.unionWith(b).unionWith(c); }

// Rounded in single precision, halves away from zero.
double roundF(double v) { return pf::roundHalfAwayF(v); }

}  // namespace

// ---- progress ring

void OvRadialProgressLayer::drawInContext(pf::GraphicsContext& ctx, const pf::LayerProps& p) {
  const double progress = std::clamp(std::isnan(p.customDouble(kProgressKey)) ? 0.0 : p.customDouble(kProgressKey),
                                     0.0, 1.0);
  const double scale = pf::Screen::main()->scale();
  const double pixel = 1 / scale;
  const double half = p.contentsScale > 1 ? 0.5 : 0;
  pf::Rect bounds = pf::Rect(pf::Point{0, 0}, p.bounds.size).integral().insetBy(1, 1);
  pf::Rect outer = bounds.insetBy(pixel, pixel);
  pf::Rect inner = bounds.insetBy(outer.width() / 5, outer.height() / 5);
  pf::Point c = outer.center();
  double r = std::trunc(std::min(c.x, c.y)) + half;

  ctx.save();
  ctx.beginPath();
  ctx.addEllipse(outer);
  ctx.addEllipse(inner);
  ctx.clip(pf::FillRule::EvenOdd);
  ctx.setFillColor(pf::Color::white(1, 0.2));
  ctx.fillRect(outer);
  ctx.beginPath();
  ctx.moveTo(c.x, c.y);
  ctx.addArc(c.x, c.y, r, -M_PI / 2, progress * 2 * M_PI - M_PI / 2, 0);
  ctx.closePath();
  ctx.setFillColor(pf::Color::white(1));
  ctx.fillPath();
  ctx.setStrokeColor(pf::Color::white(1, 0.5));
  ctx.strokeEllipse(outer);
  ctx.strokeEllipse(inner);
  ctx.restore();
}

OvRadialProgressView::OvRadialProgressView(const pf::Rect& frame)
    : pf::View(frame, std::make_shared<OvRadialProgressLayer>()) {
  setBackgroundColor(pf::Color::clear());
  setOpaque(false);
  layer().setContentsScale(pf::Screen::main()->scale());
  setNeedsDisplay();
}

void OvRadialProgressView::setProgress(double value, bool animated, std::function<void(bool)> completion) {
  pf::View::animate(animated ? 0.25 : 0, 0, pf::kAnimationCurveEaseOut | pf::kAnimationBeginFromCurrentState,
                    [&] { progressLayer().setProgress(value); }, std::move(completion));
}

// ---- backdrop

OvProgressHUDOverlayView::OvProgressHUDOverlayView(const pf::Rect& frame, std::int64_t overlayMode)
    : pf::View(frame), overlayMode_(overlayMode) {
  setOpaque(false);
  setOverlayColor(pf::Color::rgb(0, 0, 0, 0));
}

void OvProgressHUDOverlayView::setOverlayMode(std::int64_t mode) {
  overlayMode_ = mode;
  setNeedsDisplay();
}

void OvProgressHUDOverlayView::setOverlayColor(const pf::Color& color) {
  overlayColor_ = color;
  auto tint = [&](double a) { return pf::Color::rgb(color.r, color.g, color.b, a); };
  gradient_ = pf::Gradient::make({tint(0.0), tint(0.4), tint(0.5)}, {0.0, 0.5, 1.0});
  setNeedsDisplay();
}

void OvProgressHUDOverlayView::drawRect(const pf::Rect& rect) {
  pf::GraphicsContext* ctx = pf::currentContext();
  if (!ctx) return;
  if (overlayMode_ == 0) {
    pf::Point mid = rect.center();
    ctx->drawRadialGradient(gradient_, mid, 50, mid, static_cast<float>(0.66 * rect.height()),
                            pf::kGradientDrawsBeforeStartLocation | pf::kGradientDrawsAfterEndLocation);
  } else if (overlayMode_ == 1) {
    ctx->setFillColor(pf::Color::rgb(overlayColor_.r, overlayColor_.g, overlayColor_.b, 0.3));
    ctx->fillRect(rect);
  }
}

// ---- marks

namespace OvVectorImage {

std::string checkMarkVectorString() {
  return "434.442,58.997 195.559,297.881 77.554,179.88 0,257.438 195.559,453.003 512,136.551";
}

std::string xMarkVectorString() {
  return "512,120.859 391.141,0 255.997,135.146 120.855,0 0,120.859 135.132,256.006 0,391.146 120.855,512 "
         "255.997,376.872 391.141,512 512,391.146 376.862,256.006";
}

std::string vectorPointStringForShapeType(std::int64_t type) {
  if (type == 0) return checkMarkVectorString();
  if (type == 1) return xMarkVectorString();
  return {};
}

void drawShapeOfType(std::int64_t type, pf::Size size, const pf::Color& fillColor) {
  pf::GraphicsContext* ctx = pf::currentContext();
  if (!ctx) return;
  std::istringstream points(vectorPointStringForShapeType(type));
  std::string point;
  bool any = false;
  ctx->beginPath();
  while (points >> point) {
    auto comma = point.find(',');
    if (comma == std::string::npos) continue;
    double x = std::stod(point.substr(0, comma)) * size.width / 512;
    double y = std::stod(point.substr(comma + 1)) * size.height / 512;
    if (any)
      ctx->lineTo(x, y);
    else
      ctx->moveTo(x, y);
    any = true;
  }
  if (!any) return;
  ctx->closePath();
  ctx->setFillColor(fillColor);
  ctx->fillPath();
}

std::shared_ptr<pf::Image> vectorImageShapeOfType(std::int64_t type, pf::Size size, const pf::Color& fillColor) {
  double side = std::max(size.width, size.height);
  pf::Size square{side, side};
  pf::ImageContext context(square, false, 0);
  drawShapeOfType(type, square, fillColor);
  return context.takeImage();
}

}  // namespace OvVectorImage

// ---- the box

OvHud::OvHud() : pf::View(pf::Rect()) {
  configureInitialDisplayAttributes();
  isAccessibilityElement = true;
}

void OvHud::configureInitialDisplayAttributes() {
  setBackgroundColor(pf::Color::white(0, 0.75));
  layer().setShadowColor(pf::Color::black());
  layer().setShadowOpacity(0.5);
  layer().setShadowRadius(15);
  layer().setCornerRadius(10);
  setAutoresizingMask(pf::kAutoresizingFlexibleLeftMargin | pf::kAutoresizingFlexibleRightMargin |
                      pf::kAutoresizingFlexibleTopMargin | pf::kAutoresizingFlexibleBottomMargin);
}

void OvHud::updateAccessibility() {
  if (hasTitle()) {
    accessibilityLabel = *titleText_;
    accessibilityHint = messageText_.value_or("");
  } else {
    accessibilityLabel = messageText_.value_or("");
  }
}

void OvHud::setTitleText(std::optional<std::string> text) {
  if (text == titleText_) return;
  titleText_ = std::move(text);
  needsUpdate = true;
  updateAccessibility();
}

void OvHud::setMessageText(std::optional<std::string> text) {
  if (text == messageText_) return;
  messageText_ = std::move(text);
  needsUpdate = true;
  updateAccessibility();
}

void OvHud::updateTitle(std::optional<std::string> title, bool animated) {
  setTitleText(std::move(title));
  updateAnimated(animated);
}

void OvHud::updateMessage(std::optional<std::string> message, bool animated) {
  setMessageText(std::move(message));
  updateAnimated(animated);
}

void OvHud::updateTitleMessage(std::optional<std::string> title, std::optional<std::string> message, bool animated) {
  setMessageText(std::move(message));
  setTitleText(std::move(title));
  updateAnimated(animated);
}

void OvHud::setProgress(double value, bool animated) {
  // A value that is not a number counts as 0; the ring shows 0 to 1.
  progress_ = std::isnan(value) ? 0 : value;
  std::weak_ptr<OvHud> weak = std::static_pointer_cast<OvHud>(shared_from_this());
  const double given = progress_;
  radialProgressView().setProgress(std::clamp(given, 0.0, 1.0), animated, [weak, given](bool finished) {
    auto self = weak.lock();
    if (!self || !finished || given < 1.0) return;
    if (auto d = self->delegate.lock()) d->hudDidCompleteProgress(*self);
  });
}

void OvHud::setDisplayStyle(std::int64_t style) {
  displayStyle_ = style;
  if (style == OvProgressHUDDisplayStylePlain) {
    layer().setBorderWidth(0);
  } else if (style == OvProgressHUDDisplayStyleBordered) {
    layer().setBorderColor(pf::Color::white(1));
    layer().setBorderWidth(2);
  }
}

// A label of the box: any number of centred, wrapped lines over a clear background, shadowed.
std::shared_ptr<pf::Label> OvHud::makeLabel(const char* fontName, const pf::Color& color) {
  auto label = pf::Label::make();
  label->setAutoresizingMask(pf::kAutoresizingFlexibleLeftMargin | pf::kAutoresizingFlexibleRightMargin);
  label->setNumberOfLines(0);
  label->setLineBreakMode(pf::LineBreakMode::WordWrap);
  label->setTextAlignment(pf::TextAlignment::Center);
  label->setBackgroundColor(pf::Color::clear());
  label->setShadowColor(pf::Color::black());
  label->setShadowOffset(pf::Size{0, -1});
  label->setFont(pf::Font::named(fontName, kFontSize));
  label->setTextColor(color);
  addSubview(label);
  return label;
}

pf::Label& OvHud::titleLabel() {
  if (!titleLabel_) titleLabel_ = makeLabel(kTitleFont, pf::Color::white(1));
  return *titleLabel_;
}

pf::Label& OvHud::statusLabel() {
  if (!statusLabel_) statusLabel_ = makeLabel(kStatusFont, pf::Color::white(0.9, 0.95));
  return *statusLabel_;
}

pf::View& OvHud::progressViewContainer() {
  if (!container_) {
    container_ = pf::View::make(contentAreaFrame);
    container_->setBackgroundColor(pf::Color::clear());
    container_->setOpaque(false);
    addSubview(container_);
  }
  return *container_;
}

pf::ImageView& OvHud::imageView() {
  if (!imageView_) {
    imageView_ = pf::ImageView::make(progressViewContainer().bounds());
    imageView_->setAutoresizingMask(pf::kAutoresizingFlexibleWidth | pf::kAutoresizingFlexibleHeight);
    imageView_->setContentMode(pf::ContentMode::Center);
    progressViewContainer().addSubview(imageView_);
  }
  return *imageView_;
}

OvRadialProgressView& OvHud::radialProgressView() {
  if (!ring_) {
    ring_ = std::make_shared<OvRadialProgressView>(progressViewContainer().bounds());
    ring_->setAutoresizingMask(pf::kAutoresizingFlexibleWidth | pf::kAutoresizingFlexibleHeight);
    progressViewContainer().addSubview(ring_);
  }
  return *ring_;
}

pf::ActivityIndicatorView& OvHud::activityIndicator() {
  if (!activityIndicator_) {
    activityIndicator_ = pf::ActivityIndicatorView::make(pf::ActivityIndicatorStyle::WhiteLarge);
    activityIndicator_->setAutoresizingMask(pf::kAutoresizingFlexibleLeftMargin |
                                            pf::kAutoresizingFlexibleRightMargin | pf::kAutoresizingFlexibleTopMargin |
                                            pf::kAutoresizingFlexibleBottomMargin);
    activityIndicator_->setHidesWhenStopped(true);
  }
  return *activityIndicator_;
}

void OvHud::updateAnimated(bool animated, std::function<void(bool)> completion) {
  if (animated) {
    std::weak_ptr<OvHud> weak = std::static_pointer_cast<OvHud>(shared_from_this());
    pf::View::animate(0.25, 0, pf::kAnimationCurveLinear, [weak] {
      if (auto self = weak.lock()) self->applyLayoutFrames();
    }, std::move(completion));
    return;
  }
  applyLayoutFrames();
  if (completion) completion(true);
}

void OvHud::buildHUDAnimated(bool animated) {
  if (!animated) {
    applyLayoutFrames();
    return;
  }
  pf::View::animate(0.35, [this] { buildHUDAnimated(false); });
}

void OvHud::prepareForReuse() {
  titleLabel().setText({});
  statusLabel().setText({});
  imageView().setImage(nullptr);
  imageView().setAnimationImages({});
  setProgress(0);
  layer().setTransform(pf::Transform3D::identity());
  layer().setOpacity(1.0);
  completionState = OvProgressHUDCompletionStateNone;
  visible = false;
}

pf::Size OvHud::titleLabelSizeForTitleText(const std::string& title) {
  const pf::Font& font = titleLabel().font();
  const double lineHeight = pf::text::size(title, font).height;
  double width = kMinLabelWidth;
  pf::Size measured = pf::text::boundingSize(title, font, pf::Size{width, kMeasureHeight});
  if (lineHeight <= 0) return measured;
  for (;;) {
    width += kWidthStep;
    if (width >= kMaxLabelWidth) break;
    if (std::trunc(measured.height / lineHeight) <= 2) break;
    measured = pf::text::boundingSize(title, font, pf::Size{width, kMeasureHeight});
  }
  return measured;
}

pf::Size OvHud::statusSizeForMessageText() {
  const std::string message = messageText_.value_or("");
  const pf::Font& font = statusLabel().font();
  pf::Size measured{0, 0};
  for (double width = kMinLabelWidth; measured.width < measured.height + 35; width += kWidthStep) {
    measured = pf::text::boundingSize(message, font, pf::Size{width, kMeasureHeight});
    if (width >= kWidestMeasure) break;
  }
  return measured;
}

void OvHud::layoutContentAreaForCurrentState() {
  const double top = titleFrame.maxY() + kPadding;
  if (hasImageContent() && completionState == OvProgressHUDCompletionStateNone) {
    contentAreaFrame = pf::Rect(0, top, kImageSide, kImageSide);
  } else if (completionState == OvProgressHUDCompletionStateError ||
             completionState == OvProgressHUDCompletionStateSuccess) {
    std::shared_ptr<pf::Image> mark;
    if (auto d = delegate.lock()) mark = d->hudImageForCompletionState(*this, completionState);
    pf::Size size = mark ? mark->size() : pf::Size{0, 0};
    contentAreaFrame = pf::Rect(pf::Point{0, top}, size);
  } else if (progressStyle == OvProgressHUDProgressStyleRadial) {
    contentAreaFrame = pf::Rect(0, top, kRingSide, kRingSide);
  } else if (progressStyle == OvProgressHUDProgressStyleIndeterminate) {
    contentAreaFrame = pf::Rect(pf::Point{0, top}, activityIndicator().frame().size);
  }
}

void OvHud::layoutLabelFramesForStatusSize(pf::Size statusSize, pf::Size titleSize) {
  const double width = std::clamp(std::max(statusSize.width, titleSize.width), kMinLabelWidth, kMaxLabelWidth);
  if (hasTitle()) titleFrame = pf::Rect(titleFrame.origin, pf::Size{width, titleFrame.height()}).integral();
  if (hasMessage()) statusFrame = pf::Rect(statusFrame.origin, pf::Size{width, statusFrame.height()}).integral();
}

void OvHud::layoutChildContentFramesForFinalHUDBounds(const pf::Rect& bounds) {
  titleFrame = pf::Rect(kPadding, titleFrame.y(), bounds.width(), titleFrame.height()).integral();
  statusFrame = pf::Rect(kPadding, statusFrame.y(), bounds.width(), statusFrame.height()).integral();
  contentAreaFrame = pf::Rect(bounds.width() / 2 - contentAreaFrame.width() / 2 + kPadding, contentAreaFrame.y(),
                              contentAreaFrame.width(), contentAreaFrame.height())
                         .integral();
}

void OvHud::updateLayoutFrames() {
  titleFrame = statusFrame = contentAreaFrame = pf::Rect();
  pf::Size titleSize{0, 0}, statusSize{0, 0};
  if (hasTitle()) {
    titleSize = titleLabelSizeForTitleText(*titleText_);
    titleFrame = pf::Rect(pf::Point{kPadding, kPadding}, titleSize);
  }
  layoutContentAreaForCurrentState();
  if (!hasTitle()) contentAreaFrame = contentAreaFrame.offsetBy(0, kPadding);
  if (hasMessage()) {
    statusSize = statusSizeForMessageText();
    statusFrame = pf::Rect(pf::Point{kPadding, contentAreaFrame.maxY() + kPadding}, statusSize);
  }
  layoutLabelFramesForStatusSize(statusSize, titleSize);
  layoutChildContentFramesForFinalHUDBounds(unionOf(titleFrame, contentAreaFrame, statusFrame));
  layoutContentArea();
  needsUpdate = false;
}

void OvHud::frameInitialHUDPositionOffscreenWithDelegate(OvHudDelegate* d, const pf::Rect& finalBounds) {
  pf::Point centre = d ? d->hudCenterPointForDisplay(*this) : center();
  pf::Rect f(roundF(centre.x - finalBounds.width() / 2), roundF(-2 * finalBounds.height()), finalBounds.width(),
             finalBounds.height());
  setFrame(f.insetBy(-kPadding, -kPadding).integral());
  configureInitialDisplayAttributes();
}

void OvHud::frameHUDPositionPreservingCenterWithDelegate(OvHudDelegate* d, const pf::Rect& finalBounds) {
  pf::Point centre = visible && d ? d->hudCenterPointForDisplay(*this) : center();
  pf::Point anchor = layer().anchorPoint();
  pf::Rect f(roundF(centre.x - finalBounds.width() * anchor.x),
             roundF(centre.y - finalBounds.height() * anchor.y + (0.5 - anchor.y) * 2 * kPadding),
             finalBounds.width(), finalBounds.height());
  setFrame(f.insetBy(-kPadding, -kPadding).integral());
}

void OvHud::applyLayoutFrames() {
  if (needsUpdate) updateLayoutFrames();
  statusLabel().setFont(pf::Font::named(hasTitle() ? kStatusFont : kTitleFont, kFontSize));
  for (pf::Label* label : {&titleLabel(), &statusLabel()}) {
    auto fade = pf::Transition::make("fade");
    fade->duration = 0.15;
    fade->timingFunction = pf::TimingFunction::easeOut();
    label->layer().addAnimation(fade, "changeTextTransition");
  }
  titleLabel().setText(titleText_.value_or(""));
  statusLabel().setText(messageText_.value_or(""));
  const pf::Rect finalBounds = unionOf(titleFrame, contentAreaFrame, statusFrame);
  auto d = delegate.lock();
  if (frame() == pf::Rect())
    frameInitialHUDPositionOffscreenWithDelegate(d.get(), finalBounds);
  else
    frameHUDPositionPreservingCenterWithDelegate(d.get(), finalBounds);
  titleLabel().setFrame(titleFrame);
  statusLabel().setFrame(statusFrame);
  progressViewContainer().setFrame(contentAreaFrame);
  layer().setShadowPath(pf::Path::roundedRect(bounds(), layer().cornerRadius()));
}

pf::ContentMode OvHud::contentModeForImage(const pf::Image& img) {
  const pf::Size view = imageView().bounds().size;
  const double rw = img.size().width / view.width, rh = img.size().height / view.height;
  if (rw < 1 && rh < 1) return pf::ContentMode::Center;
  if (rw > 1 && rh > 1) return pf::ContentMode::ScaleAspectFit;
  return pf::ContentMode::ScaleAspectFill;
}

void OvHud::layoutContentArea() {
  pf::View& container = progressViewContainer();
  container.setFrame(contentAreaFrame);
  imageView().setHidden(!hasImageContent());
  radialProgressView().setHidden(progressStyle != OvProgressHUDProgressStyleRadial);
  if (completionState != OvProgressHUDCompletionStateNone) {
    std::shared_ptr<pf::Image> mark;
    if (auto d = delegate.lock()) mark = d->hudImageForCompletionState(*this, completionState);
    pf::View::transition(container, 0.15,
                         pf::kAnimationTransitionCrossDissolve | pf::kAnimationBeginFromCurrentState |
                             pf::kAnimationAllowAnimatedContent,
                         [&] {
                           pf::withoutActions([&] {
                             imageView().stopAnimating();
                             if (mark) imageView().setContentMode(contentModeForImage(*mark));
                             activityIndicator().stopAnimating();
                             radialProgressView().setHidden(true);
                             imageView().setImage(mark);
                             imageView().setHidden(false);
                           });
                         });
  } else {
    pf::withoutActions([&] {
      if (!animationImages.empty()) {
        imageView().setImage(nullptr);
        imageView().setAnimationImages(animationImages);
        activityIndicator().stopAnimating();
        imageView().setAnimationDuration(animationLoopDuration == 0 ? 0.5 : animationLoopDuration);
        imageView().setContentMode(pf::ContentMode::ScaleAspectFit);
        imageView().startAnimating();
      } else if (image) {
        imageView().setAnimationImages({});
        imageView().setImage(image);
        activityIndicator().stopAnimating();
        imageView().setContentMode(contentModeForImage(*image));
      } else {
        imageView().setHidden(true);
        if (progressStyle != OvProgressHUDProgressStyleIndeterminate) {
          activityIndicator().stopAnimating();
        } else {
          activityIndicator().startAnimating();
          imageView().setImage(nullptr);
          imageView().setAnimationImages({});
          container.addSubview(activityIndicator_);
        }
      }
    });
  }
  completionState = OvProgressHUDCompletionStateNone;
}

}  // namespace widgets
