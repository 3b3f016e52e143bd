#include "platform/security/Certificate.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include "platform/security/OpenSslSupport.h"

namespace pf {
namespace {

std::shared_ptr<X509> share(X509* x509) { return std::shared_ptr<X509>(x509, X509_free); }

std::shared_ptr<const Bytes> encode(X509* x509) {
  unsigned char* der = nullptr;
  int length = i2d_X509(x509, &der);
  if (length <= 0) return nullptr;
  auto out = std::make_shared<const Bytes>(der, der + length);
  OPENSSL_free(der);
  return out;
}

}  // namespace

std::optional<Certificate> Certificate::fromDer(std::span<const std::uint8_t> der) {
  if (der.empty() || der.size() > 0x7fffffff) return std::nullopt;
  const unsigned char* p = der.data();
  X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  ossl::clearErrors();
  if (!x509) return std::nullopt;
  if (p != der.data() + der.size()) {  // trailing bytes: not one certificate
    X509_free(x509);
    return std::nullopt;
  }
  return Certificate(share(x509), std::make_shared<const Bytes>(der.begin(), der.end()));
}

std::optional<Certificate> Certificate::fromNative(x509_st* certificate) {
  if (!certificate) return std::nullopt;
  auto der = encode(certificate);
  if (!der || X509_up_ref(certificate) != 1) {
    ossl::clearErrors();
    return std::nullopt;
  }
  return Certificate(share(certificate), std::move(der));
}

std::vector<Certificate> Certificate::allFromPem(std::string_view pem) {
  std::vector<Certificate> out;
  if (pem.empty() || pem.size() > 0x7fffffff) return out;
  auto bio = ossl::memoryBio(pem);
  while (bio) {
    X509* x509 = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    if (!x509) break;
    if (auto der = encode(x509)) out.push_back(Certificate(share(x509), std::move(der)));
    else X509_free(x509);
  }
  ossl::clearErrors();
  return out;
}

std::optional<Certificate> Certificate::fromPem(std::string_view pem) {
  if (pem.empty() || pem.size() > 0x7fffffff) return std::nullopt;
  auto bio = ossl::memoryBio(pem);
  X509* x509 = bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr;
  ossl::clearErrors();
  if (!x509) return std::nullopt;
  auto der = encode(x509);
  if (!der) {
    X509_free(x509);
    return std::nullopt;
  }
  return Certificate(share(x509), std::move(der));
}

std::string Certificate::pem() const {
  ossl::BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), x509_.get()) != 1) {
    ossl::clearErrors();
    return {};
  }
  char* data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

std::optional<Key> Certificate::publicKey() const {
  EVP_PKEY* key = X509_get0_pubkey(x509_.get());
  ossl::clearErrors();
  return Key::fromNative(key, KeyClass::Public);
}

std::string Certificate::subjectSummary() const {
  X509_NAME* subject = X509_get_subject_name(x509_.get());
  if (!subject) return {};
  int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
  if (index >= 0) {
    ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length >= 0) {
      std::string out(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
      OPENSSL_free(utf8);
      return out;
    }
  }
  ossl::clearErrors();
  char* line = X509_NAME_oneline(subject, nullptr, 0);
  std::string out = line ? line : "";
  OPENSSL_free(line);
  return out;
}

}  // namespace pf
