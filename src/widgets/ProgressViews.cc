#include "widgets/ProgressViews.h"

#include <cmath>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Screen.h"

namespace widgets {

using pf::Color;
using pf::Rect;

RoundProgressView::RoundProgressView(HUDKind kind) : pf::View(Rect(0, 0, 37, 37)), kind_(kind) {
  setBackgroundColor(Color::clear());
  setOpaque(false);
}

void RoundProgressView::setProgress(float progress) {
  progress_ = progress;
  setNeedsDisplay();
}

void RoundProgressView::setAnnular(bool annular) {
  annular_ = annular;
  setNeedsDisplay();
}

void TnqRoundProgressView::setProgressTintColor(const Color& c) {
  progressTint_ = c;
  setNeedsDisplay();
}
void TnqRoundProgressView::setBackgroundTintColor(const Color& c) {
  backgroundTint_ = c;
  setNeedsDisplay();
}
void MwRoundProgressView::setProgressTintColor(const Color& c) {
  progressTint_ = c;
  setNeedsDisplay();
}
void MwRoundProgressView::setBackgroundTintColor(const Color& c) {
  backgroundTint_ = c;
  setNeedsDisplay();
}

void RoundProgressView::drawRect(const Rect&) {
  pf::GraphicsContext* ctx = pf::currentContext();
  if (!ctx) return;
  double W = bounds().width(), H = bounds().height();
  pf::Point center{W / 2, H / 2};
  double start = -M_PI / 2;
  bool pyl = kind_ == HUDKind::Pyl;
  Color tint = pyl ? Color::white(1, 1) : progressTint_;
  Color background = pyl ? Color::white(1, 0.1) : backgroundTint_;
  ctx->save();
  if (!annular_) {
    ctx->setLineWidth(2);
    ctx->setStrokeColor(tint);
    ctx->setFillColor(background);
    Rect circle = bounds().insetBy(2, 2);
    ctx->fillEllipse(circle);
    ctx->strokeEllipse(circle);
    // The sector: the container's and the shell's are always white.
    ctx->setFillColor(kind_ == HUDKind::Tnq ? tint : Color::white(1, 1));
    ctx->beginPath();
    ctx->moveTo(center.x, center.y);
    ctx->addArc(center.x, center.y, (W - 4) / 2, start, start + 2 * M_PI * progress_, 0);
    ctx->closePath();
    ctx->fillPath();
  } else {
    bool old = pf::Device::current()->systemVersionBelow("7.0");
    bool tnq = kind_ == HUDKind::Tnq;
    double width = tnq && !old ? 2 : 5;
    double radius = (W - width) / 2;
    ctx->setLineWidth(width);
    ctx->setLineCap(tnq ? pf::LineCap::Butt : pf::LineCap::Round);
    pf::Path back;
    back.addBezierArc(center, radius, start, start + 2 * M_PI, true);
    ctx->setStrokeColor(background);
    ctx->beginPath();
    ctx->addPath(back);
    ctx->strokePath();
    ctx->setLineCap(tnq && !old ? pf::LineCap::Square : pf::LineCap::Round);
    pf::Path arc;
    arc.addBezierArc(center, radius, start, start + 2 * M_PI * progress_, true);
    ctx->setStrokeColor(tint);
    ctx->beginPath();
    ctx->addPath(arc);
    ctx->strokePath();
  }
  ctx->restore();
}

BarProgressView::BarProgressView() : pf::View(Rect(0, 0, 120, 20)) {
  setBackgroundColor(Color::clear());
  setOpaque(false);
}

void BarProgressView::setProgress(float progress) {
  progress_ = progress;
  setNeedsDisplay();
}
void BarProgressView::setLineColor(const Color& c) {
  lineColor_ = c;
  setNeedsDisplay();
}
void BarProgressView::setProgressColor(const Color& c) {
  progressColor_ = c;
  setNeedsDisplay();
}
void BarProgressView::setProgressRemainingColor(const Color& c) {
  remainingColor_ = c;
  setNeedsDisplay();
}

void BarProgressView::drawRect(const Rect& rect) {
  pf::GraphicsContext* ctx = pf::currentContext();
  if (!ctx) return;
  double w = rect.width(), h = rect.height();
  ctx->save();
  ctx->setLineWidth(2);
  ctx->setStrokeColor(lineColor_);
  ctx->setFillColor(remainingColor_);
  double R = h / 2 - 2;
  auto outline = [&] {
    ctx->beginPath();
    ctx->moveTo(2, h / 2);
    ctx->addArcToPoint(2, 2, R + 2, 2, R);
    ctx->lineTo(w - R - 2, 2);
    ctx->addArcToPoint(w - 2, 2, w - 2, h / 2, R);
    ctx->addArcToPoint(w - 2, h - 2, w - R - 2, h - 2, R);
    ctx->lineTo(R + 2, h - 2);
    ctx->addArcToPoint(2, h - 2, 2, h / 2, R);
  };
  outline();
  ctx->fillPath();
  outline();
  ctx->strokePath();

  ctx->setFillColor(progressColor_);
  double r = R - 2;
  double amount = w * progress_;
  ctx->beginPath();
  if (amount >= r + 4 && amount <= w - r - 4) {
    ctx->moveTo(4, h / 2);
    ctx->addArcToPoint(4, 4, r + 4, 4, r);
    ctx->lineTo(amount, 4);
    ctx->lineTo(amount, r + 4);
    ctx->moveTo(4, h / 2);
    ctx->addArcToPoint(4, h - 4, r + 4, h - 4, r);
    ctx->lineTo(amount, h - 4);
    ctx->lineTo(amount, r + 4);
    ctx->fillPath();
  } else if (amount > r + 4) {
    double x = amount - (w - r - 4);
    double a = std::acos(x / r);
    if (std::isnan(a)) a = 0;
    ctx->moveTo(4, h / 2);
    ctx->addArcToPoint(4, 4, r + 4, 4, r);
    ctx->lineTo(w - r - 4, 4);
    ctx->addArc(w - r - 4, h / 2, r, M_PI, -a, 0);
    ctx->lineTo(amount, h / 2);
    ctx->moveTo(4, h / 2);
    ctx->addArcToPoint(4, h - 4, r + 4, h - 4, r);
    ctx->lineTo(w - r - 4, h - 4);
    ctx->addArc(w - r - 4, h / 2, r, -M_PI, a, 1);
    ctx->lineTo(amount, h / 2);
    ctx->fillPath();
  } else if (amount > 0 && amount < r + 4) {
    ctx->moveTo(4, h / 2);
    ctx->addArcToPoint(4, 4, r + 4, 4, r);
    ctx->lineTo(r + 4, h / 2);
    ctx->moveTo(4, h / 2);
    ctx->addArcToPoint(4, h - 4, r + 4, h - 4, r);
    ctx->lineTo(r + 4, h / 2);
    ctx->fillPath();
  }
  ctx->restore();
}

}  // namespace widgets
