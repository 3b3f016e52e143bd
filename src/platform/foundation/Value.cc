#include "platform/foundation/Value.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <locale.h>

#include "platform/foundation/Text.h"

namespace pf {

// --- Data and dates ------------------------------------------------------------------------------

Value makeData(std::vector<std::uint8_t> bytes) { return Value::binary(std::move(bytes)); }

Value makeDate(double secondsSince1970) {
  std::uint64_t bits;
  std::memcpy(&bits, &secondsSince1970, sizeof bits);
  std::vector<std::uint8_t> bytes(8);
  for (int i = 0; i < 8; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
  return Value::binary(std::move(bytes), kDateSubtype);
}

bool isData(const Value& v) { return v.is_binary() && !v.get_binary().has_subtype(); }

bool isDate(const Value& v) {
  return v.is_binary() && v.get_binary().has_subtype() && v.get_binary().subtype() == kDateSubtype &&
         v.get_binary().size() == 8;
}

std::vector<std::uint8_t> dataValue(const Value& v) {
  if (!isData(v)) return {};
  const auto& b = v.get_binary();
  return std::vector<std::uint8_t>(b.begin(), b.end());
}

std::optional<double> dateValue(const Value& v) {
  if (!isDate(v)) return std::nullopt;
  const auto& b = v.get_binary();
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(b[static_cast<std::size_t>(i)]) << (8 * i);
  double seconds;
  std::memcpy(&seconds, &bits, sizeof seconds);
  return seconds;
}

// --- Text conversions ----------------------------------------------------------------------------

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t skipSpace(std::string_view t, std::size_t i = 0) {
  while (i < t.size() && isSpace(t[i])) ++i;
  return i;
}

template <class T>
T clampDouble(double d) {
  if (std::isnan(d)) return 0;
  if (d >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  if (d <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  return static_cast<T>(d);
}

template <class T>
T numberAs(const Value& v) {
  switch (v.type()) {
    case Value::value_t::boolean: return v.get<bool>() ? 1 : 0;
    case Value::value_t::number_integer: {
      auto i = v.get<std::int64_t>();
      if (i > static_cast<std::int64_t>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
      if (i < static_cast<std::int64_t>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
      return static_cast<T>(i);
    }
    case Value::value_t::number_unsigned: {
      auto u = v.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
      return static_cast<T>(u);
    }
    case Value::value_t::number_float: return clampDouble<T>(v.get<double>());
    default: return 0;
  }
}

locale_t cLocale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

}  // namespace

bool textBoolValue(std::string_view t) {
  std::size_t i = skipSpace(t);
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  while (i < t.size() && t[i] == '0') ++i;
  if (i >= t.size()) return false;
  char c = t[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

long long textLongLongValue(std::string_view t) {
  std::size_t i = skipSpace(t);
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  unsigned long long magnitude = 0;
  bool overflow = false;
  constexpr unsigned long long limit = static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + 1;
  for (; i < t.size() && isDigit(t[i]); ++i) {
    unsigned digit = static_cast<unsigned>(t[i] - '0');
    if (magnitude > (limit - digit) / 10) {
      overflow = true;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (negative) {
    if (overflow) return std::numeric_limits<long long>::min();
    return magnitude == limit ? std::numeric_limits<long long>::min() : -static_cast<long long>(magnitude);
  }
  if (overflow || magnitude >= limit) return std::numeric_limits<long long>::max();
  return static_cast<long long>(magnitude);
}

int intValue(std::string_view t) {
  long long v = textLongLongValue(t);
  return static_cast<int>(std::clamp<long long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

double textDoubleValue(std::string_view t) {
  // Match [sign] digits [. digits] [e [sign] digits] with at least one mantissa digit, then let
  // strtod_l (C locale) convert exactly that prefix.
  std::size_t start = skipSpace(t), i = start;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < t.size() && isDigit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && isDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    std::size_t e = i + 1;
    if (e < t.size() && (t[e] == '+' || t[e] == '-')) ++e;
    if (e < t.size() && isDigit(t[e])) {
      while (e < t.size() && isDigit(t[e])) ++e;
      i = e;
    }
  }
  std::string number(t.substr(start, i - start));
  return strtod_l(number.c_str(), nullptr, cLocale());
}

// --- Value conversions ---------------------------------------------------------------------------

bool boolValue(const Value& v) {
  switch (v.type()) {
    case Value::value_t::boolean: return v.get<bool>();
    case Value::value_t::number_integer: return v.get<std::int64_t>() != 0;
    case Value::value_t::number_unsigned: return v.get<std::uint64_t>() != 0;
    case Value::value_t::number_float: {
      double d = v.get<double>();
      return d != 0 && !std::isnan(d);
    }
    case Value::value_t::string: return textBoolValue(v.get_ref<const std::string&>());
    default: return false;
  }
}

int intValue(const Value& v) {
  if (v.is_string()) return intValue(std::string_view(v.get_ref<const std::string&>()));
  return numberAs<int>(v);
}

std::int64_t integerValue(const Value& v) { return longLongValue(v); }

long long longLongValue(const Value& v) {
  if (v.is_string()) return textLongLongValue(v.get_ref<const std::string&>());
  return numberAs<long long>(v);
}

double doubleValue(const Value& v) {
  switch (v.type()) {
    case Value::value_t::boolean: return v.get<bool>() ? 1.0 : 0.0;
    case Value::value_t::number_integer:
    case Value::value_t::number_unsigned:
    case Value::value_t::number_float: return v.get<double>();
    case Value::value_t::string: return textDoubleValue(v.get_ref<const std::string&>());
    default: return 0.0;
  }
}

float floatValue(const Value& v) { return static_cast<float>(doubleValue(v)); }

std::string stringValue(const Value& v) {
  if (v.is_string()) return v.get<std::string>();
  return description(v);
}

const Value* valueForKey(const Value& dictionary, std::string_view key) {
  if (!dictionary.is_object()) return nullptr;
  auto it = dictionary.find(key);
  return it == dictionary.end() ? nullptr : &*it;
}

// --- Descriptions --------------------------------------------------------------------------------

std::string numberDescription(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  char buf[64];
  if (d == std::trunc(d) && std::fabs(d) < 1e17) {
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 0);
    return std::string(buf, r.ptr);
  }
  // Shortest round-trip digits, laid out as %g lays them out with 17 significant digits.
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string sci(buf, r.ptr);
  auto ePos = sci.find('e');
  int exponent = std::atoi(sci.c_str() + ePos + 1);
  std::string mantissa = sci.substr(0, ePos);
  bool negative = mantissa[0] == '-';
  if (negative) mantissa.erase(0, 1);
  std::string digits;
  for (char c : mantissa)
    if (c != '.') digits.push_back(c);
  if (exponent < -4 || exponent >= 17) return sci;
  std::string out = negative ? "-" : "";
  if (exponent < 0) {
    out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    auto intDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
      out += digits + std::string(intDigits - digits.size(), '0');
    } else {
      out += digits.substr(0, intDigits) + "." + digits.substr(intDigits);
    }
  }
  return out;
}

namespace {

bool isUnquotedCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '/' || c == ':' || c == '.' || c == '-';
}

void appendQuotedIfNeeded(std::string& out, std::string_view s) {
  if (!s.empty() && std::all_of(s.begin(), s.end(), isUnquotedCharacter)) {
    out.append(s);
    return;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::u16string units = toUtf16(s);
  for (char16_t u : units) {
    switch (u) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\a': out += "\\a"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\v': out += "\\v"; break;
      default:
        if (u >= 0x20 && u < 0x7F) {
          out.push_back(static_cast<char>(u));
        } else {
          out += "\\U";
          for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(u >> shift) & 0xF]);
        }
    }
  }
  out.push_back('"');
}

std::string dateDescription(double seconds) {
  std::time_t t = static_cast<std::time_t>(std::floor(seconds));
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return "<invalid date>";
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buf;
}

std::string dataDescription(const Value::binary_t& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "<";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i && i % 4 == 0) out.push_back(' ');
    out.push_back(kHex[bytes[i] >> 4]);
    out.push_back(kHex[bytes[i] & 0xF]);
  }
  out.push_back('>');
  return out;
}

void appendDescription(std::string& out, const Value& v, int level, bool nested) {
  const std::string indent(static_cast<std::size_t>(level) * 4, ' ');
  const std::string inner(static_cast<std::size_t>(level + 1) * 4, ' ');
  switch (v.type()) {
    case Value::value_t::null: out += "<null>"; return;
    case Value::value_t::boolean: out += v.get<bool>() ? "1" : "0"; return;
    case Value::value_t::number_integer: out += std::to_string(v.get<std::int64_t>()); return;
    case Value::value_t::number_unsigned: out += std::to_string(v.get<std::uint64_t>()); return;
    case Value::value_t::number_float: out += numberDescription(v.get<double>()); return;
    case Value::value_t::string:
      if (nested) appendQuotedIfNeeded(out, v.get_ref<const std::string&>());
      else out += v.get_ref<const std::string&>();
      return;
    case Value::value_t::binary:
      if (auto date = dateValue(v)) out += dateDescription(*date);
      else out += dataDescription(v.get_binary());
      return;
    case Value::value_t::array: {
      out += indent + "(\n";
      for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) out += ",\n";
        out += inner;
        appendDescription(out, v[i], level + 1, true);
      }
      if (!v.empty()) out += "\n";
      out += indent + ")";
      return;
    }
    case Value::value_t::object: {
      std::vector<const std::pair<const std::string, Value>*> entries;
      for (const auto& entry : v.get_ref<const Value::object_t&>()) entries.push_back(&entry);
      std::stable_sort(entries.begin(), entries.end(),
                       [](auto* a, auto* b) { return compareText(a->first, b->first) < 0; });
      out += indent + "{\n";
      for (auto* entry : entries) {
        out += inner;
        appendQuotedIfNeeded(out, entry->first);
        out += " = ";
        appendDescription(out, entry->second, level + 1, true);
        out += ";\n";
      }
      out += indent + "}";
      return;
    }
    case Value::value_t::discarded: out += "<discarded>"; return;
  }
}

}  // namespace

std::string description(const Value& v) {
  std::string out;
  appendDescription(out, v, 0, false);
  return out;
}

}  // namespace pf
