#include "appnet/TnqURLConnectionOperation.h"

#include <cstdio>
#include <utility>

#include "platform/foundation/Format.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ThreadChecker.h"
#include "platform/net/UrlError.h"

namespace appnet {

const std::string kTnqNetworkingOperationDidStartNotification = TnqName(".networking.operation.start");
const std::string kTnqNetworkingOperationDidFinishNotification = TnqName(".networking.operation.finish");

namespace {

const char* keyForState(std::int64_t state) {
  switch (state) {
    case TnqURLConnectionOperation::Paused: return "isPaused";
    case TnqURLConnectionOperation::Ready: return "isReady";
    case TnqURLConnectionOperation::Executing: return "isExecuting";
    case TnqURLConnectionOperation::Finished: return "isFinished";
    default: return "state";
  }
}

std::optional<pf::OperationKey> operationKeyForState(std::int64_t state) {
  switch (state) {
    case TnqURLConnectionOperation::Ready: return pf::OperationKey::Ready;
    case TnqURLConnectionOperation::Executing: return pf::OperationKey::Executing;
    case TnqURLConnectionOperation::Finished: return pf::OperationKey::Finished;
    default: return std::nullopt;
  }
}

bool transitionIsValid(std::int64_t from, std::int64_t to, bool cancelled) {
  switch (from) {
    case TnqURLConnectionOperation::Paused: return to == TnqURLConnectionOperation::Ready;
    case TnqURLConnectionOperation::Ready:
      return to == TnqURLConnectionOperation::Paused || to == TnqURLConnectionOperation::Executing ||
             (to == TnqURLConnectionOperation::Finished && cancelled);
    case TnqURLConnectionOperation::Executing:
      return to == TnqURLConnectionOperation::Paused || to == TnqURLConnectionOperation::Finished;
    case TnqURLConnectionOperation::Finished: return false;
    default: return true;
  }
}

class MemoryOutputStream : public TnqURLOutputStream {
 public:
  // limited: at most kTnqMaximumInMemoryResponseLength bytes.
  explicit MemoryOutputStream(bool limited = false) : limited_(limited) {}
  std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) override {
    pf::MutexLock lock(mutex_);
    if (limited_ && !error_) error_ = TnqInMemoryLimitError(data_.size(), length, std::nullopt);
    if (error_) return -1;
    if (limited_) {
      pf::appendBodyBytes(data_, std::span<const std::uint8_t>(bytes, length), kTnqMaximumInMemoryResponseLength);
    } else {
      data_.insert(data_.end(), bytes, bytes + length);
    }
    return static_cast<std::ptrdiff_t>(length);
  }
  std::optional<pf::Error> streamError() const override {
    pf::MutexLock lock(mutex_);
    return error_;
  }
  std::optional<pf::Bytes> dataWrittenToMemory() const override {
    pf::MutexLock lock(mutex_);
    return data_;
  }
  std::optional<pf::Bytes> takeDataWrittenToMemory() override {
    pf::MutexLock lock(mutex_);
    return std::exchange(data_, {});
  }
  std::optional<std::uint64_t> lengthWrittenToMemory() const override {
    pf::MutexLock lock(mutex_);
    return data_.size();
  }

 private:
  const bool limited_;
  mutable pf::Mutex mutex_;
  pf::Bytes data_ PF_GUARDED_BY(mutex_);
  std::optional<pf::Error> error_ PF_GUARDED_BY(mutex_);
};

class FileOutputStream : public TnqURLOutputStream {
 public:
  FileOutputStream(std::filesystem::path path, bool append) : path_(std::move(path)), append_(append) {}
  ~FileOutputStream() override { close(); }
  void open() override {
    pf::MutexLock lock(mutex_);
    if (file_ || error_) return;
    file_ = std::fopen(path_.c_str(), append_ ? "ab" : "wb");
    if (!file_) error_ = pf::posixError(errno, path_.string());
    else offset_ = append_ ? static_cast<std::uint64_t>(std::ftell(file_)) : 0;
  }
  void close() override {
    pf::MutexLock lock(mutex_);
    if (file_ && std::fclose(file_) != 0 && !error_) error_ = pf::posixError(errno, path_.string());
    file_ = nullptr;
  }
  std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) override {
    open();
    pf::MutexLock lock(mutex_);
    if (!file_) return -1;
    std::size_t n = std::fwrite(bytes, 1, length, file_);
    if (n < length && std::ferror(file_)) {
      error_ = pf::posixError(errno ? errno : EIO, path_.string());
      return -1;
    }
    offset_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }
  std::optional<pf::Error> streamError() const override {
    pf::MutexLock lock(mutex_);
    return error_;
  }
  std::optional<std::uint64_t> fileCurrentOffset() const override {
    pf::MutexLock lock(mutex_);
    return offset_;
  }

 private:
  mutable pf::Mutex mutex_;
  const std::filesystem::path path_;
  const bool append_;
  std::FILE* file_ PF_GUARDED_BY(mutex_) = nullptr;
  std::uint64_t offset_ PF_GUARDED_BY(mutex_) = 0;
  std::optional<pf::Error> error_ PF_GUARDED_BY(mutex_);
};

std::shared_ptr<pf::DispatchGroup> urlOperationCompletionGroup() {
  static auto group = pf::DispatchGroup::make();
  return group;
}

std::shared_ptr<pf::DispatchQueue> completionClearingQueue() {
  static auto queue = pf::DispatchQueue::makeConcurrent(TnqName(".networking.operation.queue"));
  return queue;
}

}  // namespace

std::shared_ptr<TnqURLOutputStream> TnqURLOutputStream::toMemory() { return std::make_shared<MemoryOutputStream>(); }
std::shared_ptr<TnqURLOutputStream> TnqURLOutputStream::toFile(const std::filesystem::path& path, bool append) {
  return std::make_shared<FileOutputStream>(path, append);
}

// The connection's delegate: holds the operation while the connection runs.
class TnqURLConnectionOperation::ConnectionDelegate : public pf::UrlConnectionDelegate {
 public:
  explicit ConnectionDelegate(std::shared_ptr<TnqURLConnectionOperation> operation) : op_(std::move(operation)) {}
  // A connection left behind by pause is cancelled on the network thread; until then its calls
  // are dropped here.
  std::atomic<bool> live{true};

  bool handlesAuthenticationChallenges() const override { return true; }
  void willSendRequestForAuthenticationChallenge(
      pf::UrlConnection& connection, const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge) override {
    if (!live) return challenge->cancel();
    op_->connectionDidReceiveChallenge(connection, challenge);
  }
  std::optional<pf::UrlRequest> willSendRequest(pf::UrlConnection& connection, pf::UrlRequest request,
                                                const pf::UrlResponse& redirect) override {
    if (!live) return std::nullopt;
    return op_->connectionWillSendRequest(connection, std::move(request), redirect);
  }
  std::shared_ptr<pf::HttpBodyStream> needNewBodyStream(pf::UrlConnection&, const pf::UrlRequest& request) override {
    auto stream = request.httpBodyStream();
    return live && stream && stream->rewind() ? stream : nullptr;
  }
  void didSendBodyData(pf::UrlConnection&, std::int64_t written, std::int64_t total, std::int64_t expected) override {
    if (live) op_->connectionDidSendBodyData(written, total, expected);
  }
  void didReceiveResponse(pf::UrlConnection& connection, const pf::UrlResponse& response) override {
    PF_ASSERT_ON(pf::ThreadChecker::thread(networkRequestThread()));
    pf::MutexLock lock(op_->lock_);
    if (live) op_->connectionDidReceiveResponse(connection, response);
  }
  void didReceiveData(pf::UrlConnection& connection, const pf::Bytes& data) override {
    PF_ASSERT_ON(pf::ThreadChecker::thread(networkRequestThread()));
    pf::MutexLock lock(op_->lock_);
    if (live) op_->connectionDidReceiveData(connection, data);
  }
  void didFinishLoading(pf::UrlConnection& connection) override {
    PF_ASSERT_ON(pf::ThreadChecker::thread(networkRequestThread()));
    {
      pf::MutexLock lock(op_->lock_);
      if (!live) return;
    }
    op_->connectionDidFinishLoading(connection);
  }
  void didFailWithError(pf::UrlConnection& connection, const pf::Error& error) override {
    PF_ASSERT_ON(pf::ThreadChecker::thread(networkRequestThread()));
    pf::MutexLock lock(op_->lock_);
    if (live) op_->connectionDidFailWithError(&connection, error);
  }

 private:
  std::shared_ptr<TnqURLConnectionOperation> op_;
};

std::shared_ptr<pf::Thread> TnqURLConnectionOperation::networkRequestThread() {
  static std::shared_ptr<pf::Thread> thread = pf::Thread::makeRunLoopThread("TnqNet");
  return thread;
}

std::shared_ptr<TnqURLConnectionOperation> TnqURLConnectionOperation::make(pf::UrlRequest request) {
  return std::make_shared<TnqURLConnectionOperation>(std::move(request));
}

TnqURLConnectionOperation::TnqURLConnectionOperation(pf::UrlRequest request)
    : securityPolicy(TnqSecurityPolicy::defaultPolicy()), request_(std::move(request)) {}

TnqURLConnectionOperation::~TnqURLConnectionOperation() {
  if (outputStream_) outputStream_->close();
}

std::shared_ptr<TnqURLConnectionOperation> TnqURLConnectionOperation::self() {
  return std::static_pointer_cast<TnqURLConnectionOperation>(shared_from_this());
}

// ---- state

TnqURLConnectionOperation::State TnqURLConnectionOperation::state() const { return state_.load(); }

bool TnqURLConnectionOperation::isReady() const { return state() == Ready && pf::Operation::isReady(); }

void TnqURLConnectionOperation::setState(State state) {
  pf::MutexLock lock(stateMutex_);
  const State old = state_.load();
  if (!transitionIsValid(old, state, isCancelled())) return;
  auto newKey = operationKeyForState(state), oldKey = operationKeyForState(old);
  if (newKey) willChange(*newKey);
  if (oldKey) willChange(*oldKey);
  state_ = state;
  if (oldKey) didChange(*oldKey);
  if (newKey) didChange(*newKey);
}

void TnqURLConnectionOperation::start() {
  pf::MutexLock lock(lock_);
  auto thread = networkRequestThread();
  auto strong = self();
  if (isCancelled()) {
    thread->perform([strong] { strong->cancelConnection(); }, false, runLoopModes);
  } else if (isReady()) {
    setState(Executing);
    // The connection is made and started from here, scheduled on the network thread's run loop:
    // every one of its calls runs there, without first waking that thread to make it.
    operationDidStart();
  }
}

void TnqURLConnectionOperation::operationDidStart() {
  {
    pf::MutexLock lock(lock_);
    if (!isCancelled()) {
      if (!request_.url()) {
        // Nothing to load: end at once instead of staying executing for ever.
        connectionDidFailWithError(nullptr, pf::makeUrlError(pf::UrlErrorCode::kBadUrl, std::nullopt));
      } else {
        connectionDelegate_ = std::make_shared<ConnectionDelegate>(self());
        connection_ = pf::UrlConnection::make(request_, connectionDelegate_);
        auto runLoop = networkRequestThread()->runLoop();
        for (const auto& mode : runLoopModes) connection_->scheduleInRunLoop(runLoop, mode);
        outputStream()->open();
        // Bytes kept for the caller stop at the limit as they arrive (announced, received or
        // inflated); a caller's own stream takes whatever comes.
        if (ownsOutputStream_) {
          connection_->setMaximumBodyLength(static_cast<std::int64_t>(kTnqMaximumInMemoryResponseLength));
        }
        connection_->start();
      }
    }
  }
  postOnMain(kTnqNetworkingOperationDidStartNotification);
}

void TnqURLConnectionOperation::cancel() {
  pf::MutexLock lock(lock_);
  if (isFinished() || isCancelled()) return;
  pf::Operation::cancel();
  if (isExecuting()) {
    auto strong = self();
    networkRequestThread()->perform([strong] { strong->cancelConnection(); }, false, runLoopModes);
  }
}

void TnqURLConnectionOperation::cancelConnection() {
  pf::MutexLock lock(lock_);
  pf::Error error = pf::makeUrlError(pf::UrlErrorCode::kCancelled, request_.url());
  if (isFinished()) return;
  if (connection_) {
    auto connection = connection_;
    connection->cancel();
    connectionDidFailWithError(connection.get(), error);
  } else {
    error_ = error;
    finish();
  }
}

void TnqURLConnectionOperation::finish() {
  setState(Finished);
  postOnMain(kTnqNetworkingOperationDidFinishNotification);
}

void TnqURLConnectionOperation::postOnMain(const std::string& name) {
  // The queued post holds the operation until the main queue runs it: with nobody listening,
  // nothing is queued and a finished operation goes as soon as its last owner lets it go.
  if (!pf::NotificationCenter::defaultCenter().hasObserversFor(name)) return;
  auto strong = self();
  pf::DispatchQueue::main()->async([strong, name] { pf::NotificationCenter::defaultCenter().post(name, strong); });
}

void TnqURLConnectionOperation::pause() {
  if (isPaused() || isFinished() || isCancelled()) return;
  pf::MutexLock lock(lock_);
  if (isExecuting()) {
    // The running connection is let go at once (a resume may start the next one before the
    // network thread comes round) and cancelled there.
    auto connection = std::move(connection_);
    auto delegate = std::move(connectionDelegate_);
    if (delegate) delegate->live = false;
    networkRequestThread()->perform([connection, delegate] {
      if (connection) connection->cancel();
    }, false, runLoopModes);
    postOnMain(kTnqNetworkingOperationDidFinishNotification);
  }
  setState(Paused);
}

void TnqURLConnectionOperation::operationDidPause() {
  pf::MutexLock lock(lock_);
  if (connection_) connection_->cancel();
  connection_.reset();
  if (connectionDelegate_) connectionDelegate_->live = false;
  connectionDelegate_.reset();
}

void TnqURLConnectionOperation::resume() {
  if (!isPaused()) return;
  pf::MutexLock lock(lock_);
  setState(Ready);
  start();
}

// ---- properties

pf::UrlRequest TnqURLConnectionOperation::request() const {
  pf::MutexLock lock(lock_);
  return request_;
}

void TnqURLConnectionOperation::setRequest(pf::UrlRequest request) {
  pf::MutexLock lock(lock_);
  request_ = std::move(request);
}

std::optional<pf::UrlResponse> TnqURLConnectionOperation::response() const {
  pf::MutexLock lock(lock_);
  return response_;
}

std::optional<pf::Error> TnqURLConnectionOperation::error() const {
  pf::MutexLock lock(lock_);
  return error_;
}

std::shared_ptr<const pf::Bytes> TnqURLConnectionOperation::responseData() const {
  pf::MutexLock lock(lock_);
  return responseData_;
}

std::int64_t TnqURLConnectionOperation::totalBytesRead() const { return totalBytesRead_.load(); }

TnqStringEncoding TnqURLConnectionOperation::responseStringEncoding() {
  pf::MutexLock lock(lock_);
  if (responseStringEncoding_ == 0 && response_) {
    TnqStringEncoding encoding = kTnqUTF8StringEncoding;
    if (const auto& name = response_->textEncodingName())
      if (auto e = TnqEncodingForIANACharSetName(*name)) encoding = e;
    responseStringEncoding_ = encoding;
  }
  return responseStringEncoding_;
}

std::optional<std::string> TnqURLConnectionOperation::responseString() {
  pf::MutexLock lock(lock_);
  if (!responseString_ && response_ && responseData_)
    responseString_ = TnqDecodeText(*responseData_, responseStringEncoding());
  return responseString_;
}

std::shared_ptr<TnqURLOutputStream> TnqURLConnectionOperation::outputStream() {
  pf::MutexLock lock(lock_);
  if (!outputStream_) useOwnMemoryStream();
  return outputStream_;
}

void TnqURLConnectionOperation::useOwnMemoryStream() {
  if (outputStream_) outputStream_->close();
  outputStream_ = std::make_shared<MemoryOutputStream>(true);
  ownsOutputStream_ = true;
}

void TnqURLConnectionOperation::setOutputStream(std::shared_ptr<TnqURLOutputStream> stream) {
  pf::MutexLock lock(lock_);
  if (stream == outputStream_) return;
  if (outputStream_) outputStream_->close();
  outputStream_ = std::move(stream);
  ownsOutputStream_ = false;
}

void TnqURLConnectionOperation::setInputStream(std::shared_ptr<pf::HttpBodyStream> stream) {
  pf::MutexLock lock(lock_);
  request_.setHttpBodyStream(std::move(stream));
}

void TnqURLConnectionOperation::setUploadProgressBlock(ProgressBlock block) {
  pf::MutexLock lock(lock_);
  uploadProgress_ = std::move(block);
}

void TnqURLConnectionOperation::setDownloadProgressBlock(ProgressBlock block) {
  pf::MutexLock lock(lock_);
  downloadProgress_ = std::move(block);
}

void TnqURLConnectionOperation::setWillSendRequestForAuthenticationChallengeBlock(AuthenticationChallengeBlock block) {
  pf::MutexLock lock(lock_);
  authenticationChallenge_ = std::move(block);
}

void TnqURLConnectionOperation::setRedirectResponseBlock(RedirectResponseBlock block) {
  pf::MutexLock lock(lock_);
  redirectResponse_ = std::move(block);
}

void TnqURLConnectionOperation::setCompletionBlock(std::function<void()> block) {
  pf::MutexLock lock(lock_);
  if (!block) {
    pf::Operation::setCompletionBlock(nullptr);
    return;
  }
  std::weak_ptr<TnqURLConnectionOperation> weak = self();
  pf::Operation::setCompletionBlock([weak, block = std::move(block)] {
    auto strong = weak.lock();
    auto group = strong && strong->completionGroup ? strong->completionGroup : urlOperationCompletionGroup();
    auto queue = strong && strong->completionQueue ? strong->completionQueue : pf::DispatchQueue::main();
    queue->async(group, block);
    // The block (and what it holds) is released once it ran; the base clears its own slot.
    group->notify(completionClearingQueue(), [] {});
  });
}

// ---- connection events (network thread)

void TnqURLConnectionOperation::connectionDidReceiveChallenge(
    pf::UrlConnection& connection, const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge) {
  AuthenticationChallengeBlock block;
  {
    pf::MutexLock lock(lock_);
    block = authenticationChallenge_;
  }
  if (block) {
    block(connection, challenge);
    return;
  }
  if (challenge->isServerTrust()) {
    const auto& space = challenge->protectionSpace();
    auto trust = space.serverTrust;
    if (trust && securityPolicy && securityPolicy->evaluateServerTrust(*trust, space.host))
      challenge->useCredential(pf::UrlCredential::forTrust(trust));
    else
      challenge->cancel();
    return;
  }
  if (challenge->previousFailureCount() == 0 && credential)
    challenge->useCredential(*credential);
  else
    challenge->continueWithoutCredential();
}

std::optional<pf::UrlRequest> TnqURLConnectionOperation::connectionWillSendRequest(pf::UrlConnection& connection,
                                                                                   pf::UrlRequest request,
                                                                                   const pf::UrlResponse& redirect) {
  RedirectResponseBlock block;
  {
    pf::MutexLock lock(lock_);
    block = redirectResponse_;
  }
  if (block) return block(connection, request, redirect);
  return request;
}

void TnqURLConnectionOperation::connectionDidSendBodyData(std::int64_t written, std::int64_t total,
                                                          std::int64_t expected) {
  ProgressBlock block;
  {
    pf::MutexLock lock(lock_);
    block = uploadProgress_;
  }
  if (block) pf::DispatchQueue::main()->async([block, written, total, expected] { block(written, total, expected); });
}

void TnqURLConnectionOperation::connectionDidReceiveResponse(pf::UrlConnection&, const pf::UrlResponse& response) {
  response_ = response;
}

// Runs under lock_ (the connection's delegate holds it), so the operation's state is read here
// without taking it again for every piece of the body.
void TnqURLConnectionOperation::connectionDidReceiveData(pf::UrlConnection& connection, const pf::Bytes& data) {
  const auto stream = outputStream_ ? outputStream_ : outputStream();
  std::size_t written = 0;
  std::optional<pf::Error> failure;
  try {
    while (written < data.size()) {
      std::optional<pf::Error> streamError = stream->streamError();
      std::ptrdiff_t n = streamError ? -1 : stream->write(data.data() + written, data.size() - written);
      if (n <= 0) {
        streamError = stream->streamError();
        failure = streamError ? *streamError : pf::makeUrlError(pf::UrlErrorCode::kCannotWriteToFile, request_.url());
        break;
      }
      written += static_cast<std::size_t>(n);
    }
  } catch (const std::bad_alloc&) {
    failure = TnqOutOfMemoryError(request_.url());
  } catch (const std::exception& e) {
    failure = pf::makeUrlError(pf::UrlErrorCode::kCannotWriteToFile, request_.url(), e.what());
  }
  if (failure) {
    // The bytes cannot be kept: the load fails rather than losing them silently.
    connection.cancel();
    connectionDidFailWithError(&connection, *failure);
    return;
  }
  const std::int64_t length = static_cast<std::int64_t>(data.size());
  // The count is kept here (atomically) so that it does not wait for a main queue that may be
  // busy; the progress block still runs on the main queue.
  const std::int64_t total = totalBytesRead_ += length;
  if (downloadProgress_) {
    const std::int64_t expected = response_ ? response_->expectedContentLength() : -1;
    pf::DispatchQueue::main()->async(
        [block = downloadProgress_, length, total, expected] { block(length, total, expected); });
  }
}

void TnqURLConnectionOperation::connectionDidFinishLoading(pf::UrlConnection&) {
  std::shared_ptr<ConnectionDelegate> delegate;  // released after the lock
  {
    pf::MutexLock lock(lock_);
    auto stream = outputStream_;
    if (stream) {
      // A stream of the operation's own hands its bytes over; a caller's keeps them.
      auto data = ownsOutputStream_ ? stream->takeDataWrittenToMemory() : stream->dataWrittenToMemory();
      if (data) responseData_ = std::make_shared<const pf::Bytes>(std::move(*data));
      stream->close();
      if (responseData_) outputStream_.reset();
    }
    connection_.reset();
    delegate = std::move(connectionDelegate_);
  }
  finish();
}

void TnqURLConnectionOperation::connectionDidFailWithError(pf::UrlConnection*, const pf::Error& error) {
  pf::MutexLock lock(lock_);
  if (isFinished()) return;
  error_ = error;
  if (outputStream_) {
    outputStream_->close();
    if (responseData_) outputStream_.reset();
  }
  connection_.reset();
  connectionDelegate_.reset();
  finish();
}

// ---- batches

std::vector<std::shared_ptr<pf::Operation>> TnqURLConnectionOperation::batchOfRequestOperations(
    const std::vector<std::shared_ptr<TnqURLConnectionOperation>>& operations,
    std::function<void(std::size_t, std::size_t)> progress,
    std::function<void(const std::vector<std::shared_ptr<TnqURLConnectionOperation>>&)> completion) {
  if (operations.empty()) {
    return {pf::BlockOperation::make([completion] {
      if (completion) pf::DispatchQueue::main()->async([completion] { completion({}); });
    })};
  }
  auto group = pf::DispatchGroup::make();
  auto batched = pf::BlockOperation::make([group, completion, operations] {
    group->notify(pf::DispatchQueue::main(), [completion, operations] {
      if (completion) completion(operations);
    });
  });
  for (const auto& operation : operations) {
    operation->completionGroup = group;
    std::function<void()> original = operation->completionBlock();
    std::weak_ptr<TnqURLConnectionOperation> weak = operation;
    // The batch's own wrapping: the original completion, then the progress report, then leave.
    operation->pf::Operation::setCompletionBlock([weak, original, progress, operations, group] {
      auto strong = weak.lock();
      auto queue = strong && strong->completionQueue ? strong->completionQueue : pf::DispatchQueue::main();
      queue->async(group, [original, progress, operations, group] {
        if (original) original();
        std::size_t finished = 0;
        for (const auto& o : operations)
          if (o->isFinished()) ++finished;
        if (progress) progress(finished, operations.size());
        group->leave();
      });
    });
    group->enter();
    batched->addDependency(operation);
  }
  std::vector<std::shared_ptr<pf::Operation>> all(operations.begin(), operations.end());
  all.push_back(batched);
  return all;
}

// ---- description, archiving, copying

std::string TnqURLConnectionOperation::description() const {
  pf::MutexLock lock(lock_);
  return pf::format("<%@: %@, state: %@, cancelled: %@ request: %@, response: %@>", className(),
                    TnqAddressText(this), std::string(keyForState(state_.load())),
                    std::string(isCancelled() ? "YES" : "NO"),
                    request_.url() ? "<" + request_.httpMethod() + " " + request_.url()->withoutCredentials() + ">"
                                   : std::string("(null)"),
                    response_ ? pf::format("<%d %@>", response_->statusCode(), response_->url().absoluteString())
                              : std::string("(null)"));
}

pf::Value TnqURLConnectionOperation::archiveRequest(const pf::UrlRequest& request) {
  pf::Value v{{"method", request.httpMethod()},
              {"headers", request.allHttpHeaderFields().toValue()},
              {"timeoutInterval", request.timeoutInterval()},
              {"HTTPShouldHandleCookies", request.httpShouldHandleCookies()},
              {"properties", request.properties()}};
  if (request.url()) v["URL"] = request.url()->absoluteString();
  if (request.httpBody()) v["body"] = TnqArchiveBytes(*request.httpBody());
  return v;
}

std::optional<pf::UrlRequest> TnqURLConnectionOperation::unarchiveRequest(const pf::Value* value) {
  if (!value || !value->is_object()) return std::nullopt;
  pf::UrlRequest request;
  if (const pf::Value* url = pf::valueForKey(*value, "URL"); url && url->is_string()) request.setUrl(pf::Url::parse(url->get<std::string>()));
  if (const pf::Value* m = pf::valueForKey(*value, "method"); m && m->is_string()) request.setHttpMethod(m->get<std::string>());
  if (const pf::Value* h = pf::valueForKey(*value, "headers"); h && h->is_object()) request.setAllHttpHeaderFields(pf::HttpHeaders::fromValue(*h));
  if (const pf::Value* t = pf::valueForKey(*value, "timeoutInterval"); t && t->is_number()) request.setTimeoutInterval(pf::doubleValue(*t));
  if (const pf::Value* c = pf::valueForKey(*value, "HTTPShouldHandleCookies")) request.setHttpShouldHandleCookies(pf::boolValue(*c));
  if (const pf::Value* p = pf::valueForKey(*value, "properties"); p && p->is_object()) request.properties() = *p;
  if (auto body = TnqUnarchiveBytes(pf::valueForKey(*value, "body"))) request.setHttpBody(std::move(*body));
  return request;
}

pf::Value TnqURLConnectionOperation::archiveResponse(const pf::UrlResponse& response) {
  pf::Value fields = pf::Value::array();
  for (const auto& [name, value] : response.allHeaderFields().fields()) fields.push_back(pf::Value::array({name, value}));
  return pf::Value{{"URL", response.url().absoluteString()}, {"statusCode", response.statusCode()}, {"headers", fields}};
}

std::optional<pf::UrlResponse> TnqURLConnectionOperation::unarchiveResponse(const pf::Value* value) {
  if (!value || !value->is_object()) return std::nullopt;
  const pf::Value* url = pf::valueForKey(*value, "URL");
  const pf::Value* status = pf::valueForKey(*value, "statusCode");
  if (!url || !url->is_string() || !status || !status->is_number()) return std::nullopt;
  auto parsed = pf::Url::parse(url->get<std::string>());
  if (!parsed) return std::nullopt;
  pf::HttpHeaders headers;
  if (const pf::Value* fields = pf::valueForKey(*value, "headers"); fields && fields->is_array())
    for (const auto& f : *fields)
      if (f.is_array() && f.size() == 2 && f[0].is_string() && f[1].is_string())
        headers.append(f[0].get<std::string>(), f[1].get<std::string>());
  return pf::UrlResponse(*parsed, static_cast<int>(pf::integerValue(*status)), std::move(headers));
}

void TnqURLConnectionOperation::encodeWithCoder(pf::Value& coder) {
  pause();
  pf::MutexLock lock(lock_);
  coder[kTnqArchiveClassKey] = className();
  coder["request"] = archiveRequest(request_);
  const State state = state_.load();
  coder["state"] = (state == Executing || state == Paused) ? static_cast<std::int64_t>(Ready) : static_cast<std::int64_t>(state);
  if (response_) coder["response"] = archiveResponse(*response_);
  if (error_) coder["error"] = TnqArchiveError(*error_);
  if (responseData_) coder["responseData"] = TnqArchiveBytes(*responseData_);
  coder["totalBytesRead"] = totalBytesRead_.load();
}

void TnqURLConnectionOperation::initWithCoder(const pf::Value& coder) {
  pf::MutexLock lock(lock_);
  if (const pf::Value* s = pf::valueForKey(coder, "state"); s && s->is_number())
    setState(static_cast<State>(pf::integerValue(*s)));
  response_ = unarchiveResponse(pf::valueForKey(coder, "response"));
  error_ = TnqUnarchiveError(pf::valueForKey(coder, "error"));
  auto data = TnqUnarchiveBytes(pf::valueForKey(coder, "responseData"));
  responseData_ = data ? std::make_shared<const pf::Bytes>(std::move(*data)) : nullptr;
  if (const pf::Value* t = pf::valueForKey(coder, "totalBytesRead"); t && t->is_number())
    totalBytesRead_ = pf::integerValue(*t);
}

std::shared_ptr<TnqURLConnectionOperation> TnqURLConnectionOperation::unarchive(const pf::Value& coder) {
  auto request = unarchiveRequest(pf::valueForKey(coder, "request"));
  if (!request) return nullptr;
  auto operation = make(std::move(*request));
  operation->initWithCoder(coder);
  return operation;
}

std::shared_ptr<TnqURLConnectionOperation> TnqURLConnectionOperation::makeCopy(pf::UrlRequest request) const {
  return make(std::move(request));
}

void TnqURLConnectionOperation::copyInto(TnqURLConnectionOperation& copy) const {
  pf::MutexLock lock(lock_);
  pf::MutexLock copyLock(copy.lock_);  // a fresh copy nobody else holds yet: never contended
  copy.uploadProgress_ = uploadProgress_;
  copy.downloadProgress_ = downloadProgress_;
  copy.authenticationChallenge_ = authenticationChallenge_;
  copy.redirectResponse_ = redirectResponse_;
  copy.completionQueue = completionQueue;
  copy.completionGroup = completionGroup;
}

std::shared_ptr<TnqURLConnectionOperation> TnqURLConnectionOperation::copy() const {
  auto c = makeCopy(request());
  copyInto(*c);
  return c;
}

}  // namespace appnet
