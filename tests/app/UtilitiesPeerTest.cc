// The utilities against Python's own digests, Base64, URL parsing, AES and GB 18030
// (peers/utilities_peer.py): what we write, Python reads, and the other way round.

#include <gtest/gtest.h>

#include <functional>

#include "app/FileController.h"
#include "app/TnqDataExtension.h"
#include "app/TnqStringExtension.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Text.h"
#include "support/TestSupport.h"

namespace app {
namespace {

using pf::Value;
using namespace app::TnqExtension;

// Requests for the peer, each with the check of its answer; run() asks all at once.
class PeerBatch {
 public:
  void ask(Value request, std::function<void(const Value&)> check) {
    requests_.push_back(std::move(request));
    checks_.push_back(std::move(check));
  }
  void run() {
    auto file = dir_ / "requests.json";
    ASSERT_TRUE(pf::FileManager::writeFile(file, *pf::writeJson(requests_), false));
    fxtest::ChildProcess peer(
        {fxtest::kPython, (fxtest::sourceDir() / "tests/app/peers/utilities_peer.py").string(), file.string()});
    auto line = peer.readLine(20000);
    ASSERT_TRUE(line) << "the peer did not answer";
    auto answers = pf::parseJson(*line);
    ASSERT_TRUE(answers && answers->size() == checks_.size());
    for (std::size_t i = 0; i < checks_.size(); ++i) {
      SCOPED_TRACE(pf::writeJson(requests_[i]).value_or(""));
      checks_[i]((*answers)[i]);
    }
    EXPECT_EQ(peer.wait(), 0);
  }
  fxtest::TempDir dir_;

 private:
  Value requests_ = Value::array();
  std::vector<std::function<void(const Value&)>> checks_;
};

std::string hexOf(std::string_view text) { return pf::hexEncode(text); }

TEST(UtilitiesPeer, FileDigestsAcrossChunkBorders) {
  PeerBatch batch;
  for (std::size_t size : {0u, 8191u, 8192u, 8193u, 3 * 8192u + 5}) {
    std::string contents;
    for (std::size_t i = 0; i < size; ++i) contents.push_back(static_cast<char>((i * 131) & 0xFF));
    auto path = (batch.dir_ / ("f" + std::to_string(size))).string();
    ASSERT_TRUE(pf::FileManager::writeFile(path, contents, false));
    auto ours = FileController::fileMD5(path);
    batch.ask({{"op", "md5"}, {"path", path}}, [ours](const Value& theirs) { EXPECT_EQ(ours, theirs.get<std::string>()); });
  }
  batch.run();
}

TEST(UtilitiesPeer, Base64ReadersAgreeWithAValidatingDecoder) {
  PeerBatch batch;
  for (const char* text : {"", "5Lit5paH", "5Lit5pa=", "QQ==", "QUI=", "QUJD", "QQ", "Q===", "QQ=a", "Q Q==", "QQ==\n",
                           "5L-t", "5L_t", "@@@@"}) {
    batch.ask({{"op", "b64"}, {"text", text}}, [text](const Value& theirs) {
      auto strict = tnqBASE64Decrypted2(text);
      if (theirs.is_null()) {
        EXPECT_EQ(strict, std::nullopt);
        return;
      }
      auto bytes = pf::hexDecode(theirs.get<std::string>());
      std::string expected(bytes->begin(), bytes->end());
      if (!pf::isValidUtf8(expected)) return;
      EXPECT_EQ(strict, expected);
      EXPECT_EQ(tnqBASE64Decrypted(text), expected);  // what the strict reader takes, ours takes alike
    });
  }
  batch.run();
}

TEST(UtilitiesPeer, QueriesReadBackByUrllib) {
  PeerBatch batch;
  Value dict = {{"name", "外汇 交易"}, {"amp", "a&b=c"}, {"plus", "1+1"}, {"hash", "#top"}, {"pct", "100%"}, {"empty", ""}};
  batch.ask({{"op", "qsl"}, {"query", tnqQueryStringFromDictionary(dict)}}, [dict](const Value& pairs) {
    Value back = Value::object();
    for (const auto& pair : pairs) back[pair[0].get<std::string>()] = pair[1];
    EXPECT_EQ(back, dict);
  });
  for (const char* text : {"外汇 交易", "a+b&c=d#e%f", "~!*'()", "\n\t"})
    batch.ask({{"op", "quote_plus"}, {"text", text}},
              [text](const Value& quoted) { EXPECT_EQ(tnqURLDecoding(quoted.get<std::string>()), text); });
  batch.run();
}

TEST(UtilitiesPeer, AesFormsOpenOnBothSides) {
  PeerBatch batch;
  const std::string key128 = "fx-desk-key-2026";
  for (std::string plain : {std::string(), std::string("汇率 USD/CNY 6.8"), std::string(16, 'k'), std::string(40, 'z')}) {
    auto ours = encryptToAES128(plain, key128);
    ASSERT_TRUE(ours);
    batch.ask({{"op", "aes128_dec"}, {"key", key128}, {"cipher_b64", *ours}},
              [plain](const Value& theirs) { EXPECT_EQ(theirs, hexOf(plain)); });
    batch.ask({{"op", "aes128_enc"}, {"key", key128}, {"plain_hex", hexOf(plain)}}, [plain, key128](const Value& theirs) {
      EXPECT_EQ(decryptAES128(theirs.get<std::string>(), key128), plain);
    });

    pf::Bytes bytes(plain.begin(), plain.end());
    auto ours256 = TnqAESCrypt::AES256EncryptWithKey(bytes, "any length key 密钥");
    ASSERT_TRUE(ours256);
    batch.ask({{"op", "aes256_dec"}, {"key", "any length key 密钥"}, {"cipher_hex", pf::hexEncode(*ours256)}},
              [plain](const Value& theirs) { EXPECT_EQ(theirs, hexOf(plain)); });
    batch.ask({{"op", "aes256_enc"}, {"key", "any length key 密钥"}, {"plain_hex", hexOf(plain)}},
              [bytes](const Value& theirs) {
                auto cipher = pf::hexDecode(theirs.get<std::string>());
                EXPECT_EQ(TnqAESCrypt::AES256DecryptWithKey(*cipher, "any length key 密钥"), bytes);
              });
  }
  batch.run();
}

TEST(UtilitiesPeer, Gb18030LengthsMatchPythonsCodec) {
  PeerBatch batch;
  for (const char* text : {"", "abc", "中文", "€", "\U0001F600", "汇率USD/CNY\u00e9\u20ac"})
    batch.ask({{"op", "gb18030"}, {"text", text}},
              [text](const Value& theirs) { EXPECT_EQ(tnqGetLength2(text), theirs.get<std::size_t>()); });
  batch.run();
}

}  // namespace
}  // namespace app
