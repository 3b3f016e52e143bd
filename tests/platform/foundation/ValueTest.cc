#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "platform/foundation/Value.h"

namespace pf {
namespace {

TEST(ValueText, BoolValueSkipsBlanksSignAndZeros) {
  struct Case {
    const char* text;
    bool expected;
  } cases[] = {
      {"  +0012", true}, {"-1", true},   {"0", false},   {"000", false}, {"0.5", false}, {"Yes", true},
      {"y", true},       {"true", true}, {"T", true},    {"no", false},  {"", false},    {"   ", false},
      {"+-1", false},    {"\t\n9x", true}, {"false", false}, {"-0007", true}, {"  YES", true}, {"N", false},
  };
  for (const auto& c : cases) EXPECT_EQ(boolValue(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ValueText, IntegerValuesTakeTheLeadingDecimalNumber) {
  struct Case {
    const char* text;
    long long expected;
  } cases[] = {
      {"12abc", 12}, {"  -0012", -12}, {"+7", 7},       {"abc", 0}, {"", 0},     {"12.9", 12},
      {"1e3", 1},    {"- 5", 0},       {"\n\t 42 ", 42}, {"0x1A", 0}, {"+", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(longLongValue(c.text), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(intValue(c.text), c.expected) << '"' << c.text << '"';
  }
  // Overflow clamps to the type's range.
  EXPECT_EQ(intValue("99999999999"), INT_MAX);
  EXPECT_EQ(intValue("-99999999999"), INT_MIN);
  EXPECT_EQ(longLongValue("9223372036854775807"), LLONG_MAX);
  EXPECT_EQ(longLongValue("9223372036854775808"), LLONG_MAX);
  EXPECT_EQ(longLongValue("-9223372036854775808"), LLONG_MIN);
  EXPECT_EQ(longLongValue("-99999999999999999999999"), LLONG_MIN);
  EXPECT_EQ(integerValue(std::string("31")), 31);
}

TEST(ValueText, DoubleValueTakesTheLeadingNumberInTheCLocale) {
  struct Case {
    const char* text;
    double expected;
  } cases[] = {
      {"12.5", 12.5}, {"  -1.5e3x", -1500}, {"12,5", 12}, {".5", 0.5}, {"-.25", -0.25}, {"1e", 1},
      {"1e+", 1},     {"abc", 0},           {"", 0},      {"inf", 0},  {"nan", 0},      {"0x10", 0},
      {"+3.", 3},     {".", 0},             {"7E-2", 0.07},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(doubleValue(c.text), c.expected) << '"' << c.text << '"';
  EXPECT_FLOAT_EQ(floatValue("12.5"), 12.5f);
  EXPECT_TRUE(std::isinf(doubleValue("1e999")));
}

TEST(ValueConversions, NumbersBooleansAndTexts) {
  EXPECT_TRUE(boolValue(Value(0.5)));
  EXPECT_FALSE(boolValue(Value(0)));
  EXPECT_TRUE(boolValue(Value("  +0012")));
  EXPECT_FALSE(boolValue(Value(nullptr)));
  EXPECT_FALSE(boolValue(Value::object()));
  EXPECT_EQ(intValue(Value(3.9)), 3);
  EXPECT_EQ(intValue(Value(-3.9)), -3);
  EXPECT_EQ(intValue(Value(true)), 1);
  EXPECT_EQ(intValue(Value("12abc")), 12);
  EXPECT_EQ(intValue(Value(1e12)), INT_MAX);
  EXPECT_EQ(intValue(Value(std::nan(""))), 0);
  EXPECT_EQ(integerValue(Value(std::uint64_t(18446744073709551615ULL))), LLONG_MAX);
  EXPECT_EQ(integerValue(Value(nullptr)), 0);
  EXPECT_DOUBLE_EQ(doubleValue(Value("12.5")), 12.5);
  EXPECT_DOUBLE_EQ(doubleValue(Value(7)), 7.0);
  EXPECT_FLOAT_EQ(floatValue(Value("12.5")), 12.5f);
  EXPECT_EQ(stringValue(Value("abc")), "abc");
  EXPECT_EQ(stringValue(Value(12)), "12");
  EXPECT_EQ(stringValue(Value(true)), "1");
}

TEST(ValueDescription, Scalars) {
  EXPECT_EQ(description(Value(nullptr)), "<null>");
  EXPECT_EQ(description(Value(true)), "1");
  EXPECT_EQ(description(Value(false)), "0");
  EXPECT_EQ(description(Value(12)), "12");
  EXPECT_EQ(description(Value(-12)), "-12");
  EXPECT_EQ(description(Value(12.0)), "12");
  EXPECT_EQ(description(Value(0.5)), "0.5");
  EXPECT_EQ(description(Value(0.1 + 0.2)), "0.30000000000000004");
  EXPECT_EQ(description(Value(1e20)), "1e+20");
  EXPECT_EQ(description(Value(1e16)), "10000000000000000");
  EXPECT_EQ(description(Value(123456.789)), "123456.789");
  EXPECT_EQ(description(Value(0.0001)), "0.0001");
  EXPECT_EQ(description(Value(0.00001)), "1e-05");
  EXPECT_EQ(description(Value("a b \"c\"")), "a b \"c\"");
}

TEST(ValueDescription, NestedValuesUseTheOldStylePropertyListLayout) {
  Value v = {{"name", "n"},
             {"list", {1, "x y", nullptr, true}},
             {"data", {{"inner", 2.5}, {"empty", Value::array()}}},
             {"Zed", Value::object()}};
  EXPECT_EQ(description(v),
            "{\n"
            "    Zed =     {\n"
            "    };\n"
            "    data =     {\n"
            "        empty =         (\n"
            "        );\n"
            "        inner = 2.5;\n"
            "    };\n"
            "    list =     (\n"
            "        1,\n"
            "        \"x y\",\n"
            "        <null>,\n"
            "        1\n"
            "    );\n"
            "    name = n;\n"
            "}");
}

TEST(ValueDescription, ArraysOfDictionariesAndQuoting) {
  Value v = Value::array({Value{{"a", 1}}, "path/to-file_1.txt", "", "中", "line\nbreak", "$x:y"});
  EXPECT_EQ(description(v),
            "(\n"
            "        {\n"
            "        a = 1;\n"
            "    },\n"
            "    path/to-file_1.txt,\n"
            "    \"\",\n"
            "    \"\\U4e2d\",\n"
            "    \"line\\nbreak\",\n"
            "    $x:y\n"
            ")");
  EXPECT_EQ(description(Value::array()), "(\n)");
  EXPECT_EQ(description(Value::object()), "{\n}");
}

TEST(ValueDataAndDates, RoundTripAndDescribe) {
  Value data = makeData({0x68, 0x65, 0x6c, 0x6c, 0x6f});
  EXPECT_TRUE(isData(data));
  EXPECT_FALSE(isDate(data));
  EXPECT_EQ(dataValue(data), (std::vector<std::uint8_t>{0x68, 0x65, 0x6c, 0x6c, 0x6f}));
  EXPECT_EQ(description(data), "<68656c6c 6f>");
  Value date = makeDate(978307200.5);
  EXPECT_TRUE(isDate(date));
  EXPECT_FALSE(isData(date));
  EXPECT_EQ(dateValue(date), 978307200.5);
  EXPECT_EQ(description(date), "2001-01-01 00:00:00 +0000");
  EXPECT_FALSE(dateValue(Value(1.0)).has_value());
}

}  // namespace
}  // namespace pf
