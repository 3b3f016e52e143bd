// Encodings and text boundaries of pf::Text, over ICU converters and break iterators.

#include <unicode/ubrk.h>
#include <unicode/ucnv.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>

#include "platform/foundation/Text.h"

namespace pf {
namespace {

struct EncodingEntry {
  StringEncoding encoding;
  const char* converter;  // ICU converter name
};

constexpr EncodingEntry kEncodings[] = {
    {kASCIIStringEncoding, "US-ASCII"},       {kUTF8StringEncoding, "UTF-8"},
    {kISOLatin1StringEncoding, "ISO-8859-1"}, {kUTF16StringEncoding, "UTF-16"},
    {kWindowsCP1252StringEncoding, "windows-1252"}, {kGB18030StringEncoding, "GB18030"},
    {3, "EUC-JP"}, {8, "Shift_JIS"}, {0x80000940, "EUC-KR"}, {0x80000A03, "Big5"},
};

const char* converterName(StringEncoding encoding) {
  for (const auto& entry : kEncodings)
    if (entry.encoding == encoding) return entry.converter;
  return nullptr;
}

// ICU converters count in int32_t: four bytes out per byte in is the widest expansion here.
constexpr std::size_t kMaxConvertBytes = INT32_MAX / 4 - 16;

// Through UTF-16 with the converters' stop callbacks: a byte sequence that does not decode, or a
// character the target cannot represent, fails the whole conversion (never a substitute).
std::optional<std::string> convert(std::string_view bytes, const char* to, const char* from) {
  if (!to || !from) return std::nullopt;
  if (bytes.empty()) return std::string();
  if (bytes.size() > kMaxConvertBytes) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, void (*)(UConverter*)> source(ucnv_open(from, &status), ucnv_close);
  std::unique_ptr<UConverter, void (*)(UConverter*)> target(ucnv_open(to, &status), ucnv_close);
  if (U_FAILURE(status)) return std::nullopt;
  ucnv_setToUCallBack(source.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(target.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  if (U_FAILURE(status)) return std::nullopt;
  std::u16string units(bytes.size() + 1, u'\0');  // never more UTF-16 units than bytes
  int32_t n = ucnv_toUChars(source.get(), reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()),
                            bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  units.resize(static_cast<std::size_t>(n));
  std::string out(units.size() * 4 + 16, '\0');
  n = ucnv_fromUChars(target.get(), out.data(), static_cast<int32_t>(out.size()),
                      reinterpret_cast<const UChar*>(units.data()), static_cast<int32_t>(units.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(n));
  return out;
}

bool isAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

using BreakIterator = std::unique_ptr<UBreakIterator, void (*)(UBreakIterator*)>;

BreakIterator openBreaks(UBreakIteratorType type, const char* locale, const std::u16string& units) {
  UErrorCode status = U_ZERO_ERROR;
  UBreakIterator* it = ubrk_open(type, locale, reinterpret_cast<const UChar*>(units.data()),
                                 static_cast<int32_t>(units.size()), &status);
  if (U_FAILURE(status)) {
    if (it) ubrk_close(it);
    it = nullptr;
  }
  return BreakIterator(it, ubrk_close);
}

}  // namespace

StringEncoding encodingForIANACharSetName(std::string_view name) {
  if (name.empty()) return 0;
  std::string lowered(name);
  for (auto& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lowered == "utf-8" || lowered == "utf8") return kUTF8StringEncoding;
  UErrorCode status = U_ZERO_ERROR;
  const char* canonical = ucnv_getCanonicalName(lowered.c_str(), "IANA", &status);
  if (U_FAILURE(status) || !canonical) {
    status = U_ZERO_ERROR;
    canonical = ucnv_getAlias(lowered.c_str(), 0, &status);
    if (U_FAILURE(status) || !canonical) return 0;
  }
  for (const auto& entry : kEncodings) {
    UErrorCode st = U_ZERO_ERROR;
    if (ucnv_compareNames(ucnv_getAlias(entry.converter, 0, &st), canonical) == 0) return entry.encoding;
  }
  return 0;
}

std::optional<std::string> decodeText(std::string_view bytes, StringEncoding encoding) {
  if (encoding == kUTF8StringEncoding) {
    if (!isValidUtf8(bytes)) return std::nullopt;
    return std::string(bytes);
  }
  if (encoding == kASCIIStringEncoding) {
    if (!isAscii(bytes)) return std::nullopt;
    return std::string(bytes);
  }
  return convert(bytes, "UTF-8", converterName(encoding));
}

std::optional<std::string> encodeText(std::string_view text, StringEncoding encoding) {
  if (encoding == kUTF8StringEncoding) return std::string(text);
  if (encoding == kASCIIStringEncoding) {
    if (!isAscii(text)) return std::nullopt;
    return std::string(text);
  }
  return convert(text, converterName(encoding), "UTF-8");
}

std::vector<std::string> textWords(std::string_view text, const char* locale) {
  std::vector<std::string> words;
  if (text.empty() || text.size() > kMaxConvertBytes) return words;
  std::u16string units = toUtf16(text);
  BreakIterator it = openBreaks(UBRK_WORD, locale, units);
  if (!it) return words;
  int32_t start = ubrk_first(it.get());
  for (int32_t end = ubrk_next(it.get()); end != UBRK_DONE; start = end, end = ubrk_next(it.get())) {
    if (ubrk_getRuleStatus(it.get()) == UBRK_WORD_NONE) continue;  // blanks and punctuation
    words.push_back(fromUtf16(std::u16string_view(units).substr(static_cast<std::size_t>(start),
                                                                 static_cast<std::size_t>(end - start))));
  }
  return words;
}

std::string firstComposedCharacter(std::string_view text) {
  if (text.empty() || text.size() > kMaxConvertBytes) return {};
  std::u16string units = toUtf16(text);
  BreakIterator it = openBreaks(UBRK_CHARACTER, "", units);
  if (!it) return {};
  ubrk_first(it.get());
  int32_t end = ubrk_next(it.get());
  if (end == UBRK_DONE) return {};
  return fromUtf16(std::u16string_view(units).substr(0, static_cast<std::size_t>(end)));
}

}  // namespace pf
