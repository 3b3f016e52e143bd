#pragma once
// Format strings of the "...WithFormat" statements: every conversion becomes a "?" parameter and
// its argument is bound, never written into the SQL. The argument pack is checked against the
// conversions: for a literal format at compile time, for a run-time format (sqRuntimeFormat) when
// the statement runs, where a mismatch makes the statement fail with a log line.
//
//   "%@" any value (nil writes NULL)      "%c" a character          "%s" C text (nullptr binds NULL)
//   "%d" "%D" "%i" int   "%u" "%U" unsigned int   "%hi" short   "%hu" unsigned short
//   "%qi" "%ld" "%lld" 64-bit   "%qu" "%lu" "%llu" unsigned 64-bit   "%f" double   "%g" float
//   "%%" one "%"
// Integer conversions take any integer type whose values all fit (an int for "%ld", not a long for
// "%d"); the unsigned conversions take unsigned types only.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "kvstore/SqValue.h"

namespace kvstore {

enum class SqConversion : std::uint8_t {
  Object,
  Char,
  CString,
  Int,
  UInt,
  Short,
  UShort,
  Int64,
  UInt64,
  Double,
  Float,
  Long,
  ULong,
  LongLong,
  ULongLong,
};

// The conversion as it is spelled after "%".
constexpr std::string_view sqConversionSpelling(SqConversion c) {
  switch (c) {
    case SqConversion::Object: return "@";
    case SqConversion::Char: return "c";
    case SqConversion::CString: return "s";
    case SqConversion::Int: return "d";
    case SqConversion::UInt: return "u";
    case SqConversion::Short: return "hi";
    case SqConversion::UShort: return "hu";
    case SqConversion::Int64: return "qi";
    case SqConversion::UInt64: return "qu";
    case SqConversion::Double: return "f";
    case SqConversion::Float: return "g";
    case SqConversion::Long: return "ld";
    case SqConversion::ULong: return "lu";
    case SqConversion::LongLong: return "lld";
    case SqConversion::ULongLong: return "llu";
  }
  return "";
}

// Walks a format one unit at a time. onText(char) receives each unit that is written unchanged,
// onConversion(SqConversion) each conversion. A lone "%" is dropped; "%%" writes one "%" and is
// then forgotten, so "%%d" is the text "%d"; an unknown unit after "%" (or the first letter of a
// longer conversion whose following letters do not match) is written unchanged.
template <class OnText, class OnConversion>
constexpr void scanSqFormat(std::string_view format, OnText&& onText, OnConversion&& onConversion) {
  const std::size_t n = format.size();
  bool afterPercent = false;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = format[i];
    if (!afterPercent) {
      if (c == '%')
        afterPercent = true;
      else
        onText(c);
      continue;
    }
    afterPercent = false;
    const char next = i + 1 < n ? format[i + 1] : '\0';
    const char next2 = i + 2 < n ? format[i + 2] : '\0';
    switch (c) {
      case '@': onConversion(SqConversion::Object); break;
      case 'c': onConversion(SqConversion::Char); break;
      case 's': onConversion(SqConversion::CString); break;
      case 'd':
      case 'D':
      case 'i': onConversion(SqConversion::Int); break;
      case 'u':
      case 'U': onConversion(SqConversion::UInt); break;
      case 'f': onConversion(SqConversion::Double); break;
      case 'g': onConversion(SqConversion::Float); break;
      case 'h':
      case 'q':
        if (next == 'i' || next == 'u') {
          const bool isSigned = next == 'i';
          if (c == 'h')
            onConversion(isSigned ? SqConversion::Short : SqConversion::UShort);
          else
            onConversion(isSigned ? SqConversion::Int64 : SqConversion::UInt64);
          ++i;
        } else {
          onText(c);
        }
        break;
      case 'l':
        if (next == 'd' || next == 'u') {
          onConversion(next == 'd' ? SqConversion::Long : SqConversion::ULong);
          ++i;
        } else if (next == 'l' && (next2 == 'd' || next2 == 'u')) {
          onConversion(next2 == 'd' ? SqConversion::LongLong : SqConversion::ULongLong);
          i += 2;
        } else {
          onText(c);
        }
        break;
      default: onText(c); break;
    }
  }
}

// What the format check needs to know of one argument's type.
struct SqArgumentTraits {
  bool object = false;  // converts to SqValue ("%@")
  bool integral = false;
  bool isSigned = false;
  bool isBool = false;
  int size = 0;
  bool floating = false;
  bool cstring = false;  // C text, std::string, std::string_view, nullptr ("%s")
};

template <class T>
constexpr SqArgumentTraits sqArgumentTraits() {
  using U = std::remove_cvref_t<T>;
  SqArgumentTraits t;
  t.object = std::is_constructible_v<SqValue, const T&>;
  if constexpr (std::is_integral_v<U>) {
    t.integral = true;
    t.isSigned = std::is_signed_v<U>;
    t.isBool = std::is_same_v<U, bool>;
    t.size = static_cast<int>(sizeof(U));
  }
  t.floating = std::is_floating_point_v<U> && sizeof(U) <= sizeof(double);
  using D = std::decay_t<U>;
  t.cstring = std::is_same_v<D, const char*> || std::is_same_v<D, char*> || std::is_same_v<D, std::string> ||
              std::is_same_v<D, std::string_view> || std::is_same_v<D, std::nullptr_t>;
  return t;
}

constexpr bool sqAccepts(SqConversion c, const SqArgumentTraits& t) {
  // Integers: every value of the argument's type must fit the conversion's type.
  auto fitsSigned = [&](int bytes) { return t.integral && (t.isSigned ? t.size <= bytes : t.size < bytes); };
  auto fitsUnsigned = [&](int bytes) { return t.integral && !t.isSigned && t.size <= bytes; };
  switch (c) {
    case SqConversion::Object: return t.object;
    case SqConversion::Char: return t.integral && !t.isBool && t.size <= 4;
    case SqConversion::CString: return t.cstring;
    case SqConversion::Short: return fitsSigned(2);
    case SqConversion::Int: return fitsSigned(4);
    case SqConversion::Int64:
    case SqConversion::Long:
    case SqConversion::LongLong: return fitsSigned(8);
    case SqConversion::UShort: return fitsUnsigned(2);
    case SqConversion::UInt: return fitsUnsigned(4);
    case SqConversion::UInt64:
    case SqConversion::ULong:
    case SqConversion::ULongLong: return fitsUnsigned(8);
    case SqConversion::Double:
    case SqConversion::Float: return t.floating;
  }
  return false;
}

// One argument of a format call, type-erased for the run-time walk.
struct SqFormatArgument {
  SqArgumentTraits traits;
  const void* value = nullptr;
  SqValue (*convert)(const void* value, SqConversion conversion) = nullptr;
};

template <class T>
SqValue sqConvertFormatArgument(const void* pointer, SqConversion c) {
  using U = std::remove_cvref_t<T>;
  const U& v = *static_cast<const U*>(pointer);
  using N = SqValue::NumberType;
  if constexpr (std::is_integral_v<U>) {
    switch (c) {
      case SqConversion::Char: return SqValue(std::string(1, static_cast<char>(v)));
      case SqConversion::Int: return SqValue::number(N::Int, static_cast<std::int32_t>(v));
      case SqConversion::Short: return SqValue::number(N::Short, static_cast<std::int16_t>(v));
      case SqConversion::Int64:
      case SqConversion::Long:
      case SqConversion::LongLong: return SqValue::number(N::LongLong, static_cast<std::int64_t>(v));
      case SqConversion::UInt: return SqValue::unsignedNumber(N::UInt, static_cast<std::uint32_t>(v));
      case SqConversion::UShort: return SqValue::unsignedNumber(N::UShort, static_cast<std::uint16_t>(v));
      case SqConversion::UInt64:
      case SqConversion::ULong:
      case SqConversion::ULongLong: return SqValue::unsignedNumber(N::ULongLong, static_cast<std::uint64_t>(v));
      default: break;
    }
  }
  if constexpr (std::is_floating_point_v<U> && sizeof(U) <= sizeof(double)) {
    if (c == SqConversion::Float) return SqValue::floatingNumber(N::Float, static_cast<double>(v));
    if (c == SqConversion::Double) return SqValue::floatingNumber(N::Double, static_cast<double>(v));
  }
  if constexpr (sqArgumentTraits<U>().cstring) {
    if (c == SqConversion::CString) {
      if constexpr (std::is_same_v<U, std::nullptr_t>)
        return SqValue();
      else if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, std::string_view> || std::is_array_v<U>)
        return SqValue::textView(v);
      else
        return v ? SqValue::textView(v) : SqValue();
    }
  }
  if constexpr (std::is_constructible_v<SqValue, const U&>) {
    if (c == SqConversion::Object) {
      if constexpr (std::is_array_v<U>)
        return SqValue::textView(static_cast<const char*>(v));
      else
        return detail::argument(v);
    }
  }
  return SqValue();  // not reached: the conversion was checked against the type
}

template <class T>
SqFormatArgument sqFormatArgument(const T& value) {
  return {sqArgumentTraits<T>(), static_cast<const void*>(&value), &sqConvertFormatArgument<T>};
}

// Builds the SQL text ("?" for each conversion, "NULL" for a nil "%@") and the argument array
// from a format and its arguments. Answers an explanation when the arguments do not fit the
// format (too few, too many, or of a type the conversion does not take); nothing is built then.
std::optional<std::string> extractSqFormat(std::string_view format, std::span<const SqFormatArgument> arguments,
                                           std::string& sql, SqArguments& values);

// A format known only at run time; its arguments are checked when the statement runs.
struct SqRuntimeFormat {
  std::string_view text;
};
inline SqRuntimeFormat sqRuntimeFormat(std::string_view text) { return {text}; }

namespace detail {
// Calling these at compile time is what reports a bad format call.
void sqFormatNeedsMoreArguments();
void sqFormatArgumentDoesNotMatchItsConversion();
void sqFormatHasMoreArgumentsThanConversions();
}  // namespace detail

// A format whose conversions are checked against Args when it is a literal.
template <class... Args>
class SqFormatString {
 public:
  template <class S>
    requires std::convertible_to<const S&, std::string_view>
  consteval SqFormatString(const S& text) : text_(text) {
    constexpr SqArgumentTraits traits[] = {sqArgumentTraits<Args>()..., SqArgumentTraits{}};
    std::size_t k = 0;
    scanSqFormat(
        text_, [](char) {},
        [&](SqConversion c) {
          if (k >= sizeof...(Args))
            detail::sqFormatNeedsMoreArguments();
          else if (!sqAccepts(c, traits[k]))
            detail::sqFormatArgumentDoesNotMatchItsConversion();
          ++k;
        });
    if (k != sizeof...(Args)) detail::sqFormatHasMoreArgumentsThanConversions();
  }
  SqFormatString(SqRuntimeFormat format) : text_(format.text) {}

  std::string_view text() const { return text_; }

 private:
  std::string_view text_;
};

}  // namespace kvstore
