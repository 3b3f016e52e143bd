#pragma once
// The RSA keys of the application package, read once from its key files:
//   "mwframework.der"               consult-password public key (the handshake's crypt flag 4)
//   "mwframework_sign.der"          signature public key (checks answer signatures)
//   "mwframework_sign_private.der"  signature private key (signs packets)
//   "mwframework_list.der"          list public key (signed resource lists)
// A ".der" public key file holds an X.509 certificate or a SubjectPublicKeyInfo; the private key
// file holds PKCS#8 or PKCS#1. A missing or unreadable file gives no key.

#include <filesystem>
#include <optional>

#include "platform/security/Key.h"

namespace container {

class MwKeyStore {
 public:
  static std::optional<pf::Key> getConsultPasswordPublicKey();
  static std::optional<pf::Key> getSignaturePublicKey();
  static std::optional<pf::Key> getSignaturePrivateKey();
  static std::optional<pf::Key> getListPublicKey();

  // Tests: read the key files from this folder instead of the application package (an empty path
  // goes back to the package); forgets the keys read so far.
  static void setKeyDirectoryForTesting(const std::filesystem::path& directory);
};

}  // namespace container
