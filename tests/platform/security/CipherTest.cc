#include "platform/security/Cipher.h"

#include <gtest/gtest.h>

#include "platform/security/Random.h"
#include "platform/security/SecurityTestSupport.h"

using pf::CipherAlgorithm;
using pf::CipherMode;
using pf::CipherPadding;
using pf::CipherSpec;
using pf::CipherStatus;
using sectest::hex;
using sectest::unhex;

namespace {

const CipherSpec kDesCbc{CipherAlgorithm::TripleDes, CipherMode::Cbc, CipherPadding::Pkcs7};
const CipherSpec kDesEcb{CipherAlgorithm::TripleDes, CipherMode::Ecb, CipherPadding::Pkcs7};
const CipherSpec kAesEcb{CipherAlgorithm::Aes, CipherMode::Ecb, CipherPadding::Pkcs7};
const CipherSpec kAesCbc{CipherAlgorithm::Aes, CipherMode::Cbc, CipherPadding::Pkcs7};

CipherSpec unpadded(CipherSpec suite) {
  suite.padding = CipherPadding::None;
  return suite;
}

}  // namespace

TEST(Cipher, AesKnownAnswer) {
  // FIPS-197 appendix C.1 and C.3.
  auto plain = unhex("00112233445566778899aabbccddeeff");
  auto c128 = pf::encrypt(unpadded(kAesEcb), unhex("000102030405060708090a0b0c0d0e0f"), {}, plain);
  ASSERT_TRUE(c128);
  EXPECT_EQ(hex(*c128), "69c4e0d86a7b0430d8cdb78070b4c55a");
  auto key256 = unhex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  auto c256 = pf::encrypt(unpadded(kAesCbc), key256, {}, plain);  // CBC with a zero IV = ECB for one block
  ASSERT_TRUE(c256);
  EXPECT_EQ(hex(*c256), "8ea2b7ca516745bfeafc49904b496089");
}

TEST(Cipher, PaddingAndAlignmentRules) {
  pf::Bytes key = pf::randomBytes(24);
  // PKCS#7 always adds 1..8 bytes: a whole block is followed by a full block of padding.
  for (std::size_t length : {0u, 1u, 7u, 8u, 1024u}) {
    auto cipher = pf::encrypt(kDesCbc, key, {}, pf::Bytes(length, 'x'));
    ASSERT_TRUE(cipher) << length;
    EXPECT_EQ(cipher->size(), (length / 8 + 1) * 8) << length;
    EXPECT_EQ(pf::decrypt(kDesCbc, key, {}, *cipher), pf::Bytes(length, 'x'));
  }
  EXPECT_EQ(pf::crypt(pf::CipherOperation::Encrypt, unpadded(kDesEcb), key, {}, pf::Bytes(9)).status,
            CipherStatus::AlignmentError);
  EXPECT_EQ(pf::crypt(pf::CipherOperation::Decrypt, kDesEcb, key, {}, pf::Bytes(12)).status,
            CipherStatus::AlignmentError);
  EXPECT_EQ(pf::crypt(pf::CipherOperation::Decrypt, kDesEcb, key, {}, {}).status, CipherStatus::DecodeError);
  // A wrong key almost never leaves valid padding behind; a corrupted last byte never does.
  auto cipher = *pf::encrypt(kAesEcb, pf::Bytes(16, 1), {}, pf::toBytes("sixteen bytes!!!"));
  cipher.back() ^= 0x55;
  auto broken = pf::crypt(pf::CipherOperation::Decrypt, kAesEcb, pf::Bytes(16, 1), {}, cipher);
  EXPECT_FALSE(broken);
  EXPECT_TRUE(broken.data.empty());
}

TEST(Cipher, KeyAndIvSizes) {
  auto status = [](const CipherSpec& suite, std::size_t keySize, std::size_t ivSize) {
    return pf::crypt(pf::CipherOperation::Encrypt, suite, pf::Bytes(keySize, 7), pf::Bytes(ivSize, 1),
                     pf::toBytes("abc"))
        .status;
  };
  EXPECT_EQ(status(kDesCbc, 24, 8), CipherStatus::Success);
  EXPECT_EQ(status(kDesCbc, 16, 8), CipherStatus::KeySizeError);
  EXPECT_EQ(status(kDesCbc, 24, 16), CipherStatus::IvSizeError);
  EXPECT_EQ(status(kAesEcb, 16, 3), CipherStatus::Success);  // ECB ignores the IV
  EXPECT_EQ(status(kAesCbc, 24, 16), CipherStatus::Success);
  EXPECT_EQ(status(kAesCbc, 32, 0), CipherStatus::Success);
  EXPECT_EQ(status(kAesCbc, 20, 16), CipherStatus::KeySizeError);
  EXPECT_EQ(status(kAesCbc, 0, 16), CipherStatus::KeySizeError);
  // No IV in CBC is the all-zero IV.
  pf::Bytes key(32, 9);
  EXPECT_EQ(pf::encrypt(kAesCbc, key, {}, pf::toBytes("abc")), pf::encrypt(kAesCbc, key, pf::Bytes(16, 0), pf::toBytes("abc")));
}

// The openssl command reads what we write and we read what it writes.
class CipherInterop : public testing::TestWithParam<std::tuple<const char*, CipherSpec, std::size_t>> {};

TEST_P(CipherInterop, BothWaysWithTheOpensslCommand) {
  const auto& [name, suite, keySize] = GetParam();
  fxtest::TempDir dir;
  pf::Bytes key = pf::randomBytes(keySize);
  pf::Bytes iv = pf::randomBytes(pf::cipherBlockSize(suite.algorithm));
  pf::Bytes plain = pf::randomBytes(suite.padding == CipherPadding::None ? 96 : 101);
  auto command = [&, name = name, suite = suite](bool decrypt, const std::string& in, const std::string& out) {
    std::vector<std::string> argv{"/usr/bin/openssl", "enc", std::string("-") + name, "-K", hex(key),
                                  "-in", (dir / in).string(), "-out", (dir / out).string()};
    if (suite.mode == CipherMode::Cbc) argv.insert(argv.end(), {"-iv", hex(iv)});
    if (suite.padding == CipherPadding::None) argv.push_back("-nopad");
    if (decrypt) argv.push_back("-d");
    return sectest::run(argv);
  };

  auto ours = pf::encrypt(suite, key, iv, plain);
  ASSERT_TRUE(ours);
  sectest::writeBytes(dir / "ours.bin", *ours);
  ASSERT_EQ(command(true, "ours.bin", "theirs-plain.bin"), 0);
  EXPECT_EQ(sectest::readBytes(dir / "theirs-plain.bin"), plain);

  sectest::writeBytes(dir / "plain.bin", plain);
  ASSERT_EQ(command(false, "plain.bin", "theirs.bin"), 0);
  auto theirs = sectest::readBytes(dir / "theirs.bin");
  EXPECT_EQ(theirs, *ours);
  EXPECT_EQ(pf::decrypt(suite, key, iv, theirs), plain);
}

INSTANTIATE_TEST_SUITE_P(
    Ciphers, CipherInterop,
    testing::Values(std::make_tuple("des-ede3-cbc", kDesCbc, 24u), std::make_tuple("des-ede3", kDesEcb, 24u),
                    std::make_tuple("des-ede3-cbc", unpadded(kDesCbc), 24u),
                    std::make_tuple("aes-128-ecb", kAesEcb, 16u), std::make_tuple("aes-256-cbc", kAesCbc, 32u),
                    std::make_tuple("aes-256-cbc", unpadded(kAesCbc), 32u)));
