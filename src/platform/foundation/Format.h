#pragma once
// format(fmt, args...): the platform's string formatting, type-checked.
//
// Conversions: d i u o x X (integers), f F e E g G a A (floating point), c C (a character or a
// UTF-16 unit), s (a text), p (a pointer), @ (the description of any value), %% (a percent sign).
// Flags "-+ #0'" , width and precision (also "*"), length modifiers hh h l ll q j z t L, and
// positions ("%2$@") as in C.
//
// A literal format is checked against the argument types at compile time: a conversion that no
// argument of its type can satisfy, too few arguments, an unknown conversion or a lone "%" does not
// compile. A format known only at run time (a std::string, a std::string_view, a C pointer) is
// checked as it runs. Arguments are checked against their conversion at run time: integer conversions take any
// integer, enumeration or boolean, converted to the width of the conversion as C would (so
// "%d" of 2^32 + 1 prints 1, "%hhu" of 300 prints 44); floating-point conversions take any
// number; "%s" takes texts; "%p" takes pointers; "%@" takes texts, numbers, Values (null gives
// "<null>"), anything with a description hook and pointers to such (a null pointer gives
// "(null)"). A description hook is a member `std::string description() const` or a free
// `description(const T&)` found by argument-dependent lookup. A type with no conversion at all
// does not compile. A missing argument, an argument that does not fit its conversion or an
// unknown conversion raises pf::Exception named kInvalidArgumentException; extra arguments are
// ignored, as C ignores them.

#include <concepts>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Value.h"

namespace pf {

namespace format_detail {

// Hides pf::description from unqualified look-up here, so that only a hook found by
// argument-dependent look-up counts (no implicit conversion to Value makes a type describable).
template <class T>
void description(const T&) = delete;

template <class T>
concept HasMemberDescription = requires(const T& t) {
  { t.description() } -> std::convertible_to<std::string>;
};
template <class T>
concept HasFreeDescription = requires(const T& t) {
  { description(t) } -> std::convertible_to<std::string>;
};
template <class T>
concept Describable = HasMemberDescription<T> || HasFreeDescription<T>;

template <class T>
struct IsSmartPointer : std::false_type {};
template <class T>
struct IsSmartPointer<std::shared_ptr<T>> : std::true_type {};
template <class T>
struct IsSmartPointer<std::unique_ptr<T>> : std::true_type {};

template <class>
inline constexpr bool kAlwaysFalse = false;

struct Arg {
  enum class Kind : std::uint8_t { Signed, Unsigned, Floating, Text, Pointer, Object };
  Kind kind = Kind::Signed;
  bool isBool = false;
  bool nullText = false;  // a null C string
  long long i = 0;
  unsigned long long u = 0;
  double d = 0;
  std::string_view text;
  const void* pointer = nullptr;                    // Pointer and Object
  std::string (*describe)(const void*) = nullptr;  // Object (and pointers to describable types)
};

template <class T>
std::string describeThunk(const void* p) {
  const T& v = *static_cast<const T*>(p);
  if constexpr (std::is_same_v<T, Value>) return pf::description(v);
  else if constexpr (HasMemberDescription<T>) return v.description();
  else return description(v);
}

template <class T>
Arg makeArg(const T& v) {
  using D = std::remove_cvref_t<T>;
  Arg a;
  if constexpr (std::is_same_v<D, bool>) {
    a.kind = Arg::Kind::Signed, a.i = v ? 1 : 0, a.isBool = true;
  } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
    a.kind = Arg::Kind::Signed, a.i = static_cast<long long>(v);
  } else if constexpr (std::is_integral_v<D>) {
    a.kind = Arg::Kind::Unsigned, a.u = static_cast<unsigned long long>(v);
  } else if constexpr (std::is_enum_v<D>) {
    return makeArg(static_cast<std::underlying_type_t<D>>(v));
  } else if constexpr (std::is_floating_point_v<D>) {
    a.kind = Arg::Kind::Floating, a.d = static_cast<double>(v);
  } else if constexpr (std::is_same_v<D, std::nullptr_t>) {
    a.kind = Arg::Kind::Pointer;
  } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
    a.kind = Arg::Kind::Text;
    if (v) a.text = v;
    else a.nullText = true;
  } else if constexpr (std::is_array_v<D> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<D>>, char>) {
    a.kind = Arg::Kind::Text, a.text = std::string_view(v);
  } else if constexpr (std::is_same_v<D, std::string> || std::is_same_v<D, std::string_view>) {
    a.kind = Arg::Kind::Text, a.text = v;
  } else if constexpr (std::is_same_v<D, Value>) {
    if (v.is_string()) {
      a.kind = Arg::Kind::Text, a.text = v.template get_ref<const std::string&>();
    } else {
      a.kind = Arg::Kind::Object, a.pointer = &v, a.describe = &describeThunk<Value>;
    }
  } else if constexpr (IsSmartPointer<D>::value || std::is_pointer_v<D>) {
    using Pointee = std::remove_cv_t<std::remove_pointer_t<decltype(&*v)>>;
    a.kind = Arg::Kind::Pointer;
    a.pointer = v ? static_cast<const void*>(&*v) : nullptr;
    if constexpr (Describable<Pointee> || std::is_same_v<Pointee, Value>) a.describe = &describeThunk<Pointee>;
  } else if constexpr (Describable<D>) {
    a.kind = Arg::Kind::Object, a.pointer = &v, a.describe = &describeThunk<D>;
  } else {
    static_assert(kAlwaysFalse<D>, "format: no conversion takes this type; give it a description() hook");
  }
  return a;
}

std::string formatArgs(std::string_view fmt, std::span<const Arg> args);

// What the compile-time check knows of an argument's type (makeArg's choice without the value).
struct ArgType {
  Arg::Kind kind = Arg::Kind::Signed;
  bool describable = false;  // a pointer whose pointee "%@" can describe, or nullptr
  bool valueDependent = false;  // a Value: text or object only at run time
};

template <class T>
constexpr ArgType argType() {
  using D = std::remove_cvref_t<T>;
  ArgType t;
  if constexpr (std::is_same_v<D, bool> || (std::is_integral_v<D> && std::is_signed_v<D>)) {
    t.kind = Arg::Kind::Signed;
  } else if constexpr (std::is_integral_v<D>) {
    t.kind = Arg::Kind::Unsigned;
  } else if constexpr (std::is_enum_v<D>) {
    return argType<std::underlying_type_t<D>>();
  } else if constexpr (std::is_floating_point_v<D>) {
    t.kind = Arg::Kind::Floating;
  } else if constexpr (std::is_same_v<D, std::nullptr_t>) {
    t.kind = Arg::Kind::Pointer, t.describable = true;
  } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*> ||
                       (std::is_array_v<D> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<D>>, char>) ||
                       std::is_same_v<D, std::string> || std::is_same_v<D, std::string_view>) {
    t.kind = Arg::Kind::Text;
  } else if constexpr (std::is_same_v<D, Value>) {
    t.kind = Arg::Kind::Object, t.valueDependent = true;
  } else if constexpr (IsSmartPointer<D>::value || std::is_pointer_v<D>) {
    using Pointee = std::remove_cv_t<std::remove_pointer_t<decltype(&*std::declval<const D&>())>>;
    t.kind = Arg::Kind::Pointer;
    t.describable = Describable<Pointee> || std::is_same_v<Pointee, Value>;
  } else {
    t.kind = Arg::Kind::Object;
  }
  return t;
}

// Calling these at compile time is what reports a bad literal format.
void formatNeedsMoreArguments();
void formatArgumentDoesNotMatchItsConversion();
void formatHasAnUnknownOrIncompleteConversion();
void formatWidthOrPrecisionTooLarge();

constexpr bool isFormatDigit(char c) { return c >= '0' && c <= '9'; }

// The run-time parse of formatArgs, walked over types: every fault it would raise for any value of
// these types is reported. (A "%s" or "%@" of a Value, and a "%@" of a null pointer, depend on the
// value and are left to the run time.)
constexpr void checkFormat(std::string_view f, std::span<const ArgType> types) {
  std::size_t next = 0;
  auto readNumber = [&](std::size_t& i) {
    long long n = 0;
    while (i < f.size() && isFormatDigit(f[i])) {
      n = n * 10 + (f[i++] - '0');
      if (n > 1'000'000) formatWidthOrPrecisionTooLarge();
    }
    return n;
  };
  auto readPosition = [&](std::size_t& i) -> std::size_t {
    std::size_t j = i;
    if (j >= f.size() || !isFormatDigit(f[j]) || f[j] == '0') return 0;
    long long n = readNumber(j);
    if (j < f.size() && f[j] == '$') {
      i = j + 1;
      return static_cast<std::size_t>(n);
    }
    return 0;
  };
  auto take = [&](std::size_t position) -> const ArgType& {
    std::size_t index = position ? position - 1 : next++;
    if (index >= types.size()) formatNeedsMoreArguments();
    return types[index];
  };
  auto isInteger = [](const ArgType& t) { return t.kind == Arg::Kind::Signed || t.kind == Arg::Kind::Unsigned; };
  std::size_t i = 0;
  while (i < f.size()) {
    if (f[i++] != '%') continue;
    if (i >= f.size()) formatHasAnUnknownOrIncompleteConversion();
    if (f[i] == '%') {
      ++i;
      continue;
    }
    std::size_t position = readPosition(i);
    while (i < f.size() && std::string_view("-+ #0'").find(f[i]) != std::string_view::npos) ++i;
    for (int part = 0; part < 2; ++part) {
      if (part == 1) {
        if (i >= f.size() || f[i] != '.') break;
        ++i;
      }
      if (i < f.size() && f[i] == '*') {
        ++i;
        if (!isInteger(take(readPosition(i)))) formatArgumentDoesNotMatchItsConversion();
      } else {
        readNumber(i);
      }
    }
    while (i < f.size() && std::string_view("hlqjztL").find(f[i]) != std::string_view::npos) ++i;
    if (i >= f.size()) formatHasAnUnknownOrIncompleteConversion();
    const char c = f[i++];
    const ArgType& t = take(position);
    bool fits = false;
    if (std::string_view("diDuoxXUO").find(c) != std::string_view::npos || c == 'c' || c == 'C') {
      fits = isInteger(t);
    } else if (std::string_view("fFeEgGaA").find(c) != std::string_view::npos) {
      fits = isInteger(t) || t.kind == Arg::Kind::Floating;
    } else if (c == 's') {
      fits = t.kind == Arg::Kind::Text || t.valueDependent;
    } else if (c == 'p') {
      fits = t.kind == Arg::Kind::Pointer;
    } else if (c == '@') {
      fits = t.kind != Arg::Kind::Pointer || t.describable;
    } else {
      formatHasAnUnknownOrIncompleteConversion();
    }
    if (!fits) formatArgumentDoesNotMatchItsConversion();
  }
}

}  // namespace format_detail

// A format whose conversions are checked against Args at compile time when it is a literal; any
// other text is checked when it runs.
template <class... Args>
class FormatString {
 public:
  template <std::size_t N>
  consteval FormatString(const char (&text)[N]) : text_(text) {
    constexpr format_detail::ArgType types[] = {format_detail::argType<Args>()..., format_detail::ArgType{}};
    format_detail::checkFormat(text_, std::span<const format_detail::ArgType>(types, sizeof...(Args)));
  }
  template <class S>
    requires(!std::is_array_v<S> && std::convertible_to<const S&, std::string_view>)
  FormatString(const S& text) : text_(text) {}

  std::string_view text() const { return text_; }

 private:
  std::string_view text_;
};

template <class... Args>
std::string format(FormatString<std::type_identity_t<Args>...> fmt, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return format_detail::formatArgs(fmt.text(), {});
  } else {
    const format_detail::Arg list[] = {format_detail::makeArg(args)...};
    return format_detail::formatArgs(fmt.text(), list);
  }
}

// format() and then the platform log.
template <class... Args>
void logFormat(FormatString<std::type_identity_t<Args>...> fmt, const Args&... args) {
  logLine(format<Args...>(fmt.text(), args...));
}

}  // namespace pf
