#pragma once
// The container's debug logging entry point.

#include <string_view>

namespace container {

class LoggerUtil {
 public:
  // Writes the message at debug level (to the platform log while debug output is on).
  static void debug(std::string_view message);
  // Debug output is on by default; benchmarks turn it off.
  static void setDebugEnabled(bool enabled);
  static bool isDebugEnabled();
};

}  // namespace container
