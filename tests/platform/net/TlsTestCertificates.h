#pragma once
// Certificates made at test time (OpenSSL, P-256 keys): a CA and leaves it signs, as DER for our
// TLS settings and as PEM files for third-party peers.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace fxtest {

struct TestIdentity {
  pf::Bytes certificateDer;
  pf::Bytes privateKeyDer;  // PKCS#8
  std::shared_ptr<X509> certificate;
  std::shared_ptr<EVP_PKEY> key;

  // Writes "<stem>.crt" and "<stem>.key" (PEM) and returns their paths.
  std::pair<std::string, std::string> writePem(const std::filesystem::path& dir, const std::string& stem) const {
    auto crt = (dir / (stem + ".crt")).string();
    auto keyPath = (dir / (stem + ".key")).string();
    FILE* f = std::fopen(crt.c_str(), "w");
    PEM_write_X509(f, certificate.get());
    std::fclose(f);
    f = std::fopen(keyPath.c_str(), "w");
    PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
    return {crt, keyPath};
  }
};

inline pf::Bytes testDerOf(X509* certificate) {
  int n = i2d_X509(certificate, nullptr);
  pf::Bytes out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  i2d_X509(certificate, &p);
  return out;
}

// A certificate for `commonName` with the given DNS and IP names, signed by `issuer` (self-signed
// when null), valid from an hour ago for a day.
inline TestIdentity makeTestIdentity(const std::string& commonName, const std::vector<std::string>& altNames,
                                     const TestIdentity* issuer = nullptr, bool isCa = false) {
  std::shared_ptr<EVP_PKEY> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  if (!key) throw std::runtime_error("key generation failed");
  std::shared_ptr<X509> cert(X509_new(), X509_free);
  X509_set_version(cert.get(), 2);
  static long serial = 1;
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                             -1, 0);
  X509* issuerCert = issuer ? issuer->certificate.get() : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(issuerCert));
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuerCert, cert.get(), nullptr, nullptr, 0);
  auto addExt = [&](int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) throw std::runtime_error("bad extension " + value);
    X509_add_ext(cert.get(), ext, -1);
    X509_EXTENSION_free(ext);
  };
  addExt(NID_basic_constraints, isCa ? "critical,CA:TRUE" : "critical,CA:FALSE");
  addExt(NID_key_usage, isCa ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature,keyEncipherment");
  if (!isCa) addExt(NID_ext_key_usage, "serverAuth,clientAuth");
  addExt(NID_subject_key_identifier, "hash");
  if (!altNames.empty()) {
    std::string san;
    for (const auto& alt : altNames) {
      if (!san.empty()) san += ",";
      bool ip = alt.find_first_not_of("0123456789.:") == std::string::npos;
      san += (ip ? "IP:" : "DNS:") + alt;
    }
    addExt(NID_subject_alt_name, san);
  }
  X509_sign(cert.get(), issuer ? issuer->key.get() : key.get(), EVP_sha256());
  TestIdentity identity;
  identity.certificate = cert;
  identity.key = key;
  identity.certificateDer = testDerOf(cert.get());
  int n = i2d_PrivateKey(key.get(), nullptr);
  PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key.get());
  n = i2d_PKCS8_PRIV_KEY_INFO(p8, nullptr);
  identity.privateKeyDer.resize(static_cast<size_t>(n));
  unsigned char* p = identity.privateKeyDer.data();
  i2d_PKCS8_PRIV_KEY_INFO(p8, &p);
  PKCS8_PRIV_KEY_INFO_free(p8);
  return identity;
}

// A CA and a server leaf for "localhost", 127.0.0.1 and ::1.
struct TestPki {
  TestIdentity ca = makeTestIdentity("Test Root", {}, nullptr, true);
  TestIdentity server = makeTestIdentity("localhost", {"localhost", "127.0.0.1", "::1"}, &ca);
};

}  // namespace fxtest
