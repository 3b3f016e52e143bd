// RSA packets and key material from outside: server answers decrypted under both key classes,
// and the same bytes read as keys and certificates. Nothing may crash, and the fixed-width
// blocks must hold their sizes.
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "container/MwRSA.h"
#include "container/RSACompare.h"
#include "platform/security/Certificate.h"
#include "platform/security/Key.h"

namespace {

struct Keys {
  pf::Key privateKey;
  pf::Key publicKey;
  static const Keys& shared() {
    static const Keys keys = [] {
      EVP_PKEY* made = EVP_RSA_gen(1024);
      if (!made) std::abort();
      auto key = pf::Key::fromNative(made, pf::KeyClass::Private);
      EVP_PKEY_free(made);
      if (!key) std::abort();
      return Keys{*key, key->publicKey()};
    }();
    return keys;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Keys& keys = Keys::shared();
  std::span<const std::uint8_t> bytes(data, size);
  for (const pf::Key* key : {&keys.privateKey, &keys.publicKey}) {
    auto plain = container::MwRSA::decrypt(bytes, *key);
    if (plain && plain->size() > size + 128) std::abort();
    if (plain) container::RSACompare::isEqualToRSAData(*plain, bytes);
    if (size <= 128) {
      auto block = key->rawRsa(bytes);
      if (block && block->size() != 128) std::abort();
    }
  }
  std::string_view text(reinterpret_cast<const char*>(data), size);
  pf::Key::publicKeyFromDer(bytes);
  pf::Key::privateKeyFromDer(bytes);
  pf::Key::publicKeyFromCertificate(bytes);
  pf::Key::publicKeyFromPem(text);
  pf::Key::privateKeyFromPem(text);
  if (auto cert = pf::Certificate::fromDer(bytes)) {
    cert->publicKey();
    cert->subjectSummary();
    if (cert->der().size() != size) std::abort();
  }
  pf::Certificate::allFromPem(text);
  return 0;
}
