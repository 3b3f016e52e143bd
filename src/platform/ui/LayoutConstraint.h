#pragma once
// Layout constraints: records of "first.attribute relation second.attribute * multiplier +
// constant", the subset of the visual format language that screens use ("H:|-0-[a]-0-|",
// "V:[a]-(top)-[b]", "[a(==40)]"), and a resolver for the simple equalities they express (see
// resolveConstraints in View.h). Items are held weakly.

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pf {

class View;

// Attributes and relations with the platform's values.
enum class LayoutAttribute {
  NotAnAttribute = 0, Left = 1, Right = 2, Top = 3, Bottom = 4, Leading = 5, Trailing = 6, Width = 7,
  Height = 8, CenterX = 9, CenterY = 10, Baseline = 11, FirstBaseline = 12, LeftMargin = 13,
  RightMargin = 14, TopMargin = 15, BottomMargin = 16
};
enum class LayoutRelation { LessThanOrEqual = -1, Equal = 0, GreaterThanOrEqual = 1 };

class LayoutConstraint {
 public:
  static std::shared_ptr<LayoutConstraint> make(const std::shared_ptr<View>& first, LayoutAttribute firstAttribute,
                                                LayoutRelation relation, const std::shared_ptr<View>& second,
                                                LayoutAttribute secondAttribute, double multiplier, double constant);

  // Parses a visual format; views and metrics by name. Throws pf::Exception
  // ("NSInvalidArgumentException") for a format it cannot read.
  static std::vector<std::shared_ptr<LayoutConstraint>> constraintsWithVisualFormat(
      const std::string& format, unsigned options, const std::map<std::string, double>& metrics,
      const std::map<std::string, std::shared_ptr<View>>& views);

  std::shared_ptr<View> firstItem() const { return first_.lock(); }
  std::shared_ptr<View> secondItem() const { return second_.lock(); }
  const View* firstItemRaw() const { return firstRaw_; }
  const View* secondItemRaw() const { return secondRaw_; }
  LayoutAttribute firstAttribute = LayoutAttribute::NotAnAttribute;
  LayoutAttribute secondAttribute = LayoutAttribute::NotAnAttribute;
  LayoutRelation relation = LayoutRelation::Equal;
  double multiplier = 1.0;
  double constant = 0;
  double priority = 1000;
  std::string identifier;

 private:
  std::weak_ptr<View> first_, second_;
  const View* firstRaw_ = nullptr;
  const View* secondRaw_ = nullptr;
};

}  // namespace pf
