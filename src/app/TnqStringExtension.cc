#include "app/TnqStringExtension.h"

#include <openssl/crypto.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "app/FileController.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/RegularExpression.h"
#include "platform/foundation/Text.h"
#include "platform/security/Cipher.h"
#include "platform/security/Digest.h"
#include "platform/ui/Screen.h"

namespace app::TnqExtension {
namespace {

std::optional<std::string> utf8Text(pf::Bytes bytes) {
  std::string text(bytes.begin(), bytes.end());
  if (!pf::isValidUtf8(text)) return std::nullopt;
  return text;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A compiled pattern, kept for the program's life.
class Pattern {
 public:
  explicit Pattern(std::string_view source, unsigned options = pf::RegularExpression::kNoOptions)
      : re_(pf::RegularExpression::make(source, options)) {}
  bool whole(std::string_view text) const { return re_ && re_->matchesWhole(text); }

 private:
  std::shared_ptr<const pf::RegularExpression> re_;
};

// The query-string text of a value: a string itself, a number its text.
std::string queryText(const pf::Value& value) { return pf::stringValue(value); }

std::string queryPair(const std::string& key, const std::string& value, bool encoding) {
  return key + "=" + (encoding ? tnqURLEncoding(value) : value);
}

pf::Value dictionaryOfKeyValues(const std::vector<std::optional<std::string>>& keyValues) {
  pf::Value dictionary = pf::Value::object();
  for (std::size_t i = 0; i + 1 < keyValues.size(); i += 2) {
    if (!keyValues[i] || !keyValues[i + 1]) break;
    dictionary[*keyValues[i]] = *keyValues[i + 1];
  }
  return dictionary;
}

std::string appendQuery(std::string_view url, const std::string& query) {
  std::size_t hash = url.find('#');
  std::string_view head = url.substr(0, hash);
  std::string out(head);
  out += head.find('?') != std::string_view::npos ? "&" : "?";
  out += query;
  if (hash != std::string_view::npos) out += url.substr(hash);
  return out;
}

bool anyWhole(std::string_view text, const std::vector<Pattern>& patterns) {
  return std::any_of(patterns.begin(), patterns.end(), [&](const Pattern& p) { return p.whole(text); });
}


}  // namespace

std::string tnqMD5String(std::string_view text) { return pf::hexEncode(pf::md5(text), true); }
pf::Bytes tnqMD5Data(std::string_view text) { return pf::md5(text); }
std::string tnqSHA1String(std::string_view text) { return pf::hexEncode(pf::sha1(text), true); }
pf::Bytes tnqSHA1Data(std::string_view text) { return pf::sha1(text); }

std::optional<std::string> tnqBASE64Decrypted(std::string_view text) {
  auto bytes = pf::base64DecodeSkippingWhitespace(text);
  if (!bytes) return std::nullopt;
  return utf8Text(std::move(*bytes));
}

std::optional<std::string> tnqBASE64Decrypted2(std::string_view text) {
  auto bytes = pf::base64DecodeStrict(text);
  if (!bytes) return std::nullopt;
  return utf8Text(std::move(*bytes));
}

std::vector<std::string> tnqAllURLs(std::string_view text) {
  std::string lowered(text);
  for (auto& c : lowered)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  std::vector<std::string> urls;
  std::size_t from = 0;
  while (from < lowered.size()) {
    std::size_t plain = lowered.find("http://", from), secure = lowered.find("https://", from);
    std::size_t start = std::min(plain, secure);
    if (start == std::string::npos) break;
    std::size_t end = lowered.find_first_of(" \t\r\n", start);
    if (end == std::string::npos) end = lowered.size();
    urls.emplace_back(text.substr(start, end - start));
    from = end;
  }
  return urls;
}

std::string tnqQueryStringFromDictionary(const pf::Value& dictionary, bool encoding) {
  std::vector<std::string> pairs;
  if (dictionary.is_object())
    for (const auto& [key, value] : dictionary.items()) pairs.push_back(queryPair(key, queryText(value), encoding));
  return pf::joinText(pairs, "&");
}

std::string tnqQueryStringFromArray(const pf::Value& array, bool encoding) {
  std::vector<std::string> pairs;
  if (!array.is_array()) return {};
  // The platform's numbers include its booleans (written 1 and 0).
  auto usable = [](const pf::Value& v) { return v.is_string() || v.is_number() || v.is_boolean(); };
  for (std::size_t i = 0; i + 1 < array.size(); i += 2) {
    const pf::Value& key = array[i];
    const pf::Value& value = array[i + 1];
    if (!usable(key) || !usable(value)) continue;
    pairs.push_back(queryPair(queryText(key), queryText(value), encoding));
  }
  return pf::joinText(pairs, "&");
}

std::string tnqQueryStringFromKeyValue(const std::vector<std::optional<std::string>>& keyValues) {
  return tnqQueryStringFromDictionary(dictionaryOfKeyValues(keyValues));
}

std::string tnqURLByAppendingDictionary(std::string_view url, const pf::Value& dictionary, bool encoding) {
  return appendQuery(url, tnqQueryStringFromDictionary(dictionary, encoding));
}

std::string tnqURLByAppendingArray(std::string_view url, const pf::Value& array, bool encoding) {
  return appendQuery(url, tnqQueryStringFromArray(array, encoding));
}

std::string tnqURLByAppendingKeyValues(std::string_view url, const std::vector<std::optional<std::string>>& keyValues) {
  return tnqURLByAppendingDictionary(url, dictionaryOfKeyValues(keyValues));
}

std::string tnqURLEncoding(std::string_view text) { return pf::addPercentEscapes(text, {}, "!*'();:@&=+$,/?#[]"); }

std::optional<std::string> tnqURLDecoding(std::string_view text) {
  return pf::removePercentEscapes(pf::replaceAll(text, "+", " "));
}

pf::Value tnqDictionaryFromQueryComponents(std::string_view text) {
  pf::Value result = pf::Value::object();
  for (const auto& part : pf::splitText(text, "&")) {
    std::size_t eq = part.find('=');
    if (eq == std::string::npos) continue;
    pf::Value& values = result[part.substr(0, eq)];
    if (!values.is_array()) values = pf::Value::array();
    values.push_back(part.substr(eq + 1));
  }
  return result;
}

bool tnqIsValueOf(std::string_view text, const pf::Value& array, bool caseInsens) {
  if (!array.is_array()) return false;
  return std::any_of(array.begin(), array.end(), [&](const pf::Value& v) {
    if (!v.is_string()) return false;
    const auto& s = v.get_ref<const std::string&>();
    return caseInsens ? pf::equalsIgnoringCase(s, text) : s == text;
  });
}

bool tnqMatchAnyOf(std::string_view text, const pf::Value& array) { return tnqIsValueOf(text, array, true); }

std::string tnqTrim(std::string_view text) { return pf::trimWhitespaceAndNewlines(text); }

std::string tnqUnWrap(std::string_view text) {
  while (text.size() >= 2 && ((text.front() == '"' && text.back() == '"') || (text.front() == '\'' && text.back() == '\'')))
    text = text.substr(1, text.size() - 2);
  return std::string(text);
}

std::string tnqRepeat(std::string_view text, std::size_t count) {
  std::string out;
  out.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i) out += text;
  return out;
}

std::string tnqNormalize(std::string_view text) { return pf::replaceAll(text, "//", "/"); }

std::optional<std::string> tnqSubStringFromIndex(std::string_view text, std::size_t index, std::string_view charset,
                                                 std::size_t* endOffset) {
  std::size_t length = pf::utf16Length(text);
  if (text.empty() || index >= length) return std::nullopt;
  auto folded = [](char32_t c) { return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT)); };
  std::vector<char32_t> set;
  for (std::size_t pos = 0; pos < charset.size();) set.push_back(folded(pf::decodeUtf8(charset, pos)));
  std::size_t start = pf::byteOffset(text, index);
  for (std::size_t pos = start; pos < text.size();) {
    std::size_t at = pos;
    char32_t c = folded(pf::decodeUtf8(text, pos));
    if (std::find(set.begin(), set.end(), c) != set.end()) {
      if (endOffset) *endOffset = pf::utf16Offset(text, pos);
      return std::string(text.substr(start, at - start));
    }
  }
  if (endOffset) *endOffset = length;
  return std::string(text.substr(start));
}

bool tnqIsNormal(std::string_view text) {
  static const Pattern p("([^%&',;=!~?$]+)");
  return p.whole(text);
}

bool tnqIsUserName(std::string_view text) {
  static const Pattern p("(^[A-Za-z0-9]{3,20}$)");
  return p.whole(text);
}

bool tnqIsChineseUserName(std::string_view text) {
  static const Pattern p("(^[A-Za-z0-9\u4e00-\u9fa5]{3,20}$)");
  return p.whole(text);
}

bool tnqIsEmail(std::string_view text) {
  static const Pattern p("[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,4}");
  return p.whole(text);
}

bool tnqIsURL(std::string_view text) {
  static const Pattern p("http(s)?:\\/\\/([\\w-]+\\.)+[\\w-]+(\\/[\\w- .\\/?%&=]*)?");
  return p.whole(text);
}

bool tnqIsTelephone(std::string_view text) {
  static const std::vector<Pattern> patterns = [] {
    std::vector<Pattern> v;
    for (const char* source : {"^1(3[0-9]|5[0-35-9]|8[025-9])\\d{8}$", "^0(10|2[0-5789]|\\d{3})\\d{7,8}$",
                               "^1((33|53|8[09])[0-9]|349)\\d{7}$", "^1(3[0-2]|5[256]|8[56])\\d{8}$",
                               "^1(34[0-8]|(3[5-9]|5[017-9]|8[278])\\d)\\d{7}$"})
      v.emplace_back(source);
    return v;
  }();
  return anyWhole(text, patterns);
}

bool tnqIsTelephone2(std::string_view text) {
  static const std::vector<Pattern> patterns = [] {
    std::vector<Pattern> v;
    for (const char* source : {"^(130|131|132|133|185|186|156|155)[0-9]{8}",
                               "^(134|135|136|137|138|139|147|150|151|152|157|158|159|182|187|188)[0-9]{8}",
                               "^(133|153|180|181|189)[0-9]{8}"})
      v.emplace_back(source);
    return v;
  }();
  return anyWhole(text, patterns);
}

bool tnqIsNickname(std::string_view text) {
  static const Pattern p("^[a-zA-Z0-9_\u4e00-\u9fff-]{1,12}+$");
  return p.whole(text);
}

bool tnqIsIPAddress(std::string_view text) {
  auto parts = pf::splitText(text, ".");
  if (parts.size() != 4) return false;
  for (const auto& part : parts) {
    if (part.empty()) return false;
    unsigned value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      value = std::min(value * 10 + static_cast<unsigned>(c - '0'), 256u);
    }
    if (value >= 256) return false;
  }
  return true;
}

bool tnqIsHasCharacterAndNumber(std::string_view text) {
  bool digit = false, letter = false;
  for (std::size_t pos = 0; pos < text.size() && !(digit && letter);) {
    char32_t c = pf::decodeUtf8(text, pos);
    if (u_isdigit(static_cast<UChar32>(c))) digit = true;
    else if (u_isalpha(static_cast<UChar32>(c))) letter = true;
  }
  return digit && letter;
}

bool tnqMatch(std::string_view text, std::string_view pattern) {
  auto re = pf::RegularExpression::make(pattern, pf::RegularExpression::kCaseInsensitive);
  return re && re->find(text);
}

std::size_t tnqGetLength(std::string_view text) {
  std::size_t count = 0;
  for (char16_t unit : pf::toUtf16(text)) count += ((unit & 0xFF) != 0) + ((unit >> 8) != 0);
  return count;
}

std::size_t tnqGetLength2(std::string_view text) {
  auto bytes = pf::encodeText(text, pf::kGB18030StringEncoding);
  return bytes ? bytes->size() : 0;
}

std::string tnqReplaceUnicode(std::string_view text) {
  std::u16string units;
  auto hex4 = [&](std::size_t at) -> int {
    if (at + 6 > text.size() || text[at] != '\\' || (text[at + 1] != 'u' && text[at + 1] != 'U')) return -1;
    int value = 0;
    for (std::size_t i = at + 2; i < at + 6; ++i) {
      int d = pf::hexDigit(text[i]);
      if (d < 0) return -1;
      value = value * 16 + d;
    }
    return value;
  };
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    int unit = hex4(i);
    if (unit < 0) {
      out.push_back(text[i++]);
      continue;
    }
    i += 6;
    char32_t c = static_cast<char32_t>(unit);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      int low = hex4(i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
        i += 6;
      } else {
        c = 0xFFFD;
      }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      c = 0xFFFD;
    }
    pf::appendUtf8(out, c);
  }
  return pf::replaceAll(out, "\\r\\n", "\\n");
}

void tnq_erasure(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
}

std::string tnqStringByInitials(std::string_view text) {
  std::string initials;
  for (const auto& word : pf::textWords(text)) initials += pf::firstComposedCharacter(word);
  return initials;
}

pf::Size tnqCalculateSize(std::string_view text, pf::Size maxSize, const pf::Font& font) {
  if (pf::Device::current()->systemVersionBelow("7.0")) return {};
  return pf::text::boundingSize(std::string(text), font, maxSize, pf::LineBreakMode::WordWrap);
}

double tnqDisplayTime(std::string_view text) {
  return std::max(2.0, 2.0 + 0.1 * static_cast<double>(pf::utf16Length(text)));
}

std::optional<std::string> tnqFromResouce(std::string_view fileName) {
  auto path = FileController::resPath(fileName);
  if (!path) return std::nullopt;
  auto bytes = pf::FileManager::readFile(*path);
  if (!bytes) return std::nullopt;
  return utf8Text(std::move(*bytes));
}

bool validKey(const std::optional<std::string>& key) { return key && pf::utf16Length(*key) == 16; }

namespace {

constexpr pf::CipherSpec kAes128Ecb{pf::CipherAlgorithm::Aes, pf::CipherMode::Ecb, pf::CipherPadding::Pkcs7};

std::span<const std::uint8_t> aes128Key(const std::string& key) { return bytesOf(std::string_view(key).substr(0, 16)); }

}  // namespace

std::optional<std::string> encryptToAES128(std::string_view text, const std::optional<std::string>& key) {
  if (!validKey(key)) return std::nullopt;
  auto cipher = pf::encrypt(kAes128Ecb, aes128Key(*key), {}, bytesOf(text));
  if (!cipher) return std::nullopt;
  return pf::base64Encode(*cipher);
}

std::optional<std::string> decryptAES128(std::string_view text, const std::optional<std::string>& key) {
  if (!validKey(key)) return std::nullopt;
  auto cipher = pf::base64DecodeStrict(text);
  if (!cipher) return std::nullopt;
  auto plain = pf::decrypt(kAes128Ecb, aes128Key(*key), {}, *cipher);
  if (!plain) return std::nullopt;
  return utf8Text(std::move(*plain));
}

std::optional<std::string> changeToString(const pf::Value& dictionary) {
  pf::JsonWriteOptions options;
  options.pretty = true;
  options.escapeLineSeparators = true;
  return pf::writeJson(dictionary, options);
}

}  // namespace app::TnqExtension
