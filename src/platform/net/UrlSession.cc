#include "platform/net/UrlSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Operation.h"
#include "platform/net/UrlError.h"

namespace pf {

namespace {

std::atomic<std::uint64_t> nextSessionKey{1};

Mutex observerMutex;
std::shared_ptr<UrlSessionTask::LifecycleObserver> lifecycleObserver PF_GUARDED_BY(observerMutex);

void tellObserver(UrlSessionTask& task, bool resumed, UrlSessionTaskState before) {
  std::shared_ptr<UrlSessionTask::LifecycleObserver> observer;
  {
    MutexLock lock(observerMutex);
    observer = lifecycleObserver;
  }
  if (observer && *observer) (*observer)(task, resumed, before);
}

// A temporary file for a download: open descriptor and path, or nullopt.
std::optional<std::pair<int, std::filesystem::path>> makeDownloadFile() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  std::string pattern = (dir / "UrlDownload-XXXXXX.tmp").string();
  int fd = ::mkstemps(pattern.data(), 4);
  if (fd < 0) return std::nullopt;
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return std::make_pair(fd, std::filesystem::path(pattern));
}

// A downloaded file on its way to the delegate: removed when the last holder lets it go.
struct DownloadedFile {
  explicit DownloadedFile(std::filesystem::path p) : path(std::move(p)) {}
  ~DownloadedFile() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  std::filesystem::path path;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The loader-thread side of a task.

class UrlSessionTask::Client final : public LoadClient, public std::enable_shared_from_this<Client> {
 public:
  Client(std::shared_ptr<UrlSession> session, std::shared_ptr<UrlSessionTask> task, Loader& loader)
      : session_(std::move(session)), task_(std::move(task)), loader_(loader) {}

  ~Client() override { discardFile(); }

  void loadNeedsServerTrustDecision(Load&, std::shared_ptr<UrlAuthenticationChallenge> challenge) override {
    auto task = task_;
    deliver([task, challenge](UrlSession& s, UrlSessionDelegate& d) {
      if (d.handlesAuthenticationChallenges()) {
        d.didReceiveChallenge(s, challenge);
      } else {
        d.taskDidReceiveChallenge(s, *task, challenge);
      }
    });
  }

  void loadNeedsAuthentication(Load&, std::shared_ptr<UrlAuthenticationChallenge> challenge) override {
    auto task = task_;
    deliver([task, challenge](UrlSession& s, UrlSessionDelegate& d) { d.taskDidReceiveChallenge(s, *task, challenge); });
  }

  void loadWillRedirect(Load& load, const UrlResponse& response, UrlRequest proposed) override {
    auto task = task_;
    auto loadRef = load.shared_from_this();
    deliver([task, loadRef, response, proposed = std::move(proposed)](UrlSession& s, UrlSessionDelegate& d) mutable {
      d.taskWillPerformHttpRedirection(s, *task, response, std::move(proposed),
                                       [task, loadRef](std::optional<UrlRequest> next) {
                                         if (next) {
                                           MutexLock lock(task->mutex_);
                                           task->current_ = *next;
                                         }
                                         loadRef->continueRedirect(std::move(next));
                                       });
    });
  }

  void loadNeedsNewBodyStream(Load& load) override {
    auto task = task_;
    auto loadRef = load.shared_from_this();
    deliver([task, loadRef](UrlSession& s, UrlSessionDelegate& d) {
      d.taskNeedNewBodyStream(s, *task, [loadRef](std::shared_ptr<HttpBodyStream> stream) {
        loadRef->provideBodyStream(std::move(stream));
      });
    });
  }

  void loadDidSendBodyData(Load&, std::int64_t sent, std::int64_t total, std::int64_t expected) override {
    task_->bytesSent_ = total;
    auto task = task_;
    deliver([task, sent, total, expected](UrlSession& s, UrlSessionDelegate& d) {
      d.taskDidSendBodyData(s, *task, sent, total, expected);
    });
  }

  void loadDidReceiveResponse(Load& load, const UrlResponse& response) override {
    {
      MutexLock lock(task_->mutex_);
      task_->response_ = response;
    }
    task_->expectedToReceive_ = response.expectedContentLength();
    if (task_->kind() == Kind::Download) {
      openFile(load);
      return;
    }
    awaitingDisposition_ = true;
    auto task = task_;
    auto self = shared_from_this();
    auto loadRef = load.shared_from_this();
    Loader* loader = &loader_;
    deliver([task, self, loadRef, loader, response](UrlSession& s, UrlSessionDelegate& d) {
      d.dataTaskDidReceiveResponse(s, *task, response, [self, loadRef, loader](UrlSessionResponseDisposition disposition) {
        loader->post([self, loadRef, disposition] { self->decide(*loadRef, disposition); });
      });
    });
  }

  bool loadDidReceiveData(Load& load, Bytes&& data) override {
    task_->bytesReceived_ += static_cast<std::int64_t>(data.size());
    if (fd_ >= 0) return writeChunk(load, data);
    if (awaitingDisposition_) {
      held_.push_back(std::move(data));
      return false;
    }
    return deliverData(load, std::move(data));
  }

  void loadDidFinish(Load&) override {
    if (awaitingDisposition_) {
      finishPending_ = true;
      return;
    }
    complete(std::nullopt);
  }

  void loadDidFail(Load&, const Error& error) override {
    discardFile();
    complete(error);
  }

 private:
  void deliver(std::function<void(UrlSession&, UrlSessionDelegate&)> call, std::size_t bytes = 0) {
    auto task = task_;
    session_->deliver(
        [task, call = std::move(call)](UrlSession& s, UrlSessionDelegate& d) {
          if (task->cancelRequested_) return;
          call(s, d);
        },
        bytes);
  }

  bool deliverData(Load& load, Bytes&& data) {
    auto task = task_;
    std::size_t size = data.size();
    bool below = session_->deliver(
        [task, data = std::move(data)](UrlSession& s, UrlSessionDelegate& d) {
          if (task->cancelRequested_) return;
          d.dataTaskDidReceiveData(s, *task, data);
        },
        size);
    if (!below) waitTicket_ = session_->holdLoad(load);
    return below;
  }

  // Loader thread: asked before each piece, and before a held load reads on.
  bool loadMayReadOn(Load& load) override {
    if (fd_ >= 0) return true;               // a download writes its file, not the delegate's queue
    if (awaitingDisposition_) return false;  // the delegate's disposition resumes it
    return session_->roomToReadOn(load, waitTicket_);
  }

  // Loader thread: the delegate's answer to a data task's response.
  void decide(Load& load, UrlSessionResponseDisposition disposition) {
    if (!awaitingDisposition_ || load.isCancelled()) return;
    awaitingDisposition_ = false;
    switch (disposition) {
      case UrlSessionResponseDisposition::Cancel: task_->cancel(); return;
      case UrlSessionResponseDisposition::BecomeDownload: becomeDownload(load); break;
      case UrlSessionResponseDisposition::Allow:
        // The load asks (loadMayReadOn) before it hands pieces over, and stops at the first one
        // answered false: at most that one piece waits here, or nothing.
        for (auto& chunk : held_) deliverData(load, std::move(chunk));
        break;
    }
    held_.clear();
    if (finishPending_) {
      complete(std::nullopt);
    } else {
      // The body waited for the disposition (loadMayReadOn): it goes on once the delegate's queue
      // has room.
      load.resumeReceiving();
    }
  }

  void becomeDownload(Load& load) {
    auto dataTask = task_;
    std::shared_ptr<UrlSessionTask> downloadTask;
    try {
      downloadTask = session_->makeTask(Kind::Download, dataTask->original_);
    } catch (const Exception&) {
      dataTask->cancel();  // the session has become invalid meanwhile
      return;
    }
    {
      MutexLock lock(dataTask->mutex_);
      MutexLock lock2(downloadTask->mutex_);
      downloadTask->current_ = dataTask->current_;
      downloadTask->response_ = dataTask->response_;
      downloadTask->state_ = dataTask->state_;
      downloadTask->started_ = true;
      downloadTask->load_ = dataTask->load_;
      dataTask->state_ = UrlSessionTaskState::Completed;
    }
    downloadTask->expectedToReceive_ = dataTask->expectedToReceive_.load();
    downloadTask->bytesReceived_ = dataTask->bytesReceived_.load();
    dataTask->ended_ = true;
    session_->taskEnded(dataTask->taskIdentifier());
    task_ = downloadTask;
    session_->deliver([dataTask, downloadTask](UrlSession& s, UrlSessionDelegate& d) {
      d.dataTaskDidBecomeDownloadTask(s, *dataTask, *downloadTask);
    });
    openFile(load);
    for (auto& chunk : held_) {
      if (fd_ < 0 || !writeChunk(load, chunk)) break;
    }
  }

  void openFile(Load& load) {
    auto file = makeDownloadFile();
    if (!file) {
      load.cancel();
      complete(makeUrlError(UrlErrorCode::kCannotCreateFile, load.originalRequest().url()));
      return;
    }
    fd_ = file->first;
    path_ = file->second;
  }

  bool writeChunk(Load& load, const Bytes& data) {
    if (!FileManager::writeAll(fd_, data)) {
      load.cancel();
      discardFile();
      complete(makeUrlError(UrlErrorCode::kCannotWriteToFile, load.originalRequest().url()));
      return false;
    }
    written_ += static_cast<std::int64_t>(data.size());
    auto task = task_;
    std::int64_t n = static_cast<std::int64_t>(data.size());
    std::int64_t total = written_;
    std::int64_t expected = task_->expectedToReceive_;
    deliver([task, n, total, expected](UrlSession& s, UrlSessionDelegate& d) {
      d.downloadTaskDidWriteData(s, *task, n, total, expected);
    });
    return true;
  }

  void discardFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!path_.empty()) {
      std::error_code ec;
      std::filesystem::remove(path_, ec);
      path_.clear();
    }
  }

  void complete(std::optional<Error> error) {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
      // The file goes to the delegate, then away (also when the call never happens).
      auto file = std::make_shared<DownloadedFile>(std::move(path_));
      path_.clear();
      auto task = task_;
      deliver([task, file](UrlSession& s, UrlSessionDelegate& d) {
        d.downloadTaskDidFinishDownloading(s, *task, Url::fileUrl(file->path));
      });
    }
    session_->completeTask(task_, std::move(error));
  }

  std::shared_ptr<UrlSession> session_;
  std::shared_ptr<UrlSessionTask> task_;
  Loader& loader_;
  bool awaitingDisposition_ = false;
  bool finishPending_ = false;
  std::vector<Bytes> held_;
  // The load's place among the loads waiting for the delegate's queue to drain (0: none yet).
  std::uint64_t waitTicket_ = 0;
  int fd_ = -1;
  std::filesystem::path path_;
  std::int64_t written_ = 0;
};

// ---------------------------------------------------------------------------------------------
// UrlSessionTask

UrlSessionTask::UrlSessionTask(Kind kind, std::uint64_t identifier, UrlRequest request,
                               std::weak_ptr<UrlSession> session)
    : kind_(kind), identifier_(identifier), original_(request), session_(std::move(session)), current_(std::move(request)) {}

UrlSessionTask::~UrlSessionTask() = default;

UrlRequest UrlSessionTask::currentRequest() const {
  MutexLock lock(mutex_);
  return current_;
}

std::optional<UrlResponse> UrlSessionTask::response() const {
  MutexLock lock(mutex_);
  return response_;
}

UrlSessionTaskState UrlSessionTask::state() const {
  MutexLock lock(mutex_);
  return state_;
}

std::optional<Error> UrlSessionTask::error() const {
  MutexLock lock(mutex_);
  return error_;
}

std::string UrlSessionTask::taskDescription() const {
  MutexLock lock(mutex_);
  return description_;
}

void UrlSessionTask::setTaskDescription(std::string description) {
  MutexLock lock(mutex_);
  description_ = std::move(description);
}

void UrlSessionTask::setLifecycleObserver(LifecycleObserver observer) {
  auto holder = observer ? std::make_shared<LifecycleObserver>(std::move(observer)) : nullptr;
  MutexLock lock(observerMutex);
  lifecycleObserver = std::move(holder);
}

void UrlSessionTask::resume() {
  UrlSessionTaskState before;
  bool start = false;
  std::shared_ptr<Load> load;
  {
    MutexLock lock(mutex_);
    before = state_;
    if (state_ == UrlSessionTaskState::Suspended) {
      state_ = UrlSessionTaskState::Running;
      if (!started_) {
        started_ = true;
        start = true;
      } else {
        load = load_;
      }
    }
  }
  if (before != UrlSessionTaskState::Running) tellObserver(*this, true, before);
  if (load) load->resume();
  if (start) {
    if (auto session = session_.lock()) session->startTask(shared_from_this());
  }
}

void UrlSessionTask::suspend() {
  UrlSessionTaskState before;
  std::shared_ptr<Load> load;
  {
    MutexLock lock(mutex_);
    before = state_;
    if (state_ == UrlSessionTaskState::Running) {
      state_ = UrlSessionTaskState::Suspended;
      load = load_;
    }
  }
  if (before != UrlSessionTaskState::Suspended) tellObserver(*this, false, before);
  if (load) load->suspend();
}

void UrlSessionTask::cancel() {
  std::shared_ptr<Load> load;
  {
    MutexLock lock(mutex_);
    if (state_ == UrlSessionTaskState::Canceling || state_ == UrlSessionTaskState::Completed) return;
    state_ = UrlSessionTaskState::Canceling;
    load = load_;
  }
  cancelRequested_ = true;
  if (load) load->cancel();
  if (auto session = session_.lock()) {
    session->completeTask(shared_from_this(), makeUrlError(UrlErrorCode::kCancelled, original_.url()));
  }
}

// ---------------------------------------------------------------------------------------------
// UrlSession

std::shared_ptr<UrlSession> UrlSession::make(UrlSessionConfiguration configuration,
                                             std::shared_ptr<UrlSessionDelegate> delegate,
                                             std::shared_ptr<OperationQueue> delegateQueue) {
  if (!delegateQueue) {
    delegateQueue = OperationQueue::make("url-session.delegate");
    delegateQueue->setMaxConcurrentOperationCount(1);
  }
  auto session = std::shared_ptr<UrlSession>(
      new UrlSession(std::move(configuration), std::move(delegate), std::move(delegateQueue)));
  std::weak_ptr<UrlSession> weak = session;
  session->channel_->setOnDrained([weak] {
    auto s = weak.lock();
    if (!s) return;
    std::vector<HeldLoad> held;
    {
      MutexLock lock(s->mutex_);
      held.swap(s->heldLoads_);
    }
    // In the order they waited: the first reads on, those after it find the channel at its mark
    // again and wait on in their place (roomToReadOn).
    for (auto& h : held) {
      if (auto load = h.load.lock()) load->resumeReceiving();
    }
  });
  return session;
}

UrlSession::UrlSession(UrlSessionConfiguration configuration, std::shared_ptr<UrlSessionDelegate> delegate,
                       std::shared_ptr<OperationQueue> queue)
    : configuration_(std::move(configuration)),
      queue_(std::move(queue)),
      channel_(std::make_shared<LoadEventChannel>(
          [q = queue_](std::function<void()> event) { q->addOperation(std::move(event)); })),
      trustKey_(nextSessionKey++),
      delegate_(std::move(delegate)) {}

UrlSession::~UrlSession() { channel_->close(); }

std::shared_ptr<UrlSessionDelegate> UrlSession::delegate() const {
  MutexLock lock(mutex_);
  return delegate_;
}

std::string UrlSession::sessionDescription() const {
  MutexLock lock(mutex_);
  return description_;
}

void UrlSession::setSessionDescription(std::string description) {
  MutexLock lock(mutex_);
  description_ = std::move(description);
}

void UrlSession::setServerTrustEvaluator(ServerTrustEvaluator evaluator) {
  MutexLock lock(mutex_);
  evaluator_ = evaluator ? std::make_shared<const KeyedServerTrustEvaluator>(std::move(evaluator)) : nullptr;
}

void UrlSession::setLoader(Loader* loader) {
  MutexLock lock(mutex_);
  loader_ = loader;
}

bool UrlSession::deliver(std::function<void(UrlSession&, UrlSessionDelegate&)> call, std::size_t bytes) {
  return channel_->push(
      [self = shared_from_this(), call = std::move(call)] {
        auto delegate = self->delegate();
        if (delegate) call(*self, *delegate);
      },
      bytes);
}

void UrlSession::waitForRoom(Load& load, std::uint64_t& ticket) {
  MutexLock lock(mutex_);
  if (ticket == 0) ticket = nextWaitTicket_++;
  forgetHeld(load);
  auto at = std::upper_bound(heldLoads_.begin(), heldLoads_.end(), ticket,
                             [](std::uint64_t t, const HeldLoad& h) { return t < h.ticket; });
  heldLoads_.insert(at, HeldLoad{load.weak_from_this(), ticket});
}

void UrlSession::forgetHeld(const Load& load) {
  const std::weak_ptr<const Load> self = load.weak_from_this();
  std::erase_if(heldLoads_, [&](const HeldLoad& h) { return !h.load.owner_before(self) && !self.owner_before(h.load); });
}

std::uint64_t UrlSession::holdLoad(Load& load) {
  std::uint64_t ticket = 0;
  waitForRoom(load, ticket);
  // The channel may have drained between the push that reached the mark and this: its hook found
  // no load to resume then, so the load asks to go on now.
  if (!channel_->isThrottled()) load.resumeReceiving();
  return ticket;
}

bool UrlSession::roomToReadOn(Load& load, std::uint64_t& ticket) {
  if (channel_->isThrottled()) {
    waitForRoom(load, ticket);
    // The hook finds it waiting when the channel drains, unless that happened meanwhile.
    if (channel_->isThrottled()) return false;
  }
  if (ticket != 0) {
    MutexLock lock(mutex_);
    forgetHeld(load);
    ticket = 0;
  }
  return true;
}

std::shared_ptr<UrlSessionTask> UrlSession::makeTask(UrlSessionTask::Kind kind, UrlRequest request) {
  MutexLock lock(mutex_);
  if (invalidated_) {
    throw Exception(kGenericException, "Task created in a session that has been invalidated");
  }
  std::uint64_t id = nextIdentifier_++;
  auto task = std::shared_ptr<UrlSessionTask>(new UrlSessionTask(kind, id, std::move(request), weak_from_this()));
  tasks_[id] = task;
  return task;
}

std::shared_ptr<UrlSessionTask> UrlSession::dataTask(UrlRequest request) {
  return makeTask(UrlSessionTask::Kind::Data, std::move(request));
}

std::shared_ptr<UrlSessionTask> UrlSession::uploadTask(UrlRequest request, Bytes body) {
  std::int64_t size = static_cast<std::int64_t>(body.size());
  request.setHttpBody(std::move(body));
  auto task = makeTask(UrlSessionTask::Kind::Upload, std::move(request));
  task->expectedToSend_ = size;
  return task;
}

std::shared_ptr<UrlSessionTask> UrlSession::uploadTask(UrlRequest request, const std::filesystem::path& file) {
  auto stream = HttpBodyStream::fromFile(file);
  std::int64_t size = stream ? stream->length().value_or(-1) : -1;
  bool unreadable = !stream;
  if (stream) request.setHttpBodyStream(std::move(stream));
  auto task = makeTask(UrlSessionTask::Kind::Upload, std::move(request));
  task->expectedToSend_ = size;
  {
    MutexLock lock(task->mutex_);
    task->bodyUnreadable_ = unreadable;
  }
  return task;
}

std::shared_ptr<UrlSessionTask> UrlSession::uploadTaskWithStreamedRequest(UrlRequest request) {
  std::int64_t size = -1;
  if (const auto& stream = request.httpBodyStream()) size = stream->length().value_or(-1);
  auto task = makeTask(UrlSessionTask::Kind::Upload, std::move(request));
  task->expectedToSend_ = size;
  return task;
}

std::shared_ptr<UrlSessionTask> UrlSession::downloadTask(UrlRequest request) {
  return makeTask(UrlSessionTask::Kind::Download, std::move(request));
}

void UrlSession::startTask(const std::shared_ptr<UrlSessionTask>& task) {
  UrlRequest request = task->original_;
  bool unreadable;
  {
    MutexLock lock(task->mutex_);
    unreadable = task->bodyUnreadable_;
  }
  if (unreadable) {
    completeTask(task, makeUrlError(UrlErrorCode::kFileDoesNotExist, request.url(), "the file to upload cannot be read"));
    return;
  }
  if (request.timeoutInterval() == UrlRequest::kDefaultTimeoutInterval) {
    request.setTimeoutInterval(configuration_.timeoutIntervalForRequest);
  }
  LoadOptions options;
  std::shared_ptr<UrlSessionDelegate> delegate;
  Loader* loader;
  {
    MutexLock lock(mutex_);
    delegate = delegate_;
    loader = loader_;
    if (evaluator_) {
      options.trust = LoadOptions::Trust::Evaluator;
      options.evaluator = evaluator_;
    }
  }
  if (options.trust != LoadOptions::Trust::Evaluator && delegate &&
      (delegate->handlesAuthenticationChallenges() || delegate->handlesTaskAuthenticationChallenges())) {
    options.trust = LoadOptions::Trust::Client;
  }
  options.trustKey = trustKey_;
  options.clientHandlesAuthentication = delegate && delegate->handlesTaskAuthenticationChallenges();
  options.clientDecidesRedirects = true;
  options.challengeCancelCode = UrlErrorCode::kCancelled;
  options.resourceTimeout = configuration_.timeoutIntervalForResource;
  options.additionalHeaders = configuration_.httpAdditionalHeaders;
  options.handleCookies = configuration_.httpShouldSetCookies;
  Loader& chosen = loader ? *loader : Loader::shared();
  auto client = std::make_shared<UrlSessionTask::Client>(shared_from_this(), task, chosen);
  auto load = Load::make(std::move(request), std::move(options), std::move(client), &chosen);
  bool suspended;
  {
    MutexLock lock(task->mutex_);
    if (task->state_ == UrlSessionTaskState::Canceling || task->state_ == UrlSessionTaskState::Completed) return;
    task->load_ = load;
    suspended = task->state_ == UrlSessionTaskState::Suspended;
  }
  if (suspended) load->suspend();
  load->start();
}

void UrlSession::completeTask(const std::shared_ptr<UrlSessionTask>& task, std::optional<Error> error) {
  if (task->ended_.exchange(true)) return;
  channel_->push([self = shared_from_this(), task, error = std::move(error)] {
    {
      MutexLock lock(task->mutex_);
      task->state_ = UrlSessionTaskState::Completed;
      task->error_ = error;
      task->load_.reset();
    }
    if (auto delegate = self->delegate()) delegate->taskDidComplete(*self, *task, error);
    self->taskEnded(task->taskIdentifier());
  });
}

void UrlSession::taskEnded(std::uint64_t identifier) {
  {
    MutexLock lock(mutex_);
    tasks_.erase(identifier);
  }
  invalidateIfDone();
}

void UrlSession::invalidateIfDone() {
  {
    MutexLock lock(mutex_);
    if (!invalidated_ || !tasks_.empty() || invalidNotified_) return;
    invalidNotified_ = true;
  }
  channel_->push([self = shared_from_this()] {
    std::shared_ptr<UrlSessionDelegate> delegate;
    {
      MutexLock lock(self->mutex_);
      delegate.swap(self->delegate_);
    }
    if (delegate) delegate->didBecomeInvalid(*self, std::nullopt);
  });
}

void UrlSession::getTasks(std::function<void(std::vector<std::shared_ptr<UrlSessionTask>>,
                                             std::vector<std::shared_ptr<UrlSessionTask>>,
                                             std::vector<std::shared_ptr<UrlSessionTask>>)>
                              completion) {
  channel_->push([self = shared_from_this(), completion = std::move(completion)] {
    std::vector<std::shared_ptr<UrlSessionTask>> data, upload, download;
    {
      MutexLock lock(self->mutex_);
      for (auto& [id, task] : self->tasks_) {
        switch (task->kind()) {
          case UrlSessionTask::Kind::Data: data.push_back(task); break;
          case UrlSessionTask::Kind::Upload: upload.push_back(task); break;
          case UrlSessionTask::Kind::Download: download.push_back(task); break;
        }
      }
    }
    if (completion) completion(std::move(data), std::move(upload), std::move(download));
  });
}

void UrlSession::finishTasksAndInvalidate() {
  std::vector<std::shared_ptr<UrlSessionTask>> unstarted;
  {
    MutexLock lock(mutex_);
    invalidated_ = true;
    for (auto& [id, task] : tasks_) {
      MutexLock taskLock(task->mutex_);
      if (!task->started_) unstarted.push_back(task);
    }
  }
  // A task never resumed would hold the invalidation for ever.
  for (auto& task : unstarted) task->cancel();
  invalidateIfDone();
}

void UrlSession::invalidateAndCancel() {
  std::vector<std::shared_ptr<UrlSessionTask>> all;
  {
    MutexLock lock(mutex_);
    invalidated_ = true;
    for (auto& [id, task] : tasks_) all.push_back(task);
  }
  for (auto& task : all) task->cancel();
  invalidateIfDone();
}

}  // namespace pf
