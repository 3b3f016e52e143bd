#pragma once
// Asymmetric keys (RSA above all; any key a certificate may carry) and the raw RSA block
// operation the server packets are built on.
//
// A Key is a cheap, copyable handle to immutable key material; copies share it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"

struct evp_pkey_st;

namespace pf {

enum class KeyClass { Public, Private };

class Key {
 public:
  // The public key of a DER-encoded X.509 certificate (the bundle's ".der" files).
  static std::optional<Key> publicKeyFromCertificate(std::span<const std::uint8_t> der);
  // A DER SubjectPublicKeyInfo, or a bare PKCS#1 RSAPublicKey.
  static std::optional<Key> publicKeyFromDer(std::span<const std::uint8_t> der);
  // PEM text holding "PUBLIC KEY", "RSA PUBLIC KEY" or a "CERTIFICATE" (its key is taken).
  static std::optional<Key> publicKeyFromPem(std::string_view pem);
  // Unencrypted PEM text holding "PRIVATE KEY" (PKCS#8) or "RSA PRIVATE KEY" (PKCS#1).
  static std::optional<Key> privateKeyFromPem(std::string_view pem);
  // DER PKCS#8 PrivateKeyInfo or PKCS#1 RSAPrivateKey.
  static std::optional<Key> privateKeyFromDer(std::span<const std::uint8_t> der);
  // Adopts a reference to an OpenSSL key (the caller keeps its own reference).
  static std::optional<Key> fromNative(evp_pkey_st* key, KeyClass keyClass);

  KeyClass keyClass() const { return class_; }
  bool isPrivate() const { return class_ == KeyClass::Private; }
  bool isRsa() const;
  // Bytes of one block: the modulus length for RSA (128 for 1024 bits, 256 for 2048 bits).
  std::size_t blockSize() const;
  // Size of the key in bits.
  int bits() const;

  // The public half (the key itself when already public).
  Key publicKey() const;
  // The public half as DER SubjectPublicKeyInfo.
  Bytes publicKeyDer() const;

  // Raw RSA without padding, applying the key's own exponent (public exponent for a public
  // key, private exponent for a private one). The block is read as a big-endian number,
  // left-padded with zero bytes to blockSize(); the result is always blockSize() bytes.
  // nullopt for a key that is not RSA, a block longer than blockSize(), or a number not below
  // the modulus.
  std::optional<Bytes> rawRsa(std::span<const std::uint8_t> block) const;

  // Same key material and the same class.
  bool operator==(const Key& other) const;

  evp_pkey_st* native() const { return key_.get(); }

 private:
  Key(std::shared_ptr<evp_pkey_st> key, KeyClass keyClass) : key_(std::move(key)), class_(keyClass) {}

  std::shared_ptr<evp_pkey_st> key_;
  KeyClass class_;
};

}  // namespace pf
