#include "container/RSACompare.h"

#include <algorithm>

namespace container::RSACompare {
namespace {

std::span<const std::uint8_t> withoutLeadingZeros(std::span<const std::uint8_t> data) {
  auto first = std::find_if(data.begin(), data.end(), [](std::uint8_t b) { return b != 0; });
  return data.subspan(static_cast<std::size_t>(first - data.begin()));
}

}  // namespace

bool isEqualToRSAData(std::span<const std::uint8_t> data, std::span<const std::uint8_t> other) {
  auto a = withoutLeadingZeros(data);
  auto b = withoutLeadingZeros(other);
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace container::RSACompare
