#pragma once
// Authentication challenges of URL loading: the server's certificate (server trust) and HTTP
// authentication (Basic, Digest). A challenge is answered once, from any thread; later answers
// are ignored.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/UrlResponse.h"
#include "platform/security/ServerTrust.h"

namespace pf {

inline constexpr const char* kAuthenticationMethodServerTrust = "NSURLAuthenticationMethodServerTrust";
inline constexpr const char* kAuthenticationMethodHttpBasic = "NSURLAuthenticationMethodHTTPBasic";
inline constexpr const char* kAuthenticationMethodHttpDigest = "NSURLAuthenticationMethodHTTPDigest";

// The platform's numbering (session completion handlers pass these values).
enum class ChallengeDisposition {
  UseCredential = 0,
  PerformDefaultHandling = 1,
  CancelAuthenticationChallenge = 2,
  RejectProtectionSpace = 3,
  // The connection-style answer "go on without a credential": for HTTP authentication the
  // 401 answer is delivered as the response; for server trust the same as default handling.
  ContinueWithoutCredential = 4,
};

struct UrlCredential {
  std::string user;
  std::string password;
  // Set for a credential that accepts a server's certificate.
  std::shared_ptr<ServerTrust> serverTrust;

  static UrlCredential withUser(std::string user, std::string password) {
    return UrlCredential{std::move(user), std::move(password), nullptr};
  }
  static UrlCredential forTrust(std::shared_ptr<ServerTrust> trust) { return UrlCredential{{}, {}, std::move(trust)}; }
};

struct UrlProtectionSpace {
  std::string host;
  int port = 0;
  std::string protocol;  // "http" or "https"
  std::optional<std::string> realm;
  std::string authenticationMethod;
  // Server-trust challenges: the peer's chain with a TLS server policy for the host.
  std::shared_ptr<ServerTrust> serverTrust;
};

class UrlAuthenticationChallenge {
 public:
  using Responder = std::function<void(ChallengeDisposition, std::optional<UrlCredential>)>;

  UrlAuthenticationChallenge(UrlProtectionSpace space, int previousFailureCount,
                             std::optional<UrlResponse> failureResponse,
                             std::optional<UrlCredential> proposedCredential, Responder responder)
      : space_(std::move(space)),
        previousFailureCount_(previousFailureCount),
        failureResponse_(std::move(failureResponse)),
        proposedCredential_(std::move(proposedCredential)),
        responder_(std::move(responder)) {}
  // A challenge dropped without an answer cancels (so that its load does not wait for ever).
  ~UrlAuthenticationChallenge() { cancel(); }
  UrlAuthenticationChallenge(const UrlAuthenticationChallenge&) = delete;
  UrlAuthenticationChallenge& operator=(const UrlAuthenticationChallenge&) = delete;

  const UrlProtectionSpace& protectionSpace() const { return space_; }
  bool isServerTrust() const { return space_.authenticationMethod == kAuthenticationMethodServerTrust; }
  // How many answers with a credential this load has already seen fail.
  int previousFailureCount() const { return previousFailureCount_; }
  // The 401 answer of an HTTP authentication challenge.
  const std::optional<UrlResponse>& failureResponse() const { return failureResponse_; }
  // The credential in the URL ("user:password@"), if any.
  const std::optional<UrlCredential>& proposedCredential() const { return proposedCredential_; }

  // Answers. The first one counts.
  void useCredential(UrlCredential credential) { answer(ChallengeDisposition::UseCredential, std::move(credential)); }
  void continueWithoutCredential() { answer(ChallengeDisposition::ContinueWithoutCredential, std::nullopt); }
  void cancel() { answer(ChallengeDisposition::CancelAuthenticationChallenge, std::nullopt); }
  void performDefaultHandling() { answer(ChallengeDisposition::PerformDefaultHandling, std::nullopt); }
  void rejectProtectionSpace() { answer(ChallengeDisposition::RejectProtectionSpace, std::nullopt); }
  void answer(ChallengeDisposition disposition, std::optional<UrlCredential> credential) {
    if (answered_.exchange(true)) return;
    Responder responder = std::move(responder_);
    if (responder) responder(disposition, std::move(credential));
  }
  bool isAnswered() const { return answered_.load(); }

 private:
  UrlProtectionSpace space_;
  int previousFailureCount_;
  std::optional<UrlResponse> failureResponse_;
  std::optional<UrlCredential> proposedCredential_;
  Responder responder_;
  std::atomic<bool> answered_{false};
};

}  // namespace pf
