#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "platform/foundation/FixedText.h"

namespace {

std::string printfText(double v) {
  char buffer[400];
  int n = std::snprintf(buffer, sizeof buffer, "%f", v);
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

// The writer against printf, value by value: every tie between two millionths (odd multiples of
// 1/128 and their neighbours), prices and averages as the charts make them, random bit patterns
// over the whole range, and the special values.
TEST(FixedText, WritesWhatPrintfWrites) {
  auto check = [&](double v) {
    ASSERT_EQ(pf::fixedText(v), printfText(v)) << std::hexfloat << v;
    ASSERT_EQ(pf::fixedText(-v), printfText(-v)) << std::hexfloat << -v;
  };
  for (std::int64_t odd = 1; odd < 400000; odd += 2) {
    const double tie = static_cast<double>(odd) / 128;
    check(tie);
    check(std::nextafter(tie, 0.0));
    check(std::nextafter(tie, 1e300));
  }
  for (std::int64_t odd = 1; odd < (std::int64_t{1} << 50); odd = odd * 3 + 2) check(static_cast<double>(odd) / 128);
  for (std::int64_t units = -200000; units <= 200000; units += 7)
    for (double places : {1e2, 1e4, 1e5, 1e7, 1e10}) check(static_cast<double>(units) / places / 20 * 3);
  std::mt19937_64 random(20260102);
  for (int i = 0; i < 200000; ++i) {
    double v;
    std::uint64_t bits = random();
    std::memcpy(&v, &bits, sizeof v);
    if (std::isnan(v)) continue;
    check(v);
  }
  for (int e = -1080; e <= 1030; ++e) {
    const double p = std::ldexp(1.0, e);
    check(p);
    check(std::nextafter(p, 0.0));
    check(p * 3 / 2);
  }
  for (double v : {0.0, 5e-7, 4.9999999999999998e-7, 1.5e-6, 2.5e-6, 0.0078125, 17592186044415.99,
                   17592186044416.0, 18446744073709.551, 18446744073709.553, 9007199254740993.0,
                   std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                   std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::infinity()})
    check(v);
  EXPECT_EQ(pf::fixedText(std::numeric_limits<double>::quiet_NaN()), printfText(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(pf::fixedText(-std::numeric_limits<double>::quiet_NaN()), printfText(-std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(pf::fixedText(-0.0), "-0.000000");
  EXPECT_EQ(pf::fixedText(-1e-9), "-0.000000");
  EXPECT_EQ(pf::fixedText(0.0078125), "0.007812");
  EXPECT_EQ(pf::fixedText(0.0234375), "0.023438");
  EXPECT_EQ(pf::fixedText(std::numeric_limits<double>::max()).size(), 316u);
}
