#pragma once
// The screen and the device: fixed, settable facts of the headless phone (screen size in points
// and scale, system version, device orientation).

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/Geometry.h"

namespace pf {

class Screen {
 public:
  static std::shared_ptr<Screen> main();

  Rect bounds() const { return bounds_; }
  double scale() const { return scale_; }
  void setBounds(const Rect& bounds) { bounds_ = bounds; }
  void setScale(double scale) { scale_ = scale > 0 ? scale : 1; }

  // Back to 375 by 667 points at scale 2 (tests).
  void reset();

 private:
  Rect bounds_{0, 0, 375, 667};
  double scale_ = 2;
};

// Device orientations with the platform's values.
enum class DeviceOrientation {
  Unknown = 0, Portrait = 1, PortraitUpsideDown = 2, LandscapeLeft = 3, LandscapeRight = 4,
  FaceUp = 5, FaceDown = 6
};

inline constexpr const char* kDeviceOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";

class Device {
 public:
  static std::shared_ptr<Device> current();

  std::string systemVersion() const { return systemVersion_; }
  void setSystemVersion(std::string version) { systemVersion_ = std::move(version); }
  std::string systemName() const { return "iOS"; }
  std::string model() const { return "iPhone"; }

  DeviceOrientation orientation() const { return orientation_; }
  // Changes the orientation and posts kDeviceOrientationDidChangeNotification when it differs.
  void setOrientation(DeviceOrientation orientation);

  // Whether the system version compares numerically below the given one ("7.1" < "8.0",
  // "10.0" > "9.3"), the platform's numeric string comparison.
  bool systemVersionBelow(const std::string& version) const;

  void reset();  // "9.0", portrait (tests)

 private:
  std::string systemVersion_ = "9.0";
  DeviceOrientation orientation_ = DeviceOrientation::Portrait;
};

// Numeric comparison of version texts: runs of digits compare as numbers. <0, 0, >0.
int compareNumeric(const std::string& a, const std::string& b);

}  // namespace pf
