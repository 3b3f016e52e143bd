#include "platform/security/Digest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/foundation/FileManager.h"

#include "platform/security/Random.h"
#include "platform/security/SecurityTestSupport.h"
#include "support/TestSupport.h"

using sectest::hex;

TEST(Digest, KnownVectors) {
  EXPECT_EQ(hex(pf::md5("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(hex(pf::md5("abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(hex(pf::sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hex(pf::sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(pf::digestLength(pf::DigestAlgorithm::Sha1), 20u);
}

TEST(Digest, StreamingMatchesOneShotAcrossSplitsAndStartsOver) {
  pf::Bytes data = pf::randomBytes(1000);
  for (auto algorithm : {pf::DigestAlgorithm::Md5, pf::DigestAlgorithm::Sha1, pf::DigestAlgorithm::Sha256}) {
    pf::Bytes expected = pf::digest(algorithm, data);
    pf::Digester digester(algorithm);
    for (std::size_t split : {0u, 1u, 63u, 64u, 999u}) {
      digester.update(std::span(data).first(split));
      digester.update(std::span(data).subspan(split));
      EXPECT_EQ(digester.finish(), expected) << split;
    }
  }
}

TEST(Digest, OfAFileReadsARegularFileOnlyAndWholly) {
  fxtest::TempDir dir;
  const pf::Bytes data = pf::randomBytes(200000);  // more than one read
  ASSERT_TRUE(pf::FileManager::writeFile(dir / "data", data, false));
  EXPECT_EQ(pf::digestOfFile(pf::DigestAlgorithm::Sha256, dir / "data"), pf::sha256(data));
  ASSERT_TRUE(pf::FileManager::writeFile(dir / "empty", pf::Bytes{}, false));
  EXPECT_EQ(pf::digestOfFile(pf::DigestAlgorithm::Md5, dir / "empty"), pf::md5(""));
  // Nobody writes this FIFO: it must fail at once, not wait for a writer.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  pf::Error error;
  EXPECT_FALSE(pf::digestOfFile(pf::DigestAlgorithm::Md5, dir / "fifo", &error));
  EXPECT_FALSE(pf::digestOfFile(pf::DigestAlgorithm::Md5, dir.path()));
  EXPECT_FALSE(pf::digestOfFile(pf::DigestAlgorithm::Md5, dir / "absent"));
}

TEST(Hmac, Rfc2202AndRfc4231Vectors) {
  EXPECT_EQ(hex(pf::hmac(pf::DigestAlgorithm::Md5, "Jefe", "what do ya want for nothing?")),
            "750c783e6ab0b503eaa86e310a5db738");
  EXPECT_EQ(hex(pf::hmac(pf::DigestAlgorithm::Sha1, "Jefe", "what do ya want for nothing?")),
            "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(hex(pf::hmac(pf::DigestAlgorithm::Sha256, "Jefe", "what do ya want for nothing?")),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  // A key longer than the block is hashed first (RFC 4231 case 6).
  pf::Bytes longKey(131, 0xaa);
  EXPECT_EQ(hex(pf::hmac(pf::DigestAlgorithm::Sha256, longKey,
                         pf::toBytes("Test Using Larger Than Block-Size Key - Hash Key First"))),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
  // The empty key is a key, not a missing one.
  EXPECT_EQ(hex(pf::hmac(pf::DigestAlgorithm::Sha256, "", "")),
            "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

TEST(Random, FillsDistinctBuffers) {
  auto a = pf::randomBytes(32), b = pf::randomBytes(32);
  EXPECT_EQ(a.size(), 32u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(pf::randomBytes(0).empty());
}
