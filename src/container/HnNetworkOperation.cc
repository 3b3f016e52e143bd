#include "container/HnNetworkOperation.h"

#include <cmath>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Thread.h"
#include "platform/net/UrlConnection.h"

namespace container {

namespace {

std::string formEncode(const pf::Value& params) {
  std::string out;
  for (const auto& [key, value] : params.items()) {
    if (!out.empty()) out += "&";
    out += pf::percentEncode(key) + "=" + pf::percentEncode(pf::stringValue(value));
  }
  return out;
}

}  // namespace

// The connection of one start and the delegate that hands its events to the operation.
struct HnNetworkOperation::Loader : pf::UrlConnectionDelegate {
  std::weak_ptr<HnNetworkOperation> operation;
  std::shared_ptr<pf::UrlConnection> connection;

  void didReceiveResponse(pf::UrlConnection&, const pf::UrlResponse& response) override {
    if (auto op = operation.lock()) op->didReceiveResponse(response);
  }
  void didReceiveData(pf::UrlConnection&, const pf::Bytes& data) override {
    if (auto op = operation.lock()) op->didReceiveData(data);
  }
  void didFinishLoading(pf::UrlConnection&) override {
    if (auto op = operation.lock()) op->didFinish();
  }
  void didFailWithError(pf::UrlConnection&, const pf::Error& error) override {
    if (auto op = operation.lock()) op->didFail(error);
  }
};

std::shared_ptr<HnNetworkOperation> HnNetworkOperation::make(const std::string& urlString,
                                                             const std::optional<pf::Value>& params,
                                                             const std::string& method, double timeout) {
  std::shared_ptr<HnNetworkOperation> op(new HnNetworkOperation());
  op->urlString_ = urlString;
  std::string text = urlString;
  const bool get = method.empty() || method == "GET";
  std::optional<std::string> form;
  if (params && params->is_object() && !params->empty()) {
    if (get) {
      text += (text.find('?') == std::string::npos ? "?" : "&") + formEncode(*params);
    } else {
      form = formEncode(*params);
    }
  }
  const double seconds = (std::isfinite(timeout) && timeout > 0) ? timeout : kDefaultTimeout;
  op->request_ = pf::UrlRequest(pf::Url::parse(text), seconds);
  op->request_.setHttpMethod(method);
  if (form) {
    op->request_.setValue("application/x-www-form-urlencoded; charset=utf-8", "Content-Type");
    op->request_.setHttpBody(pf::toBytes(*form));
  }
  return op;
}

HnNetworkOperation::~HnNetworkOperation() {
  if (loader_ && loader_->connection) loader_->connection->cancel();
}

void HnNetworkOperation::setUploadStream(pf::Bytes body) { request_.setHttpBody(std::move(body)); }

void HnNetworkOperation::setShouldContinueWithInvalidCertificate(bool value) {
  continueWithInvalidCertificate_ = value;
}

void HnNetworkOperation::setClientCertificate(const std::string& path) { clientCertificate_ = path; }

void HnNetworkOperation::addHeaders(const pf::HttpHeaders& headers) {
  for (const auto& [name, value] : headers.fields()) request_.setValue(value, name);
}

void HnNetworkOperation::addHeader(const std::string& name, const std::string& value) { request_.setValue(value, name); }

void HnNetworkOperation::addCompletionHandler(CompletionHandler completion, ErrorHandler error) {
  pf::MutexLock lock(mutex_);
  if (completion) completionHandlers_.push_back(std::move(completion));
  if (error) errorHandlers_.push_back(std::move(error));
}

void HnNetworkOperation::addDownloadStream(DownloadStream stream) {
  pf::MutexLock lock(mutex_);
  if (stream) downloadStreams_.push_back(std::move(stream));
}

void HnNetworkOperation::onDownloadProgressChanged(std::function<void(double)> handler) {
  pf::MutexLock lock(mutex_);
  if (handler) progressHandlers_.push_back(std::move(handler));
}

void HnNetworkOperation::onNotModified(std::function<void()> handler) {
  pf::MutexLock lock(mutex_);
  if (handler) notModifiedHandlers_.push_back(std::move(handler));
}

void HnNetworkOperation::addEndObserver(std::function<void()> observer) {
  pf::MutexLock lock(mutex_);
  if (observer) endObservers_.push_back(std::move(observer));
}

std::int64_t HnNetworkOperation::HTTPStatusCode() const { return statusCode_.load(std::memory_order_acquire); }

std::optional<std::string> HnNetworkOperation::responseString() const {
  std::string text = pf::toString(data_);
  if (!pf::isValidUtf8(text)) return std::nullopt;
  return text;
}

void HnNetworkOperation::start() {
  if (isCancelled() || isFinished() || executing_.exchange(true)) return;
  if (pf::Thread::isMainThread()) {
    startOnMain();
    return;
  }
  auto self = shared_from_this();
  pf::RunLoop::main()->perform([self] { self->startOnMain(); });
}

void HnNetworkOperation::startOnMain() {
  if (isCancelled()) return;
  auto loader = std::make_shared<Loader>();
  loader->operation = weak_from_this();
  loader->connection = pf::UrlConnection::make(request_, loader);
  if (!clientCertificate_.empty()) loader->connection->setClientCertificate(clientCertificate_);
  loader->connection->setMaximumBodyLength(maximumResponseLength_);
  if (continueWithInvalidCertificate_) {
    loader->connection->setServerTrustEvaluator(
        [](pf::ServerTrust&, const std::string&) { return pf::ChallengeDisposition::UseCredential; });
  }
  {
    pf::MutexLock lock(mutex_);
    if (isCancelled()) return;
    loader_ = loader;
  }
  loader->connection->scheduleInRunLoop(pf::RunLoop::main(), pf::kRunLoopCommonModes);
  loader->connection->start();
}

void HnNetworkOperation::didReceiveResponse(const pf::UrlResponse& response) {
  response_ = response;
  statusCode_.store(response.statusCode(), std::memory_order_release);
  data_.clear();
  received_ = 0;
  // An announced length within the limit is room taken once (the load has refused a longer one),
  // when it is the length of the body as it comes (not of its compressed form).
  const std::int64_t expected = response.expectedIdentityContentLength();
  bool streaming;
  {
    pf::MutexLock lock(mutex_);
    streaming = !downloadStreams_.empty();
  }
  if (!streaming && expected > 0 && maximumResponseLength_ > 0 && expected <= maximumResponseLength_) {
    data_.reserve(static_cast<std::size_t>(expected));
  }
}

void HnNetworkOperation::didReceiveData(std::span<const std::uint8_t> bytes) {
  if (isCancelled()) return;
  std::vector<DownloadStream> streams;
  std::vector<std::function<void(double)>> progress;
  std::shared_ptr<Loader> loader;
  {
    pf::MutexLock lock(mutex_);
    streams = downloadStreams_;
    progress = progressHandlers_;
    loader = loader_;
  }
  received_ += static_cast<std::int64_t>(bytes.size());
  if (streams.empty()) {
    pf::appendBodyBytes(data_, bytes,
                        maximumResponseLength_ > 0 ? static_cast<std::size_t>(maximumResponseLength_) : SIZE_MAX);
  } else {
    for (auto& stream : streams) {
      if (!stream(bytes)) {
        if (loader && loader->connection) loader->connection->cancel();
        didFail(pf::Error(kHnNetworkErrorDomain, -3000, {{pf::kLocalizedDescriptionKey, "The download could not be written"}}));
        return;
      }
    }
  }
  const std::int64_t expected = response_ ? response_->expectedContentLength() : -1;
  if (expected > 0) {
    const double p = std::min(1.0, static_cast<double>(received_) / static_cast<double>(expected));
    for (auto& handler : progress) handler(p);
  }
}

void HnNetworkOperation::didFinish() {
  if (isCancelled() || isFinished()) return;
  const std::int64_t status = HTTPStatusCode();
  if (status >= 200 && status <= 299) {
    std::vector<CompletionHandler> handlers;
    {
      pf::MutexLock lock(mutex_);
      handlers = completionHandlers_;
    }
    for (auto& handler : handlers) handler(*this);
  } else if (status == 304) {
    std::vector<std::function<void()>> handlers;
    {
      pf::MutexLock lock(mutex_);
      handlers = notModifiedHandlers_;
    }
    for (auto& handler : handlers) handler();
  } else {
    pf::Error error(kHnNetworkErrorDomain, status,
                    {{pf::kLocalizedDescriptionKey, "HTTP status " + std::to_string(status)}});
    callErrorHandlers(error);
  }
  finish();
}

void HnNetworkOperation::didFail(const pf::Error& error) {
  if (isCancelled() || isFinished()) return;
  // Whatever head came before, a failed transport is no answer: its status and a cut body must
  // not pass for one.
  statusCode_.store(0, std::memory_order_release);
  response_.reset();
  pf::Bytes().swap(data_);
  callErrorHandlers(error);
  finish();
}

void HnNetworkOperation::callErrorHandlers(const pf::Error& error) {
  error_ = error;
  std::vector<ErrorHandler> handlers;
  {
    pf::MutexLock lock(mutex_);
    handlers = errorHandlers_;
  }
  for (auto& handler : handlers) handler(*this, error);
}

void HnNetworkOperation::finish() {
  finished_.store(true, std::memory_order_release);
  executing_.store(false, std::memory_order_release);
  std::vector<std::function<void()>> observers;
  {
    pf::MutexLock lock(mutex_);
    observers.swap(endObservers_);
  }
  dropHandlers();
  for (auto& observer : observers) observer();
}

void HnNetworkOperation::dropHandlers() {
  // Moved out under the lock, destroyed outside it (handlers may own files and requests). The
  // connection stays with the operation: this may run inside one of its callbacks.
  std::vector<CompletionHandler> completion;
  std::vector<ErrorHandler> errors;
  std::vector<DownloadStream> streams;
  std::vector<std::function<void(double)>> progress;
  std::vector<std::function<void()>> notModified;
  {
    pf::MutexLock lock(mutex_);
    completion.swap(completionHandlers_);
    errors.swap(errorHandlers_);
    streams.swap(downloadStreams_);
    progress.swap(progressHandlers_);
    notModified.swap(notModifiedHandlers_);
  }
}

void HnNetworkOperation::cancel() {
  if (isFinished() || cancelled_.exchange(true)) return;
  executing_.store(false, std::memory_order_release);
  std::shared_ptr<Loader> loader;
  std::vector<std::function<void()>> observers;
  {
    pf::MutexLock lock(mutex_);
    loader = loader_;
    observers.swap(endObservers_);
  }
  if (loader && loader->connection) loader->connection->cancel();
  dropHandlers();
  for (auto& observer : observers) observer();
}

}  // namespace container
