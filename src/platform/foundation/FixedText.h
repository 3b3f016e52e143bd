#pragma once
// "%f" of a double without printf: six decimals, byte for byte what printf writes in the C locale
// under the default rounding (to nearest, ties to even, on the exact binary value), "-0.000000"
// for negative zero and small negatives, every digit of huge values, and "inf", "-inf", "nan",
// "-nan". Values below 2^44 in size take a short exact integer path; the rest go through
// std::to_chars, which is exact too.

#include <cstddef>
#include <string>

namespace pf {

// Room that any "%f" text needs ("-" and 309 digits, the point, six decimals).
inline constexpr std::size_t kFixedTextCapacity = 320;

// Writes the text to `out` (kFixedTextCapacity bytes), answers its length; no terminator.
std::size_t writeFixedText(double value, char* out);
std::string fixedText(double value);

}  // namespace pf
