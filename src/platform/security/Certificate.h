#pragma once
// X.509 certificates: DER and PEM in and out, equality by encoding, public key.
//
// A Certificate is a cheap, copyable handle to an immutable certificate; copies share it.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/security/Key.h"

struct x509_st;

namespace pf {

class Certificate {
 public:
  static std::optional<Certificate> fromDer(std::span<const std::uint8_t> der);
  // The first certificate of PEM text.
  static std::optional<Certificate> fromPem(std::string_view pem);
  // Every certificate of PEM text, in order (empty when none parses).
  static std::vector<Certificate> allFromPem(std::string_view pem);
  // Adopts a reference to an OpenSSL certificate (the caller keeps its own reference).
  static std::optional<Certificate> fromNative(x509_st* certificate);

  // The DER encoding.
  const Bytes& der() const { return *der_; }
  std::string pem() const;
  std::optional<Key> publicKey() const;
  // The subject's common name, or the whole subject line when it has none.
  std::string subjectSummary() const;

  // Equal encodings.
  bool operator==(const Certificate& other) const { return der_ == other.der_ || *der_ == *other.der_; }

  x509_st* native() const { return x509_.get(); }

 private:
  Certificate(std::shared_ptr<x509_st> x509, std::shared_ptr<const Bytes> der)
      : x509_(std::move(x509)), der_(std::move(der)) {}

  std::shared_ptr<x509_st> x509_;
  std::shared_ptr<const Bytes> der_;
};

}  // namespace pf
