#include "platform/net/UrlConnection.h"

#include <condition_variable>

#include "platform/foundation/Operation.h"
#include "platform/net/UrlError.h"

namespace pf {

// Loader-thread side of a connection: every event becomes a delegate call in the channel.
class UrlConnection::Client final : public LoadClient {
 public:
  Client(std::weak_ptr<UrlConnection> connection, std::shared_ptr<LoadEventChannel> channel)
      : connection_(std::move(connection)), channel_(std::move(channel)) {}

  void loadNeedsServerTrustDecision(Load&, std::shared_ptr<UrlAuthenticationChallenge> challenge) override {
    deliverChallenge(std::move(challenge));
  }
  void loadNeedsAuthentication(Load&, std::shared_ptr<UrlAuthenticationChallenge> challenge) override {
    deliverChallenge(std::move(challenge));
  }
  void loadWillRedirect(Load& load, const UrlResponse& redirect, UrlRequest proposed) override {
    auto loadRef = load.shared_from_this();
    post([loadRef, redirect, proposed = std::move(proposed)](UrlConnection& c, UrlConnectionDelegate& d) mutable {
      std::optional<UrlRequest> next = d.willSendRequest(c, std::move(proposed), redirect);
      if (next) {
        MutexLock lock(c.mutex_);
        c.current_ = *next;
      }
      loadRef->continueRedirect(std::move(next));
    });
  }
  void loadNeedsNewBodyStream(Load& load) override {
    auto loadRef = load.shared_from_this();
    post([loadRef](UrlConnection& c, UrlConnectionDelegate& d) {
      loadRef->provideBodyStream(d.needNewBodyStream(c, c.currentRequest()));
    });
  }
  void loadDidSendBodyData(Load&, std::int64_t sent, std::int64_t total, std::int64_t expected) override {
    post([=](UrlConnection& c, UrlConnectionDelegate& d) { d.didSendBodyData(c, sent, total, expected); });
  }
  void loadDidReceiveResponse(Load&, const UrlResponse& response) override {
    post([response = std::make_shared<const UrlResponse>(response)](UrlConnection& c, UrlConnectionDelegate& d) {
      d.didReceiveResponse(c, *response);
    });
  }
  bool loadDidReceiveData(Load&, Bytes&& data) override {
    std::size_t size = data.size();
    return post([data = std::move(data)](UrlConnection& c, UrlConnectionDelegate& d) { d.didReceiveData(c, data); },
                size);
  }
  void loadDidFinish(Load&) override {
    post([](UrlConnection& c, UrlConnectionDelegate& d) {
      c.end();
      d.didFinishLoading(c);
    });
  }
  void loadDidFail(Load&, const Error& error) override {
    post([error](UrlConnection& c, UrlConnectionDelegate& d) {
      c.end();
      d.didFailWithError(c, error);
    });
  }

 private:
  void deliverChallenge(std::shared_ptr<UrlAuthenticationChallenge> challenge) {
    post([challenge](UrlConnection& c, UrlConnectionDelegate& d) {
      d.willSendRequestForAuthenticationChallenge(c, challenge);
    });
  }

  template <class F>
  bool post(F&& call, std::size_t bytes = 0) {
    return channel_->push(
        [weak = connection_, call = std::forward<F>(call)]() mutable {
          auto connection = weak.lock();
          if (!connection) return;
          auto delegate = connection->delegate();
          if (!delegate) return;
          call(*connection, *delegate);
        },
        bytes);
  }

  std::weak_ptr<UrlConnection> connection_;
  std::shared_ptr<LoadEventChannel> channel_;
};

UrlConnection::UrlConnection(UrlRequest request, std::shared_ptr<UrlConnectionDelegate> delegate)
    : original_(std::move(request)), delegate_(std::move(delegate)) {}

UrlConnection::~UrlConnection() {
  if (channel_) channel_->close();
  if (load_) load_->cancel();
}

std::shared_ptr<UrlConnection> UrlConnection::make(UrlRequest request, std::shared_ptr<UrlConnectionDelegate> delegate) {
  return std::shared_ptr<UrlConnection>(new UrlConnection(std::move(request), std::move(delegate)));
}

std::shared_ptr<UrlConnection> UrlConnection::start(UrlRequest request, std::shared_ptr<UrlConnectionDelegate> delegate) {
  auto connection = make(std::move(request), std::move(delegate));
  connection->start();
  return connection;
}

void UrlConnection::scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop, const RunLoopMode& mode) {
  MutexLock lock(mutex_);
  if (started_ || !runLoop) return;
  if (runLoop_ != runLoop) modes_.clear();
  runLoop_ = std::move(runLoop);
  modes_.push_back(mode);
  queue_.reset();
}

void UrlConnection::setDelegateQueue(std::shared_ptr<OperationQueue> queue) {
  MutexLock lock(mutex_);
  if (started_) return;
  queue_ = std::move(queue);
}

void UrlConnection::setServerTrustEvaluator(ServerTrustEvaluator evaluator) {
  MutexLock lock(mutex_);
  if (started_) return;
  evaluator_ = evaluator ? std::make_shared<const KeyedServerTrustEvaluator>(std::move(evaluator)) : nullptr;
}

void UrlConnection::setMaximumBodyLength(std::int64_t bytes) {
  MutexLock lock(mutex_);
  if (!started_) maximumBodyLength_ = bytes;
}

void UrlConnection::setClientCertificate(std::string pemPath) {
  MutexLock lock(mutex_);
  if (!started_) clientCertificate_ = std::move(pemPath);
}

std::shared_ptr<UrlConnectionDelegate> UrlConnection::delegate() const {
  MutexLock lock(mutex_);
  return delegate_;
}

UrlRequest UrlConnection::currentRequest() const {
  MutexLock lock(mutex_);
  return current_ ? *current_ : original_;
}

void UrlConnection::start() {
  std::shared_ptr<Load> load;
  {
    MutexLock lock(mutex_);
    if (started_ || !delegate_) return;
    started_ = true;
    LoadEventChannel::Executor executor;
    if (queue_) {
      executor = [queue = queue_](std::function<void()> event) { queue->addOperation(std::move(event)); };
    } else {
      if (!runLoop_) {
        runLoop_ = RunLoop::current();
        modes_ = {kDefaultRunLoopMode};
      }
      executor = [loop = runLoop_, modes = modes_](std::function<void()> event) {
        loop->perform(std::move(event), modes);
      };
    }
    channel_ = std::make_shared<LoadEventChannel>(std::move(executor));
    LoadOptions options;
    if (evaluator_) {
      options.trust = LoadOptions::Trust::Evaluator;
      options.evaluator = evaluator_;
    } else if (delegate_->handlesAuthenticationChallenges()) {
      options.trust = LoadOptions::Trust::Client;
    }
    options.clientHandlesAuthentication = delegate_->handlesAuthenticationChallenges();
    options.clientDecidesRedirects = true;
    options.challengeCancelCode = UrlErrorCode::kUserCancelledAuthentication;
    options.clientCertificatePath = clientCertificate_;
    options.maximumBodyLength = maximumBodyLength_;
    auto client = std::make_shared<Client>(weak_from_this(), channel_);
    load_ = Load::make(original_, std::move(options), std::move(client), loader_);
    std::weak_ptr<Load> weakLoad = load_;
    channel_->setOnDrained([weakLoad] {
      if (auto l = weakLoad.lock()) l->resumeReceiving();
    });
    self_ = shared_from_this();
    load = load_;
  }
  load->start();
}

void UrlConnection::cancel() {
  std::shared_ptr<Load> load;
  std::shared_ptr<UrlConnectionDelegate> delegate;
  std::shared_ptr<UrlConnection> self;
  std::shared_ptr<LoadEventChannel> channel;
  {
    MutexLock lock(mutex_);
    load = load_;
    channel = channel_;
    delegate.swap(delegate_);
    self.swap(self_);
  }
  if (channel) channel->close();
  if (load) load->cancel();
}

void UrlConnection::end() {
  std::shared_ptr<UrlConnection> self;
  std::shared_ptr<UrlConnectionDelegate> delegate;
  MutexLock lock(mutex_);
  // The delegate call in progress holds its own reference; the caller's frame holds the
  // connection's.
  self.swap(self_);
  delegate.swap(delegate_);
}

// ---------------------------------------------------------------------------------------------
// One-shot sends

namespace {

// Collects one exchange on the loader thread and hands the result to `done` there.
class Collector final : public LoadClient {
 public:
  explicit Collector(std::function<void(UrlConnection::Result&&)> done) : done_(std::move(done)) {}

  void loadDidReceiveResponse(Load&, const UrlResponse& response) override {
    result_.response = response;
    // The load refuses a body beyond the limit, so the announced length of a body sent as it is
    // is room taken once.
    const std::int64_t expected = response.expectedIdentityContentLength();
    if (expected > 0 && expected <= static_cast<std::int64_t>(UrlConnection::kMaxCollectedBytes)) {
      result_.data.reserve(static_cast<std::size_t>(expected));
    }
  }
  bool loadDidReceiveData(Load&, Bytes&& data) override {
    if (result_.data.empty() && result_.data.capacity() < data.size()) {
      result_.data = std::move(data);
    } else {
      appendBodyBytes(result_.data, data, UrlConnection::kMaxCollectedBytes);
    }
    return true;
  }
  void loadDidFinish(Load&) override { done_(std::move(result_)); }
  void loadDidFail(Load&, const Error& error) override {
    // A failed exchange hands back no body: the bytes up to the failure are no answer.
    Bytes().swap(result_.data);
    result_.error = error;
    done_(std::move(result_));
  }

 private:
  std::function<void(UrlConnection::Result&&)> done_;
  UrlConnection::Result result_;
};

LoadOptions collectingOptions() {
  LoadOptions options;
  options.maximumBodyLength = static_cast<std::int64_t>(UrlConnection::kMaxCollectedBytes);
  return options;
}

}  // namespace

UrlConnection::Result UrlConnection::sendSynchronousRequest(const UrlRequest& request, Loader* loader) {
  struct Wait {
    Mutex mutex;
    std::condition_variable cv;
    std::optional<Result> result PF_GUARDED_BY(mutex);
  };
  auto wait = std::make_shared<Wait>();
  auto client = std::make_shared<Collector>([wait](Result&& r) {
    MutexLock lock(wait->mutex);
    wait->result = std::move(r);
    wait->cv.notify_all();
  });
  auto load = Load::make(request, collectingOptions(), client, loader);
  load->start();
  UniqueLock lock(wait->mutex);
  wait->cv.wait(lock.native(), [&]() PF_REQUIRES(wait->mutex) { return wait->result.has_value(); });
  return std::move(*wait->result);
}

void UrlConnection::sendAsynchronousRequest(const UrlRequest& request, std::shared_ptr<OperationQueue> queue,
                                            std::function<void(const Result&)> completion) {
  auto client = std::make_shared<Collector>([queue, completion = std::move(completion)](Result&& r) {
    auto result = std::make_shared<Result>(std::move(r));
    if (!queue || !completion) return;
    queue->addOperation([completion, result] { completion(*result); });
  });
  Load::make(request, collectingOptions(), client)->start();
}

}  // namespace pf
