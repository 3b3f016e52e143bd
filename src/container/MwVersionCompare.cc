#include "container/MwVersionCompare.h"

#include <cctype>

namespace container {
namespace {

// The digits of the part starting at `pos`, without leading zeros; moves `pos` past the part.
std::string_view nextPart(std::string_view text, std::size_t& pos) {
  const std::size_t end = std::min(text.find('.', pos), text.size());
  std::size_t digitsEnd = pos;
  while (digitsEnd < end && std::isdigit(static_cast<unsigned char>(text[digitsEnd]))) ++digitsEnd;
  std::size_t start = pos;
  while (start < digitsEnd && text[start] == '0') ++start;
  pos = end + 1;
  return text.substr(start, digitsEnd - start);
}

}  // namespace

int MwVersionCompare::versionCompare(std::string_view ver1, std::string_view ver2) {
  std::size_t a = 0, b = 0;
  while (a <= ver1.size() || b <= ver2.size()) {
    auto left = a <= ver1.size() ? nextPart(ver1, a) : std::string_view{};
    auto right = b <= ver2.size() ? nextPart(ver2, b) : std::string_view{};
    if (left.size() != right.size()) return left.size() < right.size() ? -1 : 1;
    if (int c = left.compare(right); c != 0) return c < 0 ? -1 : 1;
  }
  return 0;
}

}  // namespace container
