#pragma once
// Comparing renders with their kept references (header-only: for tests that link the UI library).
#include <cmath>

#include "platform/ui/Image.h"

namespace fxtest {

// Share of pixels that differ by more than 0.1 in any channel (1 for different sizes).
inline double differingShare(const pf::Image& a, const pf::Image& b) {
  if (a.pixelWidth() != b.pixelWidth() || a.pixelHeight() != b.pixelHeight()) return 1.0;
  long bad = 0;
  for (int y = 0; y < a.pixelHeight(); ++y)
    for (int x = 0; x < a.pixelWidth(); ++x) {
      pf::Color p = a.pixel(x, y), q = b.pixel(x, y);
      if (std::fabs(p.r - q.r) > 0.1 || std::fabs(p.g - q.g) > 0.1 || std::fabs(p.b - q.b) > 0.1 ||
          std::fabs(p.a - q.a) > 0.1)
        ++bad;
    }
  return static_cast<double>(bad) / (a.pixelWidth() * a.pixelHeight());
}

}  // namespace fxtest
