#pragma once
// Text helpers over UTF-8 strings with the platform's string semantics: lengths and ranges count
// UTF-16 units, comparisons and searches take the platform's options (case-insensitive, numeric,
// anchored, backwards), trimming uses the platform's white-space set, and the legacy
// percent-escaping and ASCII transliteration of the platform are reproduced.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pf {

// A range of UTF-16 units, as the platform reports ranges in texts.
struct TextRange {
  std::size_t location = 0;
  std::size_t length = 0;
  bool operator==(const TextRange&) const = default;
};

// --- UTF-8 and UTF-16 --------------------------------------------------------------------------

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool isValidUtf8(std::string_view bytes);
// The longest start of `text` of at most `limit` bytes that does not end inside a UTF-8 sequence.
std::string_view utf8Prefix(std::string_view text, std::size_t limit);

// Decodes one code point at `pos` and advances it; malformed bytes give U+FFFD and advance by one.
char32_t decodeUtf8(std::string_view text, std::size_t& pos);
// Appends the UTF-8 form of a code point (surrogates and values above U+10FFFF become U+FFFD).
void appendUtf8(std::string& out, char32_t codePoint);

// The text as UTF-16 units (malformed UTF-8 bytes become U+FFFD).
std::u16string toUtf16(std::string_view text);
// UTF-16 units back to UTF-8 (an unpaired surrogate becomes U+FFFD).
std::string fromUtf16(std::u16string_view units);

// Number of UTF-16 units: the platform's string length.
std::size_t utf16Length(std::string_view text);
// The part of the text covering the given UTF-16 units (clamped to the text); a range that cuts
// a surrogate pair keeps the whole character.
std::string utf16Substring(std::string_view text, TextRange range);
// UTF-16 offset of a byte offset, and back (clamped to the text).
std::size_t utf16Offset(std::string_view text, std::size_t byteOffset);
std::size_t byteOffset(std::string_view text, std::size_t utf16Offset);

// --- Comparison and search ---------------------------------------------------------------------

enum CompareOptions : unsigned {
  kCompareDefault = 0,
  kCaseInsensitive = 1,   // simple Unicode case folding
  kLiteral = 2,           // accepted for compatibility: comparisons are always literal here
  kBackwards = 4,         // search from the end
  kAnchored = 8,          // match only at the start (or the end when backwards)
  kNumeric = 64,          // runs of decimal digits compare by their numeric value
};
inline CompareOptions operator|(CompareOptions a, CompareOptions b) {
  return static_cast<CompareOptions>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

// -1, 0 or 1 (ascending, same, descending). Without options the order is that of UTF-16 units.
int compareText(std::string_view a, std::string_view b, CompareOptions options = kCompareDefault);
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The UTF-16 range of the first (or, backwards, last) occurrence, or nullopt. An empty needle
// is never found, as on the platform.
std::optional<TextRange> findText(std::string_view haystack, std::string_view needle,
                                  CompareOptions options = kCompareDefault);
bool containsText(std::string_view haystack, std::string_view needle, CompareOptions options = kCompareDefault);
bool hasPrefix(std::string_view text, std::string_view prefix);
bool hasSuffix(std::string_view text, std::string_view suffix);

// --- Case, trimming, splitting -----------------------------------------------------------------

std::string lowercaseText(std::string_view text);  // full Unicode mapping, root locale
std::string uppercaseText(std::string_view text);
// The text under simple Unicode case folding: the form in which texts equal ignoring case (as
// kCaseInsensitive compares them) are the same bytes.
std::string caseFoldedText(std::string_view text);
// The text case-folded as above and canonically decomposed (NFD) before and after: texts equal
// ignoring case and Unicode normalization ("é" as one character or as "e" and a combining accent)
// are the same bytes. Malformed UTF-8 bytes become U+FFFD.
std::string canonicalFoldedText(std::string_view text);

// The platform's white space and newline set: Unicode Z* categories, U+0009 to U+000D, U+0085.
bool isWhitespaceOrNewline(char32_t c);
bool isWhitespace(char32_t c);  // the platform's white space set: Zs and tab
std::string trimWhitespaceAndNewlines(std::string_view text);
std::string trimWhitespace(std::string_view text);

// Splits at every occurrence of the separator (empty parts kept, as the platform does).
std::vector<std::string> splitText(std::string_view text, std::string_view separator);
std::string joinText(const std::vector<std::string>& parts, std::string_view separator);
// Replaces every non-overlapping occurrence, left to right.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

// --- Escaping ----------------------------------------------------------------------------------

// The platform's legacy percent-escaping: every character that is not legal in a URL under
// RFC 2396 is escaped, except those in `leaveUnescaped`; the ASCII characters in `toEscape` are
// escaped as well. Each UTF-8 byte of an escaped character becomes "%XX" (upper case); a blank
// becomes "%20".
std::string addPercentEscapes(std::string_view text, std::string_view leaveUnescaped = {},
                              std::string_view toEscape = {});
// Decodes every "%XX"; nullopt when an escape is malformed or the result is not UTF-8.
std::optional<std::string> removePercentEscapes(std::string_view text);

// The text transliterated to ASCII ("Any-Latin; Latin-ASCII; [:^ASCII:] Remove"): accents
// dropped, other scripts romanised, whatever is left outside ASCII removed.
std::string transliterateToAscii(std::string_view text);

// --- Encodings ---------------------------------------------------------------------------------

// Text encodings with the platform's numbers.
using StringEncoding = unsigned long;
inline constexpr StringEncoding kASCIIStringEncoding = 1;
inline constexpr StringEncoding kUTF8StringEncoding = 4;
inline constexpr StringEncoding kISOLatin1StringEncoding = 5;
inline constexpr StringEncoding kUTF16StringEncoding = 10;
inline constexpr StringEncoding kWindowsCP1252StringEncoding = 12;
inline constexpr StringEncoding kGB18030StringEncoding = 0x80000632;

// The encoding of an IANA character-set name ("utf-8", "ISO-8859-1", ...), or 0 when unknown.
StringEncoding encodingForIANACharSetName(std::string_view name);
// Bytes in an encoding to UTF-8 text; nullopt when they do not decode, the encoding is unknown
// or the input is longer than a converter takes (2 GiB).
std::optional<std::string> decodeText(std::string_view bytes, StringEncoding encoding);
// UTF-8 text to bytes in an encoding; nullopt when a character cannot be represented (or as above).
std::optional<std::string> encodeText(std::string_view text, StringEncoding encoding);

// --- Text boundaries ---------------------------------------------------------------------------

// The words of the text by the locale's word boundaries (ICU; "" is the default locale):
// runs of letters, digits or ideographs, without the blanks and punctuation between them.
std::vector<std::string> textWords(std::string_view text, const char* locale = "");
// The first user-perceived character (grapheme cluster) of the text, "" for the empty text.
std::string firstComposedCharacter(std::string_view text);
// The text without its last user-perceived character ("" stays "").
std::string withoutLastComposedCharacter(std::string_view text);

}  // namespace pf
