#include <gtest/gtest.h>

#include "app/BaseModel.h"
#include "app/TnqDataExtension.h"
#include "platform/foundation/Clock.h"

namespace app {
namespace {

using pf::Value;

TEST(TnqJSON, ReadsContainersOnlyAndDigestsBytes) {
  EXPECT_EQ(TnqJSON::JSONOBJ(std::string_view("{\"a\":[1,\"中\"]}")), (Value{{"a", {1, "中"}}}));
  EXPECT_EQ(TnqJSON::JSONOBJ(pf::Bytes{'[', ']'}), Value::array());
  EXPECT_EQ(TnqJSON::JSONOBJ(std::string_view("\"fragment\"")), std::nullopt);
  EXPECT_EQ(TnqJSON::JSONOBJ(std::string_view("{\"a\":")), std::nullopt);
  EXPECT_EQ(TnqJSON::JSONOBJ(pf::Bytes{}), std::nullopt);
  EXPECT_EQ(TnqJSON::MD5String(pf::Bytes{'a', 'b', 'c'}), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(TnqNumber, WholeSecondsOfTheClock) {
  pf::VirtualTimeScope time;
  pf::Clock::advance(0.75);
  EXPECT_EQ(TnqNumber::getNumberWithTimeStamp(), static_cast<long>(pf::Clock::kVirtualStart));
}

TEST(TnqAESCrypt, RoundTripsUnderTheDigestKeyAndRefusesOthers) {
  pf::Bytes plain{'r', 'a', 't', 'e', 0, 1, 2};
  auto cipher = TnqAESCrypt::AES256EncryptWithKey(plain, "secret");
  ASSERT_TRUE(cipher);
  EXPECT_EQ(cipher->size(), 16u);
  EXPECT_EQ(TnqAESCrypt::AES256DecryptWithKey(*cipher, "secret"), plain);
  auto other = TnqAESCrypt::AES256DecryptWithKey(*cipher, "Secret");
  EXPECT_TRUE(!other || *other != plain);
  EXPECT_EQ(TnqAESCrypt::AES256DecryptWithKey(pf::Bytes(15, 0), "secret"), std::nullopt);
  EXPECT_EQ(TnqAESCrypt::AES256EncryptWithKey({}, "k")->size(), 16u);
}

class Currency : public BaseModelOf<Currency> {
 public:
  void initWithDict(const Value& dict) override {
    code = pf::stringValue(dict.value("code", Value()));
    digits = dict.value("digits", 0);
  }
  Value JSONObj() const override { return {{"code", code}, {"digits", digits}}; }
  std::shared_ptr<BaseModel> copy() const override {
    auto c = std::static_pointer_cast<Currency>(newInstance());
    c->code = code;
    c->digits = digits;
    return c;
  }
  std::vector<Property> ownProperties() const override {
    return {{"code", Value(code)}, {"digits", Value(digits)}, {"note", std::nullopt}};
  }
  std::string code;
  int digits = 0;
};

class Metal : public BaseModelOf<Metal, Currency> {
 public:
  std::vector<Property> ownProperties() const override { return {{"purity", Value(0.999)}}; }
};

TEST(BaseModel, SubclassesCopyDescribeAndKeepTheirClass) {
  Currency usd;
  usd.initWithDict({{"code", "USD"}, {"digits", 4}});
  EXPECT_EQ(usd.description(), "code =  USD \n digits =  4 \n note =  (null) \n ");
  auto copy = usd.copy();
  ASSERT_TRUE(dynamic_cast<Currency*>(copy.get()));
  EXPECT_EQ(copy->JSONObj(), usd.JSONObj());

  Metal gold;
  EXPECT_EQ(gold.description(), "purity =  0.999 \n ");  // its own properties, not its base's
  EXPECT_TRUE(dynamic_cast<Metal*>(gold.copy().get()));

  BaseModel base;
  base.initWithDict({{"x", 1}});
  EXPECT_EQ(base.JSONObj(), Value::object());
  EXPECT_EQ(base.description(), "");
}

}  // namespace
}  // namespace app
