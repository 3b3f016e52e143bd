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

// "<integer part>.<six digits>" of `millionths`, written backwards to end at `end`; answers its
// first character.
char* millionthsBefore(char* end, std::uint64_t millionths) {
  const auto fraction = static_cast<std::uint32_t>(millionths % 1000000);
  std::uint64_t whole = millionths / 1000000;
  std::memcpy(end - 2, kPairs + 2 * (fraction % 100), 2);
  std::memcpy(end - 4, kPairs + 2 * (fraction / 100 % 100), 2);
  std::memcpy(end - 6, kPairs + 2 * (fraction / 10000), 2);
  end -= 7;
  *end = '.';
  while (whole >= 100) {
    std::memcpy(end -= 2, kPairs + 2 * (whole % 100), 2);
    whole /= 100;
  }
  if (whole >= 10)
    std::memcpy(end -= 2, kPairs + 2 * whole, 2);
  else
    *--end = static_cast<char>('0' + whole);
  return end;
}

// The text on the short path, ending at `end` (room for 22 characters before it); null for a
// value that needs the long one.
char* shortTextBefore(char* end, double value) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const int exponent = static_cast<int>((bits >> 52) & 0x7ff);
  if (exponent == 0x7ff) return nullptr;  // infinite or not a number
  // value = mantissa * 2^power exactly.
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const std::uint64_t mantissa = exponent ? fraction | (std::uint64_t{1} << 52) : fraction;
  const int power = exponent ? exponent - 1075 : -1074;
  if (power >= 0) return nullptr;  // 2^52 or more
  const int shift = -power;
  std::uint64_t millionths = 0;
  if (shift < 127) {  // otherwise below half a millionth, never a tie: 0
    const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * 1000000u;  // < 2^73
    const unsigned __int128 quotient = scaled >> shift;
    const unsigned __int128 rest = scaled - (quotient << shift);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    const unsigned __int128 rounded = quotient + (rest > half || (rest == half && (quotient & 1)));
    if (rounded >> 64) return nullptr;  // 2^64 millionths (about 2^44) or more
    millionths = static_cast<std::uint64_t>(rounded);
  }
  char* first = millionthsBefore(end, millionths);
  if (bits >> 63) *--first = '-';
  return first;
}

}  // namespace

std::string fixedText(double value) {
  char buffer[32];
  char* end = buffer + sizeof buffer;
  if (const char* first = shortTextBefore(end, value)) return std::string(first, static_cast<std::size_t>(end - first));
  char text[320];  // "-", 309 digits, the point and six decimals
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
  return std::string(text, result.ptr);
}

}  // namespace pf
