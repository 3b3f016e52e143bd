#pragma once
// Private helpers of the security layer: owning handles and error text for OpenSSL objects.

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <string_view>

namespace pf::ossl {

template <auto Fn>
struct Deleter {
  template <typename T>
  void operator()(T* p) const {
    Fn(p);
  }
};

using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>>;

// A read-only memory BIO over the text (not copied: the text must outlive the BIO).
inline BioPtr memoryBio(std::string_view text) {
  return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

// Clears OpenSSL's error queue of this thread (failed parses leave entries behind).
inline void clearErrors() { ERR_clear_error(); }

// Text of the oldest queued error, clearing the queue.
inline std::string takeErrorText() {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown OpenSSL error";
  char buf[256];
  ERR_error_string_n(code, buf, sizeof buf);
  return buf;
}

}  // namespace pf::ossl
