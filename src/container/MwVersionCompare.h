#pragma once
// Dotted version numbers ("1.10.2") compared part by part as whole numbers.

#include <string_view>

namespace container {

class MwVersionCompare {
 public:
  // -1 when ver1 is lower, 0 when equal, 1 when higher. Parts are compared as numbers of any length
  // ("1.10" > "1.9", "1.01" == "1.1"); a missing part counts as 0 ("1.0" == "1"); a part's leading
  // digits are its number and a part without digits counts as 0.
  static int versionCompare(std::string_view ver1, std::string_view ver2);
};

}  // namespace container
