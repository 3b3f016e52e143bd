#pragma once
// The values a statement binds and a result set hands back: nil, the null object, bytes, a date,
// a number that remembers the C type it was made from, or text.

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Value.h"

namespace kvstore {

class SqValue {
 public:
  enum class Kind : std::uint8_t { Nil, Null, Bytes, Date, Number, Text };

  // The platform's type codes of numbers; a number binds by the type it was made from.
  enum class NumberType : char {
    Bool = 'B',
    Char = 'c',
    UChar = 'C',
    Short = 's',
    UShort = 'S',
    Int = 'i',
    UInt = 'I',
    LongLong = 'q',
    ULongLong = 'Q',
    Float = 'f',
    Double = 'd',
  };

  SqValue() noexcept = default;  // nil
  SqValue(std::nullopt_t) noexcept {}
  SqValue(std::nullptr_t) noexcept {}

  template <std::integral T>
  SqValue(T v) noexcept : kind_(Kind::Number), numberType_(integerType<T>()) {
    if constexpr (std::is_signed_v<T>)
      number_.i = v;
    else
      number_.u = v;
  }
  template <std::floating_point T>
    requires(sizeof(T) <= sizeof(double))
  SqValue(T v) noexcept : kind_(Kind::Number), numberType_(sizeof(T) == sizeof(float) ? NumberType::Float : NumberType::Double) {
    number_.d = static_cast<double>(v);
  }

  SqValue(const char* text);  // nullptr is nil
  SqValue(std::string_view text) : kind_(Kind::Text), owned_(text), owns_(true) {}
  SqValue(const std::string& text) : kind_(Kind::Text), owned_(text), owns_(true) {}
  SqValue(std::string&& text) noexcept : kind_(Kind::Text), owned_(std::move(text)), owns_(true) {}
  SqValue(const pf::Bytes& bytes);
  // Strings, numbers, booleans and null map to their own kinds; arrays and dictionaries become
  // the text of their description.
  SqValue(const pf::Value& value);

  template <class T>
    requires std::constructible_from<SqValue, const T&>
  SqValue(const std::optional<T>& value) : SqValue(value ? SqValue(*value) : SqValue()) {}

  SqValue(const SqValue& other);
  SqValue(SqValue&& other) noexcept;
  SqValue& operator=(const SqValue& other);
  SqValue& operator=(SqValue&& other) noexcept;
  ~SqValue() = default;

  static SqValue null() noexcept;
  static SqValue date(double secondsSince1970) noexcept;
  static SqValue number(NumberType type, std::int64_t value) noexcept;
  static SqValue unsignedNumber(NumberType type, std::uint64_t value) noexcept;
  static SqValue floatingNumber(NumberType type, double value) noexcept;
  // Non-owning forms: the caller keeps the characters alive for as long as the value is used.
  static SqValue textView(std::string_view text) noexcept;
  static SqValue bytesView(std::span<const std::uint8_t> bytes) noexcept;
  // An alias of this value that points into its storage (cheap to make; lives no longer than this).
  SqValue view() const noexcept;

  Kind kind() const noexcept { return kind_; }
  bool isNil() const noexcept { return kind_ == Kind::Nil; }
  bool isNull() const noexcept { return kind_ == Kind::Null; }
  NumberType numberType() const noexcept { return numberType_; }
  bool isFloatingNumber() const noexcept {
    return kind_ == Kind::Number && (numberType_ == NumberType::Float || numberType_ == NumberType::Double);
  }
  bool isUnsignedNumber() const noexcept;

  std::int64_t int64Value() const noexcept;    // numbers (unsigned ones as the same 64 bits), dates
  std::uint64_t uint64Value() const noexcept;  // numbers
  double doubleValue() const noexcept;         // numbers and dates
  std::string_view text() const noexcept;      // text (empty for other kinds)
  std::span<const std::uint8_t> bytes() const noexcept;  // bytes (empty for other kinds)

  // The platform's description: "(null)" for nil, "<null>" for the null object, the text itself,
  // numbers in decimal, dates as "2001-01-01 00:00:00 +0000", bytes as "{length = 3, bytes = 0x616263}".
  std::string description() const;

  friend bool operator==(const SqValue& a, const SqValue& b) noexcept;

 private:
  template <std::integral T>
  static constexpr NumberType integerType() {
    if constexpr (std::is_same_v<T, bool>)
      return NumberType::Bool;
    else if constexpr (sizeof(T) == 1)
      return std::is_signed_v<T> ? NumberType::Char : NumberType::UChar;
    else if constexpr (sizeof(T) == 2)
      return std::is_signed_v<T> ? NumberType::Short : NumberType::UShort;
    else if constexpr (sizeof(T) == 4)
      return std::is_signed_v<T> ? NumberType::Int : NumberType::UInt;
    else
      return std::is_signed_v<T> ? NumberType::LongLong : NumberType::ULongLong;
  }

  Kind kind_ = Kind::Nil;
  NumberType numberType_ = NumberType::Int;
  union {
    std::int64_t i;
    std::uint64_t u;
    double d;
  } number_{};
  std::string owned_;         // text or bytes when owned
  std::string_view borrowed_; // text or bytes when not owned
  bool owns_ = false;
};

// Argument arrays and parameter dictionaries of statements; also the row of a result set.
using SqArguments = std::vector<SqValue>;
using SqDictionary = std::map<std::string, SqValue, std::less<>>;

namespace detail {
// The argument form of a caller's value for one statement call: strings, bytes and values are
// borrowed (the call outlives them), everything else converts.
template <class T>
SqValue argument(const T& value) {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, SqValue>)
    return value.view();
  else if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, std::string_view>)
    return SqValue::textView(value);
  else if constexpr (std::is_same_v<U, pf::Bytes>)
    return SqValue::bytesView(value);
  else if constexpr (std::is_same_v<U, pf::Value>)
    return value.is_string() ? SqValue::textView(value.template get_ref<const std::string&>()) : SqValue(value);
  else
    return SqValue(value);
}
}  // namespace detail

}  // namespace kvstore
