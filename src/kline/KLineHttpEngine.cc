#include "kline/KLineHttpEngine.h"

#include <mutex>

#include "appnet/TnqHTTPSupport.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/UrlError.h"

namespace kline {

namespace {
constexpr const char* kUrlErrorDomain = "NSURLErrorDomain";

pf::Error urlError(std::int64_t code, const std::string& text) {
  pf::Value info = pf::Value::object();
  info["NSLocalizedDescription"] = text;
  return pf::Error(kUrlErrorDomain, code, std::move(info));
}

pf::Mutex anchorsMutex;
std::vector<pf::Certificate>& testAnchors() PF_REQUIRES(anchorsMutex) {
  static std::vector<pf::Certificate> anchors;
  return anchors;
}
}  // namespace

class KLineHttpEngine::Delegate : public pf::UrlConnectionDelegate {
 public:
  explicit Delegate(std::weak_ptr<KLineHttpEngine> engine) : engine_(std::move(engine)) {}

  bool handlesAuthenticationChallenges() const override { return true; }
  void willSendRequestForAuthenticationChallenge(
      pf::UrlConnection& connection, const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge) override {
    auto engine = current(connection);
    if (!engine || !engine->canAuthenticateAgainstProtectionSpace(challenge->protectionSpace())) {
      challenge->performDefaultHandling();
      return;
    }
    engine->didReceiveAuthenticationChallenge(challenge);
  }
  void didReceiveResponse(pf::UrlConnection& connection, const pf::UrlResponse& response) override {
    if (auto e = current(connection)) e->didReceiveResponse(response);
  }
  void didReceiveData(pf::UrlConnection& connection, const pf::Bytes& data) override {
    if (auto e = current(connection)) e->didReceiveData(data);
  }
  void didFinishLoading(pf::UrlConnection& connection) override {
    if (auto e = current(connection)) e->didFinishLoading();
  }
  void didFailWithError(pf::UrlConnection& connection, const pf::Error& error) override {
    if (auto e = current(connection)) e->didFailWithError(error);
  }

 private:
  // The engine, while this connection is still its running one.
  std::shared_ptr<KLineHttpEngine> current(pf::UrlConnection& connection) const {
    auto engine = engine_.lock();
    if (!engine || engine->connection_.get() != &connection) return nullptr;
    return engine;
  }
  std::weak_ptr<KLineHttpEngine> engine_;
};

KLineHttpEngine::~KLineHttpEngine() {
  if (connection_) connection_->cancel();
}

void KLineHttpEngine::start(pf::UrlRequest request) {
  auto delegate = std::make_shared<Delegate>(weak_from_this());
  auto connection = pf::UrlConnection::make(std::move(request), delegate);
  if (connection) receiveData.clear();
  connection_ = connection;
  delegate_ = delegate;
  if (connection_) connection_->start();
}

void KLineHttpEngine::getUrl(const std::string& url) {
  start(pf::UrlRequest(pf::Url::parse(url), kGetTimeout));
}

void KLineHttpEngine::getUrl(const std::string& url, SuccessCallBack success, FailureCallBack failure) {
  if (success) successCallBack = std::move(success);
  if (failure) failureCallBack = std::move(failure);
  getUrl(url);
}

void KLineHttpEngine::postUrl(const std::string& url, const pf::Bytes& body) {
  for (const auto& cookie : pf::CookieStorage::shared().cookies()) pf::logFormat("%@", cookie.description());
  pf::UrlRequest request(pf::Url::parse(url), kPostTimeout);
  request.setHttpMethod("POST");
  request.setHttpBody(body);
  start(std::move(request));
}

void KLineHttpEngine::postUrl(const std::string& url, const pf::Bytes& body, SuccessCallBack success,
                              FailureCallBack failure) {
  if (success) successCallBack = std::move(success);
  if (failure) failureCallBack = std::move(failure);
  postUrl(url, body);
}

void KLineHttpEngine::fileDownLoadWithURL(const std::string& url, SuccessCallBack success, FailureCallBack failure) {
  start(pf::UrlRequest(pf::Url::parse(url)));
  successCallBack = std::move(success);
  failureCallBack = std::move(failure);
}

void KLineHttpEngine::cancel() {
  if (connection_) connection_->cancel();
  connection_.reset();
  delegate_.reset();
}

void KLineHttpEngine::didReceiveResponse(const pf::UrlResponse& response) {
  receiveData.clear();
  if (response.statusCode() >= 400) {
    // An error page is not a series: fail rather than hand it on as data.
    cancel();
    didFailWithError(urlError(-1011, pf::format("The server answered with status %d.", response.statusCode())));
  }
}

void KLineHttpEngine::didReceiveData(const pf::Bytes& data) {
  if (receiveData.size() + data.size() > kMaxBodyBytes) {
    cancel();
    didFailWithError(urlError(-1103, "The answer is larger than a series may be."));
    return;
  }
  receiveData.insert(receiveData.end(), data.begin(), data.end());
}

void KLineHttpEngine::didFinishLoading() {
  auto self = shared_from_this();  // a callback may drop the last other reference
  std::optional<std::string> text = appnet::TnqDecodeText(receiveData, appnet::kTnqGB18030StringEncoding);
  pf::logFormat("receveString = %@", text ? *text : std::string("(null)"));
  auto [success, failure] = endLoad();
  if (success) success(receiveData);
}

std::pair<KLineHttpEngine::SuccessCallBack, KLineHttpEngine::FailureCallBack> KLineHttpEngine::endLoad() {
  connection_.reset();
  delegate_.reset();
  std::pair<SuccessCallBack, FailureCallBack> callbacks{std::move(successCallBack), std::move(failureCallBack)};
  successCallBack = nullptr;
  failureCallBack = nullptr;
  return callbacks;
}

void KLineHttpEngine::didFailWithError(const pf::Error& error) {
  auto self = shared_from_this();
  pf::logFormat("%@", error.localizedDescription());
  auto [success, failure] = endLoad();
  if (failure) failure(error);
}

pf::Bytes KLineHttpEngine::request(const pf::UrlRequest& request, std::optional<pf::Error> error) {
  pf::UrlConnection::Result result = pf::UrlConnection::sendSynchronousRequest(request);
  if (result.error) error = result.error;
  if (!error) return result.data;
  pf::Value answer = pf::Value::object();
  answer["status"] = "2";
  answer["textStatus"] = std::to_string(error->code);
  answer["errorThrown"] = error->localizedDescription();
  std::string text = answer.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  return pf::Bytes(text.begin(), text.end());
}

pf::Bytes KLineHttpEngine::getToAddr(const std::string& url, const std::optional<pf::Error>& error, double timeout) {
  return request(pf::UrlRequest(pf::Url::parse(url), timeout), error);
}

pf::Bytes KLineHttpEngine::getToAddr(const std::string& url, const std::optional<pf::Error>& error) {
  return request(pf::UrlRequest(pf::Url::parse(url)), error);
}

pf::Bytes KLineHttpEngine::postToAddr(const std::string& url, const pf::Bytes& body,
                                      const std::optional<pf::Error>& error, double timeout) {
  pf::UrlRequest r(pf::Url::parse(url), timeout);
  r.setHttpMethod("POST");
  r.setHttpBody(body);
  return request(r, error);
}

pf::Bytes KLineHttpEngine::postToAddr(const std::string& url, const pf::Bytes& body,
                                      const std::optional<pf::Error>& error) {
  return postToAddr(url, body, error, pf::UrlRequest::kDefaultTimeoutInterval);
}

void KLineHttpsEngine::setTestAnchors(std::vector<pf::Certificate> anchors) {
  pf::MutexLock lock(anchorsMutex);
  testAnchors() = std::move(anchors);
}

bool KLineHttpsEngine::canAuthenticateAgainstProtectionSpace(const pf::UrlProtectionSpace& space) const {
  return space.authenticationMethod == pf::kAuthenticationMethodServerTrust;
}

void KLineHttpsEngine::didReceiveAuthenticationChallenge(
    const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge) {
  const pf::UrlProtectionSpace& space = challenge->protectionSpace();
  pf::logFormat("didReceiveAuthenticationChallenge %@ %zd", space.authenticationMethod,
                static_cast<long>(challenge->previousFailureCount()));
  if (!space.serverTrust) {
    challenge->cancel();
    return;
  }
  auto trust = std::make_shared<pf::ServerTrust>(*space.serverTrust);
  trust->setPolicy(pf::TrustPolicy::sslServer(space.host));
  {
    pf::MutexLock lock(anchorsMutex);
    if (!testAnchors().empty()) trust->setAnchorCertificates(testAnchors());
  }
  if (!trust->evaluate().trusted()) {
    pf::logFormat("untrusted server certificate for %@", space.host);
    challenge->cancel();
    return;
  }
  challenge->useCredential(pf::UrlCredential::forTrust(trust));
  pf::logLine("get the whole response");
}

}  // namespace kline
