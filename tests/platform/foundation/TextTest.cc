#include <gtest/gtest.h>

#include "platform/foundation/Text.h"

namespace pf {
namespace {

TEST(TextUtf16, LengthsAndRangesCountUtf16Units) {
  EXPECT_EQ(utf16Length("abc"), 3u);
  EXPECT_EQ(utf16Length("中文"), 2u);
  EXPECT_EQ(utf16Length("a\U0001F600b"), 4u);
  EXPECT_EQ(utf16Substring("a\U0001F600b中", {1, 2}), "\U0001F600");
  EXPECT_EQ(utf16Substring("a\U0001F600b中", {3, 10}), "b中");
  EXPECT_EQ(utf16Substring("abc", {5, 1}), "");
  EXPECT_EQ(fromUtf16(toUtf16("x\U0001F600中")), "x\U0001F600中");
  EXPECT_EQ(fromUtf16(u"\xD800x"), "\uFFFDx");
}

TEST(TextUtf8, ValidityRejectsMalformedSequences) {
  EXPECT_TRUE(isValidUtf8("plain \xE4\xB8\xAD \xF0\x9F\x98\x80 \xEF\xBF\xBD"));
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xB8", "\x80", "\xFF"})
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
}

TEST(TextUtf8, PrefixesNeverEndInsideASequence) {
  const std::string text = "ab\xE4\xB8\xAD\xF0\x9F\x98\x80";  // a, b, a 3-byte and a 4-byte character
  EXPECT_EQ(utf8Prefix(text, 100), text);
  EXPECT_EQ(utf8Prefix(text, 5), "ab\xE4\xB8\xAD");
  EXPECT_EQ(utf8Prefix(text, 4), "ab");
  EXPECT_EQ(utf8Prefix(text, 8), "ab\xE4\xB8\xAD");
  EXPECT_EQ(utf8Prefix(text, 0), "");
}

TEST(TextCompare, LiteralCaseInsensitiveAndNumeric) {
  EXPECT_LT(compareText("B", "a"), 0);  // code-unit order: upper case first
  EXPECT_EQ(compareText("abc", "ABC", kCaseInsensitive), 0);
  EXPECT_EQ(compareText("Straße", "STRASSE", kCaseInsensitive), 1);  // simple folding only
  EXPECT_GT(compareText("10.0", "8.0", kNumeric), 0);
  EXPECT_LT(compareText("10.0", "8.0"), 0);
  EXPECT_LT(compareText("7.1.2", "7.10", kNumeric), 0);
  EXPECT_LT(compareText("8.0", "8.10", kNumeric), 0);
  EXPECT_EQ(compareText("file007", "file7", kNumeric), 0);
  EXPECT_LT(compareText("v2", "V10", kNumeric | kCaseInsensitive), 0);
  EXPECT_LT(compareText("ab", "abc"), 0);
  // A supplementary character sorts below U+FFxx, as its surrogates do.
  EXPECT_LT(compareText("\U0001F600", "\uFF01"), 0);
  EXPECT_TRUE(equalsIgnoringCase("GeT", "get"));
  // Equal ignoring case and normalization: composed or not, a sign or its letter.
  EXPECT_EQ(canonicalFoldedText("Caf\u00e9"), canonicalFoldedText("CAFE\u0301"));
  EXPECT_EQ(canonicalFoldedText("\u212B"), canonicalFoldedText("a\u030A"));
  EXPECT_NE(canonicalFoldedText("cafe"), canonicalFoldedText("caf\u00e9"));
  EXPECT_EQ(canonicalFoldedText("ABC"), "abc");
  // ASCII folds as ICU lowercases it, amid other text too.
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
  EXPECT_EQ(caseFoldedText(ascii + "\u00C9\u0130"), lowercaseText(ascii) + "\u00E9\u0130");
}

TEST(TextSearch, RangesAndOptions) {
  EXPECT_EQ(findText("Hello world hello", "hello"), (TextRange{12, 5}));
  EXPECT_EQ(findText("Hello world hello", "HELLO", kCaseInsensitive), (TextRange{0, 5}));
  EXPECT_EQ(findText("Hello world hello", "hello", kCaseInsensitive | kBackwards), (TextRange{12, 5}));
  EXPECT_EQ(findText("中\U0001F600abc", "ab"), (TextRange{3, 2}));
  EXPECT_FALSE(findText("abc", ""));
  EXPECT_FALSE(findText("abc", "bc", kAnchored));
  EXPECT_EQ(findText("abc", "bc", kAnchored | kBackwards), (TextRange{1, 2}));
  EXPECT_TRUE(containsText("EURUSD", "usd", kCaseInsensitive));
  EXPECT_TRUE(hasPrefix("https://x", "https"));
  EXPECT_FALSE(hasPrefix("abc", ""));
  EXPECT_TRUE(hasSuffix("menu.xml", ".xml"));
}

TEST(TextTrim, WhiteSpaceAndNewlineSets) {
  EXPECT_EQ(trimWhitespaceAndNewlines(" \t\r\n\u3000 a b \u2028\u0085"), "a b");
  EXPECT_EQ(trimWhitespace(" \ta b\n "), "a b\n");
  EXPECT_EQ(trimWhitespaceAndNewlines("  "), "");
  EXPECT_EQ(lowercaseText("ÀB"), "àb");
  EXPECT_EQ(uppercaseText("straße"), "STRASSE");
}

TEST(TextSplit, KeepsEmptyParts) {
  EXPECT_EQ(splitText("a,,b,", ","), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(splitText("abc", ""), std::vector<std::string>{"abc"});
  EXPECT_EQ(joinText({"x", "y"}, "/"), "x/y");
  EXPECT_EQ(replaceAll("a//b//c", "//", "/"), "a/b/c");
}

TEST(TextEscape, LegacyPercentEscaping) {
  const std::string toEscape = ":/?&=;+!@#$()',*";
  // Query values keep letters, digits and "-_.~" only.
  EXPECT_EQ(addPercentEscapes("a/b?c", "", toEscape), "a%2Fb%3Fc");
  EXPECT_EQ(addPercentEscapes("~x_y-z.w", "", toEscape), "~x_y-z.w");
  EXPECT_EQ(addPercentEscapes("x y", "", toEscape), "x%20y");
  EXPECT_EQ(addPercentEscapes("[x]", "", toEscape), "%5Bx%5D");
  EXPECT_EQ(addPercentEscapes("100%", "", toEscape), "100%25");
  EXPECT_EQ(addPercentEscapes("中", "", toEscape), "%E4%B8%AD");
  // Query keys also keep "[", "]" and ".".
  EXPECT_EQ(addPercentEscapes("k[x]", "[].", toEscape), "k[x]");
  EXPECT_EQ(addPercentEscapes("k:1", "[].", toEscape), "k%3A1");
  // Without extra characters the reserved set of URLs stays as it is.
  EXPECT_EQ(addPercentEscapes("http://h/p?a=1&b=#f"), "http://h/p?a=1&b=#f");
  EXPECT_EQ(addPercentEscapes("a\"b<c>{}|\\^`"), "a%22b%3Cc%3E%7B%7D%7C%5C%5E%60");
  EXPECT_EQ(removePercentEscapes("a%2Fb%E4%b8%AD+"), "a/b中+");
  EXPECT_FALSE(removePercentEscapes("%4"));
  EXPECT_FALSE(removePercentEscapes("%zz"));
  EXPECT_FALSE(removePercentEscapes("%FF"));
}

TEST(TextTransliterate, ToAscii) {
  EXPECT_EQ(transliterateToAscii("Crème brûlée"), "Creme brulee");
  EXPECT_EQ(transliterateToAscii("plain"), "plain");
  std::string romanised = transliterateToAscii("中文App");
  EXPECT_FALSE(romanised.empty());
  for (char c : romanised) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
  EXPECT_NE(romanised.find("App"), std::string::npos);
  EXPECT_EQ(transliterateToAscii("\U0001F600x"), "x");
}

}  // namespace
}  // namespace pf
