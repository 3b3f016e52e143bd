#pragma once
// Property-list-like payloads (dictionaries, arrays, strings, numbers, null) as ordered JSON.
// JSON null stands for the platform's null object; an absent key or std::nullopt stands for nil.
//
// Data and dates, which JSON lacks but property lists carry, live in the binary side-type:
// data is a binary value without subtype, a date is a binary value of subtype kDateSubtype
// holding the seconds since 1970 as an 8-byte little-endian double. Both round-trip through
// property lists; the JSON writer refuses them, as the platform's does.
//
// The conversions below give the platform's answers for numbers and texts: boolValue,
// intValue, integerValue, longLongValue, floatValue, doubleValue, stringValue and description.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace pf {

using Value = nlohmann::ordered_json;

// --- Data and dates inside values ----------------------------------------------------------------

inline constexpr std::uint64_t kDateSubtype = 0x44;  // 'D'

Value makeData(std::vector<std::uint8_t> bytes);
Value makeDate(double secondsSince1970);
bool isData(const Value& v);
bool isDate(const Value& v);
// The bytes of a data value (empty for anything else).
std::vector<std::uint8_t> dataValue(const Value& v);
// The seconds since 1970 of a date value, nullopt for anything else.
std::optional<double> dateValue(const Value& v);

// A JSON integer that fits T exactly; nullopt for anything else (another type, a fraction, or a
// number out of T's range, which a plain get<T>() would silently wrap).
template <typename T>
std::optional<T> exactInteger(const Value& v) {
  static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>);
  if (v.is_number_unsigned()) {
    const auto n = v.get<std::uint64_t>();
    if (std::cmp_less_equal(n, std::numeric_limits<T>::max())) return static_cast<T>(n);
  } else if (v.is_number_integer()) {
    const auto n = v.get<std::int64_t>();
    if (std::in_range<T>(n)) return static_cast<T>(n);
  }
  return std::nullopt;
}

// --- Conversions of a value ---------------------------------------------------------------------
// Numbers convert as C casts would, clamped to the target's range (no undefined behaviour);
// booleans are 1 and 0; texts follow the text rules below; null, arrays, dictionaries, data and
// dates give false / 0.

bool boolValue(const Value& v);
int intValue(const Value& v);
std::int64_t integerValue(const Value& v);
long long longLongValue(const Value& v);
float floatValue(const Value& v);
double doubleValue(const Value& v);

// The text of a value: a string itself, otherwise its description.
std::string stringValue(const Value& v);

// The platform's description text: "<null>" for null, numbers in their shortest form ("12",
// "0.5", "1e+20"), booleans as 1 and 0, strings as they are at the top level, arrays and
// dictionaries in the old-style property-list layout ("(\n    a,\n    b\n)" and
// "{\n    key = value;\n}", keys sorted, nested levels indented by four more blanks, strings
// quoted when they hold anything but letters, digits and "_$/:.-").
std::string description(const Value& v);

// The description of a number in the platform's shortest form.
std::string numberDescription(double number);

// --- Conversions of a text ------------------------------------------------------------------------
// boolValue: skips leading white space, a sign and zeros; then "Y", "y", "T", "t" or a digit 1 to 9
// is true, anything else false ("  +0012" is true, "0.5" false).
// intValue / integerValue / longLongValue: leading white space, an optional sign and decimal
// digits ("12abc" is 12), 0 when there are none, clamped to the type's range on overflow.
// floatValue / doubleValue: the leading decimal number in the C locale ("  -1.5e3x" is -1500),
// 0 when there is none, +-HUGE_VAL on overflow.

bool textBoolValue(std::string_view text);
long long textLongLongValue(std::string_view text);
double textDoubleValue(std::string_view text);

inline bool boolValue(std::string_view t) { return textBoolValue(t); }
inline bool boolValue(const std::string& t) { return textBoolValue(t); }
inline bool boolValue(const char* t) { return t && textBoolValue(t); }
int intValue(std::string_view t);
inline int intValue(const std::string& t) { return intValue(std::string_view(t)); }
inline int intValue(const char* t) { return t ? intValue(std::string_view(t)) : 0; }
inline std::int64_t integerValue(std::string_view t) { return textLongLongValue(t); }
inline std::int64_t integerValue(const std::string& t) { return textLongLongValue(t); }
inline std::int64_t integerValue(const char* t) { return t ? textLongLongValue(t) : 0; }
inline long long longLongValue(std::string_view t) { return textLongLongValue(t); }
inline long long longLongValue(const std::string& t) { return textLongLongValue(t); }
inline long long longLongValue(const char* t) { return t ? textLongLongValue(t) : 0; }
inline double doubleValue(std::string_view t) { return textDoubleValue(t); }
inline double doubleValue(const std::string& t) { return textDoubleValue(t); }
inline double doubleValue(const char* t) { return t ? textDoubleValue(t) : 0; }
inline float floatValue(std::string_view t) { return static_cast<float>(textDoubleValue(t)); }
inline float floatValue(const std::string& t) { return static_cast<float>(textDoubleValue(t)); }
inline float floatValue(const char* t) { return t ? static_cast<float>(textDoubleValue(t)) : 0.0f; }

// --- Look-ups -----------------------------------------------------------------------------------

// The member of a dictionary, or nullptr when the value is no dictionary or lacks the key (nil).
const Value* valueForKey(const Value& dictionary, std::string_view key);

}  // namespace pf
