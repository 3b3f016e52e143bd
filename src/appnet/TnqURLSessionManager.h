#pragma once
// One URL session and its delegate: data, upload and download tasks with one completion call per
// task (the answer passed through the response serializer on a shared concurrent queue, the
// handler on the completion queue, then a notification on the main queue), override blocks for
// the session's callbacks, and announcements of every resume and suspend of a task.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "appnet/TnqHTTPSupport.h"
#include "appnet/TnqNetworkReachabilityManager.h"
#include "appnet/TnqSecurityPolicy.h"
#include "appnet/TnqURLResponseSerialization.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/UrlSession.h"

namespace appnet {

extern const std::string kTnqNetworkingTaskDidResumeNotification;         // ".networking.task.resume"
extern const std::string kTnqNetworkingTaskDidSuspendNotification;        // ".networking.task.suspend"
extern const std::string kTnqNetworkingTaskDidCompleteNotification;       // ".networking.task.complete"
extern const std::string kTnqNetworkingSessionDidInvalidateNotification;  // ".networking.session.invalidate"
extern const std::string kTnqURLSessionDownloadTaskDidFailToMoveFileNotification;  // "...download.file-manager-error"
extern const std::string kTnqNSURLSessionTaskDidResumeNotification;   // ".networking.nsurlsessiontask.resume"
extern const std::string kTnqNSURLSessionTaskDidSuspendNotification;  // ".networking.nsurlsessiontask.suspend"
// User-info keys of the completion notification.
extern const std::string kTnqNetworkingTaskDidCompleteResponseSerializerKey;
extern const std::string kTnqNetworkingTaskDidCompleteAssetPathKey;
extern const std::string kTnqNetworkingTaskDidCompleteResponseDataKey;
extern const std::string kTnqNetworkingTaskDidCompleteSerializedResponseKey;
extern const std::string kTnqNetworkingTaskDidCompleteErrorKey;

// The URL a download was put at (the response object of a download with a destination).
std::shared_ptr<pf::Url> TnqResponseFileURL(const TnqResponseObject& object);

// A session configuration back from its archive form.
std::optional<pf::UrlSessionConfiguration> TnqUnarchiveSessionConfiguration(const pf::Value* value);
pf::Value TnqArchiveSessionConfiguration(const pf::UrlSessionConfiguration& configuration);

// Progress of one task (units are bytes).
class TnqURLSessionProgress {
 public:
  std::int64_t totalUnitCount() const { return total_.load(); }
  std::int64_t completedUnitCount() const { return completed_.load(); }
  void setTotalUnitCount(std::int64_t n) { total_ = n; }
  void setCompletedUnitCount(std::int64_t n) { completed_ = n; }
  std::function<void()> pausingHandler;
  std::function<void()> cancellationHandler;
  void pause() { if (pausingHandler) pausingHandler(); }
  void cancel() { if (cancellationHandler) cancellationHandler(); }

 private:
  std::atomic<std::int64_t> total_{0};
  std::atomic<std::int64_t> completed_{0};
};

class TnqURLSessionManager;
using TnqSessionTask = std::shared_ptr<pf::UrlSessionTask>;
using TnqSessionCompletionHandler =
    std::function<void(const std::optional<pf::UrlResponse>&, const TnqResponseObject&, const std::optional<pf::Error>&)>;
using TnqDownloadDestination = std::function<std::optional<pf::Url>(const pf::Url& temporaryLocation,
                                                                     const std::optional<pf::UrlResponse>& response)>;

// One task's record.
class TnqURLSessionManagerTaskDelegate {
 public:
  std::weak_ptr<TnqURLSessionManager> manager;
  // The received body, at most kTnqMaximumInMemoryResponseLength bytes.
  pf::Bytes mutableData;
  // Why the body could not be kept (too long, out of memory): the task's error once it ends.
  std::optional<pf::Error> keepError;
  std::shared_ptr<TnqURLSessionProgress> progress = std::make_shared<TnqURLSessionProgress>();
  std::optional<pf::Url> downloadFileURL;
  std::optional<pf::Error> moveError;
  std::function<std::optional<pf::Url>(pf::UrlSession&, pf::UrlSessionTask&, const pf::Url&)> downloadTaskDidFinishDownloading;
  TnqSessionCompletionHandler completionHandler;

  // Appends received bytes; false (with keepError set) when they cannot be kept.
  bool keep(const pf::UrlSessionTask& task, const pf::Bytes& data);
  // One completion call (and notification) for the task, whatever fails on the way.
  void didComplete(pf::UrlSession& session, const TnqSessionTask& task, const std::optional<pf::Error>& error);
  void didFinishDownloading(pf::UrlSession& session, pf::UrlSessionTask& task, const pf::Url& location);
};

class TnqURLSessionManager : public pf::UrlSessionDelegate, public std::enable_shared_from_this<TnqURLSessionManager> {
 public:
  static std::shared_ptr<TnqURLSessionManager> manager() { return initWithSessionConfiguration(std::nullopt); }
  static std::shared_ptr<TnqURLSessionManager> initWithSessionConfiguration(
      std::optional<pf::UrlSessionConfiguration> configuration);
  TnqURLSessionManager() = default;
  ~TnqURLSessionManager() override;

  std::shared_ptr<pf::UrlSession> session;
  std::shared_ptr<pf::OperationQueue> operationQueue;
  std::shared_ptr<TnqSecurityPolicy> securityPolicy = TnqSecurityPolicy::defaultPolicy();
  // The shared monitor, only held (nothing starts it).
  std::shared_ptr<TnqNetworkReachabilityManager> reachabilityManager;
  std::shared_ptr<pf::DispatchQueue> completionQueue;
  std::shared_ptr<pf::DispatchGroup> completionGroup;
  bool attemptsToRecreateUploadTasksForBackgroundSessions = false;
  pf::UrlSessionConfiguration sessionConfiguration;

  std::shared_ptr<TnqHTTPResponseSerializer> responseSerializer() const;
  virtual void setResponseSerializer(std::shared_ptr<TnqHTTPResponseSerializer> serializer);
  // "%p" of the manager: the description of every task it makes.
  std::string taskDescriptionForSessionTasks() const { return TnqAddressText(this); }

  // ---- task factories (tasks come back suspended)
  TnqSessionTask dataTaskWithRequest(const pf::UrlRequest& request, TnqSessionCompletionHandler handler);
  TnqSessionTask uploadTaskWithRequest(const pf::UrlRequest& request, const std::filesystem::path& file,
                                       std::shared_ptr<TnqURLSessionProgress>* progress, TnqSessionCompletionHandler handler);
  TnqSessionTask uploadTaskWithRequest(const pf::UrlRequest& request, const pf::Bytes& body,
                                       std::shared_ptr<TnqURLSessionProgress>* progress, TnqSessionCompletionHandler handler);
  TnqSessionTask uploadTaskWithStreamedRequest(const pf::UrlRequest& request,
                                               std::shared_ptr<TnqURLSessionProgress>* progress,
                                               TnqSessionCompletionHandler handler);
  TnqSessionTask downloadTaskWithRequest(const pf::UrlRequest& request, std::shared_ptr<TnqURLSessionProgress>* progress,
                                         TnqDownloadDestination destination, TnqSessionCompletionHandler handler);

  std::shared_ptr<TnqURLSessionProgress> uploadProgressForTask(const pf::UrlSessionTask& task) const;
  std::shared_ptr<TnqURLSessionProgress> downloadProgressForTask(const pf::UrlSessionTask& task) const;

  // The session's tasks; blocks until the delegate queue answers (not to be called from it).
  std::vector<TnqSessionTask> tasks() const;
  std::vector<TnqSessionTask> dataTasks() const;
  std::vector<TnqSessionTask> uploadTasks() const;
  std::vector<TnqSessionTask> downloadTasks() const;

  void invalidateSessionCancelingTasks(bool cancelPendingTasks);

  // ---- override blocks (each consulted in the session callback of its name)
  std::function<void(pf::UrlSession&, const std::optional<pf::Error>&)> sessionDidBecomeInvalidBlock;
  std::function<pf::ChallengeDisposition(pf::UrlSession&, pf::UrlAuthenticationChallenge&, std::optional<pf::UrlCredential>&)>
      sessionDidReceiveAuthenticationChallengeBlock;
  std::function<std::optional<pf::UrlRequest>(pf::UrlSession&, pf::UrlSessionTask&, const pf::UrlResponse&, const pf::UrlRequest&)>
      taskWillPerformHTTPRedirectionBlock;
  std::function<pf::ChallengeDisposition(pf::UrlSession&, pf::UrlSessionTask&, pf::UrlAuthenticationChallenge&,
                                         std::optional<pf::UrlCredential>&)>
      taskDidReceiveAuthenticationChallengeBlock;
  std::function<std::shared_ptr<pf::HttpBodyStream>(pf::UrlSession&, pf::UrlSessionTask&)> taskNeedNewBodyStreamBlock;
  std::function<void(pf::UrlSession&, pf::UrlSessionTask&, std::int64_t, std::int64_t, std::int64_t)> taskDidSendBodyDataBlock;
  std::function<void(pf::UrlSession&, pf::UrlSessionTask&, const std::optional<pf::Error>&)> taskDidCompleteBlock;
  std::function<pf::UrlSessionResponseDisposition(pf::UrlSession&, pf::UrlSessionTask&, const pf::UrlResponse&)>
      dataTaskDidReceiveResponseBlock;
  std::function<void(pf::UrlSession&, pf::UrlSessionTask&, pf::UrlSessionTask&)> dataTaskDidBecomeDownloadTaskBlock;
  std::function<void(pf::UrlSession&, pf::UrlSessionTask&, const pf::Bytes&)> dataTaskDidReceiveDataBlock;
  std::function<std::optional<pf::Url>(pf::UrlSession&, pf::UrlSessionTask&, const pf::Url&)> downloadTaskDidFinishDownloadingBlock;
  std::function<void(pf::UrlSession&, pf::UrlSessionTask&, std::int64_t, std::int64_t, std::int64_t)> downloadTaskDidWriteDataBlock;

  virtual std::string description() const;
  static bool supportsSecureCoding() { return true; }
  virtual pf::Value archive() const;
  static std::shared_ptr<TnqURLSessionManager> unarchive(const pf::Value& archive);
  std::shared_ptr<TnqURLSessionManager> copy() const;

  // ---- session delegate
  void didBecomeInvalid(pf::UrlSession& session, const std::optional<pf::Error>& error) override;
  bool handlesAuthenticationChallenges() const override { return true; }
  void didReceiveChallenge(pf::UrlSession& session, const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge) override;
  bool handlesTaskAuthenticationChallenges() const override { return true; }
  void taskDidReceiveChallenge(pf::UrlSession& session, pf::UrlSessionTask& task,
                               const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge) override;
  void taskWillPerformHttpRedirection(pf::UrlSession& session, pf::UrlSessionTask& task, const pf::UrlResponse& response,
                                      pf::UrlRequest newRequest,
                                      std::function<void(std::optional<pf::UrlRequest>)> completion) override;
  void taskNeedNewBodyStream(pf::UrlSession& session, pf::UrlSessionTask& task,
                             std::function<void(std::shared_ptr<pf::HttpBodyStream>)> completion) override;
  void taskDidSendBodyData(pf::UrlSession& session, pf::UrlSessionTask& task, std::int64_t bytesSent,
                           std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend) override;
  void taskDidComplete(pf::UrlSession& session, pf::UrlSessionTask& task, const std::optional<pf::Error>& error) override;
  void dataTaskDidReceiveResponse(pf::UrlSession& session, pf::UrlSessionTask& task, const pf::UrlResponse& response,
                                  std::function<void(pf::UrlSessionResponseDisposition)> completion) override;
  void dataTaskDidBecomeDownloadTask(pf::UrlSession& session, pf::UrlSessionTask& dataTask,
                                     pf::UrlSessionTask& downloadTask) override;
  void dataTaskDidReceiveData(pf::UrlSession& session, pf::UrlSessionTask& task, const pf::Bytes& data) override;
  void downloadTaskDidFinishDownloading(pf::UrlSession& session, pf::UrlSessionTask& task, const pf::Url& location) override;
  void downloadTaskDidWriteData(pf::UrlSession& session, pf::UrlSessionTask& task, std::int64_t bytesWritten,
                                std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) override;

 protected:
  // Makes the session and the records; run once right after construction.
  void setUp(std::optional<pf::UrlSessionConfiguration> configuration);

 private:
  friend class TnqURLSessionManagerTaskDelegate;
  std::shared_ptr<TnqURLSessionManagerTaskDelegate> delegateForTask(const pf::UrlSessionTask& task) const;
  void setDelegate(std::shared_ptr<TnqURLSessionManagerTaskDelegate> delegate, pf::UrlSessionTask& task);
  void removeDelegateForTask(const pf::UrlSessionTask& task);
  void removeAllDelegates();
  void addDelegateForDataTask(pf::UrlSessionTask& task, TnqSessionCompletionHandler handler);
  void addDelegateForUploadTask(pf::UrlSessionTask& task, std::shared_ptr<TnqURLSessionProgress>* progress,
                                TnqSessionCompletionHandler handler);
  void addDelegateForDownloadTask(pf::UrlSessionTask& task, std::shared_ptr<TnqURLSessionProgress>* progress,
                                  TnqDownloadDestination destination, TnqSessionCompletionHandler handler);
  TnqSessionTask create(const std::function<TnqSessionTask()>& make);
  void taskLifecycle(const pf::Notification& notification, bool resumed);
  std::vector<TnqSessionTask> tasksOfKind(int which) const;

  mutable pf::Mutex lock_;  // ".networking.session.manager.lock": the record dictionary
  std::map<std::uint64_t, std::shared_ptr<TnqURLSessionManagerTaskDelegate>> records_ PF_GUARDED_BY(lock_);
  std::shared_ptr<TnqHTTPResponseSerializer> responseSerializer_ PF_GUARDED_BY(lock_) =
      TnqJSONResponseSerializer::serializer();
  std::vector<pf::ObserverToken> observers_;
  // Set while the records of the session's earlier tasks are made (on the delegate queue).
  std::atomic<bool> fillingOnly_{false};
  std::thread::id fillingThread_;
};

}  // namespace appnet
