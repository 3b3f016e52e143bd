#include "platform/foundation/Format.h"

#include <algorithm>
#include <cstdio>

#include "platform/foundation/Text.h"

namespace pf::format_detail {
namespace {

enum class Length { None, Char, Short, Long, LongDouble };

struct Directive {
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
    Directive directive;
    std::size_t position = readPosition(i);
    while (i < fmt_.size() && std::string_view("-+ #0'").find(fmt_[i]) != std::string_view::npos) {
      if (fmt_[i] != '\'') directive.flags.push_back(fmt_[i]);
      ++i;
    }
    if (i < fmt_.size() && fmt_[i] == '*') {
      ++i;
      directive.width = starArgument(i);
      if (directive.width < 0) directive.flags.push_back('-'), directive.width = -directive.width;
    } else if (i < fmt_.size() && isDigit(fmt_[i])) {
      directive.width = readNumber(i);
    }
    if (i < fmt_.size() && fmt_[i] == '.') {
      ++i;
      if (i < fmt_.size() && fmt_[i] == '*') {
        ++i;
        directive.precision = starArgument(i);
        if (directive.precision < 0) directive.precision = -1;
      } else {
        directive.precision = readNumber(i);
      }
    }
    while (i < fmt_.size()) {
      char c = fmt_[i];
      if (c == 'h') directive.length = directive.length == Length::Short ? Length::Char : Length::Short;
      else if (c == 'l' || c == 'q' || c == 'j' || c == 'z' || c == 't') directive.length = Length::Long;
      else if (c == 'L') directive.length = Length::LongDouble;
      else break;
      ++i;
    }
    if (i >= fmt_.size()) fail("incomplete conversion at the end");
    directive.conversion = fmt_[i];
    emit(directive, take(position));
    return i + 1;
  }

  void emit(const Directive& directive, const Arg& a) {
    switch (directive.conversion) {
      case 'd': case 'i': case 'D': integer(directive, a, true); return;
      case 'u': case 'o': case 'x': case 'X': case 'U': case 'O': integer(directive, a, false); return;
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': floating(directive, a); return;
      case 'c': case 'C': character(directive, a); return;
      case 's': text(directive, a); return;
      case 'p': pointer(directive, a); return;
      case '@': object(directive, a); return;
      default: fail(std::string("unknown conversion \"%") + directive.conversion + "\"");
    }
  }

  [[noreturn]] void mismatch(const Directive& directive, const Arg& a) const {
    fail(std::string("\"%") + directive.conversion + "\" does not take " + kindName(a));
  }

  std::string cFormat(const Directive& directive, std::string_view length, char conversion) const {
    std::string s = "%" + directive.flags;
    if (directive.width >= 0) s += std::to_string(directive.width);
    if (directive.precision >= 0) s += "." + std::to_string(directive.precision);
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

  void integer(const Directive& directive, const Arg& a, bool isSigned) {
    if (a.kind != Arg::Kind::Signed && a.kind != Arg::Kind::Unsigned) mismatch(directive, a);
    unsigned long long bits = a.kind == Arg::Kind::Signed ? static_cast<unsigned long long>(a.i) : a.u;
    Length length = directive.length;
    if (directive.conversion == 'D' || directive.conversion == 'U' || directive.conversion == 'O') length = Length::Long;
    char conv = directive.conversion == 'D' ? 'd' : directive.conversion == 'U' ? 'u' : directive.conversion == 'O' ? 'o' : directive.conversion;
    if (isSigned) {
      long long v;
      switch (length) {
        case Length::Char: v = static_cast<signed char>(bits); break;
        case Length::Short: v = static_cast<short>(bits); break;
        case Length::None: v = static_cast<int>(bits); break;
        default: v = static_cast<long long>(bits);
      }
      cprintf(cFormat(directive, "ll", conv), v);
    } else {
      unsigned long long v;
      switch (length) {
        case Length::Char: v = static_cast<unsigned char>(bits); break;
        case Length::Short: v = static_cast<unsigned short>(bits); break;
        case Length::None: v = static_cast<unsigned int>(bits); break;
        default: v = bits;
      }
      cprintf(cFormat(directive, "ll", conv), v);
    }
  }

  void floating(const Directive& directive, const Arg& a) {
    double v;
    if (a.kind == Arg::Kind::Floating) v = a.d;
    else if (a.kind == Arg::Kind::Signed) v = static_cast<double>(a.i);
    else if (a.kind == Arg::Kind::Unsigned) v = static_cast<double>(a.u);
    else mismatch(directive, a);
    cprintf(cFormat(directive, "", directive.conversion), v);
  }

  void pad(const Directive& directive, std::string_view body) {
    std::size_t length = utf16Length(body);
    std::size_t width = directive.width > 0 ? static_cast<std::size_t>(directive.width) : 0;
    bool left = directive.flags.find('-') != std::string::npos;
    if (!left && length < width) out_.append(width - length, ' ');
    out_.append(body);
    if (left && length < width) out_.append(width - length, ' ');
  }

  void padWithPrecision(const Directive& directive, std::string_view body) {
    if (directive.precision >= 0 && utf16Length(body) > static_cast<std::size_t>(directive.precision)) {
      pad(directive, utf16Substring(body, {0, static_cast<std::size_t>(directive.precision)}));
    } else {
      pad(directive, body);
    }
  }

  void character(const Directive& directive, const Arg& a) {
    if (a.kind != Arg::Kind::Signed && a.kind != Arg::Kind::Unsigned) mismatch(directive, a);
    unsigned long long bits = a.kind == Arg::Kind::Signed ? static_cast<unsigned long long>(a.i) : a.u;
    // %c is one byte taken as Latin-1; %C (and %lc) one UTF-16 unit.
    char32_t c = (directive.conversion == 'C' || directive.length == Length::Long) ? static_cast<char16_t>(bits)
                                                                         : static_cast<unsigned char>(bits);
    std::string body;
    if (c != 0) appendUtf8(body, c);
    pad(directive, body);
  }

  void text(const Directive& directive, const Arg& a) {
    if (a.kind != Arg::Kind::Text) mismatch(directive, a);
    padWithPrecision(directive, a.nullText ? std::string_view("(null)") : a.text);
  }

  void pointer(const Directive& directive, const Arg& a) {
    if (a.kind != Arg::Kind::Pointer) mismatch(directive, a);
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(a.pointer)));
    pad(directive, buf);
  }

  void object(const Directive& directive, const Arg& a) {
    switch (a.kind) {
      case Arg::Kind::Text: padWithPrecision(directive, a.nullText ? std::string_view("(null)") : a.text); return;
      case Arg::Kind::Signed: padWithPrecision(directive, std::to_string(a.i)); return;
      case Arg::Kind::Unsigned: padWithPrecision(directive, std::to_string(a.u)); return;
      case Arg::Kind::Floating: padWithPrecision(directive, numberDescription(a.d)); return;
      case Arg::Kind::Object: padWithPrecision(directive, a.describe(a.pointer)); return;
      case Arg::Kind::Pointer:
        if (!a.pointer) return padWithPrecision(directive, "(null)");
        if (!a.describe) mismatch(directive, a);
        padWithPrecision(directive, a.describe(a.pointer));
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

// Never called at run time: only a literal format's check calls them, and that fails to compile.
void formatNeedsMoreArguments() {}
void formatArgumentDoesNotMatchItsConversion() {}
void formatHasAnUnknownOrIncompleteConversion() {}
void formatWidthOrPrecisionTooLarge() {}

}  // namespace pf::format_detail
