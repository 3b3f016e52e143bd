#include <gtest/gtest.h>

#include <memory>

#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"

namespace pf {
namespace {

struct Described {
  std::string description() const { return "<described>"; }
};

}  // namespace

struct FreeDescribed {
  int n;
};
std::string description(const FreeDescribed& d) { return "free " + std::to_string(d.n); }

namespace {

TEST(Format, IntegerConversionsFollowC) {
  EXPECT_EQ(format("%d|%i|%5d|%-5d|%05d|%+d|% d", 42, -7, 42, 42, 42, 42, 42), "42|-7|   42|42   |00042|+42| 42");
  EXPECT_EQ(format("%x %X %#x %o %#o", 255, 255, 255, 8, 8), "ff FF 0xff 10 010");
  EXPECT_EQ(format("%ld %lld %lu %zu %qd", -5L, 1LL << 40, 7UL, std::size_t{9}, 3LL), "-5 1099511627776 7 9 3");
  EXPECT_EQ(format("%.3d", 7), "007");
  EXPECT_EQ(format("%u", -1), "4294967295");
  // Values are converted to the conversion's width, as C converts them.
  EXPECT_EQ(format("%d", (1LL << 32) + 1), "1");
  EXPECT_EQ(format("%hhu %hd", 300, 70000), "44 4464");
  EXPECT_EQ(format("%d %d", true, 'A'), "1 65");
  enum class Color { Red = 2 };
  EXPECT_EQ(format("%d", Color::Red), "2");
}

TEST(Format, FloatingConversionsFollowC) {
  EXPECT_EQ(format("%f|%.2f|%8.3f|%-8.1f|%e|%g|%G", 1.5, 2.345, 3.14159, 2.0, 12345.678, 0.0001, 1e-10),
            "1.500000|2.35|   3.142|2.0     |1.234568e+04|0.0001|1E-10");
  EXPECT_EQ(format("%0.1g", 0.9f), "0.9");
  EXPECT_EQ(format("%0.1g", 1.0), "1");
  EXPECT_EQ(format("%.0f", 2), "2");
  EXPECT_EQ(format("%0.2f", 2.0), "2.00");
}

TEST(Format, TextsCharactersAndPointers) {
  std::string s = "abc";
  const char* nullText = nullptr;
  EXPECT_EQ(format("%s|%5s|%-5s|%.2s|%s", s, "x", "y", "中文字", nullText), "abc|    x|y    |中文|(null)");
  EXPECT_EQ(format("%c%c%C", 'o', 107, 0x4E2D), "ok中");
  EXPECT_EQ(format("%p", nullptr), "0x0");
  int x = 0;
  char expected[32];
  std::snprintf(expected, sizeof expected, "%p", static_cast<void*>(&x));
  EXPECT_EQ(format("%p", &x), expected);
  EXPECT_EQ(format("100%% %s", "sure"), "100% sure");
}

TEST(Format, ObjectConversionDescribesAnything) {
  EXPECT_EQ(format("%@", Value(nullptr)), "<null>");
  EXPECT_EQ(format("%@", Value{{"k", "v w"}, {"n", 1}}), "{\n    k = \"v w\";\n    n = 1;\n}");
  EXPECT_EQ(format("%@", Value::array({1, 2})), "(\n    1,\n    2\n)");
  EXPECT_EQ(format("%@/%@", std::string("base"), "path"), "base/path");
  EXPECT_EQ(format("%@ %@ %@", 12, 2.5, true), "12 2.5 1");
  EXPECT_EQ(format("%@", Value("plain")), "plain");
  EXPECT_EQ(format("%@ %@", Described{}, FreeDescribed{3}), "<described> free 3");
  auto shared = std::make_shared<Described>();
  std::shared_ptr<Described> empty;
  EXPECT_EQ(format("%@ %@", shared, empty), "<described> (null)");
  EXPECT_EQ(format("[%10@]", std::string("abc")), "[       abc]");
  Error error("Dom", 3, {{kLocalizedDescriptionKey, "broken"}});
  EXPECT_EQ(format("%@", error), "Error Domain=Dom Code=3 \"broken\" UserInfo={NSLocalizedDescription=broken}");
}

TEST(Format, FormatsBuildFormats) {
  // The chart code builds "%.4f" from "%%.0%ldf" and the number of decimals.
  std::string priceFormat = format("%%.0%ldf", 4L);
  EXPECT_EQ(priceFormat, "%.04f");
  EXPECT_EQ(format(priceFormat, 1.23456), "1.2346");
  EXPECT_EQ(format("%@;q=%0.1g", "en", 1.0f - 1 * 0.1f), "en;q=0.9");
}

TEST(Format, WidthPrecisionAndPositionsFromArguments) {
  EXPECT_EQ(format("%*d|%-*d|%.*f", 4, 7, 3, 1, 2, 3.14159), "   7|1  |3.14");
  EXPECT_EQ(format("%*d", -3, 5), "5  ");
  EXPECT_EQ(format("%2$@ %1$@", "world", "hello"), "hello world");
}

TEST(Format, MismatchesRaiseNamedExceptions) {
  // A literal with these faults does not compile; a text known only at run time raises.
  auto dynamic = [](const char* text) { return std::string(text); };
  auto raises = [](auto&& call, const char* fragment) {
    try {
      call();
      ADD_FAILURE() << "no exception for " << fragment;
    } catch (const Exception& e) {
      EXPECT_EQ(e.name(), kInvalidArgumentException);
      EXPECT_NE(e.reason().find(fragment), std::string::npos) << e.reason();
    }
  };
  raises([&] { format(dynamic("%d"), "text"); }, "\"%d\" does not take a text");
  raises([&] { format(dynamic("%s"), 12); }, "\"%s\" does not take a signed integer");
  raises([&] { format(dynamic("%f"), std::string("x")); }, "does not take a text");
  raises([&] { format(dynamic("%d %d"), 1); }, "too few arguments");
  raises([&] { format(dynamic("%k"), 1); }, "unknown conversion");
  raises([&] { format(dynamic("%"), 1); }, "lone");
  int plain = 0;
  raises([&] { format(dynamic("%@"), &plain); }, "does not take a pointer");
  raises([&] { format(dynamic("%p"), 5); }, "does not take a signed integer");
  raises([&] { format(dynamic("%*d"), "x", 1); }, "needs an integer");
  EXPECT_EQ(format(dynamic("%d"), 1, 2, 3), "1");  // extra arguments are ignored
}

TEST(Format, LogFormatWritesOneLine) {
  LogCapture capture;
  logFormat("%@ took %.1f s", "request", 1.25);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"request took 1.2 s"});
}

}  // namespace
}  // namespace pf
