#pragma once
// The session facade of URL loading: a configuration, a delegate with its serial queue, and data,
// upload and download tasks.
//
//   auto session = pf::UrlSession::make(pf::UrlSessionConfiguration::defaultConfiguration(),
//                                       delegate, nullptr);  // a serial delegate queue of its own
//   auto task = session->downloadTask(request);               // suspended
//   task->resume();
//
// Every delegate call of a session runs on its delegate queue, one at a time and in order, even
// when the queue is concurrent. A task's calls end with exactly one taskDidComplete (with -999
// after cancel()). A download's body goes to a temporary file, handed to
// downloadTaskDidFinishDownloading and removed after that call returns (move it there to keep it).
// The session keeps its delegate until it has become invalid (finishTasksAndInvalidate,
// invalidateAndCancel): delegate and session may hold each other until then.
//
// Challenges: server trust goes to the session-level challenge call when the delegate handles it,
// else to the task-level one, else the system's verdict (or a ServerTrustEvaluator on the loader
// thread); HTTP authentication goes to the task-level call. Decisions are remembered per session,
// certificate and host.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/Loader.h"
#include "platform/net/UrlAuthenticationChallenge.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"

namespace pf {

class OperationQueue;
class UrlSession;
class UrlSessionTask;

struct UrlSessionConfiguration {
  // Seconds without a byte moving (a request's own non-default time-out wins).
  double timeoutIntervalForRequest = 60.0;
  // Seconds a task may take in all.
  double timeoutIntervalForResource = 7 * 24 * 3600.0;
  // Sent with every request that has no field of the name.
  HttpHeaders httpAdditionalHeaders;
  bool httpShouldSetCookies = true;
  // Kept for callers that read it; sessions here are never background sessions.
  std::string identifier;

  static UrlSessionConfiguration defaultConfiguration() { return {}; }
};

enum class UrlSessionTaskState { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };
enum class UrlSessionResponseDisposition { Cancel = 0, Allow = 1, BecomeDownload = 2 };

class UrlSessionDelegate {
 public:
  virtual ~UrlSessionDelegate() = default;

  // ---- session
  virtual void didBecomeInvalid(UrlSession& session, const std::optional<Error>& error) {}
  // Whether server-trust challenges come to didReceiveChallenge.
  virtual bool handlesAuthenticationChallenges() const { return false; }
  virtual void didReceiveChallenge(UrlSession& session, const std::shared_ptr<UrlAuthenticationChallenge>& challenge) {
    challenge->performDefaultHandling();
  }

  // ---- tasks
  // Whether task challenges (HTTP authentication; server trust when the session-level call does
  // not handle it) come to taskDidReceiveChallenge.
  virtual bool handlesTaskAuthenticationChallenges() const { return false; }
  virtual void taskDidReceiveChallenge(UrlSession& session, UrlSessionTask& task,
                                       const std::shared_ptr<UrlAuthenticationChallenge>& challenge) {
    challenge->performDefaultHandling();
  }
  // The request to follow, or nullopt to take the redirect answer as the response.
  virtual void taskWillPerformHttpRedirection(UrlSession& session, UrlSessionTask& task, const UrlResponse& response,
                                              UrlRequest newRequest,
                                              std::function<void(std::optional<UrlRequest>)> completion) {
    completion(std::move(newRequest));
  }
  // A new body stream when the request's cannot start again (null fails the task with -1021).
  virtual void taskNeedNewBodyStream(UrlSession& session, UrlSessionTask& task,
                                     std::function<void(std::shared_ptr<HttpBodyStream>)> completion) {
    completion(nullptr);
  }
  virtual void taskDidSendBodyData(UrlSession& session, UrlSessionTask& task, std::int64_t bytesSent,
                                   std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend) {}
  virtual void taskDidComplete(UrlSession& session, UrlSessionTask& task, const std::optional<Error>& error) {}

  // ---- data tasks
  virtual void dataTaskDidReceiveResponse(UrlSession& session, UrlSessionTask& task, const UrlResponse& response,
                                          std::function<void(UrlSessionResponseDisposition)> completion) {
    completion(UrlSessionResponseDisposition::Allow);
  }
  virtual void dataTaskDidBecomeDownloadTask(UrlSession& session, UrlSessionTask& dataTask,
                                             UrlSessionTask& downloadTask) {}
  virtual void dataTaskDidReceiveData(UrlSession& session, UrlSessionTask& task, const Bytes& data) {}

  // ---- download tasks
  virtual void downloadTaskDidFinishDownloading(UrlSession& session, UrlSessionTask& task, const Url& location) {}
  virtual void downloadTaskDidWriteData(UrlSession& session, UrlSessionTask& task, std::int64_t bytesWritten,
                                        std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) {}
};

class UrlSessionTask : public std::enable_shared_from_this<UrlSessionTask> {
 public:
  enum class Kind { Data, Upload, Download };

  ~UrlSessionTask();
  UrlSessionTask(const UrlSessionTask&) = delete;
  UrlSessionTask& operator=(const UrlSessionTask&) = delete;

  Kind kind() const { return kind_; }
  // Unique within its session, counting from 1.
  std::uint64_t taskIdentifier() const { return identifier_; }
  const UrlRequest& originalRequest() const { return original_; }
  UrlRequest currentRequest() const;
  std::optional<UrlResponse> response() const;
  UrlSessionTaskState state() const;
  std::optional<Error> error() const;
  std::string taskDescription() const;
  void setTaskDescription(std::string description);
  std::int64_t countOfBytesSent() const { return bytesSent_.load(); }
  std::int64_t countOfBytesReceived() const { return bytesReceived_.load(); }
  // -1 when unknown.
  std::int64_t countOfBytesExpectedToSend() const { return expectedToSend_.load(); }
  std::int64_t countOfBytesExpectedToReceive() const { return expectedToReceive_.load(); }
  std::shared_ptr<UrlSession> session() const { return session_.lock(); }

  // Starts or continues a suspended task.
  void resume();
  // Holds a running task (the time-outs do not run meanwhile).
  void suspend();
  // Ends the task with -999 (taskDidComplete follows on the delegate queue).
  void cancel();

  // Told of every resume() of a task that was not running and every suspend() of a task that
  // was not suspended, on the calling thread (before is the state before the call). One observer
  // for the process; nullptr removes it.
  using LifecycleObserver = std::function<void(UrlSessionTask& task, bool resumed, UrlSessionTaskState before)>;
  static void setLifecycleObserver(LifecycleObserver observer);

 private:
  friend class UrlSession;
  class Client;
  UrlSessionTask(Kind kind, std::uint64_t identifier, UrlRequest request, std::weak_ptr<UrlSession> session);

  const Kind kind_;
  const std::uint64_t identifier_;
  const UrlRequest original_;
  const std::weak_ptr<UrlSession> session_;
  mutable Mutex mutex_;
  UrlRequest current_ PF_GUARDED_BY(mutex_);
  std::optional<UrlResponse> response_ PF_GUARDED_BY(mutex_);
  UrlSessionTaskState state_ PF_GUARDED_BY(mutex_) = UrlSessionTaskState::Suspended;
  std::optional<Error> error_ PF_GUARDED_BY(mutex_);
  std::string description_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<Load> load_ PF_GUARDED_BY(mutex_);
  bool started_ PF_GUARDED_BY(mutex_) = false;
  bool bodyUnreadable_ PF_GUARDED_BY(mutex_) = false;  // an upload whose file cannot be read
  std::atomic<bool> cancelRequested_{false};  // no delegate call but the completion
  std::atomic<bool> ended_{false};            // taskDidComplete has been queued
  std::atomic<std::int64_t> bytesSent_{0};
  std::atomic<std::int64_t> bytesReceived_{0};
  std::atomic<std::int64_t> expectedToSend_{-1};
  std::atomic<std::int64_t> expectedToReceive_{-1};
};

class UrlSession : public std::enable_shared_from_this<UrlSession> {
 public:
  // A null queue gives the session a serial operation queue of its own.
  static std::shared_ptr<UrlSession> make(UrlSessionConfiguration configuration,
                                          std::shared_ptr<UrlSessionDelegate> delegate,
                                          std::shared_ptr<OperationQueue> delegateQueue);
  ~UrlSession();
  UrlSession(const UrlSession&) = delete;
  UrlSession& operator=(const UrlSession&) = delete;

  const UrlSessionConfiguration& configuration() const { return configuration_; }
  const std::shared_ptr<OperationQueue>& delegateQueue() const { return queue_; }
  // Null once the session has become invalid.
  std::shared_ptr<UrlSessionDelegate> delegate() const;
  std::string sessionDescription() const;
  void setSessionDescription(std::string description);
  // Decide server certificates on the loader thread for every later task (see Loader.h).
  void setServerTrustEvaluator(ServerTrustEvaluator evaluator);
  // The loader to use (the shared one by default), for tasks made afterwards.
  void setLoader(Loader* loader);

  // Tasks come back suspended. After invalidation every maker raises pf::Exception
  // (kGenericException).
  std::shared_ptr<UrlSessionTask> dataTask(UrlRequest request);
  std::shared_ptr<UrlSessionTask> uploadTask(UrlRequest request, Bytes body);
  // A file that cannot be read makes a task that completes with -1100 when resumed.
  std::shared_ptr<UrlSessionTask> uploadTask(UrlRequest request, const std::filesystem::path& file);
  // The body is the request's stream (sent chunked when its length is unknown).
  std::shared_ptr<UrlSessionTask> uploadTaskWithStreamedRequest(UrlRequest request);
  std::shared_ptr<UrlSessionTask> downloadTask(UrlRequest request);

  // The tasks not yet completed, on the delegate queue (do not wait for it on that queue).
  void getTasks(std::function<void(std::vector<std::shared_ptr<UrlSessionTask>> data,
                                   std::vector<std::shared_ptr<UrlSessionTask>> upload,
                                   std::vector<std::shared_ptr<UrlSessionTask>> download)> completion);
  // No new tasks; didBecomeInvalid once the running ones have completed.
  void finishTasksAndInvalidate();
  // No new tasks; cancels every task, then didBecomeInvalid.
  void invalidateAndCancel();

 private:
  friend class UrlSessionTask;
  friend class UrlSessionTask::Client;
  UrlSession(UrlSessionConfiguration configuration, std::shared_ptr<UrlSessionDelegate> delegate,
             std::shared_ptr<OperationQueue> queue);
  std::shared_ptr<UrlSessionTask> makeTask(UrlSessionTask::Kind kind, UrlRequest request);
  void startTask(const std::shared_ptr<UrlSessionTask>& task);
  void completeTask(const std::shared_ptr<UrlSessionTask>& task, std::optional<Error> error);
  void taskEnded(std::uint64_t identifier);
  void invalidateIfDone();
  // Runs `call` with the delegate on the delegate queue, in order.
  // Answers whether the pending body bytes are below the channel's high-water mark.
  bool deliver(std::function<void(UrlSession&, UrlSessionDelegate&)> call, std::size_t bytes = 0);
  // Loader thread. The body pieces of every task wait for the delegate in one channel, and a piece
  // is handed over only while the channel is below its high-water mark, so what waits stays below
  // the mark plus one piece however many tasks read. A load whose piece reached the mark waits
  // (after those waiting already) for the channel to drain; answers its place.
  std::uint64_t holdLoad(Load& load);
  // Whether a load may hand over its next piece now; if not, it waits for the channel to drain, in
  // its place (`ticket`, kept by a load let go before it could read, else a new one at the end).
  bool roomToReadOn(Load& load, std::uint64_t& ticket);
  void waitForRoom(Load& load, std::uint64_t& ticket);
  void forgetHeld(const Load& load) PF_REQUIRES(mutex_);

  const UrlSessionConfiguration configuration_;
  const std::shared_ptr<OperationQueue> queue_;
  std::shared_ptr<LoadEventChannel> channel_;
  const std::uint64_t trustKey_;
  mutable Mutex mutex_;
  std::shared_ptr<UrlSessionDelegate> delegate_ PF_GUARDED_BY(mutex_);
  std::string description_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<const KeyedServerTrustEvaluator> evaluator_ PF_GUARDED_BY(mutex_);
  Loader* loader_ PF_GUARDED_BY(mutex_) = nullptr;
  std::map<std::uint64_t, std::shared_ptr<UrlSessionTask>> tasks_ PF_GUARDED_BY(mutex_);
  struct HeldLoad {
    std::weak_ptr<Load> load;
    std::uint64_t ticket;  // its place
  };
  // In the order they first waited.
  std::vector<HeldLoad> heldLoads_ PF_GUARDED_BY(mutex_);
  std::uint64_t nextWaitTicket_ PF_GUARDED_BY(mutex_) = 1;
  std::uint64_t nextIdentifier_ PF_GUARDED_BY(mutex_) = 1;
  bool invalidated_ PF_GUARDED_BY(mutex_) = false;
  bool invalidNotified_ PF_GUARDED_BY(mutex_) = false;
};

}  // namespace pf
