#include "platform/security/ServerTrust.h"

#include <openssl/x509_vfy.h>

#include <gtest/gtest.h>

#include "platform/security/SecurityTestSupport.h"

using pf::TrustPolicy;
using pf::TrustResult;
using sectest::pki;
using sectest::readText;

namespace {

pf::Certificate load(const char* name) { return *pf::Certificate::fromPem(readText(pki() / name)); }

pf::ServerTrust chainTrust(TrustPolicy policy, std::vector<pf::Certificate> anchors = {load("root.pem")}) {
  pf::ServerTrust trust({load("leaf.pem"), load("inter.pem")}, std::move(policy));
  trust.setAnchorCertificates(std::move(anchors));
  return trust;
}

}  // namespace

TEST(ServerTrust, GoodChainIsUnspecifiedAndBuildsToTheAnchor) {
  auto trust = chainTrust(TrustPolicy::sslServer("localhost"));
  EXPECT_EQ(trust.certificateCount(), 2u);  // before evaluation: the peer chain
  auto outcome = trust.evaluate();
  EXPECT_TRUE(outcome.completed);
  EXPECT_EQ(outcome.result, TrustResult::Unspecified);
  EXPECT_TRUE(outcome.trusted());
  ASSERT_EQ(trust.certificateCount(), 3u);
  EXPECT_EQ(trust.certificateAt(2), load("root.pem"));
  EXPECT_EQ(trust.peerCertificates().size(), 2u);
  EXPECT_EQ(trust.publicKey(), load("leaf.pem").publicKey());
  EXPECT_EQ(trust.publicKeys().size(), 3u);
  EXPECT_EQ(trust.certificatesDer()[0], load("leaf.pem").der());
  ASSERT_TRUE(trust.lastEvaluation());
  EXPECT_TRUE(trust.lastEvaluation()->trusted());
}

TEST(ServerTrust, HostNamesAndPolicies) {
  EXPECT_TRUE(chainTrust(TrustPolicy::sslServer("LOCALHOST.")).evaluate().trusted());
  EXPECT_TRUE(chainTrust(TrustPolicy::sslServer("127.0.0.1")).evaluate().trusted());
  EXPECT_TRUE(chainTrust(TrustPolicy::sslServer()).evaluate().trusted());
  auto wrong = chainTrust(TrustPolicy::sslServer("example.com")).evaluate();
  EXPECT_EQ(wrong.result, TrustResult::RecoverableTrustFailure);
  EXPECT_EQ(wrong.verifyError, X509_V_ERR_HOSTNAME_MISMATCH);
  EXPECT_EQ(chainTrust(TrustPolicy::sslServer("::1")).evaluate().verifyError, X509_V_ERR_IP_ADDRESS_MISMATCH);
  EXPECT_FALSE(chainTrust(TrustPolicy::sslServer(std::string("local\0host", 10))).evaluate().trusted());
  // A basic X.509 policy checks no name; changing the policy forgets the last outcome.
  auto trust = chainTrust(TrustPolicy::sslServer("example.com"));
  EXPECT_FALSE(trust.evaluate().trusted());
  trust.setPolicy(TrustPolicy::basicX509());
  EXPECT_FALSE(trust.lastEvaluation());
  EXPECT_TRUE(trust.evaluate().trusted());
}

TEST(ServerTrust, AnchorsReplaceOrJoinTheSystemRoots) {
  // The test root is not a system root.
  pf::ServerTrust system({load("leaf.pem"), load("inter.pem")}, TrustPolicy::sslServer("localhost"));
  auto outcome = system.evaluate();
  EXPECT_TRUE(outcome.completed);
  EXPECT_EQ(outcome.result, TrustResult::RecoverableTrustFailure);
  // Added to the system roots it counts, and so do the system roots.
  auto added = chainTrust(TrustPolicy::sslServer("localhost"));
  added.setAnchorCertificatesOnly(false);
  EXPECT_TRUE(added.evaluate().trusted());
  // An empty anchor list trusts nothing.
  EXPECT_FALSE(chainTrust(TrustPolicy::basicX509(), {}).evaluate().trusted());
  // Any certificate is an anchor as it stands: the intermediate, or the leaf pinned to itself.
  EXPECT_TRUE(chainTrust(TrustPolicy::sslServer("localhost"), {load("inter.pem")}).evaluate().trusted());
  pf::ServerTrust leafOnly({load("leaf.pem")}, TrustPolicy::sslServer("localhost"));
  leafOnly.setAnchorCertificates({load("leaf.pem")});
  EXPECT_TRUE(leafOnly.evaluate().trusted());
  EXPECT_EQ(leafOnly.certificateCount(), 1u);
  // Without the intermediate the chain cannot reach the root.
  pf::ServerTrust missing({load("leaf.pem")}, TrustPolicy::sslServer("localhost"));
  missing.setAnchorCertificates({load("root.pem")});
  EXPECT_EQ(missing.evaluate().verifyError, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY);
}

TEST(ServerTrust, ValidityDatesSelfSignedAndBrokenSignatures) {
  pf::ServerTrust expired({load("expired.pem"), load("inter.pem")}, TrustPolicy::sslServer("localhost"));
  expired.setAnchorCertificates({load("root.pem")});
  auto outcome = expired.evaluate();
  EXPECT_EQ(outcome.result, TrustResult::RecoverableTrustFailure);
  EXPECT_EQ(outcome.verifyError, X509_V_ERR_CERT_HAS_EXPIRED);
  EXPECT_FALSE(outcome.reason.empty());

  auto early = chainTrust(TrustPolicy::basicX509());
  early.setVerifyDate(0.0);
  EXPECT_EQ(early.evaluate().verifyError, X509_V_ERR_CERT_NOT_YET_VALID);

  pf::ServerTrust self({load("selfsigned.pem")}, TrustPolicy::sslServer("other.example"));
  EXPECT_EQ(self.evaluate().result, TrustResult::RecoverableTrustFailure);

  auto der = load("leaf.pem").der();
  der[der.size() - 3] ^= 0x01;  // inside the signature value
  auto forged = pf::ServerTrust::fromDer({der, load("inter.pem").der()}, TrustPolicy::basicX509());
  ASSERT_TRUE(forged);
  forged->setAnchorCertificates({load("root.pem")});
  EXPECT_EQ(forged->evaluate().result, TrustResult::FatalTrustFailure);
}

TEST(ServerTrust, NothingToEvaluate) {
  pf::ServerTrust empty({}, TrustPolicy::sslServer("localhost"));
  auto outcome = empty.evaluate();
  EXPECT_FALSE(outcome.completed);
  EXPECT_EQ(outcome.result, TrustResult::Invalid);
  EXPECT_FALSE(outcome.trusted());
  EXPECT_FALSE(empty.publicKey());
  EXPECT_FALSE(pf::ServerTrust::fromDer({pf::toBytes("junk")}));
}
