#pragma once
// "%f" of a double without printf: six decimals, byte for byte what printf writes in the C locale
// under the default rounding (to nearest, ties to even, on the exact binary value), "-0.000000"
// for negative zero and small negatives, every digit of huge values, and "inf", "-inf", "nan",
// "-nan". Values below 2^44 in size take a short exact integer path; the rest go through
// std::to_chars, which is exact too.

#include <string>

namespace pf {

std::string fixedText(double value);

}  // namespace pf
