// The security policy against a test PKI (CA, intermediate, leaf for 127.0.0.1, self-signed)
// made by the test peer.

#include <gtest/gtest.h>

#include "appnet/TnqSecurityPolicy.h"
#include "peers/http_client_peer.h"

using namespace appnet;

namespace {

pf::ServerTrust chainTrust() {
  auto& peer = fxtest::HttpClientPeer::shared();
  return *pf::ServerTrust::fromDer({peer.der("leaf"), peer.der("intermediate")});
}

pf::ServerTrust selfTrust() { return *pf::ServerTrust::fromDer({fxtest::HttpClientPeer::shared().der("selfsigned")}); }

}  // namespace

TEST(SecurityPolicy, WithoutPinningOnlyValidityCounts) {
  auto policy = TnqSecurityPolicy::defaultPolicy();
  auto trust = selfTrust();
  EXPECT_FALSE(policy->evaluateServerTrust(trust, "127.0.0.1"));
  policy->allowInvalidCertificates = true;
  trust = selfTrust();
  EXPECT_TRUE(policy->evaluateServerTrust(trust, "some.other.host"));
  EXPECT_EQ(trust.policy(), pf::TrustPolicy::sslServer("some.other.host"));
  policy->validatesDomainName = false;
  policy->evaluateServerTrust(trust);
  EXPECT_EQ(trust.policy(), pf::TrustPolicy::basicX509());
  policy->validatesDomainName = true;
  policy->evaluateServerTrust(trust);
  EXPECT_EQ(trust.policy(), pf::TrustPolicy::sslServer());
}

TEST(SecurityPolicy, CertificatePinningUsesPinsAsAnchorsAndCountsTheChain) {
  auto& peer = fxtest::HttpClientPeer::shared();
  auto policy = TnqSecurityPolicy::policyWithPinningMode(TnqSSLPinningModeCertificate);
  policy->allowInvalidCertificates = true;  // the test CA is no system root

  policy->setPinnedCertificates({peer.der("leaf")});
  auto trust = chainTrust();
  EXPECT_FALSE(policy->evaluateServerTrust(trust, "127.0.0.1"));  // the intermediate is not pinned
  policy->validatesCertificateChain = false;
  trust = chainTrust();
  EXPECT_TRUE(policy->evaluateServerTrust(trust, "127.0.0.1"));
  trust = chainTrust();
  EXPECT_FALSE(policy->evaluateServerTrust(trust, "other.example"));  // the host still counts

  policy->validatesCertificateChain = true;
  policy->setPinnedCertificates({peer.der("ca"), peer.der("intermediate"), peer.der("leaf")});
  trust = chainTrust();
  EXPECT_TRUE(policy->evaluateServerTrust(trust, "127.0.0.1"));
  trust = selfTrust();
  EXPECT_FALSE(policy->evaluateServerTrust(trust, "127.0.0.1"));

  // Without leave to accept invalid chains the unknown CA ends it before the pins are looked at.
  policy->allowInvalidCertificates = false;
  trust = chainTrust();
  EXPECT_FALSE(policy->evaluateServerTrust(trust, "127.0.0.1"));
}

TEST(SecurityPolicy, PublicKeyPinningComparesKeys) {
  auto& peer = fxtest::HttpClientPeer::shared();
  auto policy = TnqSecurityPolicy::policyWithPinningMode(TnqSSLPinningModePublicKey);
  policy->allowInvalidCertificates = true;
  policy->setPinnedCertificates({peer.der("leaf"), pf::toBytes("not DER")});
  EXPECT_EQ(policy->pinnedPublicKeys().size(), 1u);
  auto trust = chainTrust();
  EXPECT_FALSE(policy->evaluateServerTrust(trust, "127.0.0.1"));  // the intermediate's key is not pinned
  policy->validatesCertificateChain = false;
  trust = chainTrust();
  EXPECT_TRUE(policy->evaluateServerTrust(trust, "127.0.0.1"));
  trust = selfTrust();
  EXPECT_FALSE(policy->evaluateServerTrust(trust, "127.0.0.1"));

  policy->SSLPinningMode = 3;
  trust = chainTrust();
  EXPECT_FALSE(policy->evaluateServerTrust(trust, "127.0.0.1"));

  policy->setPinnedCertificates({});
  EXPECT_TRUE(policy->pinnedPublicKeys().empty());
}
