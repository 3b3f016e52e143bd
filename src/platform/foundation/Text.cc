#include "platform/foundation/Text.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utrans.h>

#include <algorithm>
#include <memory>

#include "platform/foundation/Base64.h"

namespace pf {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Sort key giving code points the order of their UTF-16 units (supplementary characters, whose
// lead surrogates are D800..DBFF, sort below U+E000..U+FFFF).
std::uint32_t utf16OrderKey(char32_t c) {
  if (c < 0xD800) return c;
  if (c <= 0xFFFF) return c + 0x200000;
  return 0xD800 + (c - 0x10000);
}

char32_t foldCase(char32_t c) { return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT)); }

bool isAsciiDigit(char32_t c) { return c >= '0' && c <= '9'; }

// One code point of a text with its UTF-16 offset, as comparisons and searches walk them.
struct Unit {
  char32_t c;
  std::size_t utf16;
};

std::vector<Unit> codePoints(std::string_view text, bool fold) {
  std::vector<Unit> out;
  out.reserve(text.size());
  std::size_t pos = 0, u16 = 0;
  while (pos < text.size()) {
    char32_t c = decodeUtf8(text, pos);
    out.push_back({fold ? foldCase(c) : c, u16});
    u16 += c >= 0x10000 ? 2 : 1;
  }
  return out;
}

int sign(long long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

// --- UTF-8 and UTF-16 --------------------------------------------------------------------------

char32_t decodeUtf8(std::string_view s, std::size_t& pos) {
  auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int extra;
  char32_t c, min;
  if (b0 >= 0xC2 && b0 <= 0xDF) extra = 1, c = b0 & 0x1F, min = 0x80;
  else if (b0 >= 0xE0 && b0 <= 0xEF) extra = 2, c = b0 & 0x0F, min = 0x800;
  else if (b0 >= 0xF0 && b0 <= 0xF4) extra = 3, c = b0 & 0x07, min = 0x10000;
  else {
    ++pos;
    return kReplacement;
  }
  std::size_t p = pos + 1;
  for (int i = 0; i < extra; ++i, ++p) {
    if (p >= s.size()) {
      ++pos;
      return kReplacement;
    }
    auto b = static_cast<unsigned char>(s[p]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return kReplacement;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++pos;
    return kReplacement;
  }
  pos = p;
  return c;
}

std::string_view utf8Prefix(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  // Step back over trail bytes to the start of the sequence that crosses the limit.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

bool isValidUtf8(std::string_view s) {
  std::size_t pos = 0;
  while (pos < s.size()) {
    auto b = static_cast<unsigned char>(s[pos]);
    if (b < 0x80) {
      ++pos;
      continue;
    }
    std::size_t before = pos;
    char32_t c = decodeUtf8(s, pos);
    if (c == kReplacement && pos == before + 1) return false;  // U+FFFD itself takes 3 bytes
  }
  return true;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::u16string toUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t c = decodeUtf8(text, pos);
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::string fromUtf16(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    appendUtf8(out, c);
  }
  return out;
}

std::size_t utf16Length(std::string_view text) {
  std::size_t n = 0, pos = 0;
  while (pos < text.size()) {
    auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      ++pos, ++n;
      continue;
    }
    n += decodeUtf8(text, pos) >= 0x10000 ? 2 : 1;
  }
  return n;
}

std::size_t utf16Offset(std::string_view text, std::size_t byteOffset) {
  std::size_t n = 0, pos = 0;
  while (pos < text.size() && pos < byteOffset) n += decodeUtf8(text, pos) >= 0x10000 ? 2 : 1;
  return n;
}

std::size_t byteOffset(std::string_view text, std::size_t utf16Offset) {
  std::size_t n = 0, pos = 0;
  while (pos < text.size() && n < utf16Offset) n += decodeUtf8(text, pos) >= 0x10000 ? 2 : 1;
  return pos;
}

std::string utf16Substring(std::string_view text, TextRange range) {
  std::size_t begin = byteOffset(text, range.location);
  std::size_t end = byteOffset(text, range.location + std::min(range.length, SIZE_MAX - range.location));
  return std::string(text.substr(begin, end - begin));
}

// --- Comparison and search ---------------------------------------------------------------------

int compareText(std::string_view a, std::string_view b, CompareOptions options) {
  bool fold = options & kCaseInsensitive;
  bool numeric = options & kNumeric;
  if (!fold && !numeric) {
    std::size_t pa = 0, pb = 0;
    while (pa < a.size() && pb < b.size()) {
      char32_t ca = decodeUtf8(a, pa), cb = decodeUtf8(b, pb);
      if (ca != cb) return utf16OrderKey(ca) < utf16OrderKey(cb) ? -1 : 1;
    }
    return sign(static_cast<long long>(pa < a.size()) - static_cast<long long>(pb < b.size()));
  }
  auto ua = codePoints(a, fold), ub = codePoints(b, fold);
  std::size_t i = 0, j = 0;
  while (i < ua.size() && j < ub.size()) {
    if (numeric && isAsciiDigit(ua[i].c) && isAsciiDigit(ub[j].c)) {
      // Compare the two digit runs by value: skip leading zeros, then longer is larger, then digits.
      std::size_t ei = i, ej = j;
      while (ei < ua.size() && isAsciiDigit(ua[ei].c)) ++ei;
      while (ej < ub.size() && isAsciiDigit(ub[ej].c)) ++ej;
      std::size_t si = i, sj = j;
      while (si + 1 < ei && ua[si].c == '0') ++si;
      while (sj + 1 < ej && ub[sj].c == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
      for (; si < ei; ++si, ++sj)
        if (ua[si].c != ub[sj].c) return ua[si].c < ub[sj].c ? -1 : 1;
      i = ei, j = ej;
      continue;
    }
    if (ua[i].c != ub[j].c) return utf16OrderKey(ua[i].c) < utf16OrderKey(ub[j].c) ? -1 : 1;
    ++i, ++j;
  }
  return sign(static_cast<long long>(ua.size() - i) - static_cast<long long>(ub.size() - j));
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) { return compareText(a, b, kCaseInsensitive) == 0; }

std::optional<TextRange> findText(std::string_view haystack, std::string_view needle, CompareOptions options) {
  if (needle.empty() || haystack.empty()) return std::nullopt;
  bool fold = options & kCaseInsensitive;
  auto h = codePoints(haystack, fold), n = codePoints(needle, fold);
  if (n.size() > h.size()) return std::nullopt;
  auto matchesAt = [&](std::size_t at) {
    for (std::size_t k = 0; k < n.size(); ++k)
      if (h[at + k].c != n[k].c) return false;
    return true;
  };
  auto rangeAt = [&](std::size_t at) {
    std::size_t end = at + n.size() < h.size() ? h[at + n.size()].utf16 : utf16Length(haystack);
    return TextRange{h[at].utf16, end - h[at].utf16};
  };
  std::size_t last = h.size() - n.size();
  if (options & kBackwards) {
    if (options & kAnchored) return matchesAt(last) ? std::optional(rangeAt(last)) : std::nullopt;
    for (std::size_t at = last + 1; at-- > 0;)
      if (matchesAt(at)) return rangeAt(at);
    return std::nullopt;
  }
  if (options & kAnchored) return matchesAt(0) ? std::optional(rangeAt(0)) : std::nullopt;
  for (std::size_t at = 0; at <= last; ++at)
    if (matchesAt(at)) return rangeAt(at);
  return std::nullopt;
}

bool containsText(std::string_view haystack, std::string_view needle, CompareOptions options) {
  return findText(haystack, needle, options).has_value();
}

bool hasPrefix(std::string_view text, std::string_view prefix) {
  return !prefix.empty() && text.substr(0, prefix.size()) == prefix;
}

bool hasSuffix(std::string_view text, std::string_view suffix) {
  return !suffix.empty() && text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// --- Case, trimming, splitting -----------------------------------------------------------------

namespace {

std::string mapCase(std::string_view text, bool upper) {
  std::u16string src = toUtf16(text);
  std::u16string dst(src.size() + 16, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    auto fn = upper ? u_strToUpper : u_strToLower;
    int32_t n = fn(reinterpret_cast<UChar*>(dst.data()), static_cast<int32_t>(dst.size()),
                   reinterpret_cast<const UChar*>(src.data()), static_cast<int32_t>(src.size()), "", &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      dst.assign(static_cast<std::size_t>(n), u'\0');
      continue;
    }
    if (U_FAILURE(status)) return std::string(text);
    dst.resize(static_cast<std::size_t>(n));
    return fromUtf16(dst);
  }
  return std::string(text);
}

template <class Pred>
std::string trimWith(std::string_view text, Pred isTrimmed) {
  std::size_t pos = 0, begin = text.size();
  while (pos < text.size()) {
    std::size_t at = pos;
    if (!isTrimmed(decodeUtf8(text, pos))) {
      begin = at;
      break;
    }
  }
  std::size_t end = begin;
  pos = begin;
  while (pos < text.size()) {
    if (!isTrimmed(decodeUtf8(text, pos))) end = pos;
  }
  return std::string(text.substr(begin, end - begin));
}

}  // namespace

std::string lowercaseText(std::string_view text) { return mapCase(text, false); }
std::string uppercaseText(std::string_view text) { return mapCase(text, true); }

std::string caseFoldedText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const char byte = text[pos];
    if (static_cast<unsigned char>(byte) < 0x80) {  // ASCII folds within ASCII: A to Z only change
      out.push_back(byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte);
      ++pos;
    } else {
      appendUtf8(out, foldCase(decodeUtf8(text, pos)));
    }
  }
  return out;
}

namespace {

// The canonical decomposition of UTF-16 text; the text as it is when ICU cannot give it.
std::u16string decomposed(const std::u16string& text) {
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
  if (U_FAILURE(status) || text.size() > static_cast<std::size_t>(INT32_MAX / 4)) return text;
  const auto length = static_cast<int32_t>(text.size());
  std::u16string out(text.size() + text.size() / 2 + 8, u'\0');
  int32_t written = unorm2_normalize(nfd, text.data(), length, out.data(), static_cast<int32_t>(out.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    status = U_ZERO_ERROR;
    out.assign(static_cast<std::size_t>(written), u'\0');
    written = unorm2_normalize(nfd, text.data(), length, out.data(), written, &status);
  }
  if (U_FAILURE(status)) return text;
  out.resize(static_cast<std::size_t>(written));
  return out;
}

}  // namespace

std::string canonicalFoldedText(std::string_view text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return caseFoldedText(text);  // ASCII has nothing to decompose
  std::u16string units = decomposed(toUtf16(text));
  const std::string folded = caseFoldedText(fromUtf16(units));
  return fromUtf16(decomposed(toUtf16(folded)));
}

bool isWhitespace(char32_t c) {
  return c == '\t' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

bool isWhitespaceOrNewline(char32_t c) {
  if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
  auto t = u_charType(static_cast<UChar32>(c));
  return t == U_SPACE_SEPARATOR || t == U_LINE_SEPARATOR || t == U_PARAGRAPH_SEPARATOR;
}

std::string trimWhitespaceAndNewlines(std::string_view text) { return trimWith(text, isWhitespaceOrNewline); }
std::string trimWhitespace(std::string_view text) { return trimWith(text, isWhitespace); }

std::vector<std::string> splitText(std::string_view text, std::string_view separator) {
  std::vector<std::string> parts;
  if (separator.empty()) {
    parts.emplace_back(text);
    return parts;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) break;
    parts.emplace_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  parts.emplace_back(text.substr(start));
  return parts;
}

std::string joinText(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out.append(separator);
    out.append(parts[i]);
  }
  return out;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = text.find(from, start);
    if (at == std::string_view::npos) break;
    out.append(text.substr(start, at - start)).append(to);
    start = at + from.size();
  }
  out.append(text.substr(start));
  return out;
}

// --- Escaping ----------------------------------------------------------------------------------

namespace {

// RFC 2396: unreserved (letters, digits, marks) and reserved characters, and "#" (fragment).
bool isLegalUrlCharacter(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("-_.!~*'();/?:@&=+$,#").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string addPercentEscapes(std::string_view text, std::string_view leaveUnescaped, std::string_view toEscape) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t start = pos;
    char32_t c = decodeUtf8(text, pos);
    bool keep;
    if (c < 0x80) {
      auto ch = static_cast<char>(c);
      keep = leaveUnescaped.find(ch) != std::string_view::npos ||
             (isLegalUrlCharacter(static_cast<unsigned char>(c)) && toEscape.find(ch) == std::string_view::npos);
    } else {
      std::string encoded;
      appendUtf8(encoded, c);
      keep = leaveUnescaped.find(encoded) != std::string_view::npos;
    }
    if (keep) {
      out.append(text.substr(start, pos - start));
      continue;
    }
    std::string bytes;
    appendUtf8(bytes, c);  // malformed input bytes are escaped as U+FFFD
    for (unsigned char b : bytes) {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0xF]);
    }
  }
  return out;
}

std::optional<std::string> removePercentEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int hi = hexDigit(text[i + 1]), lo = hexDigit(text[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  if (!isValidUtf8(out)) return std::nullopt;
  return out;
}

namespace {

struct TransliteratorCloser {
  void operator()(UTransliterator* t) const { utrans_close(t); }
};

UTransliterator* asciiTransliterator() {
  thread_local std::unique_ptr<UTransliterator, TransliteratorCloser> instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    static const std::u16string id = u"Any-Latin; Latin-ASCII; [:^ASCII:] Remove";
    UTransliterator* t = utrans_openU(reinterpret_cast<const UChar*>(id.data()), static_cast<int32_t>(id.size()),
                                      UTRANS_FORWARD, nullptr, 0, nullptr, &status);
    if (U_FAILURE(status)) t = nullptr;
    return std::unique_ptr<UTransliterator, TransliteratorCloser>(t);
  }();
  return instance.get();
}

}  // namespace

std::string transliterateToAscii(std::string_view text) {
  bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return std::string(text);
  UTransliterator* t = asciiTransliterator();
  if (!t) return std::string(text);
  std::u16string units = toUtf16(text);
  std::u16string buffer = units;
  buffer.resize(units.size() * 4 + 16);
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::copy(units.begin(), units.end(), buffer.begin());
    int32_t length = static_cast<int32_t>(units.size());
    int32_t limit = length;
    UErrorCode status = U_ZERO_ERROR;
    utrans_transUChars(t, reinterpret_cast<UChar*>(buffer.data()), &length, static_cast<int32_t>(buffer.size()), 0,
                       &limit, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      buffer.resize(static_cast<std::size_t>(length) * 2 + 16);
      continue;
    }
    if (U_FAILURE(status)) return std::string(text);
    buffer.resize(static_cast<std::size_t>(length));
    return fromUtf16(buffer);
  }
  return std::string(text);
}

}  // namespace pf
