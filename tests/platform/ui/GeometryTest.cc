#include <gtest/gtest.h>

#include <cmath>

#include "platform/ui/Geometry.h"
#include "platform/ui/Screen.h"

namespace {

using pf::Rect;

TEST(Geometry, RectangleArithmetic) {
  Rect a(0, 0, 10, 10), b(5, 5, 10, 10), touching(10, 0, 5, 5);
  EXPECT_EQ(a.intersection(b), Rect(5, 5, 5, 5));
  EXPECT_TRUE(a.intersects(b));
  EXPECT_FALSE(a.intersects(touching));
  EXPECT_TRUE(a.intersection(Rect(20, 20, 1, 1)).isNull());
  EXPECT_EQ(a.unionWith(b), Rect(0, 0, 15, 15));
  EXPECT_EQ(Rect(10, 10, -4, -6).standardized(), Rect(6, 4, 4, 6));
  EXPECT_EQ(Rect(0.5, 0.2, 1.2, 1.2).integral(), Rect(0, 0, 2, 2));
  EXPECT_TRUE(Rect(0, 0, 4, 4).insetBy(3, 3).isNull());
}

TEST(Geometry, RectangleTextRoundTrips) {
  Rect r(8, 66.5, 148, -3);
  EXPECT_EQ(pf::toString(r), "{{8, 66.5}, {148, -3}}");
  EXPECT_EQ(pf::rectFromString(pf::toString(r)), r);
  EXPECT_EQ(pf::rectFromString("garbage"), Rect());
}

TEST(Geometry, TransformsComposeAndDecompose) {
  auto t = pf::AffineTransform::rotation(M_PI / 2).concat(pf::AffineTransform::scale(2, 2));
  auto p = t.apply(pf::Point{1, 0});
  EXPECT_NEAR(p.x, 0, 1e-12);
  EXPECT_NEAR(p.y, 2, 1e-12);
  auto inv = t.inverted();
  ASSERT_TRUE(inv);
  auto back = inv->apply(p);
  EXPECT_NEAR(back.x, 1, 1e-12);
  EXPECT_FALSE(pf::AffineTransform::scale(0, 1).inverted());

  auto parts = pf::Transform3D::compose({10, 20, 0, 1.5, 1.5, 1, 0.3}).decompose();
  EXPECT_NEAR(parts.sx, 1.5, 1e-12);
  EXPECT_NEAR(parts.sy, 1.5, 1e-12);
  EXPECT_NEAR(parts.rotation, 0.3, 1e-12);
  EXPECT_NEAR(parts.ty, 20, 1e-12);
  auto mirrored = pf::Transform3D::scale(1, -2, 1).decompose();
  EXPECT_NEAR(mirrored.sy, -2, 1e-12);
}

TEST(Geometry, VersionsCompareNumerically) {
  EXPECT_LT(pf::compareNumeric("7.1", "8.0"), 0);
  EXPECT_GT(pf::compareNumeric("10.0", "9.3"), 0);
  EXPECT_EQ(pf::compareNumeric("8.0", "8.0"), 0);
  EXPECT_LT(pf::compareNumeric("8", "8.0"), 0);
}

}  // namespace
