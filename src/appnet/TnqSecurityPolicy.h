#pragma once
// Whether the HTTP client trusts a server's certificate chain: a valid chain, pinning to
// certificates shipped with the application (whole certificate or public key), the host name, or
// anything at all.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/security/Key.h"
#include "platform/security/ServerTrust.h"

namespace appnet {

enum TnqSSLPinningMode : std::uint64_t {
  TnqSSLPinningModeNone = 0,
  TnqSSLPinningModePublicKey = 1,
  TnqSSLPinningModeCertificate = 2,
};

class TnqSecurityPolicy {
 public:
  // The DER data of every ".cer" file at the top of the main bundle, read once per process.
  static const std::vector<pf::Bytes>& defaultPinnedCertificates();
  // Tests: read the bundle again on next use.
  static void resetDefaultPinnedCertificates();
  static std::shared_ptr<TnqSecurityPolicy> defaultPolicy();
  static std::shared_ptr<TnqSecurityPolicy> policyWithPinningMode(std::uint64_t mode);

  std::uint64_t SSLPinningMode = TnqSSLPinningModeNone;
  bool validatesCertificateChain = true;
  bool allowInvalidCertificates = false;
  bool validatesDomainName = true;

  const std::vector<pf::Bytes>& pinnedCertificates() const { return pinnedCertificates_; }
  // Stores the certificates and rebuilds pinnedPublicKeys (an empty list clears both).
  void setPinnedCertificates(std::vector<pf::Bytes> certificates);
  const std::vector<pf::Key>& pinnedPublicKeys() const { return pinnedPublicKeys_; }

  bool evaluateServerTrust(pf::ServerTrust& serverTrust) const { return evaluateServerTrust(serverTrust, std::nullopt); }
  // Whether the server is to be trusted. The trust's policy and anchors are changed on the way.
  bool evaluateServerTrust(pf::ServerTrust& serverTrust, const std::optional<std::string>& domain) const;

 private:
  std::vector<pf::Bytes> pinnedCertificates_;
  std::vector<pf::Key> pinnedPublicKeys_;
};

}  // namespace appnet
