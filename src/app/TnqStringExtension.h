#pragma once
// The app's text and dictionary helpers: digests, Base64, query strings and URL encoding,
// validation by regular expression, text measures and AES-128 texts. Texts are UTF-8; lengths
// and indexes count UTF-16 units; nil is std::nullopt. Every function runs on any thread.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"

namespace app::TnqExtension {

// --- Digests and Base64 ------------------------------------------------------------------------

std::string tnqMD5String(std::string_view text);   // 32 upper-case hexadecimal digits
pf::Bytes tnqMD5Data(std::string_view text);
std::string tnqSHA1String(std::string_view text);  // 40 upper-case hexadecimal digits
pf::Bytes tnqSHA1Data(std::string_view text);
// Base64 with white space and "=" skipped anywhere; nullopt for another character outside the
// alphabet, a last group of one character, or bytes that are not UTF-8.
std::optional<std::string> tnqBASE64Decrypted(std::string_view text);
// Strict Base64 (no white space), as UTF-8 text.
std::optional<std::string> tnqBASE64Decrypted2(std::string_view text);

// --- Addresses, queries and URL encoding -------------------------------------------------------

// Every address starting "http://" or "https://" (any case), each running to the next blank,
// tab or line break.
std::vector<std::string> tnqAllURLs(std::string_view text);

// "key=value" pairs joined by "&", in the dictionary's order; values URL-encoded when asked.
std::string tnqQueryStringFromDictionary(const pf::Value& dictionary, bool encoding = true);
// The array read as key, value, key, value...: numbers (booleans among them, as 1 and 0) become
// their text, pairs holding another type are skipped.
std::string tnqQueryStringFromArray(const pf::Value& array, bool encoding = true);
// Keys and values in turn, up to the first missing one, as a dictionary's query string.
std::string tnqQueryStringFromKeyValue(const std::vector<std::optional<std::string>>& keyValues);

// The URL followed by "&" (it has a query) or "?" and the query string; a "#fragment" stays last.
std::string tnqURLByAppendingDictionary(std::string_view url, const pf::Value& dictionary, bool encoding = true);
std::string tnqURLByAppendingArray(std::string_view url, const pf::Value& array, bool encoding = false);
std::string tnqURLByAppendingKeyValues(std::string_view url, const std::vector<std::optional<std::string>>& keyValues);

// Percent-encoding of the UTF-8 bytes, "!*'();:@&=+$,/?#[]" escaped as well.
std::string tnqURLEncoding(std::string_view text);
// "+" to blank, then percent escapes decoded; nullopt for a malformed escape or non-UTF-8 result.
std::optional<std::string> tnqURLDecoding(std::string_view text);
// {key: [values in order]} of "key=value" parts split at "&" (a value is everything after the
// first "="; parts without "=" are dropped); nothing is decoded.
pf::Value tnqDictionaryFromQueryComponents(std::string_view text);

// --- Comparisons and shaping -------------------------------------------------------------------

inline bool tnqEmpty(std::string_view text) { return text.empty(); }
inline bool tnqNotEmpty(std::string_view text) { return !text.empty(); }
inline bool tnqEq(std::string_view a, std::string_view b) { return a == b; }
inline bool tnqEqual(std::string_view a, std::string_view b) { return a == b; }
// Whether some string element of the array equals the text (case-blind when asked).
bool tnqIsValueOf(std::string_view text, const pf::Value& array, bool caseInsens = false);
// Whether some element equals the text without regard to case.
bool tnqMatchAnyOf(std::string_view text, const pf::Value& array);

std::string tnqTrim(std::string_view text);
// Quotes (both double or both single) removed from both ends, level by level.
std::string tnqUnWrap(std::string_view text);
std::string tnqRepeat(std::string_view text, std::size_t count);
// Every "//" replaced by "/" in one pass.
std::string tnqNormalize(std::string_view text);

// The part from the UTF-16 index up to the first character of the set (case-blind), or the end;
// `endOffset` receives the index just after the found character, or the text's length. nullopt
// for an empty text or an index at or past its end.
std::optional<std::string> tnqSubStringFromIndex(std::string_view text, std::size_t index, std::string_view charset,
                                                 std::size_t* endOffset = nullptr);

// --- Validation --------------------------------------------------------------------------------

bool tnqIsNormal(std::string_view text);
bool tnqIsUserName(std::string_view text);
bool tnqIsChineseUserName(std::string_view text);
bool tnqIsEmail(std::string_view text);
bool tnqIsURL(std::string_view text);
bool tnqIsTelephone(std::string_view text);
bool tnqIsTelephone2(std::string_view text);
bool tnqIsNickname(std::string_view text);
// Four non-empty parts of decimal digits, each below 256.
bool tnqIsIPAddress(std::string_view text);
bool tnqIsHasCharacterAndNumber(std::string_view text);
// Whether the pattern (case-blind) matches somewhere; false for a pattern that does not compile.
bool tnqMatch(std::string_view text, std::string_view pattern);

// --- Measures and conversions ------------------------------------------------------------------

// The number of non-zero bytes of the UTF-16 form (Latin letters 1, most Chinese characters 2).
std::size_t tnqGetLength(std::string_view text);
// The length in GB 18030 bytes (0 when the text does not convert).
std::size_t tnqGetLength2(std::string_view text);
// Backslash-u (or -U) escapes of four hexadecimal digits turned into characters (surrogate pairs
// joined, a lone surrogate U+FFFD), everything else kept; then backslash-r-backslash-n becomes
// backslash-n.
std::string tnqReplaceUnicode(std::string_view text);
// Overwrites every byte of the text's storage with zeros (the length stays).
void tnq_erasure(std::string& text);
// The first character of every word, by the locale's word boundaries.
std::string tnqStringByInitials(std::string_view text);
// The wrapped size within the maximum, rounded up; the zero size below system version 7.0.
pf::Size tnqCalculateSize(std::string_view text, pf::Size maxSize, const pf::Font& font);
// 2 s + 0.1 s a character.
double tnqDisplayTime(std::string_view text);

// The contents of the main bundle's resource "name.ext" as UTF-8 text.
std::optional<std::string> tnqFromResouce(std::string_view fileName);

// --- AES-128 texts (fixed forms shared with the server; no integrity: use for nothing new) -----

// A key of exactly 16 characters.
bool validKey(const std::optional<std::string>& key);
// ECB, PKCS#7, the key's first 16 UTF-8 bytes; Base64 of the cipher text.
std::optional<std::string> encryptToAES128(std::string_view text, const std::optional<std::string>& key);
std::optional<std::string> decryptAES128(std::string_view text, const std::optional<std::string>& key);

// --- Dictionaries ------------------------------------------------------------------------------

// The dictionary as pretty-printed JSON, U+2028 and U+2029 escaped (the text runs as script).
std::optional<std::string> changeToString(const pf::Value& dictionary);

}  // namespace app::TnqExtension
