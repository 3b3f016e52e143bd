#include "platform/foundation/Format.h"

#include <algorithm>
#include <cstdio>

#include "platform/foundation/Text.h"

namespace pf::format_detail {
namespace {

enum class Length { None, Char, Short, Long, LongDouble };

struct Spec {
  std::string flags;
  int width = -1;
  int precision = -1;
  Length length = Length::None;
  char conversion = 0;
};

const char* kindName(const Arg& a) {
  switch (a.kind) {
    case Arg::Kind::Signed: return a.isBool ? "a boolean" : "a signed integer";
    case Arg::Kind::Unsigned: return "an unsigned integer";
    case Arg::Kind::Floating: return "a floating-point number";
    case Arg::Kind::Text: return "a text";
    case Arg::Kind::Pointer: return "a pointer";
    case Arg::Kind::Object: return "an object";
  }
  return "a value";
}

class Formatter {
 public:
  Formatter(std::string_view fmt, std::span<const Arg> args) : fmt_(fmt), args_(args) {}

  std::string run() {
    out_.reserve(fmt_.size() + 16 * args_.size());
    std::size_t i = 0;
    while (i < fmt_.size()) {
      std::size_t pct = fmt_.find('%', i);
      if (pct == std::string_view::npos) {
        out_.append(fmt_.substr(i));
        break;
      }
      out_.append(fmt_.substr(i, pct - i));
      i = conversion(pct + 1);
    }
    return std::move(out_);
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw Exception(kInvalidArgumentException, "format \"" + std::string(fmt_) + "\": " + why);
  }

  const Arg& take(std::size_t position) {
    std::size_t index = position ? position - 1 : next_++;
    if (index >= args_.size()) fail("too few arguments (conversion " + std::to_string(index + 1) + ")");
    return args_[index];
  }

  static bool isDigit(char c) { return c >= '0' && c <= '9'; }

  int readNumber(std::size_t& i) {
    long long n = 0;
    while (i < fmt_.size() && isDigit(fmt_[i])) {
      n = n * 10 + (fmt_[i++] - '0');
      if (n > 1'000'000) fail("width or precision too large");
    }
    return static_cast<int>(n);
  }

  // An explicit position "n$" at i, or 0.
  std::size_t readPosition(std::size_t& i) {
    std::size_t j = i;
    if (j >= fmt_.size() || !isDigit(fmt_[j]) || fmt_[j] == '0') return 0;
    int n = readNumber(j);
    if (j < fmt_.size() && fmt_[j] == '$') {
      i = j + 1;
      return static_cast<std::size_t>(n);
    }
    return 0;
  }

  int starArgument(std::size_t& i) {
    std::size_t position = readPosition(i);
    const Arg& a = take(position);
    if (a.kind == Arg::Kind::Signed) return static_cast<int>(std::clamp(a.i, -1'000'000LL, 1'000'000LL));
    if (a.kind == Arg::Kind::Unsigned) return static_cast<int>(std::min(a.u, 1'000'000ULL));
    fail(std::string("\"*\" needs an integer, got ") + kindName(a));
  }

  std::size_t conversion(std::size_t i) {
    if (i >= fmt_.size()) fail("lone \"%\" at the end");
    if (fmt_[i] == '%') {
      out_.push_back('%');
      return i + 1;
    }
    Spec spec;
    std::size_t position = readPosition(i);
    while (i < fmt_.size() && std::string_view("-+ #0'").find(fmt_[i]) != std::string_view::npos) {
      if (fmt_[i] != '\'') spec.flags.push_back(fmt_[i]);
      ++i;
    }
    if (i < fmt_.size() && fmt_[i] == '*') {
      ++i;
      spec.width = starArgument(i);
      if (spec.width < 0) spec.flags.push_back('-'), spec.width = -spec.width;
    } else if (i < fmt_.size() && isDigit(fmt_[i])) {
      spec.width = readNumber(i);
    }
    if (i < fmt_.size() && fmt_[i] == '.') {
      ++i;
      if (i < fmt_.size() && fmt_[i] == '*') {
        ++i;
        spec.precision = starArgument(i);
        if (spec.precision < 0) spec.precision = -1;
      } else {
        spec.precision = readNumber(i);
      }
    }
    while (i < fmt_.size()) {
      char c = fmt_[i];
      if (c == 'h') spec.length = spec.length == Length::Short ? Length::Char : Length::Short;
      else if (c == 'l' || c == 'q' || c == 'j' || c == 'z' || c == 't') spec.length = Length::Long;
      else if (c == 'L') spec.length = Length::LongDouble;
      else break;
      ++i;
    }
    if (i >= fmt_.size()) fail("incomplete conversion at the end");
    spec.conversion = fmt_[i];
    emit(spec, take(position));
    return i + 1;
  }

  void emit(const Spec& spec, const Arg& a) {
    switch (spec.conversion) {
      case 'd': case 'i': case 'D': integer(spec, a, true); return;
      case 'u': case 'o': case 'x': case 'X': case 'U': case 'O': integer(spec, a, false); return;
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': floating(spec, a); return;
      case 'c': case 'C': character(spec, a); return;
      case 's': text(spec, a); return;
      case 'p': pointer(spec, a); return;
      case '@': object(spec, a); return;
      default: fail(std::string("unknown conversion \"%") + spec.conversion + "\"");
    }
  }

  [[noreturn]] void mismatch(const Spec& spec, const Arg& a) const {
    fail(std::string("\"%") + spec.conversion + "\" does not take " + kindName(a));
  }

  std::string cSpec(const Spec& spec, std::string_view length, char conversion) const {
    std::string s = "%" + spec.flags;
    if (spec.width >= 0) s += std::to_string(spec.width);
    if (spec.precision >= 0) s += "." + std::to_string(spec.precision);
    s.append(length);
    s.push_back(conversion);
    return s;
  }

  template <class T>
  void cprintf(const std::string& cfmt, T value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, cfmt.c_str(), value);
    if (n < 0) fail("conversion failed");
    if (static_cast<std::size_t>(n) < sizeof small) {
      out_.append(small, static_cast<std::size_t>(n));
      return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), cfmt.c_str(), value);
    out_.append(big.data(), static_cast<std::size_t>(n));
  }

  void integer(const Spec& spec, const Arg& a, bool isSigned) {
    if (a.kind != Arg::Kind::Signed && a.kind != Arg::Kind::Unsigned) mismatch(spec, a);
    unsigned long long bits = a.kind == Arg::Kind::Signed ? static_cast<unsigned long long>(a.i) : a.u;
    Length length = spec.length;
    if (spec.conversion == 'D' || spec.conversion == 'U' || spec.conversion == 'O') length = Length::Long;
    char conv = spec.conversion == 'D' ? 'd' : spec.conversion == 'U' ? 'u' : spec.conversion == 'O' ? 'o' : spec.conversion;
    if (isSigned) {
      long long v;
      switch (length) {
        case Length::Char: v = static_cast<signed char>(bits); break;
        case Length::Short: v = static_cast<short>(bits); break;
        case Length::None: v = static_cast<int>(bits); break;
        default: v = static_cast<long long>(bits);
      }
      cprintf(cSpec(spec, "ll", conv), v);
    } else {
      unsigned long long v;
      switch (length) {
        case Length::Char: v = static_cast<unsigned char>(bits); break;
        case Length::Short: v = static_cast<unsigned short>(bits); break;
        case Length::None: v = static_cast<unsigned int>(bits); break;
        default: v = bits;
      }
      cprintf(cSpec(spec, "ll", conv), v);
    }
  }

  void floating(const Spec& spec, const Arg& a) {
    double v;
    if (a.kind == Arg::Kind::Floating) v = a.d;
    else if (a.kind == Arg::Kind::Signed) v = static_cast<double>(a.i);
    else if (a.kind == Arg::Kind::Unsigned) v = static_cast<double>(a.u);
    else mismatch(spec, a);
    cprintf(cSpec(spec, "", spec.conversion), v);
  }

  void pad(const Spec& spec, std::string_view body) {
    std::size_t length = utf16Length(body);
    std::size_t width = spec.width > 0 ? static_cast<std::size_t>(spec.width) : 0;
    bool left = spec.flags.find('-') != std::string::npos;
    if (!left && length < width) out_.append(width - length, ' ');
    out_.append(body);
    if (left && length < width) out_.append(width - length, ' ');
  }

  void padWithPrecision(const Spec& spec, std::string_view body) {
    if (spec.precision >= 0 && utf16Length(body) > static_cast<std::size_t>(spec.precision)) {
      pad(spec, utf16Substring(body, {0, static_cast<std::size_t>(spec.precision)}));
    } else {
      pad(spec, body);
    }
  }

  void character(const Spec& spec, const Arg& a) {
    if (a.kind != Arg::Kind::Signed && a.kind != Arg::Kind::Unsigned) mismatch(spec, a);
    unsigned long long bits = a.kind == Arg::Kind::Signed ? static_cast<unsigned long long>(a.i) : a.u;
    // %c is one byte taken as Latin-1; %C (and %lc) one UTF-16 unit.
    char32_t c = (spec.conversion == 'C' || spec.length == Length::Long) ? static_cast<char16_t>(bits)
                                                                         : static_cast<unsigned char>(bits);
    std::string body;
    if (c != 0) appendUtf8(body, c);
    pad(spec, body);
  }

  void text(const Spec& spec, const Arg& a) {
    if (a.kind != Arg::Kind::Text) mismatch(spec, a);
    padWithPrecision(spec, a.nullText ? std::string_view("(null)") : a.text);
  }

  void pointer(const Spec& spec, const Arg& a) {
    if (a.kind != Arg::Kind::Pointer) mismatch(spec, a);
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(a.pointer)));
    pad(spec, buf);
  }

  void object(const Spec& spec, const Arg& a) {
    switch (a.kind) {
      case Arg::Kind::Text: padWithPrecision(spec, a.nullText ? std::string_view("(null)") : a.text); return;
      case Arg::Kind::Signed: padWithPrecision(spec, std::to_string(a.i)); return;
      case Arg::Kind::Unsigned: padWithPrecision(spec, std::to_string(a.u)); return;
      case Arg::Kind::Floating: padWithPrecision(spec, numberDescription(a.d)); return;
      case Arg::Kind::Object: padWithPrecision(spec, a.describe(a.pointer)); return;
      case Arg::Kind::Pointer:
        if (!a.pointer) return padWithPrecision(spec, "(null)");
        if (!a.describe) mismatch(spec, a);
        padWithPrecision(spec, a.describe(a.pointer));
        return;
    }
  }

  std::string_view fmt_;
  std::span<const Arg> args_;
  std::size_t next_ = 0;
  std::string out_;
};

}  // namespace

std::string formatArgs(std::string_view fmt, std::span<const Arg> args) { return Formatter(fmt, args).run(); }

}  // namespace pf::format_detail
