#include "platform/security/Certificate.h"

#include <gtest/gtest.h>

#include "platform/security/SecurityTestSupport.h"

using sectest::pki;
using sectest::readBytes;
using sectest::readText;

TEST(Certificate, DerAndPemRoundTrip) {
  auto der = readBytes(pki() / "leaf.der");
  auto fromDer = pf::Certificate::fromDer(der);
  auto fromPem = pf::Certificate::fromPem(readText(pki() / "leaf.pem"));
  ASSERT_TRUE(fromDer && fromPem);
  EXPECT_EQ(fromDer->der(), der);
  EXPECT_EQ(*fromDer, *fromPem);
  EXPECT_EQ(fromDer->pem(), readText(pki() / "leaf.pem"));
  EXPECT_EQ(fromDer->subjectSummary(), "localhost");
  auto key = pf::Key::privateKeyFromPem(readText(pki() / "leaf.key.pem"));
  EXPECT_EQ(fromDer->publicKey(), key->publicKey());
  EXPECT_FALSE(*fromDer == *pf::Certificate::fromPem(readText(pki() / "root.pem")));
}

TEST(Certificate, SeveralInOnePemAndBadInput) {
  auto bundle = readText(pki() / "leaf.pem") + readText(pki() / "leaf.key.pem") + readText(pki() / "inter.pem");
  auto all = pf::Certificate::allFromPem(bundle);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1].subjectSummary(), "Test Intermediate");
  EXPECT_TRUE(pf::Certificate::allFromPem("no certificates here").empty());
  EXPECT_FALSE(pf::Certificate::fromPem(""));
  EXPECT_FALSE(pf::Certificate::fromDer(pf::toBytes("garbage")));
  auto der = readBytes(pki() / "leaf.der");
  der.resize(der.size() / 2);
  EXPECT_FALSE(pf::Certificate::fromDer(der));
}
