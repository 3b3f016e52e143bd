#include "platform/foundation/FixedText.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace pf {

namespace {

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Decimal digits of v ending just before `end`; answers the first digit's position.
char* digitsBefore(char* end, std::uint64_t v) {
  while (v >= 100) {
    std::memcpy(end -= 2, kPairs + 2 * (v % 100), 2);
    v /= 100;
  }
  if (v >= 10) {
    std::memcpy(end -= 2, kPairs + 2 * v, 2);
  } else {
    *--end = static_cast<char>('0' + v);
  }
  return end;
}

// `millionths` as "<integer part>.<six digits>" at out; its length.
std::size_t writeMillionths(std::uint64_t millionths, char* out) {
  char buffer[32];
  char* end = buffer + sizeof buffer;
  std::uint64_t fraction = millionths % 1000000, whole = millionths / 1000000;
  for (int i = 0; i < 3; ++i, fraction /= 100) std::memcpy(end - 2 * (i + 1), kPairs + 2 * (fraction % 100), 2);
  char* point = end - 7;
  *point = '.';
  char* first = digitsBefore(point, whole);
  std::size_t n = static_cast<std::size_t>(end - first);
  std::memcpy(out, first, n);
  return n;
}

}  // namespace

std::size_t writeFixedText(double value, char* out) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = bits >> 63;
  const int exponent = static_cast<int>((bits >> 52) & 0x7ff);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (exponent != 0x7ff) {
    // value = mantissa * 2^power exactly.
    const std::uint64_t mantissa = exponent ? fraction | (std::uint64_t{1} << 52) : fraction;
    const int power = exponent ? exponent - 1075 : -1074;
    std::uint64_t millionths = 0;
    bool exact = true;
    if (power >= 0) {
      exact = false;  // 2^52 or more: past the short path
    } else {
      const int shift = -power;
      const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * 1000000u;  // < 2^73
      if (shift >= 127) {
        millionths = 0;  // below half a millionth, never a tie
      } else {
        const unsigned __int128 quotient = scaled >> shift;
        const unsigned __int128 rest = scaled - (quotient << shift);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
        const unsigned __int128 rounded = quotient + (rest > half || (rest == half && (quotient & 1)));
        if (rounded >> 64)  // 2^64 millionths (about 2^44) or more
          exact = false;
        else
          millionths = static_cast<std::uint64_t>(rounded);
      }
    }
    if (exact) {
      std::size_t n = 0;
      if (negative) out[n++] = '-';
      return n + writeMillionths(millionths, out + n);
    }
  }
  auto result = std::to_chars(out, out + kFixedTextCapacity, value, std::chars_format::fixed, 6);
  return static_cast<std::size_t>(result.ptr - out);
}

std::string fixedText(double value) {
  char buffer[kFixedTextCapacity];
  return std::string(buffer, writeFixedText(value, buffer));
}

}  // namespace pf
