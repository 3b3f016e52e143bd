#pragma once
// The charts' small HTTP client: one asynchronous GET or POST at a time, answered through
// callbacks on the run loop of the thread that started it, plus synchronous class operations.
// KLineHttpsEngine judges server certificates itself (chain and host name against the system
// roots, or against anchors a test sets) and cancels an untrusted challenge.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/net/UrlAuthenticationChallenge.h"
#include "platform/net/UrlConnection.h"
#include "platform/security/Certificate.h"

namespace kline {

class KLineHttpEngine : public std::enable_shared_from_this<KLineHttpEngine> {
 public:
  using SuccessCallBack = std::function<void(const pf::Bytes&)>;
  using FailureCallBack = std::function<void(const pf::Error&)>;

  // Answers with more body bytes than this fail (-1103); so do answers with an error status
  // (-1011), whose bodies are not the data asked for.
  static constexpr std::size_t kMaxBodyBytes = 16u << 20;
  static constexpr double kGetTimeout = 10.0;
  static constexpr double kPostTimeout = 15.0;

  virtual ~KLineHttpEngine();

  template <class Engine = KLineHttpEngine>
  static std::shared_ptr<Engine> make() {
    return std::shared_ptr<Engine>(new Engine());
  }

  pf::Bytes receiveData;
  SuccessCallBack successCallBack;
  FailureCallBack failureCallBack;
  const std::shared_ptr<pf::UrlConnection>& connection() const { return connection_; }

  void getUrl(const std::string& url);
  void getUrl(const std::string& url, SuccessCallBack success, FailureCallBack failure);
  void postUrl(const std::string& url, const pf::Bytes& body);
  void postUrl(const std::string& url, const pf::Bytes& body, SuccessCallBack success, FailureCallBack failure);
  // A plain request with system defaults; both callbacks are stored, unset ones too.
  void fileDownLoadWithURL(const std::string& url, SuccessCallBack success, FailureCallBack failure);
  // Cancels the running connection, if any, and forgets it.
  void cancel();

  // ---- synchronous (blocking the calling thread)
  static pf::Bytes getToAddr(const std::string& url, const std::optional<pf::Error>& error, double timeout);
  static pf::Bytes getToAddr(const std::string& url, const std::optional<pf::Error>& error);
  static pf::Bytes postToAddr(const std::string& url, const pf::Bytes& body, const std::optional<pf::Error>& error,
                              double timeout);
  static pf::Bytes postToAddr(const std::string& url, const pf::Bytes& body, const std::optional<pf::Error>& error);
  // The answer's body; when the send fails, {"status":"2","textStatus":"<code>","errorThrown":"<text>"}
  // as UTF-8 JSON.
  static pf::Bytes request(const pf::UrlRequest& request, std::optional<pf::Error> error);

 protected:
  KLineHttpEngine() = default;
  // Whether this engine answers server-trust challenges itself.
  virtual bool canAuthenticateAgainstProtectionSpace(const pf::UrlProtectionSpace& space) const { return false; }
  virtual void didReceiveAuthenticationChallenge(const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge) {
    challenge->performDefaultHandling();
  }

 private:
  class Delegate;
  void start(pf::UrlRequest request);
  void didReceiveResponse(const pf::UrlResponse& response);
  void didReceiveData(const pf::Bytes& data);
  void didFinishLoading();
  void didFailWithError(const pf::Error& error);
  // Forgets the connection and hands back both callbacks, clearing them.
  std::pair<SuccessCallBack, FailureCallBack> endLoad();

  std::shared_ptr<pf::UrlConnection> connection_;
  std::shared_ptr<Delegate> delegate_;
};

class KLineHttpsEngine : public KLineHttpEngine {
 public:
  // Anchors that replace the system roots for every engine (tests); empty restores the roots.
  static void setTestAnchors(std::vector<pf::Certificate> anchors);

 protected:
  friend class KLineHttpEngine;
  KLineHttpsEngine() = default;
  bool canAuthenticateAgainstProtectionSpace(const pf::UrlProtectionSpace& space) const override;
  void didReceiveAuthenticationChallenge(const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge) override;
};

// Placeholder of the charts library; both operations do nothing.
struct TnqHUD {
  static void showHUD() {}
  static void closeHUD() {}
};

}  // namespace kline
