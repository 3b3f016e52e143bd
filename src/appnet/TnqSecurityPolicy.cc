#include "appnet/TnqSecurityPolicy.h"

#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/security/Certificate.h"

namespace appnet {

namespace {

pf::Mutex gPinnedMutex;
std::optional<std::vector<pf::Bytes>> gDefaultPinned PF_GUARDED_BY(gPinnedMutex);

bool trustIsValid(pf::ServerTrust& trust) { return trust.evaluate().trusted(); }

// The key of a certificate as a trust of that certificate alone gives it after an evaluation
// under a basic X.509 policy (whatever its verdict).
std::optional<pf::Key> publicKeyForCertificate(const pf::Bytes& der) {
  auto certificate = pf::Certificate::fromDer(der);
  if (!certificate) return std::nullopt;
  pf::ServerTrust trust({*certificate}, pf::TrustPolicy::basicX509());
  trust.evaluate();
  return trust.publicKey();
}

}  // namespace

const std::vector<pf::Bytes>& TnqSecurityPolicy::defaultPinnedCertificates() {
  pf::MutexLock lock(gPinnedMutex);
  if (!gDefaultPinned) {
    std::vector<pf::Bytes> certificates;
    for (const auto& path : pf::Bundle::main()->pathsForResources("cer", ".")) {
      std::ifstream in(path, std::ios::binary);
      if (!in) continue;
      certificates.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    gDefaultPinned = std::move(certificates);
  }
  return *gDefaultPinned;
}

void TnqSecurityPolicy::resetDefaultPinnedCertificates() {
  pf::MutexLock lock(gPinnedMutex);
  gDefaultPinned.reset();
}

std::shared_ptr<TnqSecurityPolicy> TnqSecurityPolicy::defaultPolicy() {
  auto policy = std::make_shared<TnqSecurityPolicy>();
  policy->SSLPinningMode = TnqSSLPinningModeNone;
  return policy;
}

std::shared_ptr<TnqSecurityPolicy> TnqSecurityPolicy::policyWithPinningMode(std::uint64_t mode) {
  auto policy = std::make_shared<TnqSecurityPolicy>();
  policy->SSLPinningMode = mode;
  policy->setPinnedCertificates(defaultPinnedCertificates());
  return policy;
}

void TnqSecurityPolicy::setPinnedCertificates(std::vector<pf::Bytes> certificates) {
  pinnedCertificates_ = std::move(certificates);
  pinnedPublicKeys_.clear();
  for (const auto& der : pinnedCertificates_)
    if (auto key = publicKeyForCertificate(der)) pinnedPublicKeys_.push_back(std::move(*key));
}

bool TnqSecurityPolicy::evaluateServerTrust(pf::ServerTrust& serverTrust,
                                            const std::optional<std::string>& domain) const {
  serverTrust.setPolicy(validatesDomainName ? pf::TrustPolicy::sslServer(domain) : pf::TrustPolicy::basicX509());

  if (SSLPinningMode == TnqSSLPinningModeNone) {
    if (allowInvalidCertificates) return true;
    return trustIsValid(serverTrust);
  }
  if (!trustIsValid(serverTrust) && !allowInvalidCertificates) return false;

  std::vector<pf::Bytes> serverCertificates = serverTrust.certificatesDer();

  if (SSLPinningMode == TnqSSLPinningModeCertificate) {
    std::vector<pf::Certificate> anchors;
    for (const auto& der : pinnedCertificates_)
      if (auto c = pf::Certificate::fromDer(der)) anchors.push_back(std::move(*c));
    serverTrust.setAnchorCertificates(std::move(anchors));
    if (!trustIsValid(serverTrust)) return false;
    if (!validatesCertificateChain) return true;
    std::size_t pinned = 0;
    for (const auto& der : serverCertificates)
      for (const auto& p : pinnedCertificates_)
        if (p == der) {
          ++pinned;
          break;
        }
    return pinned == serverCertificates.size();
  }

  if (SSLPinningMode == TnqSSLPinningModePublicKey) {
    std::vector<pf::Key> serverKeys;
    for (const auto& der : serverCertificates)
      if (auto key = publicKeyForCertificate(der)) serverKeys.push_back(std::move(*key));
    if (!validatesCertificateChain && serverKeys.size() > 1) serverKeys.erase(serverKeys.begin() + 1, serverKeys.end());
    std::size_t matches = 0;
    for (const auto& serverKey : serverKeys)
      for (const auto& pinnedKey : pinnedPublicKeys_)
        if (serverKey == pinnedKey) ++matches;
    if (matches == 0) return false;
    if (!validatesCertificateChain) return true;
    return matches == serverCertificates.size();
  }
  return false;
}

}  // namespace appnet
