#include "platform/net/PeerTrust.h"

#include "platform/security/ServerTrust.h"

namespace pf {

bool evaluatePeerTrust(const std::vector<Bytes>& chain, const std::string& peerName,
                       const std::vector<Bytes>& anchors) {
  auto policy = TrustPolicy::sslServer(peerName.empty() ? std::nullopt : std::optional<std::string>(peerName));
  auto trust = ServerTrust::fromDer(chain, policy);
  if (!trust) return false;
  if (!anchors.empty()) {
    std::vector<Certificate> own;
    for (const auto& der : anchors) {
      auto certificate = Certificate::fromDer(der);
      if (!certificate) return false;
      own.push_back(*certificate);
    }
    trust->setAnchorCertificates(std::move(own));
  }
  return trust->evaluate().trusted();
}

}  // namespace pf
