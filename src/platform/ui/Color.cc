#include "platform/ui/Color.h"

#include <cmath>
#include <cstdio>

namespace pf {

Color Color::mix(const Color& o, double t) const {
  return {r + (o.r - r) * t, g + (o.g - g) * t, b + (o.b - b) * t, a + (o.a - a) * t};
}

bool Color::near(const Color& o, double tol) const {
  return std::fabs(r - o.r) <= tol && std::fabs(g - o.g) <= tol && std::fabs(b - o.b) <= tol &&
         std::fabs(a - o.a) <= tol;
}

std::string Color::description() const {
  char buf[96];
  std::snprintf(buf, sizeof buf, "RGBA %g %g %g %g", r, g, b, a);
  return buf;
}

}  // namespace pf
