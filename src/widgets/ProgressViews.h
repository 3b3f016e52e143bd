#pragma once
// The determinate indicators of the progress overlays: a pie or ring and a bar, in the three
// overlays' flavours (their drawing differs in the details listed with each class).

#include <memory>

#include "platform/ui/View.h"

namespace widgets {

// An indicator that takes the overlay's progress.
class ProgressIndicator {
 public:
  virtual ~ProgressIndicator() = default;
  virtual void setProgress(float progress) = 0;
};

enum class HUDKind { Tnq, Pyl, Mw };

class RoundProgressView : public pf::View, public ProgressIndicator {
 public:
  float progress() const { return progress_; }
  void setProgress(float progress) override;
  bool isAnnular() const { return annular_; }
  void setAnnular(bool annular);
  HUDKind kind() const { return kind_; }
  void drawRect(const pf::Rect& rect) override;

 protected:
  explicit RoundProgressView(HUDKind kind);
  pf::Color progressTint_ = pf::Color::white(1, 1);
  pf::Color backgroundTint_ = pf::Color::white(1, 0.1);

 private:
  HUDKind kind_;
  float progress_ = 0;
  bool annular_ = false;
};

// The chart overlay's pie and ring: tint colours; the ring is 2 wide with square caps (5 wide
// with round caps before system 7).
class TnqRoundProgressView : public RoundProgressView {
 public:
  TnqRoundProgressView() : RoundProgressView(HUDKind::Tnq) {}
  std::string className() const override { return "TnqRoundProgressView"; }
  pf::Color progressTintColor() const { return progressTint_; }
  void setProgressTintColor(const pf::Color& c);
  pf::Color backgroundTintColor() const { return backgroundTint_; }
  void setBackgroundTintColor(const pf::Color& c);
};

// The container overlay's: the pie's sector is always white; the ring is 5 wide with round caps.
class MwRoundProgressView : public RoundProgressView {
 public:
  MwRoundProgressView() : RoundProgressView(HUDKind::Mw) {}
  std::string className() const override { return "MwRoundProgressView"; }
  pf::Color progressTintColor() const { return progressTint_; }
  void setProgressTintColor(const pf::Color& c);
  pf::Color backgroundTintColor() const { return backgroundTint_; }
  void setBackgroundTintColor(const pf::Color& c);
};

// The application shell's: fixed white colours, ring 5 wide with round caps.
class PylRoundProgressView : public RoundProgressView {
 public:
  PylRoundProgressView() : RoundProgressView(HUDKind::Pyl) {}
  std::string className() const override { return "PylRoundProgressView"; }
};

class BarProgressView : public pf::View, public ProgressIndicator {
 public:
  float progress() const { return progress_; }
  void setProgress(float progress) override;
  pf::Color lineColor() const { return lineColor_; }
  void setLineColor(const pf::Color& c);
  pf::Color progressColor() const { return progressColor_; }
  void setProgressColor(const pf::Color& c);
  pf::Color progressRemainingColor() const { return remainingColor_; }
  void setProgressRemainingColor(const pf::Color& c);
  void drawRect(const pf::Rect& rect) override;

 protected:
  BarProgressView();

 private:
  float progress_ = 0;
  pf::Color lineColor_ = pf::Color::whiteColor();
  pf::Color progressColor_ = pf::Color::whiteColor();
  pf::Color remainingColor_ = pf::Color::clear();
};

class TnqBarProgressView : public BarProgressView {
 public:
  std::string className() const override { return "TnqBarProgressView"; }
};
class MwBarProgressView : public BarProgressView {
 public:
  std::string className() const override { return "MwBarProgressView"; }
};

}  // namespace widgets
