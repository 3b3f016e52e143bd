#pragma once
// Server trust: a peer's certificate chain judged against a policy (TLS server with an optional
// host name, or basic X.509) and a set of anchors (the system roots, or anchors of the caller's
// own, replacing or added to them). Built over OpenSSL's X.509 store.
//
// Every road to a server makes one from the chain the peer presented: URL loading, the TLS
// socket streams and the HTTP client's security policy all evaluate the same object. The
// evaluation answers with the phone platform's result codes, so callers keep the platform's
// rule "valid is Unspecified or Proceed".
//
// A ServerTrust is a mutable value; it is not safe to change or evaluate one from two threads
// at once (copies are independent).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/security/Certificate.h"
#include "platform/security/Key.h"

struct stack_st_X509;

namespace pf {

// The platform's trust result codes, with its numbering.
enum class TrustResult : int {
  Invalid = 0,                  // not evaluated, or nothing to evaluate
  Proceed = 1,                  // valid: the user chose to trust it
  Deny = 3,                     // the user chose to distrust it
  Unspecified = 4,              // valid by the trust settings (what a good chain gives)
  RecoverableTrustFailure = 5,  // not trusted, but a user could override (unknown root, expired, wrong host)
  FatalTrustFailure = 6,        // not trusted and never to be overridden (bad signature, malformed, revoked)
  OtherError = 7,               // the evaluation itself failed
};

struct TrustPolicy {
  enum class Kind { SslServer, BasicX509 };
  Kind kind = Kind::BasicX509;
  // SSL server only: the name (DNS name or IP address literal) the leaf must be issued for;
  // none checks no name.
  std::optional<std::string> hostName;

  static TrustPolicy sslServer(std::optional<std::string> hostName = std::nullopt) {
    return TrustPolicy{Kind::SslServer, std::move(hostName)};
  }
  static TrustPolicy basicX509() { return TrustPolicy{Kind::BasicX509, std::nullopt}; }
  bool operator==(const TrustPolicy&) const = default;
};

struct TrustEvaluation {
  // False when the evaluation could not run (an empty chain, a library failure); result is
  // then Invalid or OtherError.
  bool completed = false;
  TrustResult result = TrustResult::Invalid;
  // OpenSSL's X509_V_ERR_* code of the failure (0 when trusted) and its text.
  long verifyError = 0;
  std::string reason;

  // The platform callers' rule: the call succeeded and the result is Unspecified or Proceed.
  bool trusted() const {
    return completed && (result == TrustResult::Unspecified || result == TrustResult::Proceed);
  }
};

class ServerTrust {
 public:
  // chain: the peer's certificates in the order presented, leaf first.
  explicit ServerTrust(std::vector<Certificate> chain, TrustPolicy policy = TrustPolicy::basicX509());
  // nullopt when any certificate fails to parse.
  static std::optional<ServerTrust> fromDer(const std::vector<Bytes>& chainDer,
                                            TrustPolicy policy = TrustPolicy::basicX509());
  // From an OpenSSL peer chain; the stack is not consumed. On a client connection
  // SSL_get_peer_cert_chain(ssl) starts with the server's own certificate, as wanted here.
  static ServerTrust fromNativeChain(stack_st_X509* chain, TrustPolicy policy = TrustPolicy::basicX509());

  // Replaces the policy (the platform's "set policies" with one policy).
  void setPolicy(TrustPolicy policy);
  const TrustPolicy& policy() const { return policy_; }

  // Anchors of the caller's own. Setting them makes them the only anchors (the system roots
  // are no longer consulted) until setAnchorCertificatesOnly(false) adds the system roots back.
  void setAnchorCertificates(std::vector<Certificate> anchors);
  void setAnchorCertificatesOnly(bool only);
  const std::vector<Certificate>& anchorCertificates() const { return anchors_; }
  bool anchorCertificatesOnly() const { return anchorsOnly_; }

  // The time of validity checks, seconds since 1970; none means the real current time (not the
  // virtual test clock: certificates are valid in the real world's time).
  void setVerifyDate(std::optional<double> secondsSince1970) { verifyDate_ = secondsSince1970; }

  // Builds and checks the chain. Any anchor is trusted as it stands, even when it is not
  // self-signed (an intermediate or the leaf itself), as on the phone platform.
  TrustEvaluation evaluate();
  // The outcome of the last evaluate(), if any (changing the policy or anchors clears it).
  const std::optional<TrustEvaluation>& lastEvaluation() const { return last_; }

  // The chain as presented by the peer.
  const std::vector<Certificate>& peerCertificates() const { return peer_; }
  // After an evaluation, the chain it built (leaf first, up to the anchor when one was reached);
  // before, the peer chain.
  const std::vector<Certificate>& certificates() const { return built_.empty() ? peer_ : built_; }
  std::size_t certificateCount() const { return certificates().size(); }
  std::optional<Certificate> certificateAt(std::size_t index) const;
  // DER of certificates(), in order.
  std::vector<Bytes> certificatesDer() const;

  // The leaf's public key (nullopt for an empty chain or a key OpenSSL cannot read).
  std::optional<Key> publicKey() const;
  // The public keys of certificates(), in order, skipping those that cannot be read.
  std::vector<Key> publicKeys() const;

 private:
  std::vector<Certificate> peer_;
  std::vector<Certificate> built_;
  TrustPolicy policy_;
  std::vector<Certificate> anchors_;
  bool anchorsOnly_ = false;
  std::optional<double> verifyDate_;
  std::optional<TrustEvaluation> last_;
};

}  // namespace pf
