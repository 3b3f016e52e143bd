#pragma once
// format(fmt, args...): the platform's string formatting, type-checked.
//
// Conversions: d i u o x X (integers), f F e E g G a A (floating point), c C (a character or a
// UTF-16 unit), s (a text), p (a pointer), @ (the description of any value), %% (a percent sign).
// Flags "-+ #0'" , width and precision (also "*"), length modifiers hh h l ll q j z t L, and
// positions ("%2$@") as in C.
//
// Arguments are checked against their conversion at run time: integer conversions take any
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

}  // namespace format_detail

template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return format_detail::formatArgs(fmt, {});
  } else {
    const format_detail::Arg list[] = {format_detail::makeArg(args)...};
    return format_detail::formatArgs(fmt, list);
  }
}

// format() and then the platform log.
template <class... Args>
void logFormat(std::string_view fmt, const Args&... args) {
  logLine(format(fmt, args...));
}

}  // namespace pf
