#include <gtest/gtest.h>

#include "platform/foundation/Error.h"
#include "platform/ui/LayoutConstraint.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace {

using pf::Point;
using pf::Rect;
using pf::View;

TEST(View, GeometryLivesInTheLayer) {
  auto v = View::make(Rect(10, 20, 100, 50));
  EXPECT_EQ(v->center(), (Point{60, 45}));
  EXPECT_EQ(v->bounds(), Rect(0, 0, 100, 50));
  v->setTransform(pf::AffineTransform::scale(2, 2));
  EXPECT_EQ(v->frame(), Rect(-40, -5, 200, 100));  // about the centre
  EXPECT_EQ(v->bounds(), Rect(0, 0, 100, 50));
  v->setTransform(pf::AffineTransform::identity());
  v->setBounds(Rect(0, 30, 100, 50));  // scrolled content
  auto child = View::make(Rect(0, 30, 10, 10));
  v->addSubview(child);
  EXPECT_EQ(child->convertPoint({0, 0}, v.get()), (Point{0, 30}));
  EXPECT_EQ(child->convertPoint({0, 0}, nullptr), (Point{10, 20}));  // no window: the root's space
}

TEST(View, HierarchyOrderTagsAndHitTesting) {
  auto root = View::make(Rect(0, 0, 100, 100));
  auto a = View::make(Rect(0, 0, 50, 50)), b = View::make(Rect(25, 25, 50, 50));
  b->setTag(7);
  root->addSubview(a);
  root->addSubview(b);
  EXPECT_EQ(root->hitTest({30, 30}), b);
  root->bringSubviewToFront(a.get());
  EXPECT_EQ(root->subviews().back(), a);
  EXPECT_EQ(root->layer().sublayers().back().get(), &a->layer());  // layers follow the order
  EXPECT_EQ(root->hitTest({30, 30}), a);
  a->setUserInteractionEnabled(false);
  EXPECT_EQ(root->hitTest({30, 30}), b);
  a->setHidden(true);
  EXPECT_EQ(root->viewWithTag(7), b);
  EXPECT_EQ(root->hitTest({200, 200}), nullptr);
  a->removeFromSuperview();
  EXPECT_EQ(a->superview(), nullptr);
  EXPECT_EQ(root->subviews().size(), 1u);
  root->addSubview(root);  // a view cannot contain itself
  EXPECT_EQ(root->subviews().size(), 1u);
}

TEST(View, AutoresizingSharesTheChangeAmongFlexibleParts) {
  auto parent = View::make(Rect(0, 0, 100, 100));
  auto fixedRight = View::make(Rect(10, 10, 20, 20));
  fixedRight->setAutoresizingMask(pf::kAutoresizingFlexibleLeftMargin);
  auto stretchy = View::make(Rect(10, 10, 80, 80));
  stretchy->setAutoresizingMask(pf::kAutoresizingFlexibleWidth | pf::kAutoresizingFlexibleHeight);
  auto centred = View::make(Rect(40, 40, 20, 20));
  centred->setAutoresizingMask(pf::kAutoresizingFlexibleLeftMargin | pf::kAutoresizingFlexibleRightMargin);
  parent->addSubview(fixedRight);
  parent->addSubview(stretchy);
  parent->addSubview(centred);
  parent->setFrame(Rect(0, 0, 200, 150));
  EXPECT_EQ(fixedRight->frame(), Rect(110, 10, 20, 20));
  EXPECT_EQ(stretchy->frame(), Rect(10, 10, 180, 130));
  EXPECT_EQ(centred->frame(), Rect(90, 40, 20, 20));
}

struct CountingView : View {
  using View::View;
  int layouts = 0;
  void layoutSubviews() override { ++layouts; }
};

TEST(View, LayoutRunsOnceUntilMarkedAgain) {
  auto v = std::make_shared<CountingView>(Rect(0, 0, 10, 10));
  v->layoutIfNeeded();
  v->layoutIfNeeded();
  EXPECT_EQ(v->layouts, 1);
  v->setFrame(Rect(0, 0, 20, 10));
  v->layoutIfNeeded();
  EXPECT_EQ(v->layouts, 2);
  v->setFrame(Rect(5, 5, 20, 10));  // a move alone needs no layout
  v->layoutIfNeeded();
  EXPECT_EQ(v->layouts, 2);
}

struct ScrollRecorder : pf::ScrollViewDelegate {
  std::vector<Point> offsets;
  void scrollViewDidScroll(pf::ScrollView& s) override { offsets.push_back(s.contentOffset()); }
};

TEST(ScrollView, DelegateHearsOnlyRealChanges) {
  auto s = pf::ScrollView::make(Rect(0, 0, 100, 100));
  auto rec = std::make_shared<ScrollRecorder>();
  s->delegate = rec;
  s->setContentSize({500, 100});
  s->setContentOffset({10, 0});
  s->setContentOffset({10, 0});
  s->setFrame(Rect(0, 0, 120, 100));  // a new size keeps the offset: no call
  EXPECT_EQ(rec->offsets, (std::vector<Point>{{10, 0}}));
  s->bounces = false;
  s->dragBy(1000, 0);
  EXPECT_EQ(rec->offsets.back(), (Point{380, 0}));
}

TEST(Constraints, VisualFormatsBecomeConstraints) {
  auto parent = View::make(Rect(0, 0, 300, 400));
  auto a = View::make(), b = View::make();
  parent->addSubview(a);
  parent->addSubview(b);
  auto fill = pf::LayoutConstraint::constraintsWithVisualFormat("H:|-0-[a]-0-|", 0, {}, {{"a", a}});
  ASSERT_EQ(fill.size(), 2u);
  EXPECT_EQ(fill[0]->firstItem(), a);
  EXPECT_EQ(fill[0]->firstAttribute, pf::LayoutAttribute::Leading);
  EXPECT_EQ(fill[0]->secondItem(), parent);
  EXPECT_EQ(fill[1]->firstItem(), parent);  // superview.trailing == a.trailing + 0
  EXPECT_EQ(fill[1]->firstAttribute, pf::LayoutAttribute::Trailing);

  auto below = pf::LayoutConstraint::constraintsWithVisualFormat("V:[a]-(top)-[b]", 0, {{"top", 12}}, {{"a", a}, {"b", b}});
  ASSERT_EQ(below.size(), 1u);
  EXPECT_EQ(below[0]->firstItem(), b);
  EXPECT_EQ(below[0]->firstAttribute, pf::LayoutAttribute::Top);
  EXPECT_EQ(below[0]->secondAttribute, pf::LayoutAttribute::Bottom);
  EXPECT_EQ(below[0]->constant, 12);

  EXPECT_THROW(pf::LayoutConstraint::constraintsWithVisualFormat("H:|-(gap)-[a]", 0, {}, {{"a", a}}), pf::Exception);
  EXPECT_THROW(pf::LayoutConstraint::constraintsWithVisualFormat("H:[nobody]", 0, {}, {{"a", a}}), pf::Exception);
  auto orphan = View::make();
  EXPECT_THROW(pf::LayoutConstraint::constraintsWithVisualFormat("|-0-[o]", 0, {}, {{"o", orphan}}), pf::Exception);
}

TEST(Constraints, ResolverPinsEdgesAndStacksViews) {
  auto parent = View::make(Rect(0, 0, 300, 400));
  auto a = View::make(Rect(0, 0, 50, 40)), b = View::make(Rect(0, 0, 50, 30));
  for (auto& v : {a, b}) {
    v->setTranslatesAutoresizingMaskIntoConstraints(false);
    parent->addSubview(v);
  }
  parent->addConstraints(pf::LayoutConstraint::constraintsWithVisualFormat("H:|-10-[a]-10-|", 0, {}, {{"a", a}}));
  parent->addConstraints(pf::LayoutConstraint::constraintsWithVisualFormat("V:|-20-[a(==40)]-8-[b]", 0, {}, {{"a", a}, {"b", b}}));
  parent->layoutIfNeeded();
  EXPECT_EQ(a->frame(), Rect(10, 20, 280, 40));
  EXPECT_EQ(b->frame().y(), 68);
}

}  // namespace
