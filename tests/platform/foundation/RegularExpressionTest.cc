#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/RegularExpression.h"
#include "platform/foundation/Text.h"

namespace pf {
namespace {

TEST(RegularExpression, WholeMatchAndFindWithTheIcuSyntax) {
  auto nickname = RegularExpression::make("^[a-zA-Z0-9_\u4e00-\u9fff-]{1,12}+$");
  ASSERT_TRUE(nickname);
  EXPECT_TRUE(nickname->matchesWhole("交易员_fx-1"));
  EXPECT_FALSE(nickname->matchesWhole("abcdefghijklm"));  // 13
  EXPECT_FALSE(nickname->matchesWhole(""));

  auto digits = RegularExpression::make("\\d{3}");
  EXPECT_TRUE(digits->find("ab123cd"));
  EXPECT_FALSE(digits->matchesWhole("ab123cd"));
  EXPECT_TRUE(digits->matchesWhole("123"));

  auto blind = RegularExpression::make("usd", RegularExpression::kCaseInsensitive);
  EXPECT_TRUE(blind->find("EURUSD"));
  EXPECT_FALSE(RegularExpression::make("usd")->find("EURUSD"));

  EXPECT_FALSE(RegularExpression::make("([a-z"));
  EXPECT_FALSE(RegularExpression::make("a{2,1}"));
}

TEST(RegularExpression, CatastrophicBacktrackingEndsAsNoMatch) {
  auto evil = RegularExpression::make("(a+)+$");
  std::string text(40, 'a');
  text += '!';
  EXPECT_FALSE(evil->find(text));
  EXPECT_TRUE(evil->find("aaa"));  // the same expression still works afterwards
}

TEST(RegularExpression, OneCompiledPatternServesManyThreads) {
  auto re = RegularExpression::make("^1[3-9]\\d{9}$");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        std::string phone = "13" + std::to_string(100000000 + i * 7 + t);
        if (!re->matchesWhole(phone) || re->matchesWhole(phone + "0")) ++wrong;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(TextEncodings, ConvertByNumberAndIanaName) {
  EXPECT_EQ(encodingForIANACharSetName("GBK"), 0u);
  EXPECT_EQ(encodingForIANACharSetName("gb18030"), kGB18030StringEncoding);
  EXPECT_EQ(encodingForIANACharSetName("UTF8"), kUTF8StringEncoding);
  EXPECT_EQ(encodingForIANACharSetName("latin1"), kISOLatin1StringEncoding);
  auto gb = encodeText("中a", kGB18030StringEncoding);
  ASSERT_TRUE(gb);
  EXPECT_EQ(*gb, "\xD6\xD0" "a");
  EXPECT_EQ(encodeText("\U0001F600", kGB18030StringEncoding)->size(), 4u);
  EXPECT_EQ(decodeText(*gb, kGB18030StringEncoding), "中a");
  EXPECT_FALSE(encodeText("中", kISOLatin1StringEncoding));
  EXPECT_FALSE(decodeText("\xFF", kUTF8StringEncoding));
  EXPECT_FALSE(decodeText("x", 0xDEAD));
}

TEST(TextBoundaries, WordsAndComposedCharacters) {
  EXPECT_EQ(textWords("Hello, brave new-world!"), (std::vector<std::string>{"Hello", "brave", "new", "world"}));
  EXPECT_TRUE(textWords("  ,. ").empty());
  EXPECT_EQ(firstComposedCharacter("e\u0301tude"), "e\u0301");
  EXPECT_EQ(firstComposedCharacter("\U0001F1E8\U0001F1F3x"), "\U0001F1E8\U0001F1F3");
  EXPECT_EQ(firstComposedCharacter(""), "");
}

}  // namespace
}  // namespace pf
