#include "platform/ui/Screen.h"

#include <cctype>

#include "platform/ui/UINotifications.h"


namespace pf {

std::shared_ptr<Screen> Screen::main() {
  static auto screen = std::make_shared<Screen>();
  return screen;
}

void Screen::reset() {
  bounds_ = Rect(0, 0, 375, 667);
  scale_ = 2;
}

std::shared_ptr<Device> Device::current() {
  static auto device = std::make_shared<Device>();
  return device;
}

void Device::setOrientation(DeviceOrientation orientation) {
  if (orientation == orientation_) return;
  orientation_ = orientation;
  postUINotification(kDeviceOrientationDidChangeNotification, this);
}

bool Device::systemVersionBelow(const std::string& version) const {
  return compareNumeric(systemVersion_, version) < 0;
}

void Device::reset() {
  systemVersion_ = "9.0";
  orientation_ = DeviceOrientation::Portrait;
}

int compareNumeric(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t i0 = i, j0 = j;
      while (i < a.size() && a[i] == '0') ++i;
      while (j < b.size() && b[j] == '0') ++j;
      std::size_t is = i, js = j;
      while (i < a.size() && std::isdigit(static_cast<unsigned char>(a[i]))) ++i;
      while (j < b.size() && std::isdigit(static_cast<unsigned char>(b[j]))) ++j;
      std::size_t la = i - is, lb = j - js;
      if (la != lb) return la < lb ? -1 : 1;
      int c = a.compare(is, la, b, js, lb);
      if (c != 0) return c < 0 ? -1 : 1;
      (void)i0;
      (void)j0;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
      ++i, ++j;
    }
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace pf
