#include "kvstore/SqValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace kvstore {

SqValue::SqValue(const char* text) {
  if (text) {
    kind_ = Kind::Text;
    owned_ = text;
    owns_ = true;
  }
}

SqValue::SqValue(const pf::Bytes& bytes)
    : kind_(Kind::Bytes), owned_(reinterpret_cast<const char*>(bytes.data()), bytes.size()), owns_(true) {}

SqValue::SqValue(const pf::Value& value) {
  switch (value.type()) {
    case pf::Value::value_t::null:
      kind_ = Kind::Null;
      break;
    case pf::Value::value_t::boolean:
      *this = SqValue(value.get<bool>());
      break;
    case pf::Value::value_t::number_integer:
      *this = SqValue(value.get<std::int64_t>());
      break;
    case pf::Value::value_t::number_unsigned:
      *this = SqValue(value.get<std::uint64_t>());
      break;
    case pf::Value::value_t::number_float:
      *this = SqValue(value.get<double>());
      break;
    case pf::Value::value_t::string:
      *this = SqValue(value.get_ref<const std::string&>());
      break;
    case pf::Value::value_t::binary:
      if (auto date = pf::dateValue(value))
        *this = SqValue::date(*date);
      else
        *this = SqValue(pf::dataValue(value));
      break;
    case pf::Value::value_t::array:
    case pf::Value::value_t::object:
      *this = SqValue(pf::description(value));
      break;
    case pf::Value::value_t::discarded:
      break;
  }
}

SqValue::SqValue(const SqValue& other)
    : kind_(other.kind_), numberType_(other.numberType_), number_(other.number_), owned_(other.owned_),
      borrowed_(other.borrowed_), owns_(other.owns_) {}

SqValue::SqValue(SqValue&& other) noexcept
    : kind_(other.kind_), numberType_(other.numberType_), number_(other.number_), owned_(std::move(other.owned_)),
      borrowed_(other.borrowed_), owns_(other.owns_) {}

SqValue& SqValue::operator=(const SqValue& other) {
  if (this != &other) {
    kind_ = other.kind_;
    numberType_ = other.numberType_;
    number_ = other.number_;
    owned_ = other.owned_;
    borrowed_ = other.borrowed_;
    owns_ = other.owns_;
  }
  return *this;
}

SqValue& SqValue::operator=(SqValue&& other) noexcept {
  kind_ = other.kind_;
  numberType_ = other.numberType_;
  number_ = other.number_;
  owned_ = std::move(other.owned_);
  borrowed_ = other.borrowed_;
  owns_ = other.owns_;
  return *this;
}

SqValue SqValue::null() noexcept {
  SqValue v;
  v.kind_ = Kind::Null;
  return v;
}

SqValue SqValue::date(double secondsSince1970) noexcept {
  SqValue v;
  v.kind_ = Kind::Date;
  v.number_.d = secondsSince1970;
  return v;
}

SqValue SqValue::number(NumberType type, std::int64_t value) noexcept {
  SqValue v;
  v.kind_ = Kind::Number;
  v.numberType_ = type;
  v.number_.i = value;
  return v;
}

SqValue SqValue::unsignedNumber(NumberType type, std::uint64_t value) noexcept {
  SqValue v;
  v.kind_ = Kind::Number;
  v.numberType_ = type;
  v.number_.u = value;
  return v;
}

SqValue SqValue::floatingNumber(NumberType type, double value) noexcept {
  SqValue v;
  v.kind_ = Kind::Number;
  v.numberType_ = type;
  v.number_.d = type == NumberType::Float ? static_cast<double>(static_cast<float>(value)) : value;
  return v;
}

SqValue SqValue::textView(std::string_view text) noexcept {
  SqValue v;
  v.kind_ = Kind::Text;
  v.borrowed_ = text;
  return v;
}

SqValue SqValue::bytesView(std::span<const std::uint8_t> bytes) noexcept {
  SqValue v;
  v.kind_ = Kind::Bytes;
  v.borrowed_ = std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return v;
}

SqValue SqValue::view() const noexcept {
  SqValue v;
  v.kind_ = kind_;
  v.numberType_ = numberType_;
  v.number_ = number_;
  v.borrowed_ = owns_ ? std::string_view(owned_) : borrowed_;
  return v;
}

bool SqValue::isUnsignedNumber() const noexcept {
  if (kind_ != Kind::Number) return false;
  switch (numberType_) {
    case NumberType::Bool:
    case NumberType::UChar:
    case NumberType::UShort:
    case NumberType::UInt:
    case NumberType::ULongLong:
      return true;
    default:
      return false;
  }
}

std::int64_t SqValue::int64Value() const noexcept {
  if (kind_ == Kind::Date) return static_cast<std::int64_t>(number_.d);
  if (kind_ != Kind::Number) return 0;
  if (isFloatingNumber()) {
    double d = number_.d;
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775807.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<std::int64_t>(d);
  }
  return isUnsignedNumber() ? static_cast<std::int64_t>(number_.u) : number_.i;
}

std::uint64_t SqValue::uint64Value() const noexcept {
  if (kind_ != Kind::Number) return 0;
  if (isFloatingNumber()) return static_cast<std::uint64_t>(int64Value());
  return isUnsignedNumber() ? number_.u : static_cast<std::uint64_t>(number_.i);
}

double SqValue::doubleValue() const noexcept {
  if (kind_ == Kind::Date) return number_.d;
  if (kind_ != Kind::Number) return 0;
  if (isFloatingNumber()) return number_.d;
  return isUnsignedNumber() ? static_cast<double>(number_.u) : static_cast<double>(number_.i);
}

std::string_view SqValue::text() const noexcept {
  if (kind_ != Kind::Text) return {};
  return owns_ ? std::string_view(owned_) : borrowed_;
}

std::span<const std::uint8_t> SqValue::bytes() const noexcept {
  if (kind_ != Kind::Bytes) return {};
  std::string_view s = owns_ ? std::string_view(owned_) : borrowed_;
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

namespace {

std::string shortestDouble(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string dateDescription(double seconds) {
  double whole = std::floor(seconds);
  if (!(std::fabs(whole) < 1e15)) return shortestDouble(seconds);
  std::time_t t = static_cast<std::time_t>(whole);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buf;
}

}  // namespace

std::string SqValue::description() const {
  switch (kind_) {
    case Kind::Nil:
      return "(null)";
    case Kind::Null:
      return "<null>";
    case Kind::Text:
      return std::string(text());
    case Kind::Date:
      return dateDescription(number_.d);
    case Kind::Bytes: {
      auto b = bytes();
      std::string out = "{length = " + std::to_string(b.size()) + ", bytes = 0x";
      static const char* hex = "0123456789abcdef";
      std::size_t shown = b.size() <= 24 ? b.size() : 8;
      for (std::size_t i = 0; i < shown; ++i) {
        out.push_back(hex[b[i] >> 4]);
        out.push_back(hex[b[i] & 15]);
      }
      if (shown < b.size()) {
        out += " ... ";
        for (std::size_t i = b.size() - 8; i < b.size(); ++i) {
          out.push_back(hex[b[i] >> 4]);
          out.push_back(hex[b[i] & 15]);
        }
      }
      return out + "}";
    }
    case Kind::Number:
      if (isFloatingNumber()) return shortestDouble(number_.d);
      return isUnsignedNumber() ? std::to_string(number_.u) : std::to_string(number_.i);
  }
  return {};
}

bool operator==(const SqValue& a, const SqValue& b) noexcept {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case SqValue::Kind::Nil:
    case SqValue::Kind::Null:
      return true;
    case SqValue::Kind::Text:
      return a.text() == b.text();
    case SqValue::Kind::Bytes: {
      auto x = a.bytes(), y = b.bytes();
      return std::equal(x.begin(), x.end(), y.begin(), y.end());
    }
    case SqValue::Kind::Date:
      return a.number_.d == b.number_.d;
    case SqValue::Kind::Number:
      if (a.numberType_ != b.numberType_) return false;
      if (a.isFloatingNumber()) return a.number_.d == b.number_.d;
      return a.number_.u == b.number_.u;
  }
  return false;
}

}  // namespace kvstore
