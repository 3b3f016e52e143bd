#include "appnet/TnqURLSessionManager.h"

#include "appnet/TnqMultipartFormData.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Format.h"

#include <thread>

namespace appnet {

const std::string kTnqNetworkingTaskDidResumeNotification = TnqName(".networking.task.resume");
const std::string kTnqNetworkingTaskDidSuspendNotification = TnqName(".networking.task.suspend");
const std::string kTnqNetworkingTaskDidCompleteNotification = TnqName(".networking.task.complete");
const std::string kTnqNetworkingSessionDidInvalidateNotification = TnqName(".networking.session.invalidate");
const std::string kTnqURLSessionDownloadTaskDidFailToMoveFileNotification =
    TnqName(".networking.session.download.file-manager-error");
const std::string kTnqNSURLSessionTaskDidResumeNotification = TnqName(".networking.nsurlsessiontask.resume");
const std::string kTnqNSURLSessionTaskDidSuspendNotification = TnqName(".networking.nsurlsessiontask.suspend");
const std::string kTnqNetworkingTaskDidCompleteResponseSerializerKey = TnqName(".networking.task.complete.responseserializer");
const std::string kTnqNetworkingTaskDidCompleteAssetPathKey = TnqName(".networking.task.complete.assetpath");
const std::string kTnqNetworkingTaskDidCompleteResponseDataKey = TnqName(".networking.complete.finish.responsedata");
const std::string kTnqNetworkingTaskDidCompleteSerializedResponseKey = TnqName(".networking.task.complete.serializedresponse");
const std::string kTnqNetworkingTaskDidCompleteErrorKey = TnqName(".networking.task.complete.error");

namespace {

std::shared_ptr<pf::DispatchQueue> processingQueue() {
  static auto queue = pf::DispatchQueue::makeConcurrent(TnqName(".networking.session.manager.processing"));
  return queue;
}

std::shared_ptr<pf::DispatchQueue> creationQueue() {
  static auto queue = pf::DispatchQueue::makeSerial(TnqName(".networking.session.manager.creation"));
  return queue;
}

std::shared_ptr<pf::DispatchGroup> sessionCompletionGroup() {
  static auto group = pf::DispatchGroup::make();
  return group;
}

// Every resume of a task that was not running and every suspend of one that was not suspended is
// announced, whoever made the task.
void installLifecycleAnnouncements() {
  static std::once_flag once;
  std::call_once(once, [] {
    pf::UrlSessionTask::setLifecycleObserver([](pf::UrlSessionTask& task, bool resumed, pf::UrlSessionTaskState before) {
      if (resumed && before == pf::UrlSessionTaskState::Running) return;
      if (!resumed && before == pf::UrlSessionTaskState::Suspended) return;
      pf::NotificationCenter::defaultCenter().post(
          resumed ? kTnqNSURLSessionTaskDidResumeNotification : kTnqNSURLSessionTaskDidSuspendNotification,
          task.shared_from_this());
    });
  });
}

std::optional<std::int64_t> contentLengthOf(const pf::UrlRequest& request) {
  auto value = request.valueForHttpHeaderField("Content-Length");
  if (!value) return std::nullopt;
  return pf::integerValue(*value);
}

pf::ChallengeDisposition trustDisposition(const TnqSecurityPolicy* policy, pf::UrlAuthenticationChallenge& challenge,
                                          std::optional<pf::UrlCredential>& credential, bool sessionLevel) {
  if (!challenge.isServerTrust()) return pf::ChallengeDisposition::PerformDefaultHandling;
  const auto& space = challenge.protectionSpace();
  if (space.serverTrust && policy && policy->evaluateServerTrust(*space.serverTrust, space.host)) {
    credential = pf::UrlCredential::forTrust(space.serverTrust);
    (void)sessionLevel;
    return pf::ChallengeDisposition::UseCredential;
  }
  return pf::ChallengeDisposition::CancelAuthenticationChallenge;
}

}  // namespace

std::shared_ptr<pf::Url> TnqResponseFileURL(const TnqResponseObject& object) { return object.as<pf::Url>(); }

// ---- task record

bool TnqURLSessionManagerTaskDelegate::keep(const pf::UrlSessionTask& task, const pf::Bytes& data) {
  if (!keepError) keepError = TnqInMemoryLimitError(mutableData.size(), data.size(), task.currentRequest().url());
  if (keepError) return false;
  try {
    pf::appendBodyBytes(mutableData, data, kTnqMaximumInMemoryResponseLength);
  } catch (const std::bad_alloc&) {
    keepError = TnqOutOfMemoryError(task.currentRequest().url());
    pf::Bytes().swap(mutableData);
    return false;
  }
  return true;
}

void TnqURLSessionManagerTaskDelegate::didComplete(pf::UrlSession&, const TnqSessionTask& task,
                                                   const std::optional<pf::Error>& error) {
  auto strongManager = manager.lock();
  auto serializer = strongManager ? strongManager->responseSerializer() : nullptr;
  auto group = strongManager && strongManager->completionGroup ? strongManager->completionGroup : sessionCompletionGroup();
  auto queue = strongManager && strongManager->completionQueue ? strongManager->completionQueue : pf::DispatchQueue::main();

  pf::Value userInfo = pf::Value::object();
  if (serializer) userInfo[kTnqNetworkingTaskDidCompleteResponseSerializerKey] = serializer->className();
  // The bytes go into the notification at its post, after the serializer and the handler are done
  // with them: moved, not copied, unless the handler's object is these bytes themselves (the plain
  // serializer's); nothing is made when nobody observes the notification.
  auto data = std::make_shared<pf::Bytes>(std::move(mutableData));
  if (downloadFileURL) userInfo[kTnqNetworkingTaskDidCompleteAssetPathKey] = downloadFileURL->absoluteString();
  const bool postsData = !downloadFileURL && !data->empty();

  auto handler = completionHandler;
  std::optional<pf::UrlResponse> response = task->response();
  auto post = [task, data, postsData](pf::Value info, bool shared) {
    pf::DispatchQueue::main()->async([task, data, postsData, shared, info = std::move(info)]() mutable {
      auto& center = pf::NotificationCenter::defaultCenter();
      if (!center.hasObserversFor(kTnqNetworkingTaskDidCompleteNotification)) return;
      if (postsData) info[kTnqNetworkingTaskDidCompleteResponseDataKey] = pf::makeData(shared ? *data : std::exchange(*data, {}));
      center.post(kTnqNetworkingTaskDidCompleteNotification, task, std::move(info));
    });
  };
  if (error) {
    userInfo[kTnqNetworkingTaskDidCompleteErrorKey] = TnqArchiveError(*error);
    queue->async(group, [handler, response, error, userInfo = std::move(userInfo), post]() mutable {
      if (handler) handler(response, {}, error);
      post(std::move(userInfo), false);
    });
    return;
  }
  auto fileURL = downloadFileURL;
  auto moveFailure = moveError;
  processingQueue()->async([=]() mutable {
    std::optional<pf::Error> serializationError;
    TnqResponseObject object;
    if (serializer) object = TnqGuardedResponseObject(*serializer, response ? &*response : nullptr, data, &serializationError);
    if (fileURL) object = std::make_shared<pf::Url>(*fileURL);
    const bool shared = TnqResponseBytes(object) == data;
    // A file that could not be put at its destination is reported, not passed over.
    if (moveFailure) serializationError = TnqChainedError(*moveFailure, serializationError);
    if (const pf::Value* v = object.value()) userInfo[kTnqNetworkingTaskDidCompleteSerializedResponseKey] = *v;
    if (serializationError) userInfo[kTnqNetworkingTaskDidCompleteErrorKey] = TnqArchiveError(*serializationError);
    queue->async(group, [handler, response, object, serializationError, userInfo = std::move(userInfo), post, shared]() mutable {
      if (handler) handler(response, object, serializationError);
      post(std::move(userInfo), shared);
    });
  });
}

void TnqURLSessionManagerTaskDelegate::didFinishDownloading(pf::UrlSession& session, pf::UrlSessionTask& task,
                                                            const pf::Url& location) {
  downloadFileURL.reset();
  if (!downloadTaskDidFinishDownloading) return;
  downloadFileURL = downloadTaskDidFinishDownloading(session, task, location);
  if (!downloadFileURL) return;
  pf::Error error;
  if (!pf::FileManager::moveItem(location.filePath(), downloadFileURL->filePath(), &error)) {
    moveError = error;
    pf::NotificationCenter::defaultCenter().post(kTnqURLSessionDownloadTaskDidFailToMoveFileNotification,
                                                 task.shared_from_this(), error.userInfo);
  }
}

// ---- manager

std::shared_ptr<TnqURLSessionManager> TnqURLSessionManager::initWithSessionConfiguration(
    std::optional<pf::UrlSessionConfiguration> configuration) {
  auto manager = std::make_shared<TnqURLSessionManager>();
  manager->setUp(std::move(configuration));
  return manager;
}

void TnqURLSessionManager::setUp(std::optional<pf::UrlSessionConfiguration> configuration) {
  installLifecycleAnnouncements();
  reachabilityManager = TnqNetworkReachabilityManager::sharedManager();
  sessionConfiguration = configuration ? *configuration : pf::UrlSessionConfiguration::defaultConfiguration();
  operationQueue = pf::OperationQueue::make();
  operationQueue->setMaxConcurrentOperationCount(1);
  session = pf::UrlSession::make(sessionConfiguration, shared_from_this(), operationQueue);
  std::weak_ptr<TnqURLSessionManager> weak = shared_from_this();
  session->getTasks([weak](auto data, auto upload, auto download) {
    auto self = weak.lock();
    if (!self) return;
    // Tasks the session had before this manager. A task made since has (or is about to get) its
    // own record, which must win: these records only fill empty places.
    self->fillingThread_ = std::this_thread::get_id();
    self->fillingOnly_ = true;
    for (auto& t : data) self->addDelegateForDataTask(*t, nullptr);
    for (auto& t : upload) self->addDelegateForUploadTask(*t, nullptr, nullptr);
    for (auto& t : download) self->addDelegateForDownloadTask(*t, nullptr, nullptr, nullptr);
    self->fillingOnly_ = false;
  });
  auto& center = pf::NotificationCenter::defaultCenter();
  observers_.push_back(center.addObserver(kTnqNSURLSessionTaskDidResumeNotification, {}, [weak](const pf::Notification& n) {
    if (auto self = weak.lock()) self->taskLifecycle(n, true);
  }));
  observers_.push_back(center.addObserver(kTnqNSURLSessionTaskDidSuspendNotification, {}, [weak](const pf::Notification& n) {
    if (auto self = weak.lock()) self->taskLifecycle(n, false);
  }));
}

TnqURLSessionManager::~TnqURLSessionManager() {
  for (auto token : observers_) pf::NotificationCenter::defaultCenter().removeObserver(token);
}

void TnqURLSessionManager::taskLifecycle(const pf::Notification& notification, bool resumed) {
  auto task = notification.object.as<pf::UrlSessionTask>();
  if (!task || task->taskDescription() != taskDescriptionForSessionTasks()) return;
  pf::DispatchQueue::main()->async([task, resumed] {
    pf::NotificationCenter::defaultCenter().post(
        resumed ? kTnqNetworkingTaskDidResumeNotification : kTnqNetworkingTaskDidSuspendNotification, task);
  });
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqURLSessionManager::responseSerializer() const {
  pf::MutexLock lock(lock_);
  return responseSerializer_;
}

void TnqURLSessionManager::setResponseSerializer(std::shared_ptr<TnqHTTPResponseSerializer> serializer) {
  pf::MutexLock lock(lock_);
  responseSerializer_ = std::move(serializer);
}

// ---- records

std::shared_ptr<TnqURLSessionManagerTaskDelegate> TnqURLSessionManager::delegateForTask(const pf::UrlSessionTask& task) const {
  pf::MutexLock lock(lock_);
  auto it = records_.find(task.taskIdentifier());
  return it == records_.end() ? nullptr : it->second;
}

void TnqURLSessionManager::setDelegate(std::shared_ptr<TnqURLSessionManagerTaskDelegate> delegate, pf::UrlSessionTask& task) {
  pf::MutexLock lock(lock_);
  const bool fillingOnly = fillingOnly_ && std::this_thread::get_id() == fillingThread_;
  if (fillingOnly) records_.emplace(task.taskIdentifier(), std::move(delegate));
  else records_[task.taskIdentifier()] = std::move(delegate);
}

void TnqURLSessionManager::removeDelegateForTask(const pf::UrlSessionTask& task) {
  pf::MutexLock lock(lock_);
  records_.erase(task.taskIdentifier());
}

void TnqURLSessionManager::removeAllDelegates() {
  pf::MutexLock lock(lock_);
  records_.clear();
}

void TnqURLSessionManager::addDelegateForDataTask(pf::UrlSessionTask& task, TnqSessionCompletionHandler handler) {
  auto record = std::make_shared<TnqURLSessionManagerTaskDelegate>();
  record->manager = weak_from_this();
  record->completionHandler = std::move(handler);
  task.setTaskDescription(taskDescriptionForSessionTasks());
  setDelegate(record, task);
}

void TnqURLSessionManager::addDelegateForUploadTask(pf::UrlSessionTask& task,
                                                    std::shared_ptr<TnqURLSessionProgress>* progress,
                                                    TnqSessionCompletionHandler handler) {
  auto record = std::make_shared<TnqURLSessionManagerTaskDelegate>();
  record->manager = weak_from_this();
  record->completionHandler = std::move(handler);
  task.setTaskDescription(taskDescriptionForSessionTasks());
  std::int64_t expected = task.countOfBytesExpectedToSend();
  if (expected < 0)
    if (auto length = contentLengthOf(task.originalRequest())) expected = *length;
  record->progress->setTotalUnitCount(expected);
  std::weak_ptr<pf::UrlSessionTask> weakTask = task.shared_from_this();
  record->progress->pausingHandler = [weakTask] { if (auto t = weakTask.lock()) t->suspend(); };
  record->progress->cancellationHandler = [weakTask] { if (auto t = weakTask.lock()) t->cancel(); };
  setDelegate(record, task);
  if (progress) *progress = record->progress;
}

void TnqURLSessionManager::addDelegateForDownloadTask(pf::UrlSessionTask& task,
                                                      std::shared_ptr<TnqURLSessionProgress>* progress,
                                                      TnqDownloadDestination destination,
                                                      TnqSessionCompletionHandler handler) {
  auto record = std::make_shared<TnqURLSessionManagerTaskDelegate>();
  record->manager = weak_from_this();
  record->completionHandler = std::move(handler);
  if (destination)
    record->downloadTaskDidFinishDownloading = [destination](pf::UrlSession&, pf::UrlSessionTask& t, const pf::Url& location) {
      return destination(location, t.response());
    };
  task.setTaskDescription(taskDescriptionForSessionTasks());
  setDelegate(record, task);
  if (progress) *progress = record->progress;
}

TnqSessionTask TnqURLSessionManager::create(const std::function<TnqSessionTask()>& make) {
  TnqSessionTask task;
  creationQueue()->sync([&] { task = make(); });
  return task;
}

TnqSessionTask TnqURLSessionManager::dataTaskWithRequest(const pf::UrlRequest& request, TnqSessionCompletionHandler handler) {
  auto task = create([&] { return session->dataTask(request); });
  if (task) addDelegateForDataTask(*task, std::move(handler));
  return task;
}

TnqSessionTask TnqURLSessionManager::uploadTaskWithRequest(const pf::UrlRequest& request, const std::filesystem::path& file,
                                                           std::shared_ptr<TnqURLSessionProgress>* progress,
                                                           TnqSessionCompletionHandler handler) {
  auto task = create([&] { return session->uploadTask(request, file); });
  if (task) addDelegateForUploadTask(*task, progress, std::move(handler));
  return task;
}

TnqSessionTask TnqURLSessionManager::uploadTaskWithRequest(const pf::UrlRequest& request, const pf::Bytes& body,
                                                           std::shared_ptr<TnqURLSessionProgress>* progress,
                                                           TnqSessionCompletionHandler handler) {
  auto task = create([&] { return session->uploadTask(request, body); });
  if (task) addDelegateForUploadTask(*task, progress, std::move(handler));
  return task;
}

TnqSessionTask TnqURLSessionManager::uploadTaskWithStreamedRequest(const pf::UrlRequest& request,
                                                                   std::shared_ptr<TnqURLSessionProgress>* progress,
                                                                   TnqSessionCompletionHandler handler) {
  auto task = create([&] { return session->uploadTaskWithStreamedRequest(request); });
  if (task) addDelegateForUploadTask(*task, progress, std::move(handler));
  return task;
}

TnqSessionTask TnqURLSessionManager::downloadTaskWithRequest(const pf::UrlRequest& request,
                                                             std::shared_ptr<TnqURLSessionProgress>* progress,
                                                             TnqDownloadDestination destination,
                                                             TnqSessionCompletionHandler handler) {
  auto task = create([&] { return session->downloadTask(request); });
  if (task) addDelegateForDownloadTask(*task, progress, std::move(destination), std::move(handler));
  return task;
}

std::shared_ptr<TnqURLSessionProgress> TnqURLSessionManager::uploadProgressForTask(const pf::UrlSessionTask& task) const {
  auto record = delegateForTask(task);
  return record ? record->progress : nullptr;
}

std::shared_ptr<TnqURLSessionProgress> TnqURLSessionManager::downloadProgressForTask(const pf::UrlSessionTask& task) const {
  auto record = delegateForTask(task);
  return record ? record->progress : nullptr;
}

std::vector<TnqSessionTask> TnqURLSessionManager::tasksOfKind(int which) const {
  std::vector<TnqSessionTask> result;
  auto semaphore = pf::DispatchSemaphore::make(0);
  session->getTasks([&](auto data, auto upload, auto download) {
    if (which == 0 || which == 1) result.insert(result.end(), data.begin(), data.end());
    if (which == 0 || which == 2) result.insert(result.end(), upload.begin(), upload.end());
    if (which == 0 || which == 3) result.insert(result.end(), download.begin(), download.end());
    semaphore->signal();
  });
  semaphore->wait();
  return result;
}

std::vector<TnqSessionTask> TnqURLSessionManager::tasks() const { return tasksOfKind(0); }
std::vector<TnqSessionTask> TnqURLSessionManager::dataTasks() const { return tasksOfKind(1); }
std::vector<TnqSessionTask> TnqURLSessionManager::uploadTasks() const { return tasksOfKind(2); }
std::vector<TnqSessionTask> TnqURLSessionManager::downloadTasks() const { return tasksOfKind(3); }

void TnqURLSessionManager::invalidateSessionCancelingTasks(bool cancelPendingTasks) {
  auto s = session;
  pf::DispatchQueue::main()->async([s, cancelPendingTasks] {
    if (cancelPendingTasks) s->invalidateAndCancel();
    else s->finishTasksAndInvalidate();
  });
}

// ---- session callbacks (delegate queue)

void TnqURLSessionManager::didBecomeInvalid(pf::UrlSession& s, const std::optional<pf::Error>& error) {
  if (sessionDidBecomeInvalidBlock) sessionDidBecomeInvalidBlock(s, error);
  removeAllDelegates();
  pf::NotificationCenter::defaultCenter().post(kTnqNetworkingSessionDidInvalidateNotification, s.shared_from_this());
}

void TnqURLSessionManager::didReceiveChallenge(pf::UrlSession& s,
                                               const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge) {
  std::optional<pf::UrlCredential> credential;
  pf::ChallengeDisposition disposition =
      sessionDidReceiveAuthenticationChallengeBlock ? sessionDidReceiveAuthenticationChallengeBlock(s, *challenge, credential)
                                               : trustDisposition(securityPolicy.get(), *challenge, credential, true);
  challenge->answer(disposition, credential);
}

void TnqURLSessionManager::taskDidReceiveChallenge(pf::UrlSession& s, pf::UrlSessionTask& task,
                                                   const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge) {
  std::optional<pf::UrlCredential> credential;
  pf::ChallengeDisposition disposition =
      taskDidReceiveAuthenticationChallengeBlock ? taskDidReceiveAuthenticationChallengeBlock(s, task, *challenge, credential)
                                            : trustDisposition(securityPolicy.get(), *challenge, credential, false);
  challenge->answer(disposition, credential);
}

void TnqURLSessionManager::taskWillPerformHttpRedirection(pf::UrlSession& s, pf::UrlSessionTask& task,
                                                          const pf::UrlResponse& response, pf::UrlRequest newRequest,
                                                          std::function<void(std::optional<pf::UrlRequest>)> completion) {
  if (taskWillPerformHTTPRedirectionBlock) completion(taskWillPerformHTTPRedirectionBlock(s, task, response, newRequest));
  else completion(std::move(newRequest));
}

void TnqURLSessionManager::taskNeedNewBodyStream(pf::UrlSession& s, pf::UrlSessionTask& task,
                                                 std::function<void(std::shared_ptr<pf::HttpBodyStream>)> completion) {
  if (taskNeedNewBodyStreamBlock) {
    completion(taskNeedNewBodyStreamBlock(s, task));
    return;
  }
  auto multipart = std::dynamic_pointer_cast<TnqMultipartBodyStream>(task.originalRequest().httpBodyStream());
  completion(multipart ? multipart->copy() : nullptr);
}

void TnqURLSessionManager::taskDidSendBodyData(pf::UrlSession& s, pf::UrlSessionTask& task, std::int64_t bytesSent,
                                               std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend) {
  std::int64_t expected = totalBytesExpectedToSend;
  if (expected < 0)
    if (auto length = contentLengthOf(task.originalRequest())) expected = *length;
  if (auto record = delegateForTask(task)) {
    record->progress->setTotalUnitCount(expected);
    record->progress->setCompletedUnitCount(totalBytesSent);
  }
  if (taskDidSendBodyDataBlock) taskDidSendBodyDataBlock(s, task, bytesSent, totalBytesSent, expected);
}

void TnqURLSessionManager::taskDidComplete(pf::UrlSession& s, pf::UrlSessionTask& task, const std::optional<pf::Error>& error) {
  if (auto record = delegateForTask(task)) {
    // A body that could not be kept ended the task: that is its error, not the cancel.
    record->didComplete(s, task.shared_from_this(), record->keepError ? record->keepError : error);
    removeDelegateForTask(task);
  }
  if (taskDidCompleteBlock) taskDidCompleteBlock(s, task, error);
}

void TnqURLSessionManager::dataTaskDidReceiveResponse(pf::UrlSession& s, pf::UrlSessionTask& task,
                                                      const pf::UrlResponse& response,
                                                      std::function<void(pf::UrlSessionResponseDisposition)> completion) {
  completion(dataTaskDidReceiveResponseBlock ? dataTaskDidReceiveResponseBlock(s, task, response)
                                        : pf::UrlSessionResponseDisposition::Allow);
}

void TnqURLSessionManager::dataTaskDidBecomeDownloadTask(pf::UrlSession& s, pf::UrlSessionTask& dataTask,
                                                         pf::UrlSessionTask& downloadTask) {
  if (auto record = delegateForTask(dataTask)) {
    removeDelegateForTask(dataTask);
    setDelegate(record, downloadTask);
  }
  if (dataTaskDidBecomeDownloadTaskBlock) dataTaskDidBecomeDownloadTaskBlock(s, dataTask, downloadTask);
}

void TnqURLSessionManager::dataTaskDidReceiveData(pf::UrlSession& s, pf::UrlSessionTask& task, const pf::Bytes& data) {
  if (auto record = delegateForTask(task); record && !record->keep(task, data)) {
    task.cancel();  // read no further
    return;
  }
  if (dataTaskDidReceiveDataBlock) dataTaskDidReceiveDataBlock(s, task, data);
}

void TnqURLSessionManager::downloadTaskDidFinishDownloading(pf::UrlSession& s, pf::UrlSessionTask& task,
                                                            const pf::Url& location) {
  auto record = delegateForTask(task);
  if (downloadTaskDidFinishDownloadingBlock) {
    if (auto destination = downloadTaskDidFinishDownloadingBlock(s, task, location)) {
      pf::Error error;
      if (record) record->downloadFileURL = destination;
      if (!pf::FileManager::moveItem(location.filePath(), destination->filePath(), &error)) {
        if (record) record->moveError = error;
        pf::NotificationCenter::defaultCenter().post(kTnqURLSessionDownloadTaskDidFailToMoveFileNotification,
                                                     task.shared_from_this(), error.userInfo);
      }
      return;
    }
  }
  if (record) record->didFinishDownloading(s, task, location);
}

void TnqURLSessionManager::downloadTaskDidWriteData(pf::UrlSession& s, pf::UrlSessionTask& task, std::int64_t bytesWritten,
                                                    std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) {
  if (auto record = delegateForTask(task)) {
    record->progress->setTotalUnitCount(totalBytesExpectedToWrite);
    record->progress->setCompletedUnitCount(totalBytesWritten);
  }
  if (downloadTaskDidWriteDataBlock) downloadTaskDidWriteDataBlock(s, task, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
}

// ---- description, archiving, copying

std::string TnqURLSessionManager::description() const {
  return pf::format("<%@: %@, session: %@, operationQueue: %@>", std::string("TnqURLSessionManager"), TnqAddressText(this),
                    TnqAddressText(session.get()), TnqAddressText(operationQueue.get()));
}

pf::Value TnqArchiveSessionConfiguration(const pf::UrlSessionConfiguration& c) {
  return pf::Value{{"timeoutIntervalForRequest", c.timeoutIntervalForRequest},
                   {"timeoutIntervalForResource", c.timeoutIntervalForResource},
                   {"HTTPAdditionalHeaders", c.httpAdditionalHeaders.toValue()},
                   {"HTTPShouldSetCookies", c.httpShouldSetCookies},
                   {"identifier", c.identifier}};
}

pf::Value TnqURLSessionManager::archive() const {
  return pf::Value{{kTnqArchiveClassKey, "TnqURLSessionManager"}, {"sessionConfiguration", TnqArchiveSessionConfiguration(sessionConfiguration)}};
}

std::optional<pf::UrlSessionConfiguration> TnqUnarchiveSessionConfiguration(const pf::Value* v) {
  if (!v || !v->is_object()) return std::nullopt;
  pf::UrlSessionConfiguration c;
  if (const pf::Value* x = pf::valueForKey(*v, "timeoutIntervalForRequest"); x && x->is_number()) c.timeoutIntervalForRequest = pf::doubleValue(*x);
  if (const pf::Value* x = pf::valueForKey(*v, "timeoutIntervalForResource"); x && x->is_number()) c.timeoutIntervalForResource = pf::doubleValue(*x);
  if (const pf::Value* x = pf::valueForKey(*v, "HTTPAdditionalHeaders"); x && x->is_object()) c.httpAdditionalHeaders = pf::HttpHeaders::fromValue(*x);
  if (const pf::Value* x = pf::valueForKey(*v, "HTTPShouldSetCookies")) c.httpShouldSetCookies = pf::boolValue(*x);
  if (const pf::Value* x = pf::valueForKey(*v, "identifier"); x && x->is_string()) c.identifier = x->get<std::string>();
  return c;
}

std::shared_ptr<TnqURLSessionManager> TnqURLSessionManager::unarchive(const pf::Value& archive) {
  if (!archive.is_object()) return nullptr;
  return initWithSessionConfiguration(TnqUnarchiveSessionConfiguration(pf::valueForKey(archive, "sessionConfiguration")));
}

std::shared_ptr<TnqURLSessionManager> TnqURLSessionManager::copy() const {
  return initWithSessionConfiguration(sessionConfiguration);
}

}  // namespace appnet
