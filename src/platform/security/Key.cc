#include "platform/security/Key.h"

#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>

#include "platform/security/OpenSslSupport.h"

namespace pf {
namespace {

std::shared_ptr<EVP_PKEY> share(EVP_PKEY* key) { return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free); }

EVP_PKEY* readSpki(std::span<const std::uint8_t> der) {
  const unsigned char* p = der.data();
  EVP_PKEY* key = der.empty() ? nullptr : d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
  if (key && p != der.data() + der.size()) EVP_PKEY_free(key), key = nullptr;
  return key;
}

EVP_PKEY* readPkcs1Public(std::span<const std::uint8_t> der) {
  const unsigned char* p = der.data();
  EVP_PKEY* key = der.empty() ? nullptr : d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size()));
  if (key && p != der.data() + der.size()) EVP_PKEY_free(key), key = nullptr;
  return key;
}

EVP_PKEY* readCertificateKey(std::span<const std::uint8_t> der) {
  const unsigned char* p = der.data();
  X509* cert = der.empty() ? nullptr : d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (!cert) return nullptr;
  EVP_PKEY* key = p == der.data() + der.size() ? X509_get_pubkey(cert) : nullptr;
  X509_free(cert);
  return key;
}

EVP_PKEY* readPrivate(std::span<const std::uint8_t> der) {
  const unsigned char* p = der.data();
  EVP_PKEY* key = der.empty() ? nullptr : d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size()));
  if (key && p != der.data() + der.size()) EVP_PKEY_free(key), key = nullptr;
  return key;
}

// Walks the PEM blocks of the text; the first block the reader accepts gives the key.
template <typename Reader>
EVP_PKEY* readPem(std::string_view pem, Reader reader) {
  if (pem.empty() || pem.size() > 0x7fffffff) return nullptr;
  auto bio = ossl::memoryBio(pem);
  for (;;) {
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long length = 0;
    if (!bio || PEM_read_bio(bio.get(), &name, &header, &data, &length) != 1) break;
    // Encrypted legacy blocks carry a "Proc-Type" header; they are not read.
    EVP_PKEY* key = header && *header ? nullptr
                                      : reader(std::string_view(name), std::span<const std::uint8_t>(
                                                                           data, static_cast<std::size_t>(length)));
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
    if (key) return key;
  }
  return nullptr;
}

}  // namespace

std::optional<Key> Key::fromNative(evp_pkey_st* key, KeyClass keyClass) {
  if (!key) return std::nullopt;
  if (keyClass == KeyClass::Private) {
    // Only a key that holds its private half can act as a private key.
    BIGNUM* d = nullptr;
    bool rsa = EVP_PKEY_is_a(key, "RSA") || EVP_PKEY_is_a(key, "RSA-PSS");
    if (rsa) {
      if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_D, &d) != 1 || !d) {
        ossl::clearErrors();
        return std::nullopt;
      }
      BN_clear_free(d);
    }
  }
  if (EVP_PKEY_up_ref(key) != 1) return std::nullopt;
  return Key(share(key), keyClass);
}

namespace {
std::optional<Key> wrap(EVP_PKEY* key, KeyClass keyClass) {
  ossl::clearErrors();
  if (!key) return std::nullopt;
  auto result = Key::fromNative(key, keyClass);
  EVP_PKEY_free(key);
  return result;
}
}  // namespace

std::optional<Key> Key::publicKeyFromCertificate(std::span<const std::uint8_t> der) {
  return wrap(readCertificateKey(der), KeyClass::Public);
}

std::optional<Key> Key::publicKeyFromDer(std::span<const std::uint8_t> der) {
  EVP_PKEY* key = readSpki(der);
  if (!key) key = readPkcs1Public(der);
  return wrap(key, KeyClass::Public);
}

std::optional<Key> Key::publicKeyFromPem(std::string_view pem) {
  return wrap(readPem(pem,
                      [](std::string_view name, std::span<const std::uint8_t> der) -> EVP_PKEY* {
                        if (name == "PUBLIC KEY") return readSpki(der);
                        if (name == "RSA PUBLIC KEY") return readPkcs1Public(der);
                        if (name == "CERTIFICATE") return readCertificateKey(der);
                        return nullptr;
                      }),
              KeyClass::Public);
}

std::optional<Key> Key::privateKeyFromPem(std::string_view pem) {
  return wrap(readPem(pem,
                      [](std::string_view name, std::span<const std::uint8_t> der) -> EVP_PKEY* {
                        if (name == "PRIVATE KEY" || name == "RSA PRIVATE KEY" || name == "EC PRIVATE KEY")
                          return readPrivate(der);
                        return nullptr;
                      }),
              KeyClass::Private);
}

std::optional<Key> Key::privateKeyFromDer(std::span<const std::uint8_t> der) {
  return wrap(readPrivate(der), KeyClass::Private);
}

bool Key::isRsa() const { return EVP_PKEY_is_a(key_.get(), "RSA") || EVP_PKEY_is_a(key_.get(), "RSA-PSS"); }

std::size_t Key::blockSize() const {
  int size = EVP_PKEY_get_size(key_.get());
  return size > 0 ? static_cast<std::size_t>(size) : 0;
}

int Key::bits() const { return EVP_PKEY_get_bits(key_.get()); }

Bytes Key::publicKeyDer() const {
  unsigned char* der = nullptr;
  int length = i2d_PUBKEY(key_.get(), &der);
  if (length <= 0) {
    ossl::clearErrors();
    return {};
  }
  Bytes out(der, der + length);
  OPENSSL_free(der);
  return out;
}

Key Key::publicKey() const {
  if (class_ == KeyClass::Public) return *this;
  Bytes der = publicKeyDer();
  EVP_PKEY* pub = readSpki(der);
  ossl::clearErrors();
  if (!pub) return *this;  // cannot happen for a key OpenSSL could read; keep a usable answer
  return Key(share(pub), KeyClass::Public);
}

std::optional<Bytes> Key::rawRsa(std::span<const std::uint8_t> block) const {
  if (!isRsa()) return std::nullopt;
  const std::size_t size = blockSize();
  if (size == 0 || block.size() > size) return std::nullopt;
  Bytes input(size, 0);
  std::copy(block.begin(), block.end(), input.begin() + static_cast<std::ptrdiff_t>(size - block.size()));

  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key_.get(), nullptr));
  Bytes output(size);
  std::size_t produced = output.size();
  bool ok = ctx != nullptr;
  if (class_ == KeyClass::Public) {
    ok = ok && EVP_PKEY_encrypt_init(ctx.get()) == 1 &&
         EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) == 1 &&
         EVP_PKEY_encrypt(ctx.get(), output.data(), &produced, input.data(), input.size()) == 1;
  } else {
    ok = ok && EVP_PKEY_decrypt_init(ctx.get()) == 1 &&
         EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) == 1 &&
         EVP_PKEY_decrypt(ctx.get(), output.data(), &produced, input.data(), input.size()) == 1;
  }
  if (!ok || produced > size) {
    ossl::clearErrors();
    return std::nullopt;
  }
  if (produced < size) {  // keep the documented fixed width
    std::memmove(output.data() + (size - produced), output.data(), produced);
    std::fill(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(size - produced), 0);
  }
  return output;
}

bool Key::operator==(const Key& other) const {
  if (class_ != other.class_) return false;
  if (key_ == other.key_) return true;
  bool equal = EVP_PKEY_eq(key_.get(), other.key_.get()) == 1;
  ossl::clearErrors();
  return equal;
}

}  // namespace pf
