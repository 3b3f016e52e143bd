#include <gtest/gtest.h>

#include <cmath>

#include "app/TnqStringExtension.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Json.h"
#include "platform/ui/Screen.h"
#include "support/TestSupport.h"

namespace app::TnqExtension {
namespace {

using pf::Value;

TEST(TnqDigests, UpperCaseHexAndRawBytes) {
  EXPECT_EQ(tnqMD5String("abc"), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(tnqMD5Data("abc").size(), 16u);
  EXPECT_EQ(tnqSHA1String("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(tnqSHA1Data("abc").size(), 20u);
  EXPECT_EQ(tnqMD5String("中"), "AED1DFBC31703955E64806B799B67645");
}

TEST(TnqBase64, OwnReaderSkipsWhiteSpaceStrictReaderDoesNot) {
  EXPECT_EQ(tnqBASE64Decrypted("5Lit\n5paH ="), "中文");
  EXPECT_EQ(tnqBASE64Decrypted(""), "");
  EXPECT_EQ(tnqBASE64Decrypted("QUJD\r\nR"), std::nullopt);  // a last group of one
  EXPECT_EQ(tnqBASE64Decrypted("QU*J"), std::nullopt);
  EXPECT_EQ(tnqBASE64Decrypted("5Lit5p\xC3\xA9"), std::nullopt);  // not ASCII
  EXPECT_EQ(tnqBASE64Decrypted("/w=="), std::nullopt);             // 0xFF is not UTF-8
  EXPECT_EQ(tnqBASE64Decrypted2("5Lit5paH"), "中文");
  EXPECT_EQ(tnqBASE64Decrypted2("5Lit\n5paH"), std::nullopt);
}

TEST(TnqAllURLs, EitherSchemeAnyCaseEndingAtBlanksAndLineBreaks) {
  EXPECT_EQ(tnqAllURLs("see HTTP://a.cn/x and https://b.com/y?q=1 end"),
            (std::vector<std::string>{"HTTP://a.cn/x", "https://b.com/y?q=1"}));
  EXPECT_EQ(tnqAllURLs("line http://a.cn\nhttp://b.cn\tnext"),
            (std::vector<std::string>{"http://a.cn", "http://b.cn"}));
  EXPECT_EQ(tnqAllURLs("中文http://中.cn"), (std::vector<std::string>{"http://中.cn"}));
  EXPECT_TRUE(tnqAllURLs("ftp://x no address").empty());
  EXPECT_TRUE(tnqAllURLs("").empty());
}

TEST(TnqQueries, BuildingFromDictionariesArraysAndKeyValues) {
  Value dict = {{"b", "1 2"}, {"a", "&=中"}};
  EXPECT_EQ(tnqQueryStringFromDictionary(dict), "b=1%202&a=%26%3D%E4%B8%AD");
  EXPECT_EQ(tnqQueryStringFromDictionary(dict, false), "b=1 2&a=&=中");
  Value array = Value::array({"k", 5, "skip", Value::array(), 7, "v w", "odd"});
  EXPECT_EQ(tnqQueryStringFromArray(array), "k=5&7=v%20w");
  // Booleans are numbers on the platform (1 and 0); null, containers and data are skipped.
  EXPECT_EQ(tnqQueryStringFromArray(Value::array({"on", true, false, "off", "n", nullptr, "o", Value::object(), "x", 1.5})),
            "on=1&0=off&x=1.5");
  EXPECT_EQ(tnqQueryStringFromKeyValue({"a", "1", "b", std::nullopt, "c", "3"}), "a=1");

  EXPECT_EQ(tnqURLByAppendingDictionary("http://h/p", {{"x", "1"}}), "http://h/p?x=1");
  EXPECT_EQ(tnqURLByAppendingDictionary("http://h/p?y=2", {{"x", "/"}}), "http://h/p?y=2&x=%2F");
  EXPECT_EQ(tnqURLByAppendingDictionary("http://h/p#top", {{"x", "1"}}), "http://h/p?x=1#top");
  EXPECT_EQ(tnqURLByAppendingArray("http://h/p?y", Value::array({"x", "a b"})), "http://h/p?y&x=a b");
  EXPECT_EQ(tnqURLByAppendingKeyValues("http://h", {"k", "v"}), "http://h?k=v");
}

TEST(TnqQueries, EncodingDecodingAndComponents) {
  EXPECT_EQ(tnqURLEncoding("a b!*'();:@&=+$,/?#[]~-._"), "a%20b%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%23%5B%5D~-._");
  EXPECT_EQ(tnqURLDecoding("a+b%2B%E4%B8%AD"), "a b+中");
  EXPECT_EQ(tnqURLDecoding("%zz"), std::nullopt);
  EXPECT_EQ(tnqURLDecoding(tnqURLEncoding("汇率 +&=% \n")), "汇率 +&=% \n");

  Value parts = tnqDictionaryFromQueryComponents("a=1&b&a=2&t=QQ==&=e&c=%20");
  EXPECT_EQ(parts, (Value{{"a", {"1", "2"}}, {"t", {"QQ=="}}, {"", {"e"}}, {"c", {"%20"}}}));
  EXPECT_EQ(tnqDictionaryFromQueryComponents(""), Value::object());
}

TEST(TnqShaping, TrimUnwrapRepeatNormalizeAndCompare) {
  EXPECT_EQ(tnqTrim(" \t中 a\n\u3000"), "中 a");
  EXPECT_EQ(tnqUnWrap("\"'x'\""), "x");
  EXPECT_EQ(tnqUnWrap("\"'x\"'"), "\"'x\"'");  // mixed quotes stay
  EXPECT_EQ(tnqUnWrap("\""), "\"");
  EXPECT_EQ(tnqUnWrap("''"), "");
  EXPECT_EQ(tnqRepeat("ab", 3), "ababab");
  EXPECT_EQ(tnqRepeat("ab", 0), "");
  EXPECT_EQ(tnqNormalize("a///b//c"), "a//b/c");
  EXPECT_TRUE(tnqIsValueOf("USD", Value::array({1, "usd", "USD"})));
  EXPECT_FALSE(tnqIsValueOf("USD", Value::array({1, "usd"})));
  EXPECT_TRUE(tnqIsValueOf("USD", Value::array({1, "usd"}), true));
  EXPECT_TRUE(tnqMatchAnyOf("Straße", Value::array({"STRASSE", "straße"})));
  EXPECT_TRUE(tnqEmpty("") && tnqNotEmpty(" ") && tnqEq("a", "a") && !tnqEqual("a", "A"));
}

TEST(TnqShaping, SubStringUntilACharacterOfTheSet) {
  std::size_t end = 0;
  EXPECT_EQ(tnqSubStringFromIndex("key=Value;x", 0, "V", &end), "key=");
  EXPECT_EQ(end, 5u);
  EXPECT_EQ(tnqSubStringFromIndex("中文=值", 1, "=", &end), "文");
  EXPECT_EQ(end, 3u);
  EXPECT_EQ(tnqSubStringFromIndex("abc", 1, ";", &end), "bc");
  EXPECT_EQ(end, 3u);
  EXPECT_EQ(tnqSubStringFromIndex("abc", 3, ";"), std::nullopt);
  EXPECT_EQ(tnqSubStringFromIndex("", 0, ";"), std::nullopt);
}

TEST(TnqValidators, AcceptAndRefuseWholeTexts) {
  EXPECT_TRUE(tnqIsNormal("plain text 中"));
  EXPECT_FALSE(tnqIsNormal("a=b"));
  EXPECT_FALSE(tnqIsNormal(""));
  EXPECT_TRUE(tnqIsUserName("trader01"));
  EXPECT_FALSE(tnqIsUserName("ab"));
  EXPECT_FALSE(tnqIsUserName("trader_01"));
  EXPECT_TRUE(tnqIsChineseUserName("交易员01"));
  EXPECT_FALSE(tnqIsChineseUserName("交易"));
  EXPECT_FALSE(tnqIsChineseUserName("交易\u9fa6"));
  EXPECT_TRUE(tnqIsEmail("fx.desk+1@bank-x.com.cn"));
  EXPECT_FALSE(tnqIsEmail("fx@bank"));
  EXPECT_FALSE(tnqIsEmail("a fx@bank.com"));
  EXPECT_TRUE(tnqIsURL("https://www.bank.cn/fx/rates?pair=USD&x=1"));
  EXPECT_FALSE(tnqIsURL("ftp://www.bank.cn"));
  EXPECT_TRUE(tnqIsTelephone("13812345678"));
  EXPECT_TRUE(tnqIsTelephone("01012345678"));
  EXPECT_FALSE(tnqIsTelephone("1381234567"));
  EXPECT_FALSE(tnqIsTelephone("12012345678"));
  EXPECT_TRUE(tnqIsTelephone2("18612345678"));
  EXPECT_TRUE(tnqIsTelephone2("14712345678"));
  EXPECT_FALSE(tnqIsTelephone2("186123456789"));
  EXPECT_TRUE(tnqIsNickname("外汇_fx-9"));
  EXPECT_TRUE(tnqIsNickname("\u9fff"));
  EXPECT_FALSE(tnqIsNickname("nick name"));
  EXPECT_FALSE(tnqIsNickname("abcdefghijklm"));
  EXPECT_TRUE(tnqIsHasCharacterAndNumber("abc1"));
  EXPECT_FALSE(tnqIsHasCharacterAndNumber("12345"));
  EXPECT_FALSE(tnqIsHasCharacterAndNumber("abc!"));
}

TEST(TnqValidators, IpAddressesAndPatterns) {
  for (const char* ok : {"192.168.0.1", "0.0.0.0", "255.255.255.255", "001.2.3.4"}) EXPECT_TRUE(tnqIsIPAddress(ok)) << ok;
  for (const char* bad : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "1..2.3", "1.2.3.", "+1.2.3.4", "a.1.1.1",
                          "99999999999999999999.1.1.1", ""})
    EXPECT_FALSE(tnqIsIPAddress(bad)) << bad;
  EXPECT_TRUE(tnqMatch("Rate USD/CNY", "usd/cny"));
  EXPECT_FALSE(tnqMatch("Rate", "x"));
  EXPECT_FALSE(tnqMatch("Rate", "(unclosed"));
  EXPECT_FALSE(tnqMatch(std::string(40, 'a') + "!", "(a+)+$"));  // stops at the time limit
}

TEST(TnqMeasures, LengthsInUtf16AndGb18030Bytes) {
  EXPECT_EQ(tnqGetLength("ab"), 2u);
  EXPECT_EQ(tnqGetLength("中文"), 4u);
  EXPECT_EQ(tnqGetLength("\u0100"), 1u);  // 0x0100: one non-zero byte
  EXPECT_EQ(tnqGetLength2("a中\U0001F600"), 7u);
  EXPECT_EQ(tnqDisplayTime(""), 2.0);
  EXPECT_DOUBLE_EQ(tnqDisplayTime("0123456789"), 3.0);
  EXPECT_DOUBLE_EQ(tnqDisplayTime("中文中文中文中文中文"), 3.0);
}

TEST(TnqMeasures, InitialsAndCalculatedSizes) {
  EXPECT_EQ(tnqStringByInitials("united states dollar"), "usd");
  EXPECT_EQ(tnqStringByInitials("e\u0301cu, yen!"), "e\u0301y");
  EXPECT_EQ(tnqStringByInitials(""), "");

  pf::Font font = pf::Font::systemFont(14);
  pf::Size size = tnqCalculateSize("某个较长的提示文字 that wraps", {80, 1000}, font);
  EXPECT_GT(size.height, font.lineHeight());
  EXPECT_LE(size.width, 80);
  EXPECT_EQ(size.width, std::ceil(size.width));
  pf::Device::current()->setSystemVersion("6.1");
  EXPECT_EQ(tnqCalculateSize("text", {80, 1000}, font), pf::Size{});
  pf::Device::current()->reset();
}

TEST(TnqReplaceUnicode, DecodesFourDigitEscapesOnly) {
  EXPECT_EQ(tnqReplaceUnicode("\\u4e2d\\U6587"), "中文");
  EXPECT_EQ(tnqReplaceUnicode("\\ud83d\\ude00!"), "\U0001F600!");
  EXPECT_EQ(tnqReplaceUnicode("\\ud83dx"), "\uFFFDx");
  EXPECT_EQ(tnqReplaceUnicode("\\ude00"), "\uFFFD");
  EXPECT_EQ(tnqReplaceUnicode("say \"hi\" \\n \\u12 \\uZZZZ \\"), "say \"hi\" \\n \\u12 \\uZZZZ \\");
  EXPECT_EQ(tnqReplaceUnicode("a\\r\\nb"), "a\\nb");
}

TEST(TnqErasure, ZeroesEveryByte) {
  std::string secret = "密码pass";
  std::size_t size = secret.size();
  tnq_erasure(secret);
  EXPECT_EQ(secret, std::string(size, '\0'));
}

TEST(TnqAES128, RoundTripsAndRefusesBadKeys) {
  const std::string key = "0123456789abcdef";
  auto cipher = encryptToAES128("汇率 USD/CNY", key);
  ASSERT_TRUE(cipher);
  EXPECT_EQ(decryptAES128(*cipher, key), "汇率 USD/CNY");
  // ECB: equal blocks encrypt alike, the fixed form the server reads.
  auto twoBlocks = pf::base64DecodeStrict(*encryptToAES128(std::string(32, 'x'), key));
  ASSERT_EQ(twoBlocks->size(), 48u);
  EXPECT_TRUE(std::equal(twoBlocks->begin(), twoBlocks->begin() + 16, twoBlocks->begin() + 16));
  for (const std::optional<std::string>& bad : {std::optional<std::string>(), std::optional<std::string>("0123456789abcde"),
                                                std::optional<std::string>("0123456789abcdefg")}) {
    EXPECT_EQ(encryptToAES128("x", bad), std::nullopt);
    EXPECT_EQ(decryptAES128(*cipher, bad), std::nullopt);
  }
  EXPECT_EQ(decryptAES128(*cipher, "fedcba9876543210"), std::nullopt);
  EXPECT_EQ(decryptAES128("not base64!", key), std::nullopt);
  // Sixteen characters whose UTF-8 is longer: the first sixteen bytes are the key.
  auto wide = encryptToAES128("x", "中中中中中中中中中中中中中中中中");
  ASSERT_TRUE(wide);
  EXPECT_EQ(decryptAES128(*wide, "中中中中中中中中中中中中中中中中"), "x");
}

TEST(TnqChangeToString, PrettyJsonThatReadsBackAndSitsInAScript) {
  Value dict = {{"msg", "line\u2028sep\u2029"}, {"n", 1.5}, {"list", {1, "a"}}};
  auto text = changeToString(dict);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find('\n'), std::string::npos);
  EXPECT_EQ(text->find("\u2028"), std::string::npos);
  EXPECT_NE(text->find("\\u2028"), std::string::npos);
  EXPECT_EQ(pf::parseJson(*text), dict);
}

TEST(TnqFromResource, ReadsTheMainBundlesResources) {
  fxtest::TempDir bundle;
  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "notice.txt", "公告", false));
  ASSERT_TRUE(pf::FileManager::writeFile(bundle / "bad.txt", std::string("\xFF"), false));
  pf::Bundle::setMainPath(bundle.path());
  EXPECT_EQ(tnqFromResouce("notice.txt"), "公告");
  EXPECT_EQ(tnqFromResouce("bad.txt"), std::nullopt);
  EXPECT_EQ(tnqFromResouce("missing.txt"), std::nullopt);
  EXPECT_EQ(tnqFromResouce("/etc/hostname"), std::nullopt);
  pf::Bundle::setMainPath({});
}

}  // namespace
}  // namespace app::TnqExtension
