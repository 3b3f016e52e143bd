#include "container/MwHttpRequestImp.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "container/HnNetworkEngine.h"
#include "container/HnNetworkOperation.h"
#include "container/LoggerUtil.h"
#include "platform/foundation/FileManager.h"
#include "container/MwBlockingWait.h"
#include "container/MwComPackage.h"
#include "container/MwFileRequestListener.h"
#include "container/MwHttpResponse.h"
#include "container/MwSessionManager.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/Text.h"

namespace container {

namespace fs = std::filesystem;

namespace {

constexpr pf::TimeInterval kWaitStep = 0.2;
// The debug line of a received answer shows at most this much of it.
constexpr std::size_t kLoggedBodyBytes = 4096;

// The answer as the debug line shows it: UTF-8 text (empty when it is none), cut at a character
// boundary after kLoggedBodyBytes with the full length noted.
std::string loggedText(const pf::Bytes& body) {
  const std::string_view text =
      pf::utf8Prefix({reinterpret_cast<const char*>(body.data()), body.size()}, kLoggedBodyBytes);
  if (!pf::isValidUtf8(text)) return {};
  std::string shown(text);
  if (text.size() < body.size()) shown += "... (" + std::to_string(body.size()) + " bytes)";
  return shown;
}

// A download's own temporary file: a fresh unique name, removed when the last holder lets it go.
class TempFile {
 public:
  explicit TempFile(const std::string& lastComponent) {
    std::error_code ec;
    fs::path folder = pf::Sandbox::tmp();
    fs::create_directories(folder, ec);
    std::string name = (folder / (lastComponent.empty() ? std::string("download") : lastComponent)).string();
    name += ".XXXXXX";
    fd_ = ::mkstemp(name.data());
    if (fd_ >= 0) path_ = name;
  }
  ~TempFile() {
    close();
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool valid() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  bool write(std::span<const std::uint8_t> bytes) {
    return fd_ >= 0 && pf::FileManager::writeAll(fd_, bytes);
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Moves the file to the destination (renaming, or copying across file systems).
  bool moveTo(const fs::path& destination) {
    close();
    std::error_code ec;
    fs::rename(path_, destination, ec);
    if (ec) {
      ec.clear();
      fs::copy_file(path_, destination, fs::copy_options::overwrite_existing, ec);
      if (ec) return false;
      fs::remove(path_, ec);
    }
    path_.clear();
    return true;
  }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace

struct MwHttpRequestImp::Exchange {
  std::atomic<bool> ended{false};
  std::atomic<bool> succeeded{false};
  std::atomic<bool> result{false};
  MwBlockingWait wait{kWaitStep};

  void end() {
    ended.store(true, std::memory_order_release);
    wait.wake();
  }
};

MwHttpRequestImp::MwHttpRequestImp(std::shared_ptr<HnNetworkEngine> engine, const pf::Bytes& postData)
    : engine_(std::move(engine)) {
  if (!postData.empty()) postData_ = postData;
}

MwHttpRequestImp::~MwHttpRequestImp() = default;

void MwHttpRequestImp::setUrl(const std::string& url) {
  if (!url.empty()) requestUrl_ = url;
}

void MwHttpRequestImp::setParameter(const std::string& parameter) {
  if (!parameter.empty()) requestParameter_ = parameter;
}

void MwHttpRequestImp::setMethod(const std::string& method) {
  if (!method.empty()) requestMethod_ = method;
}

std::optional<std::string> MwHttpRequestImp::getUrl() const {
  if (requestUrl_.empty()) return std::nullopt;
  return requestUrl_;
}

std::optional<std::string> MwHttpRequestImp::getParameter() const {
  if (requestParameter_.empty()) return std::nullopt;
  return requestParameter_;
}

std::optional<std::string> MwHttpRequestImp::getMethod() const {
  if (requestMethod_.empty()) return std::nullopt;
  return requestMethod_;
}

void MwHttpRequestImp::addRequestHeader(const std::string& name, const std::string& value) {
  if (name.empty() || value.empty()) return;
  requestHeaders_.set(name, value);
}

std::shared_ptr<HnNetworkOperation> MwHttpRequestImp::getHnNetworkOperation() const {
  pf::MutexLock lock(stateMutex_);
  return httpOperation_;
}

std::shared_ptr<MwHttpResponse> MwHttpRequestImp::getResponse() const {
  pf::MutexLock lock(stateMutex_);
  return httpResponse_;
}

std::vector<pf::Cookie> MwHttpRequestImp::getResponseCookies() const {
  pf::MutexLock lock(stateMutex_);
  return responseCookies_;
}

pf::HttpHeaders MwHttpRequestImp::getResponseHeaders() const {
  pf::MutexLock lock(stateMutex_);
  return responseHeaders_;
}

std::shared_ptr<const pf::Bytes> MwHttpRequestImp::getResponseData() const {
  pf::MutexLock lock(stateMutex_);
  return responseData_;
}

std::optional<std::string> MwHttpRequestImp::getResponseString() const {
  pf::MutexLock lock(stateMutex_);
  if (!responseData_) return std::nullopt;
  return pf::toString(*responseData_);
}

void MwHttpRequestImp::abort() {
  if (!engine_) return;
  aborted_.store(true);
  engine_->cancelAllOperations();
}

void MwHttpRequestImp::cancelOperation() {
  if (auto operation = getHnNetworkOperation()) operation->cancel();
}

std::shared_ptr<HnNetworkOperation> MwHttpRequestImp::prepare(Way way) {
  if (!engine_) return nullptr;
  {
    pf::MutexLock lock(stateMutex_);
    responseCookies_.clear();
    responseHeaders_.clear();
    responseData_.reset();
    if (way == Way::SynchData || way == Way::AsynchData || way == Way::Asynchronous) httpResponse_.reset();
  }
  responseStatus_.store(-1);

  const bool file = way == Way::File;
  const double timeout = (!file && timeout_ >= 1) ? static_cast<double>(timeout_) : 0.0;
  auto operation = engine_->operationWithURLString(requestUrl_, std::nullopt, file ? "GET" : requestMethod_, timeout);
  {
    pf::MutexLock lock(stateMutex_);
    httpOperation_ = operation;
  }
  if (postData_) operation->setUploadStream(*postData_);
  operation->setShouldContinueWithInvalidCertificate(!validateCertificate_);
  if (validateCertificate_) {
    if (auto path = pf::Bundle::main()->pathForResource("cacert", "pem")) operation->setClientCertificate(path->string());
  }
  if (!requestHeaders_.empty()) operation->addHeaders(requestHeaders_);
  if (allowCompressedResponse_) operation->addHeader("Accept-Encoding", way == Way::Stream ? "gzip" : "gzip,deflate");
  if (!file) operation->setMaximumResponseLength(static_cast<std::int64_t>(MwComPackage::kMaxPacketText));
  return operation;
}

void MwHttpRequestImp::waitingRequestFinish(const std::shared_ptr<Exchange>& exchange) {
  exchange->wait.wait([&] { return exchange->ended.load(std::memory_order_acquire); });
}

void MwHttpRequestImp::keepBodyOf(const std::shared_ptr<MwHttpResponse>& response) {
  const auto& body = response->getResponseData();
  if (!body || body->empty()) return;
  pf::MutexLock lock(stateMutex_);
  responseData_ = std::shared_ptr<const pf::Bytes>(response, &*body);
}

void MwHttpRequestImp::storeAnswer(const HnNetworkOperation& operation) {
  const auto& response = operation.readonlyResponse();
  pf::MutexLock lock(stateMutex_);
  if (response) {
    responseHeaders_ = response->allHeaderFields();
    if (const auto& url = operation.readonlyRequest().url()) {
      responseCookies_ = pf::cookiesFromResponseHeaders(responseHeaders_, *url, pf::Clock::now());
    }
  }
  responseStatus_.store(operation.HTTPStatusCode());
}

std::shared_ptr<MwHttpResponse> MwHttpRequestImp::dataRequest(Way way) {
  const bool logged = way == Way::SynchData;
  auto operation = prepare(way);
  if (!operation) return nullptr;
  if (logged) LoggerUtil::debug("----->  send request to server(" + requestUrl_ + ") <-----");

  auto exchange = std::make_shared<Exchange>();
  operation->addCompletionHandler(
      [exchange, logged](HnNetworkOperation& op) {
        if (logged && LoggerUtil::isDebugEnabled()) {
          LoggerUtil::debug("----> receive from server(" + loggedText(op.responseData()) + ") <----");
        }
        exchange->succeeded.store(true);
      },
      [logged](HnNetworkOperation& op, const pf::Error&) {
        const std::string code = std::to_string(static_cast<int>(op.HTTPStatusCode()));
        LoggerUtil::debug(logged ? "----> http request failed(code=" + code + ")" : "http request failed(code=" + code + ")");
      });
  operation->addEndObserver([exchange] { exchange->end(); });
  engine_->enqueueOperation(operation);
  waitingRequestFinish(exchange);

  // A cancelled exchange ends the wait with no answer.
  if (operation->isCancelled()) return nullptr;
  auto response = std::make_shared<MwHttpResponseImp>(*operation);
  MwSessionManager::getInstance().updateSession(this, response.get());
  {
    pf::MutexLock lock(stateMutex_);
    httpResponse_ = response;
  }
  if (!exchange->succeeded.load()) {
    responseStatus_.store(operation->HTTPStatusCode());
    return response;
  }
  storeAnswer(*operation);
  keepBodyOf(response);
  return response;
}

std::shared_ptr<MwHttpResponse> MwHttpRequestImp::synchDataRequest() {
  pf::MutexLock lock(requestLock_);
  return dataRequest(Way::SynchData);
}

std::shared_ptr<MwHttpResponse> MwHttpRequestImp::asynchDataRequest() { return dataRequest(Way::AsynchData); }

void MwHttpRequestImp::asynchronousRequest(ResponseBlock block) {
  auto operation = prepare(Way::Asynchronous);
  if (!operation) return;
  auto self = shared_from_this();
  operation->addCompletionHandler(
      [self, block](HnNetworkOperation& op) {
        auto response = std::make_shared<MwHttpResponseImp>(op);
        {
          pf::MutexLock lock(self->stateMutex_);
          self->httpResponse_ = response;
        }
        MwSessionManager::getInstance().updateSession(self.get(), response.get());
        self->responseStatus_.store(response->getStatusCode());
        if (block) block(response);
      },
      [block](HnNetworkOperation&, const pf::Error&) {
        if (block) block(nullptr);
      });
  engine_->enqueueOperation(operation);
}

bool MwHttpRequestImp::fileRequest(const std::string& path, std::weak_ptr<MwFileRequestListener> listener) {
  if (!engine_ || path.empty()) return false;
  listener_ = listener;
  if (auto l = listener.lock()) l->onData(100, 10);

  const fs::path destination(path);
  auto temp = std::make_shared<TempFile>(destination.filename().string());
  if (!temp->valid()) return false;
  auto operation = prepare(Way::File);
  if (!operation) return false;

  auto exchange = std::make_shared<Exchange>();
  operation->addDownloadStream([temp](std::span<const std::uint8_t> bytes) { return temp->write(bytes); });
  operation->onDownloadProgressChanged([listener](double progress) {
    if (auto l = listener.lock()) l->onData(100, 10 + static_cast<std::int64_t>(progress * 100.0 * 0.9));
  });
  std::weak_ptr<MwHttpRequestImp> weak = weak_from_this();
  operation->onNotModified([weak, exchange] {
    if (auto self = weak.lock()) self->responseStatus_.store(304);
    exchange->result.store(true);
  });
  operation->addCompletionHandler(
      [weak, exchange, temp, destination](HnNetworkOperation& op) {
        if (auto self = weak.lock()) self->storeAnswer(op);
        temp->close();
        std::error_code ec;
        const auto size = fs::file_size(temp->path(), ec);
        if (ec || size == 0) return;
        fs::remove(destination, ec);
        if (destination.has_parent_path() && !fs::exists(destination.parent_path(), ec)) {
          fs::create_directories(destination.parent_path(), ec);
        }
        exchange->result.store(temp->moveTo(destination));
      },
      [weak](HnNetworkOperation& op, const pf::Error&) {
        if (auto self = weak.lock()) self->responseStatus_.store(op.HTTPStatusCode());
      });
  operation->addEndObserver([exchange] { exchange->end(); });
  temp.reset();  // the handlers own the file now: it goes when they are dropped
  engine_->enqueueOperation(operation);
  waitingRequestFinish(exchange);
  return !operation->isCancelled() && exchange->result.load();
}

std::shared_ptr<const pf::Bytes> MwHttpRequestImp::streamRequest() {
  pf::MutexLock lock(requestLock_);
  auto operation = prepare(Way::Stream);
  if (!operation) return nullptr;
  auto exchange = std::make_shared<Exchange>();
  std::weak_ptr<MwHttpRequestImp> weak = weak_from_this();
  operation->addCompletionHandler([exchange](HnNetworkOperation&) { exchange->succeeded.store(true); },
                                  [weak](HnNetworkOperation& op, const pf::Error&) {
                                    if (auto self = weak.lock()) self->responseStatus_.store(op.HTTPStatusCode());
                                  });
  operation->addEndObserver([exchange] { exchange->end(); });
  engine_->enqueueOperation(operation);
  waitingRequestFinish(exchange);
  if (operation->isCancelled() || !exchange->succeeded.load()) return nullptr;

  storeAnswer(*operation);
  auto response = std::make_shared<MwHttpResponseImp>(*operation);
  MwSessionManager::getInstance().updateSession(this, response.get());
  keepBodyOf(response);
  return getResponseData();
}

}  // namespace container
