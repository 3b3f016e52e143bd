#pragma once
// Colours: red, green, blue and alpha in 0..1 (device RGB). Grey colours keep their white level
// so that code comparing them sees the same values. The named system colours have fixed values.

#include <optional>
#include <string>

namespace pf {

struct Color {
  double r = 0;  // red
  double g = 0;  // green
  double b = 0;  // blue
  double a = 0;  // alpha
  constexpr Color() = default;
  constexpr Color(double red, double green, double blue, double alpha) : r(red), g(green), b(blue), a(alpha) {}

  static Color rgb(double red, double green, double blue, double alpha = 1.0) { return {red, green, blue, alpha}; }
  static Color white(double w, double alpha = 1.0) { return {w, w, w, alpha}; }

  // Named colours.
  static Color clear() { return {0, 0, 0, 0}; }
  static Color black() { return white(0); }
  static Color whiteColor() { return white(1); }
  static Color darkGray() { return white(1.0 / 3.0); }
  static Color lightGray() { return white(2.0 / 3.0); }
  static Color gray() { return white(0.5); }
  static Color red() { return rgb(1, 0, 0); }
  static Color green() { return rgb(0, 1, 0); }
  static Color blue() { return rgb(0, 0, 1); }
  static Color cyan() { return rgb(0, 1, 1); }
  static Color yellow() { return rgb(1, 1, 0); }
  static Color magenta() { return rgb(1, 0, 1); }
  static Color orange() { return rgb(1, 0.5, 0); }
  static Color purple() { return rgb(0.5, 0, 0.5); }
  static Color brown() { return rgb(0.6, 0.4, 0.2); }

  Color withAlpha(double alpha) const { return {r, g, b, alpha}; }
  bool isClear() const { return a == 0; }

  // Linear mix: t = 0 gives this, t = 1 gives other.
  Color mix(const Color& other, double t) const;
  // Closeness within a tolerance per component (for pixel probes).
  bool near(const Color& other, double tolerance = 1.0 / 255.0) const;

  std::string description() const;  // "UIDeviceRGBColorSpace r g b a"-like text for logs

  bool operator==(const Color&) const = default;
};

// A colour property that may be unset (the platform's nil colour).
using OptColor = std::optional<Color>;

}  // namespace pf
