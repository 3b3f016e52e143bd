#include "platform/security/ServerTrust.h"

#include <arpa/inet.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cmath>
#include <mutex>

#include "platform/security/OpenSslSupport.h"

namespace pf {
namespace {

using X509StackPtr = std::unique_ptr<STACK_OF(X509), decltype([](STACK_OF(X509)* s) { sk_X509_pop_free(s, X509_free); })>;

// The system roots: the default certificate file read once, plus the hashed directory, which
// OpenSSL reads lazily certificate by certificate.
struct SystemRoots {
  ossl::StorePtr store;
  std::vector<X509*> fileCertificates;  // owned by the store

  SystemRoots() : store(X509_STORE_new()) {
    if (!store) return;
    X509_STORE_set_default_paths(store.get());
    ossl::clearErrors();
    X509StackPtr all(X509_STORE_get1_all_certs(store.get()));
    if (all)
      for (int i = 0; i < sk_X509_num(all.get()); ++i) fileCertificates.push_back(sk_X509_value(all.get(), i));
  }

  static const SystemRoots& shared() {
    static const SystemRoots roots;
    return roots;
  }
};

// A store of the caller's anchors, with the system roots as well when asked.
ossl::StorePtr makeStore(const std::vector<Certificate>& anchors, bool withSystemRoots) {
  ossl::StorePtr store(X509_STORE_new());
  if (!store) return store;
  if (withSystemRoots) {
    const auto& roots = SystemRoots::shared();
    for (X509* cert : roots.fileCertificates) X509_STORE_add_cert(store.get(), cert);
    if (X509_LOOKUP* dir = X509_STORE_add_lookup(store.get(), X509_LOOKUP_hash_dir()))
      X509_LOOKUP_add_dir(dir, nullptr, X509_FILETYPE_DEFAULT);
  }
  for (const auto& anchor : anchors) X509_STORE_add_cert(store.get(), anchor.native());
  ossl::clearErrors();  // duplicates are reported as errors and are harmless
  return store;
}

bool isIpLiteral(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

TrustResult resultFor(int error) {
  switch (error) {
    case X509_V_OK: return TrustResult::Unspecified;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
    case X509_V_ERR_CERT_REVOKED:
    case X509_V_ERR_CERT_REJECTED:
      return TrustResult::FatalTrustFailure;
    case X509_V_ERR_OUT_OF_MEM:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_STORE_LOOKUP:
      return TrustResult::OtherError;
    default: return TrustResult::RecoverableTrustFailure;
  }
}

}  // namespace

ServerTrust::ServerTrust(std::vector<Certificate> chain, TrustPolicy policy)
    : peer_(std::move(chain)), policy_(std::move(policy)) {}

std::optional<ServerTrust> ServerTrust::fromDer(const std::vector<Bytes>& chainDer, TrustPolicy policy) {
  std::vector<Certificate> chain;
  chain.reserve(chainDer.size());
  for (const auto& der : chainDer) {
    auto cert = Certificate::fromDer(der);
    if (!cert) return std::nullopt;
    chain.push_back(std::move(*cert));
  }
  return ServerTrust(std::move(chain), std::move(policy));
}

ServerTrust ServerTrust::fromNativeChain(stack_st_X509* chain, TrustPolicy policy) {
  std::vector<Certificate> certs;
  for (int i = 0; chain && i < sk_X509_num(chain); ++i)
    if (auto cert = Certificate::fromNative(sk_X509_value(chain, i))) certs.push_back(std::move(*cert));
  return ServerTrust(std::move(certs), std::move(policy));
}

void ServerTrust::setPolicy(TrustPolicy policy) {
  policy_ = std::move(policy);
  built_.clear();
  last_.reset();
}

void ServerTrust::setAnchorCertificates(std::vector<Certificate> anchors) {
  anchors_ = std::move(anchors);
  anchorsOnly_ = true;
  built_.clear();
  last_.reset();
}

void ServerTrust::setAnchorCertificatesOnly(bool only) {
  anchorsOnly_ = only;
  built_.clear();
  last_.reset();
}

std::optional<Certificate> ServerTrust::certificateAt(std::size_t index) const {
  const auto& certs = certificates();
  if (index >= certs.size()) return std::nullopt;
  return certs[index];
}

std::vector<Bytes> ServerTrust::certificatesDer() const {
  std::vector<Bytes> out;
  for (const auto& cert : certificates()) out.push_back(cert.der());
  return out;
}

std::optional<Key> ServerTrust::publicKey() const {
  const auto& certs = certificates();
  if (certs.empty()) return std::nullopt;
  return certs.front().publicKey();
}

std::vector<Key> ServerTrust::publicKeys() const {
  std::vector<Key> out;
  for (const auto& cert : certificates())
    if (auto key = cert.publicKey()) out.push_back(std::move(*key));
  return out;
}

TrustEvaluation ServerTrust::evaluate() {
  built_.clear();
  TrustEvaluation outcome;
  auto finish = [&](TrustEvaluation value) -> TrustEvaluation {
    last_ = value;
    return value;
  };
  if (peer_.empty()) {
    outcome.reason = "no certificates to evaluate";
    return finish(outcome);
  }

  ossl::StorePtr ownStore;
  X509_STORE* store = nullptr;
  if (anchorsOnly_ || !anchors_.empty()) {
    ownStore = makeStore(anchors_, !anchorsOnly_);
    store = ownStore.get();
  } else {
    store = SystemRoots::shared().store.get();
  }
  X509StackPtr untrusted(sk_X509_new_null());
  ossl::StoreCtxPtr ctx(X509_STORE_CTX_new());
  bool ready = store && untrusted && ctx;
  for (std::size_t i = 1; ready && i < peer_.size(); ++i) {
    X509* cert = peer_[i].native();
    ready = X509_up_ref(cert) == 1;
    if (ready && !sk_X509_push(untrusted.get(), cert)) X509_free(cert), ready = false;
  }
  ready = ready && X509_STORE_CTX_init(ctx.get(), store, peer_.front().native(), untrusted.get()) == 1;
  if (!ready) {
    outcome.result = TrustResult::OtherError;
    outcome.reason = ossl::takeErrorText();
    return finish(outcome);
  }

  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  // Anchors are trusted as they stand, whether or not they are self-signed roots.
  X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
  if (verifyDate_) {
    if (!std::isfinite(*verifyDate_)) {
      outcome.result = TrustResult::OtherError;
      outcome.reason = "verify date is not a finite time";
      return finish(outcome);
    }
    X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(std::floor(*verifyDate_)));
  }
  if (policy_.kind == TrustPolicy::Kind::SslServer) {
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SSL_SERVER);
    if (policy_.hostName && !policy_.hostName->empty()) {
      std::string host = *policy_.hostName;
      if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
      if (!host.empty() && host.back() == '.') host.pop_back();
      bool set = isIpLiteral(host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                                   : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
      X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      if (!set) {  // a name no certificate can carry (an embedded NUL, ...)
        outcome.completed = true;
        outcome.result = TrustResult::RecoverableTrustFailure;
        outcome.verifyError = X509_V_ERR_HOSTNAME_MISMATCH;
        outcome.reason = X509_verify_cert_error_string(X509_V_ERR_HOSTNAME_MISMATCH);
        ossl::clearErrors();
        return finish(outcome);
      }
    }
  }

  int verified = X509_verify_cert(ctx.get());
  int error = X509_STORE_CTX_get_error(ctx.get());
  if (X509StackPtr chain{X509_STORE_CTX_get1_chain(ctx.get())}) {
    for (int i = 0; i < sk_X509_num(chain.get()); ++i)
      if (auto cert = Certificate::fromNative(sk_X509_value(chain.get(), i))) built_.push_back(std::move(*cert));
  }
  if (verified < 0) {
    outcome.result = TrustResult::OtherError;
    outcome.verifyError = error;
    outcome.reason = error != X509_V_OK ? X509_verify_cert_error_string(error) : ossl::takeErrorText();
  } else {
    if (verified == 1) error = X509_V_OK;
    else if (error == X509_V_OK) error = X509_V_ERR_UNSPECIFIED;
    outcome.completed = true;
    outcome.result = resultFor(error);
    outcome.verifyError = error;
    if (error != X509_V_OK) outcome.reason = X509_verify_cert_error_string(error);
  }
  ossl::clearErrors();
  return finish(outcome);
}

}  // namespace pf
