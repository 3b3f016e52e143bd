// The packet codec: the wire layout, hash and signature checks, and refusal of malformed texts.
// (Crypt flags 1 and 4 meet a server of another make in BusinessRequestTest.)

#include <gtest/gtest.h>

#include "BankServer.h"
#include "container/MwComPackage.h"
#include "container/MwHttpResponse.h"
#include "container/MwJSON.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Json.h"
#include "platform/security/Cipher.h"
#include "platform/security/Digest.h"

namespace container {
namespace {

class PacketTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::resetContainer(""); }

  static std::shared_ptr<MwComPackage> packet(int crypt, int hash, int sign, const std::string& business) {
    return std::make_shared<MwComPackage>(0, 0, "", std::make_shared<MwDataPackage>(crypt, hash, sign, pf::toBytes(business)));
  }
  static pf::Value wire(const MwComPackage& p) {
    auto text = p.toJSONString();
    EXPECT_TRUE(text.has_value());
    return text ? *pf::parseJson(*text) : pf::Value();
  }
};

TEST_F(PacketTest, PlainPacketTravelsAsDocumentedAndComesBack) {
  MwComPackage outgoing(1, 4, "服务器内部错误", std::make_shared<MwDataPackage>(0, 0, 0, pf::toBytes(R"({"A":"中文"})")));
  pf::Value object = wire(outgoing);
  EXPECT_EQ(object["flag"], 1);
  EXPECT_EQ(object["errCode"], 4);
  EXPECT_EQ(object["errMsg"], "服务器内部错误");
  EXPECT_EQ(object["data"]["cryptFlag"], 0);
  EXPECT_EQ(object["data"]["business"], R"({"A":"中文"})");
  EXPECT_FALSE(object["data"].contains("hash"));

  auto parsed = MwComPackage::parseJSONString(*outgoing.toJSONString());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->getPackageFlag(), 1);
  EXPECT_EQ(parsed->getErrCode(), 4);
  EXPECT_EQ(parsed->getErrMsg(), "服务器内部错误");
  EXPECT_EQ(parsed->businessObject(), (pf::Value{{"A", "中文"}}));
}

TEST_F(PacketTest, MissingMessageAndPayloadStayMissing) {
  MwComPackage outgoing(0, 1, std::nullopt, std::make_shared<MwDataPackage>());
  auto parsed = MwComPackage::parseJSONString(*outgoing.toJSONString());
  ASSERT_TRUE(parsed && parsed->getDataPackage());
  EXPECT_FALSE(parsed->getErrMsg());
  EXPECT_FALSE(parsed->getDataPackage()->getBusiness());
  EXPECT_FALSE(parsed->businessObject());

  auto noData = MwComPackage::parseJSONString(R"({"errCode":0,"data":null})");
  ASSERT_TRUE(noData);
  EXPECT_FALSE(noData->getDataPackage());
}

TEST_F(PacketTest, HashIsCheckedIgnoringCase) {
  pf::Value object = wire(*packet(0, 1, 0, R"({"K":1})"));
  const std::string hash = object["data"]["hash"];
  EXPECT_EQ(hash, pf::hexEncode(pf::sha1(std::string(R"({"K":1})")), true));

  object["data"]["hash"] = pf::hexEncode(pf::sha1(std::string(R"({"K":1})")), false);
  EXPECT_TRUE(MwComPackage::parseJSONString(object.dump()));

  object["data"]["business"] = R"({"K":2})";
  EXPECT_FALSE(MwComPackage::parseJSONString(object.dump())) << "a business that does not match its hash";
  object["data"].erase("hash");
  EXPECT_FALSE(MwComPackage::parseJSONString(object.dump())) << "a hash flag without a hash";
}

TEST_F(PacketTest, SignatureIsMadeWithThePrivateKeyAndCheckedWithThePublicOne) {
  auto signed_ = packet(0, 0, 1, R"({"ORDER":"buy"})");
  auto parsed = MwComPackage::parseJSONString(*signed_->toJSONString());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->businessObject(), (pf::Value{{"ORDER", "buy"}}));

  pf::Value object = wire(*signed_);
  object["data"]["business"] = R"({"ORDER":"sell"})";
  EXPECT_FALSE(MwComPackage::parseJSONString(object.dump())) << "a business changed after signing";
  object = wire(*signed_);
  object["data"]["sign"] = pf::base64Encode(std::string(128, 'x'));
  EXPECT_FALSE(MwComPackage::parseJSONString(object.dump()));
}

TEST_F(PacketTest, ThreeDesNeedsSessionKeysAndUsesTheClientToServerKey) {
  EXPECT_FALSE(packet(1, 0, 0, "{}")->toJSONString()) << "no server random yet";

  auto& session = MwSessionManager::getInstance();
  struct Headers : MwHttpResponse {
    pf::HttpHeaders headers{{"Service-Number", "server-random-1"}};
    const pf::HttpHeaders& getHeaders() const override { return headers; }
  } answer;
  session.updateSession(nullptr, &answer);

  pf::Value object = wire(*packet(1, 0, 0, R"({"AMOUNT":"100.00"})"));
  auto raw = pf::base64DecodeStrict(object["data"]["business"].get<std::string>());
  ASSERT_TRUE(raw);
  ASSERT_EQ(raw->size() % 8, 0u);
  pf::Bytes keyInput = session.getClientRandom();
  for (char c : std::string("server-random-1")) keyInput.push_back(static_cast<std::uint8_t>(c));
  pf::Bytes key = pf::sha256(keyInput);
  key.resize(24);
  std::span<const std::uint8_t> all(*raw);
  auto plain = pf::decrypt({pf::CipherAlgorithm::TripleDes, pf::CipherMode::Cbc, pf::CipherPadding::Pkcs7}, key,
                           all.first(8), all.subspan(8));
  ASSERT_TRUE(plain);
  EXPECT_EQ(pf::toString(*plain), R"({"AMOUNT":"100.00"})");

  // The same packet cannot be read back with the server-to-client key.
  EXPECT_FALSE(MwComPackage::parseJSONString(object.dump()));
}

TEST_F(PacketTest, MalformedTextsGiveNoPacket) {
  const char* texts[] = {
      "",
      "not json",
      "[1,2]",
      R"({"flag":"0"})",
      R"({"errCode":1.5})",
      R"({"errMsg":7})",
      R"({"data":"text"})",
      R"({"data":{"cryptFlag":2,"business":"x"}})",
      R"({"data":{"cryptFlag":0,"business":7}})",
      R"({"data":{"cryptFlag":1,"business":"@@@"}})",
      // Integers beyond their field never wrap ("flag" 2^32 + 1 is not 1).
      R"({"flag":4294967297})",
      R"({"flag":-2147483649})",
      R"({"errCode":9223372036854775808})",
      R"({"errCode":18446744073709551615})",
      R"({"data":{"cryptFlag":4294967296}})",
      R"({"data":{"cryptFlag":0,"hashFlag":4294967297}})",
  };
  for (const char* text : texts) EXPECT_FALSE(MwComPackage::parseJSONString(text)) << text;
  // A block above the modulus of the consult key.
  const std::string block = pf::base64Encode(std::string(128, '\xff'));
  EXPECT_FALSE(MwComPackage::parseJSONString(R"({"data":{"cryptFlag":4,"business":")" + block + R"("}})"));
  EXPECT_FALSE(MwComPackage::parseJSONString(std::string(MwComPackage::kMaxPacketText + 1, ' ')));
}

TEST_F(PacketTest, IntegersAtTheEdgesOfTheirFieldsAreKept) {
  auto edge = MwComPackage::parseJSONString(R"({"flag":-2147483648,"errCode":-9223372036854775808})");
  ASSERT_TRUE(edge);
  EXPECT_EQ(edge->getPackageFlag(), INT32_MIN);
  EXPECT_EQ(edge->getErrCode(), INT64_MIN);
  EXPECT_TRUE(MwComPackage::parseJSONString(R"({"flag":2147483647,"errCode":9223372036854775807})"));
}

TEST_F(PacketTest, UnknownCryptFlagDoesNotEncode) { EXPECT_FALSE(packet(3, 0, 0, "{}")->toJSONString()); }

}  // namespace
}  // namespace container
