#include "app/TnqAutoLayout.h"

#include <cstdint>
#include <cstdio>

namespace app::TnqAutoLayout {

using pf::LayoutAttribute;
using pf::LayoutConstraint;
using pf::LayoutRelation;

namespace {

Constraint equal(const ViewPtr& self, LayoutAttribute a, const ViewPtr& view) {
  return LayoutConstraint::make(self, a, LayoutRelation::Equal, view, a, 1.0, 0);
}

Constraint fixed(const ViewPtr& self, LayoutAttribute a, double value) {
  return LayoutConstraint::make(self, a, LayoutRelation::Equal, nullptr, LayoutAttribute::NotAnAttribute, 1.0, value);
}

Constraints format(const std::string& text, const ViewPtr& self, const ViewPtr& view = nullptr,
                   const std::string& metric = {}, double value = 0) {
  std::map<std::string, ViewPtr> views{{"selfView", self}};
  if (view) views["view"] = view;
  std::map<std::string, double> metrics;
  if (!metric.empty()) metrics[metric] = value;
  return LayoutConstraint::constraintsWithVisualFormat(text, 0, metrics, views);
}

}  // namespace

Constraint constraintWidth(const ViewPtr& self, double value) { return fixed(self, LayoutAttribute::Width, value); }
Constraint constraintHeight(const ViewPtr& self, double value) { return fixed(self, LayoutAttribute::Height, value); }
Constraint constraintWidthEqualToView(const ViewPtr& s, const ViewPtr& v) { return equal(s, LayoutAttribute::Width, v); }
Constraint constraintHeightEqualToView(const ViewPtr& s, const ViewPtr& v) { return equal(s, LayoutAttribute::Height, v); }
Constraint constraintCenterXEqualToView(const ViewPtr& s, const ViewPtr& v) { return equal(s, LayoutAttribute::CenterX, v); }
Constraint constraintCenterYEqualToView(const ViewPtr& s, const ViewPtr& v) { return equal(s, LayoutAttribute::CenterY, v); }
Constraint constraintTopEqualToView(const ViewPtr& s, const ViewPtr& v) { return equal(s, LayoutAttribute::Top, v); }
Constraint constraintBottomEqualToView(const ViewPtr& s, const ViewPtr& v) { return equal(s, LayoutAttribute::Bottom, v); }
Constraint constraintLeftEqualToView(const ViewPtr& s, const ViewPtr& v) { return equal(s, LayoutAttribute::Left, v); }
Constraint constraintRightEqualToView(const ViewPtr& s, const ViewPtr& v) { return equal(s, LayoutAttribute::Right, v); }

Constraints constraintsSizeEqualToView(const ViewPtr& s, const ViewPtr& v) {
  return {constraintHeightEqualToView(s, v), constraintWidthEqualToView(s, v)};
}
Constraints constraintsSize(const ViewPtr& s, pf::Size size) {
  return {constraintHeight(s, size.height), constraintWidth(s, size.width)};
}

bool constraintMatches(const LayoutConstraint& a, const LayoutConstraint& b) {
  return a.firstItemRaw() == b.firstItemRaw() && a.secondItemRaw() == b.secondItemRaw() &&
         a.firstAttribute == b.firstAttribute && a.secondAttribute == b.secondAttribute && a.relation == b.relation &&
         a.multiplier == b.multiplier && a.constant == b.constant;
}

Constraint constraintMatchingConstraint(const pf::View& self, const LayoutConstraint& c) {
  for (auto& own : self.constraints())
    if (constraintMatches(*own, c)) return own;
  if (auto* sup = self.superviewRaw())
    for (auto& theirs : sup->constraints())
      if (constraintMatches(*theirs, c)) return theirs;
  return nullptr;
}

void removeMatchingConstraint(pf::View& self, const LayoutConstraint& c) {
  for (auto& own : self.constraints())
    if (constraintMatches(*own, c)) {
      self.removeConstraint(own.get());
      break;
    }
  if (auto* sup = self.superviewRaw())
    for (auto& theirs : sup->constraints())
      if (constraintMatches(*theirs, c)) {
        sup->removeConstraint(theirs.get());
        break;
      }
}

void centerVerticalInSuperView(const ViewPtr& self) {
  auto sup = self->superview();
  if (!sup) return;
  sup->addConstraint(equal(self, LayoutAttribute::CenterX, sup));
}

void centerHorizonInSuperView(const ViewPtr& self) {
  auto sup = self->superview();
  if (!sup) return;
  sup->addConstraint(equal(self, LayoutAttribute::CenterY, sup));
}

void centerInSuperView(const ViewPtr& self) {
  centerHorizonInSuperView(self);
  centerVerticalInSuperView(self);
}

void constrainWithinSuperView(const ViewPtr& self) {
  auto sup = self->superview();
  if (!sup) return;
  auto make = [&](LayoutAttribute a, LayoutRelation r) {
    return LayoutConstraint::make(self, a, r, sup, a, 1.0, 0);
  };
  sup->addConstraint(make(LayoutAttribute::Top, LayoutRelation::GreaterThanOrEqual));
  sup->addConstraint(make(LayoutAttribute::Right, LayoutRelation::LessThanOrEqual));
  sup->addConstraint(make(LayoutAttribute::Left, LayoutRelation::GreaterThanOrEqual));
  sup->addConstraint(make(LayoutAttribute::Bottom, LayoutRelation::LessThanOrEqual));
}

std::string nameForLayoutAttribute(int a) {
  static const char* const names[] = {"left",   "right",  "top",     "bottom",  "leading", "trailing",
                                      "width",  "height", "centerX", "centerY", "baseline"};
  if (a >= 1 && a <= 11) return names[a - 1];
  if (a == 16) return "bottomMargin";
  return "unknown attribute";
}

std::string nameForLayoutRelation(int r) {
  if (r == -1) return "<=";
  if (r == 0) return "==";
  if (r == 1) return ">=";
  return "unknown relation";
}

std::string nameForItem(const pf::View& self, const pf::View* item) {
  if (!item) return "nil";
  if (item == &self) return "[self]";
  if (item == self.superviewRaw()) return "superview";
  char buf[128];
  std::snprintf(buf, sizeof buf, "[%s:%d]", item->className().c_str(),
                static_cast<int>(reinterpret_cast<std::uintptr_t>(item)));
  return buf;
}

std::string nameForConstraint(const pf::View& self, const LayoutConstraint& c) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "NSLayoutConstraint firstItem(%s)'s attribute(%s) %s secondItem(%s)'s attribute(%s) constant = %f",
                nameForItem(self, c.firstItemRaw()).c_str(),
                nameForLayoutAttribute(static_cast<int>(c.firstAttribute)).c_str(),
                nameForLayoutRelation(static_cast<int>(c.relation)).c_str(),
                nameForItem(self, c.secondItemRaw()).c_str(),
                nameForLayoutAttribute(static_cast<int>(c.secondAttribute)).c_str(), c.constant);
  return buf;
}

Constraints constraintsFillWidth(const ViewPtr& self) { return format("H:|-0-[selfView]-0-|", self); }
Constraints constraintsFillHeight(const ViewPtr& self) { return format("V:|-0-[selfView]-0-|", self); }
Constraints constraintsFill(const ViewPtr& self) {
  Constraints out = constraintsFillWidth(self);
  Constraints v = constraintsFillHeight(self);
  out.insert(out.end(), v.begin(), v.end());
  return out;
}
Constraints constraintsTopFromView(const ViewPtr& self, double top, const ViewPtr& view) {
  return format("V:[view]-(top)-[selfView]", self, view, "top", top);
}
Constraints constraintsBottomFromView(const ViewPtr& self, double bottom, const ViewPtr& view) {
  return format("V:[selfView]-(bottom)-[view]", self, view, "bottom", bottom);
}
Constraints constraintsLeftFromView(const ViewPtr& self, double left, const ViewPtr& view) {
  return format("H:[selfView]-(left)-[view]", self, view, "left", left);
}
Constraints constraintsRightFromView(const ViewPtr& self, double right, const ViewPtr& view) {
  return format("H:[view]-(right)-[selfView]", self, view, "right", right);
}
Constraints constraintsTopInContainer(const ViewPtr& self, double top) {
  return format("V:|-(top)-[selfView]", self, nullptr, "top", top);
}
Constraints constraintsBottomInContainer(const ViewPtr& self, double bottom) {
  return format("V:[selfView]-(bottom)-|", self, nullptr, "bottom", bottom);
}
Constraints constraintsLeftInContainer(const ViewPtr& self, double left) {
  return format("H:|-(left)-[selfView]", self, nullptr, "left", left);
}
Constraints constraintsRightInContainer(const ViewPtr& self, double right) {
  return format("H:[selfView]-(right)-|", self, nullptr, "right", right);
}
Constraints constraintsAssignTop(const ViewPtr& self) { return constraintsTopInContainer(self, 0); }
Constraints constraintsAssignBottom(const ViewPtr& self) { return constraintsBottomInContainer(self, 0); }
Constraints constraintsAssignLeft(const ViewPtr& self) { return constraintsLeftInContainer(self, 0); }
Constraints constraintsAssignRight(const ViewPtr& self) { return constraintsRightInContainer(self, 0); }

}  // namespace app::TnqAutoLayout
