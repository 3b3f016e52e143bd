#include <gtest/gtest.h>

#include "platform/foundation/Json.h"

namespace pf {
namespace {

std::string debugText(const Error& e) { return e.userInfo.value(kDebugDescriptionKey, ""); }

TEST(JsonRead, ContainersKeepTheirOrderAndTypes) {
  auto v = parseJson(R"({"z":1,"a":[true,null,1.5,"x"],"m":{"k":-2},"big":18446744073709551615})");
  ASSERT_TRUE(v);
  std::vector<std::string> keys;
  for (const auto& [k, _] : v->items()) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"z", "a", "m", "big"}));
  EXPECT_TRUE((*v)["a"][1].is_null());
  EXPECT_EQ((*v)["a"][2].get<double>(), 1.5);
  EXPECT_EQ((*v)["m"]["k"].get<int>(), -2);
  EXPECT_TRUE((*v)["big"].is_number_unsigned());
}

TEST(JsonRead, FragmentsNeedTheOption) {
  Error error;
  EXPECT_FALSE(parseJson("\"text\"", {}, &error));
  EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
  EXPECT_EQ(error.code, 3840);
  EXPECT_EQ(debugText(error), "JSON text did not start with array or object and option to allow fragments not set.");
  JsonReadOptions fragments;
  fragments.allowFragments = true;
  EXPECT_EQ(parseJson("\"text\"", fragments), Value("text"));
  EXPECT_EQ(parseJson(" 12 ", fragments), Value(12));
  EXPECT_EQ(parseJson("null", fragments), Value(nullptr));
}

TEST(JsonRead, RefusesBadInput) {
  JsonReadOptions fragments;
  fragments.allowFragments = true;
  const char* bad[] = {"",          "   ",         "{",          "[1,]",       "{\"a\":1}x", "{'a':1}",
                       "[\"\\x\"]", "[\"\\ud800\"]", "[01]",       "[1e]",       "{\"a\"}",    "[\"a\x01\"]",
                       "\xEF\xBB\xBF", "[nul]", "[1e400]",     "[\"\xC0\xAF\"]", "[\"\xED\xA0\x80\"]", "[\"\xFF\"]"};
  for (const char* text : bad) {
    Error error;
    EXPECT_FALSE(parseJson(text, fragments, &error)) << text;
    EXPECT_EQ(error.code, 3840) << text;
    EXPECT_FALSE(debugText(error).empty()) << text;
  }
}

TEST(JsonRead, BoundsDepthAndSize) {
  JsonReadOptions options;
  options.maxDepth = 8;
  EXPECT_TRUE(parseJson("[[[[[[[[1]]]]]]]]", options));
  Error error;
  EXPECT_FALSE(parseJson("[[[[[[[[[1]]]]]]]]]", options, &error));
  EXPECT_EQ(debugText(error), "Too many nested arrays or dictionaries.");
  // The default bound holds against a very deep text without exhausting the stack.
  std::string deep(200000, '[');
  EXPECT_FALSE(parseJson(deep));
  options = {};
  options.maxBytes = 4;
  EXPECT_FALSE(parseJson("[1,2]", options));
  EXPECT_TRUE(parseJson("[12]", options));
}

TEST(JsonRead, DuplicateKeysKeepFirstPlaceAndLastValue) {
  auto small = parseJson(R"({"a":1,"b":2,"a":3})");
  ASSERT_TRUE(small);
  EXPECT_EQ(small->dump(), R"({"a":3,"b":2})");
  // Past the indexing threshold the same rule holds.
  std::string text = "{";
  for (int i = 0; i < 40; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text += "\"k3\":99}";
  auto large = parseJson(text);
  ASSERT_TRUE(large);
  EXPECT_EQ(large->size(), 40u);
  EXPECT_EQ((*large)["k3"], 99);
  EXPECT_EQ(large->begin().key(), "k0");
}

TEST(JsonRead, AcceptsByteOrderMarkAndBytes) {
  EXPECT_EQ(parseJson("\xEF\xBB\xBF[1]"), Value::array({1}));
  EXPECT_EQ(parseJson(toBytes("{\"\xE4\xB8\xAD\":\"\\u6587\"}")), (Value{{"中", "文"}}));
}

TEST(JsonWrite, CompactAndPrettyLayouts) {
  Value v = {{"b", {1, 2.5, "x"}}, {"a", {{"n", nullptr}, {"t", true}}}, {"e", Value::object()}};
  EXPECT_EQ(writeJson(v), R"({"b":[1,2.5,"x"],"a":{"n":null,"t":true},"e":{}})");
  JsonWriteOptions pretty;
  pretty.pretty = true;
  EXPECT_EQ(writeJson(v, pretty),
            "{\n"
            "  \"b\" : [\n"
            "    1,\n"
            "    2.5,\n"
            "    \"x\"\n"
            "  ],\n"
            "  \"a\" : {\n"
            "    \"n\" : null,\n"
            "    \"t\" : true\n"
            "  },\n"
            "  \"e\" : {}\n"
            "}");
  JsonWriteOptions sorted;
  sorted.sortedKeys = true;
  EXPECT_EQ(writeJson(Value{{"b", 1}, {"B", 2}, {"a", 3}}, sorted), R"({"B":2,"a":3,"b":1})");
}

TEST(JsonWrite, EscapesAndNumbers) {
  Value v = Value::array({"a/b", "q\"\\", "\n\t\x01", "中\u2028", 12.0, 0.1, -0.0, 1e300, 7});
  EXPECT_EQ(writeJson(v), "[\"a\\/b\",\"q\\\"\\\\\",\"\\n\\t\\u0001\",\"中\u2028\",12,0.1,-0,1e+300,7]");
  JsonWriteOptions script;
  script.escapeSlashes = false;
  script.escapeLineSeparators = true;
  EXPECT_EQ(writeJson(Value::array({"a/b", "x\u2028y\u2029"}), script), "[\"a/b\",\"x\\u2028y\\u2029\"]");
}

TEST(JsonWrite, RefusesWhatJsonCannotHold) {
  Error error;
  EXPECT_FALSE(writeJson(Value("text"), {}, &error));
  EXPECT_EQ(debugText(error), "Invalid top-level type in JSON write");
  JsonWriteOptions fragments;
  fragments.allowFragments = true;
  EXPECT_EQ(writeJson(Value("text"), fragments), "\"text\"");
  EXPECT_FALSE(writeJson(Value::array({std::nan("")}), {}, &error));
  EXPECT_EQ(debugText(error), "Invalid number value (NaN) in JSON write");
  EXPECT_FALSE(writeJson(Value::array({INFINITY})));
  EXPECT_FALSE(writeJson(Value::array({makeData({1, 2})}), {}, &error));
  EXPECT_EQ(debugText(error), "Invalid type in JSON write (Data)");
  EXPECT_FALSE(writeJson(Value::array({std::string("\xFF")})));
  EXPECT_FALSE(isValidJsonObject(Value::array({makeDate(0)})));
  EXPECT_TRUE(isValidJsonObject(Value::object()));
}

TEST(JsonRoundTrip, WrittenTextReadsBackEqual) {
  Value v = {{"s", "\u00e9\U0001F600 \\ / \""}, {"n", {-1, 0, 1.25, 1e-7, 9007199254740993LL}}, {"o", {{"x", Value::array()}}}};
  auto text = writeJson(v);
  ASSERT_TRUE(text);
  EXPECT_EQ(parseJson(*text), v);
}

}  // namespace
}  // namespace pf
