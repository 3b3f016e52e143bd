#include "platform/ui/AlertView.h"

#include <algorithm>

#include "platform/ui/Application.h"
#include "platform/ui/Font.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace pf {

AlertView::AlertView(std::string t, std::string m, std::weak_ptr<AlertViewDelegate> d,
                     std::optional<std::string> cancel, std::vector<std::string> others)
    : View(Rect(0, 0, 270, 0)), title(std::move(t)), message(std::move(m)), delegate(std::move(d)) {
  if (cancel) {
    cancelIndex_ = 0;
    buttons_.push_back(*cancel);
  }
  otherButtons_ = static_cast<int>(others.size());
  for (auto& o : others) buttons_.push_back(std::move(o));
  setOpaque(false);
}

std::shared_ptr<AlertView> AlertView::make(std::string title, std::string message,
                                           std::weak_ptr<AlertViewDelegate> delegate,
                                           std::optional<std::string> cancel, std::vector<std::string> others) {
  return std::make_shared<AlertView>(std::move(title), std::move(message), std::move(delegate), std::move(cancel),
                                     std::move(others));
}

std::string AlertView::buttonTitleAtIndex(int index) const {
  if (index < 0 || index >= numberOfButtons()) return {};
  return buttons_[static_cast<std::size_t>(index)];
}

namespace {
constexpr double kBoxWidth = 270, kPad = 16, kButtonHeight = 44;
}

void AlertView::show() {
  if (visible_) return;
  auto self = std::static_pointer_cast<AlertView>(shared_from_this());
  if (auto d = delegate.lock()) d->willPresentAlertView(*this);
  Rect screen = Screen::main()->bounds();
  double textW = kBoxWidth - 2 * kPad;
  double th = text::boundingSize(title, Font::boldSystemFont(17), {textW, 1e6}).height;
  double mh = text::boundingSize(message, Font::systemFont(13), {textW, 1e6}).height;
  double h = kPad + th + (mh > 0 ? 4 + mh : 0) + kPad + (buttons_.empty() ? 0 : kButtonHeight);
  setFrame(Rect(std::round((screen.width() - kBoxWidth) / 2), std::round((screen.height() - h) / 2), kBoxWidth, h));
  window_ = Window::make(screen);
  window_->setWindowLevel(kWindowLevelAlert);
  window_->setBackgroundColor(Color::white(0, 0.4));
  window_->addSubview(self);
  window_->setHidden(false);
  visible_ = true;
  Application::shared().alertShown(self);
  if (auto d = delegate.lock()) d->didPresentAlertView(*this);
}

void AlertView::clickButtonAtIndex(int index) {
  auto keep = shared_from_this();
  if (auto d = delegate.lock()) d->alertViewClickedButtonAtIndex(*this, index);
  dismissWithClickedButtonIndex(index, true);
}

void AlertView::dismissWithClickedButtonIndex(int index, bool) {
  if (!visible_) return;
  auto keep = shared_from_this();
  if (auto d = delegate.lock()) d->alertViewWillDismiss(*this, index);
  visible_ = false;
  removeFromSuperview();
  if (window_) window_->setHidden(true);
  window_.reset();
  Application::shared().alertDismissed(this);
  if (auto d = delegate.lock()) d->alertViewDidDismiss(*this, index);
}

int AlertView::buttonIndexAtPoint(Point point) const {
  const Rect b = bounds();
  if (buttons_.empty() || point.x < 0 || point.x >= b.width() || point.y < b.height() - kButtonHeight ||
      point.y >= b.height())
    return -1;
  const double w = b.width() / static_cast<double>(buttons_.size());
  return std::min(static_cast<int>(point.x / w), numberOfButtons() - 1);
}

void AlertView::touchesEnded(const Touch& touch) {
  if (!visible_) return;
  if (const int index = buttonIndexAtPoint(touch.location); index >= 0) clickButtonAtIndex(index);
}

void AlertView::drawRect(const Rect&) {
  GraphicsContext* ctx = currentContext();
  if (!ctx) return;
  Rect b = bounds();
  ctx->setFillColor(Color::white(0.97, 0.96));
  ctx->beginPath();
  ctx->addPath(Path::roundedRect(b, 12));
  ctx->fillPath();
  double textW = b.width() - 2 * kPad;
  double y = kPad;
  text::DrawOptions o;
  o.alignment = TextAlignment::Center;
  o.color = Color::black();
  Size ts = text::draw(*ctx, title, Font::boldSystemFont(17), Rect(kPad, y, textW, 1e6), o);
  y += ts.height + 4;
  text::draw(*ctx, message, Font::systemFont(13), Rect(kPad, y, textW, 1e6), o);
  if (buttons_.empty()) return;
  double top = b.height() - kButtonHeight;
  ctx->setStrokeColor(Color::white(0.8));
  ctx->setLineWidth(0.5);
  ctx->strokeLineSegments({{0, top}, {b.width(), top}});
  double w = b.width() / static_cast<double>(buttons_.size());
  o.color = Color::rgb(0, 122.0 / 255, 1);
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    if (i > 0) ctx->strokeLineSegments({{w * i, top}, {w * i, b.height()}});
    Font f = static_cast<int>(i) == cancelIndex_ ? Font::boldSystemFont(17) : Font::systemFont(17);
    double lh = text::size(buttons_[i], f).height;
    text::draw(*ctx, buttons_[i], f, Rect(w * i, top + (kButtonHeight - lh) / 2, w, lh + 1), o);
  }
}

}  // namespace pf
