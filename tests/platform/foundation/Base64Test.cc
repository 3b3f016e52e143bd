#include <gtest/gtest.h>

#include "platform/foundation/Base64.h"

namespace pf {
namespace {

std::optional<std::string> strict(std::string_view t) {
  auto b = base64DecodeStrict(t);
  return b ? std::optional(toString(*b)) : std::nullopt;
}
std::optional<std::string> lenient(std::string_view t) {
  auto b = base64DecodeLenient(t);
  return b ? std::optional(toString(*b)) : std::nullopt;
}

TEST(Base64, EncodesRfc4648Vectors) {
  const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(base64Encode(std::string_view(plain[i])), coded[i]);
    EXPECT_EQ(strict(coded[i]), plain[i]);
    EXPECT_EQ(lenient(coded[i]), plain[i]);
  }
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(base64DecodeStrict(base64Encode(all)), all);
}

TEST(Base64, StrictRefusesAnythingButCanonicalText) {
  for (const char* bad : {"Zm9", "Zm9v\n", " Zm9v", "Zm=v", "Z===", "Zg=", "Zm9v!A==", "=Zm9", "Zm8==="})
    EXPECT_FALSE(strict(bad)) << bad;
}

TEST(Base64, LenientSkipsForeignCharacters) {
  EXPECT_EQ(lenient("Zm9v\r\nYmFy"), "foobar");
  EXPECT_EQ(lenient(" Z m 9 v Y g"), "foob");
  EXPECT_EQ(lenient("Zm=9v"), "foo");
  EXPECT_EQ(lenient("Zm9vY"), std::nullopt);  // a single character left over
  EXPECT_EQ(lenient("***"), "");
}

TEST(Base64, SkippingReaderRefusesForeignCharactersButNotWhiteSpace) {
  auto skipping = [](std::string_view t) {
    auto b = base64DecodeSkippingWhitespace(t);
    return b ? std::optional(toString(*b)) : std::nullopt;
  };
  EXPECT_EQ(skipping("Zm9v\r\n\tYm=Fy =="), "foobar");
  EXPECT_EQ(skipping(""), "");
  EXPECT_EQ(skipping("Zm9vY"), std::nullopt);
  for (const char* bad : {"Zm9v!", "Zm9v-", "Zm9v\xC2\xA0", "Zm9v_"}) EXPECT_EQ(skipping(bad), std::nullopt) << bad;
}

TEST(Hex, BothCasesAndStrictDecoding) {
  Bytes b{0x00, 0xAB, 0x7F, 0xFF};
  EXPECT_EQ(hexEncode(b), "00ab7fff");
  EXPECT_EQ(hexEncode(b, true), "00AB7FFF");
  EXPECT_EQ(hexDecode("00ab7FfF"), b);
  EXPECT_FALSE(hexDecode("abc"));
  EXPECT_FALSE(hexDecode("zz"));
  EXPECT_EQ(hexDecode(""), Bytes{});
}

}  // namespace
}  // namespace pf
