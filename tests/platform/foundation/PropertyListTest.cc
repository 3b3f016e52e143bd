#include <gtest/gtest.h>

#include "platform/foundation/PropertyList.h"

namespace pf {
namespace {

Value sample() {
  return Value{{"version", "1.0"},
               {"timeout", 60},
               {"negative", -5},
               {"ratio", 0.25},
               {"enabled", true},
               {"list", Value::array({"https://a.example/", 2})},
               {"blob", makeData({0, 1, 0xFF})},
               {"when", makeDate(1700000000)},
               {"nested", {{"中文", Value::object()}}}};
}

TEST(PropertyList, XmlAndBinaryRoundTripEveryType) {
  for (auto format : {PropertyListFormat::Xml, PropertyListFormat::Binary}) {
    auto bytes = writePropertyList(sample(), format);
    ASSERT_TRUE(bytes);
    PropertyListFormat seen{};
    Error error;
    auto back = parsePropertyList(*bytes, &seen, &error);
    ASSERT_TRUE(back) << error.localizedDescription() << " " << error.userInfo.dump();
    EXPECT_EQ(seen, format);
    EXPECT_EQ(*back, sample());
    std::vector<std::string> keys;
    for (const auto& [k, _] : back->items()) keys.push_back(k);
    EXPECT_EQ(keys.front(), "version");  // dictionary order is kept
  }
  // Binary dates keep fractions of a second; XML dates, as on the platform, whole seconds.
  Value fraction = Value::array({makeDate(1700000000.25)});
  EXPECT_EQ(parsePropertyList(*writePropertyList(fraction, PropertyListFormat::Binary)), fraction);
  EXPECT_EQ(dateValue((*parsePropertyList(*writePropertyList(fraction, PropertyListFormat::Xml)))[0]), 1700000000.0);
}

TEST(PropertyList, ReadsXmlWrittenByOthers) {
  const char* xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>parameters</key>
	<dict><key>version</key><string>2.1</string><key>sys-screenw</key><integer>320</integer></dict>
	<key>list</key>
	<array><string>https://bank.example/mb</string></array>
	<key>timeout</key><real>30.5</real>
	<key>on</key><false/>
	<key>data</key><data>aGVsbG8=</data>
	<key>date</key><date>2001-01-01T00:00:00Z</date>
</dict>
</plist>)";
  auto v = parsePropertyList(std::string_view(xml));
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)["parameters"]["version"], "2.1");
  EXPECT_EQ((*v)["parameters"]["sys-screenw"], 320);
  EXPECT_EQ((*v)["list"][0], "https://bank.example/mb");
  EXPECT_EQ((*v)["timeout"], 30.5);
  EXPECT_EQ((*v)["on"], false);
  EXPECT_EQ(dataValue((*v)["data"]), toBytes("hello"));
  EXPECT_EQ(dateValue((*v)["date"]), 978307200.0);
}

TEST(PropertyList, ReadsTheOldStyleTextFormat) {
  auto v = parsePropertyList(std::string_view(
      "// comment\n{ name = \"a b\"; list = (x, \"y\\n\", <0aff>); /* c */ inner = { k = v; }; esc = \"\\U4e2d\\101\"; }"));
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)["name"], "a b");
  EXPECT_EQ((*v)["list"][1], "y\n");
  EXPECT_EQ(dataValue((*v)["list"][2]), (Bytes{0x0a, 0xff}));
  EXPECT_EQ((*v)["inner"]["k"], "v");
  EXPECT_EQ((*v)["esc"], "中A");
  Error error;
  EXPECT_FALSE(writePropertyList(*v, PropertyListFormat::OpenStep, &error));
}

TEST(PropertyList, StringsTablesInUtf8AndUtf16) {
  auto table = parseStringsTable("/* t */\n\"Cellular\" = \"蜂窝网络\";\n\"WiFi\" = \"WiFi\";\nAlone;\n");
  ASSERT_TRUE(table);
  EXPECT_EQ((*table)["Cellular"], "蜂窝网络");
  EXPECT_EQ((*table)["Alone"], "Alone");
  std::string utf16 = "\xFF\xFE";
  for (char16_t u : std::u16string(u"\"k\" = \"\u503c\";")) {
    utf16.push_back(static_cast<char>(u & 0xFF));
    utf16.push_back(static_cast<char>(u >> 8));
  }
  table = parseStringsTable(utf16);
  ASSERT_TRUE(table);
  EXPECT_EQ((*table)["k"], "值");
  EXPECT_FALSE(parseStringsTable("\"k\" = \"unterminated;"));
}

TEST(PropertyList, WritingRefusesWhatPropertyListsCannotHold) {
  Error error;
  EXPECT_FALSE(writePropertyList(Value{{"a", nullptr}}, PropertyListFormat::Xml, &error));
  EXPECT_EQ(error.code, kPropertyListWriteInvalidError);
  EXPECT_FALSE(writePropertyList(Value::array({std::nan("")}), PropertyListFormat::Binary));
  EXPECT_FALSE(writePropertyList(Value::array({std::string("\xFF")}), PropertyListFormat::Binary));
}

// A binary list built by hand: header, objects, offset table, trailer.
std::string binaryList(const std::vector<std::string>& objects, std::uint64_t top, std::uint8_t refSize = 1) {
  std::string out = "bplist00";
  std::vector<std::size_t> offsets;
  for (const auto& o : objects) offsets.push_back(out.size()), out += o;
  std::size_t table = out.size();
  for (auto off : offsets) out.push_back(static_cast<char>(off));
  std::string trailer(32, '\0');
  trailer[6] = 1;
  trailer[7] = static_cast<char>(refSize);
  trailer[15] = static_cast<char>(objects.size());
  trailer[23] = static_cast<char>(top);
  trailer[31] = static_cast<char>(table);
  return out + trailer;
}

TEST(PropertyList, BinaryListsAreBoundedBeforeParsing) {
  // [0] = array of [1]; [1] = "a"
  EXPECT_EQ(parsePropertyList(binaryList({std::string("\xA1\x01", 2), "\x51" "a"}, 0)), Value::array({"a"}));
  Error error;
  // An array that contains itself.
  EXPECT_FALSE(parsePropertyList(binaryList({std::string("\xA1\x00", 2)}, 0), nullptr, &error));
  EXPECT_EQ(error.userInfo[kDebugDescriptionKey], "Reference cycle.");
  // A reference past the object table.
  EXPECT_FALSE(parsePropertyList(binaryList({std::string("\xA1\x05", 2)}, 0)));
  // Sharing that expands to 2^20 objects: each array holds the next one twice.
  std::vector<std::string> objects;
  for (int i = 0; i < 20; ++i) objects.push_back(std::string("\xA2", 1) + char(i + 1) + char(i + 1));
  objects.push_back("\x51" "x");
  EXPECT_FALSE(parsePropertyList(binaryList(objects, 0), nullptr, &error));
  EXPECT_EQ(error.userInfo[kDebugDescriptionKey], "Too many objects.");
  PropertyListReadOptions shallow;
  shallow.maxDepth = 4;
  EXPECT_FALSE(parsePropertyList(binaryList(objects, 0), nullptr, &error, shallow));
  EXPECT_EQ(error.userInfo[kDebugDescriptionKey], "Too deeply nested.");
  EXPECT_FALSE(parsePropertyList(std::string_view("bplist00short")));
}

TEST(PropertyList, XmlAndTextAreBoundedInDepthAndSize) {
  std::string deep = "<?xml version=\"1.0\"?><plist><array>";
  for (int i = 0; i < 600; ++i) deep += "<array>";
  Error error;
  EXPECT_FALSE(parsePropertyList(deep, nullptr, &error));
  EXPECT_EQ(error.userInfo[kDebugDescriptionKey], "Too deeply nested.");
  // Closing tags hidden in a comment do not lower the count.
  std::string hidden = "<?xml version=\"1.0\"?><plist>";
  for (int i = 0; i < 600; ++i) hidden += "<array><!-- </array> -->";
  EXPECT_FALSE(parsePropertyList(hidden));
  EXPECT_FALSE(parsePropertyList(std::string(100000, '(')));
  PropertyListReadOptions tiny;
  tiny.maxBytes = 4;
  EXPECT_FALSE(parsePropertyList(std::string_view("{a=b;}"), nullptr, nullptr, tiny));
  EXPECT_FALSE(parsePropertyList(std::string_view("")));
  EXPECT_FALSE(parsePropertyList(std::string_view("<?xml version=\"1.0\"?><plist><dict><key>a</key></plist>")));
}

}  // namespace
}  // namespace pf
