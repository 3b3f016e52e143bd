#include "container/MwHttpTask.h"

#include "container/MwAnalysisRecord.h"
#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwHttpRequest.h"
#include "container/MwHttpResponse.h"
#include "container/MwJSON.h"
#include "platform/foundation/Clock.h"

namespace container {

namespace {

std::shared_ptr<MwComPackage> failurePackage(int flag, std::int64_t code, const std::string& message,
                                             const pf::Value& business) {
  auto data = std::make_shared<MwDataPackage>(kCrypt3Des, 0, 0, MwJSON::JSONData(business));
  return std::make_shared<MwComPackage>(flag, code, message, std::move(data));
}

}  // namespace

std::shared_ptr<MwHttpTask> MwHttpTask::make(std::weak_ptr<MwTaskListener> listener,
                                             std::shared_ptr<MwHttpRequest> request) {
  if (!request) return nullptr;
  std::shared_ptr<MwHttpTask> task(new MwHttpTask());
  task->MwBaseTask::initTaskWithListener(std::move(listener), std::move(request));
  return task;
}

std::shared_ptr<MwHttpTask> MwHttpTask::failingTask(std::weak_ptr<MwTaskListener> listener,
                                                    std::shared_ptr<MwComPackage> failure) {
  std::shared_ptr<MwHttpTask> task(new MwHttpTask());
  task->MwBaseTask::initTaskWithListener(std::move(listener), nullptr);
  task->presetFailure_ = std::move(failure);
  return task;
}

void MwHttpTask::doTask() {
  if (getStatus() != kTaskNew) return;
  comPackage_.reset();
  httpStatusCode_ = -1;
  payloadReadable_ = false;
  MwBaseTask::doTask();

  auto record = std::make_shared<MwAnalysisRecord>();
  if (presetFailure_) {
    record->requesttime = pf::Clock::now();
    record->responsetime = record->requesttime;
    record->httpcode = "-1";
    comPackage_ = presetFailure_;
    record->post();
    complete();
    return;
  }
  const auto& request = getTaskRequest();
  if (!request) return;
  const std::string url = request->getUrl().value_or("");
  if (!url.empty()) record->url = url;
  record->requesttime = pf::Clock::now();

  pf::Error error;
  const bool allowed = MwCommunicationHelper::allowSendRequest(url, &error);
  // The gate may have turned the run loop: a task that timed out or was cancelled meanwhile sends
  // nothing and reports nothing more.
  if (getStatus() != kTaskRunning) return;
  if (allowed) {
    auto self = std::static_pointer_cast<MwHttpTask>(shared_from_this());
    request->asynchronousRequest([self, record](std::shared_ptr<MwHttpResponse> response) {
      self->onAnswer(response, *record);
    });
    return;
  }
  record->httpcode = "-1";
  if (error.domain.empty()) return;
  pf::Value business = {{"RETMSG", error.domain}, {"RETCODE", std::to_string(static_cast<int>(error.code))}};
  comPackage_ = failurePackage(0, error.code, error.domain, business);
  record->responsetime = pf::Clock::now();
  record->post();
  complete();
}

void MwHttpTask::onAnswer(const std::shared_ptr<MwHttpResponse>& response, MwAnalysisRecord& record) {
  if (getStatus() != kTaskRunning) return;
  record.responsetime = pf::Clock::now();
  if (!response) {
    record.httpcode = "-1";
    comPackage_ = failurePackage(1, 1, "数据解析错误", {{"RETMSG", "网络连接错误，请稍后重试!"}, {"RETCODE", "2"}});
    record.post();
    complete();
    return;
  }
  httpStatusCode_ = response->getStatusCode();
  record.httpcode = std::to_string(httpStatusCode_);
  if (httpStatusCode_ == 200) {
    comPackage_ = MwCommunicationHelper::parseAnswer(*response);
    // Success is a business payload that reads as JSON; one that does not (not JSON, not UTF-8) is
    // an error the listener hears with the package.
    payloadReadable_ = comPackage_ && comPackage_->businessObject().has_value();
    if (comPackage_) {
      record.hasdata = "1";
      record.httpdata = comPackage_;
    }
  } else {
    comPackage_ = failurePackage(
        1, 1, "服务器内部错误",
        {{"RETMSG", "服务器内部错误，请联系澜川银行(96271)!"}, {"RETCODE", std::to_string(static_cast<int>(httpStatusCode_))}});
  }
  record.post();
  complete();
}

void MwHttpTask::cancel() {
  if (getStatus() == kTaskRunning) {
    if (const auto& request = getTaskRequest()) request->cancelOperation();
  }
  MwBaseTask::cancel();
}

void MwHttpTask::success() {
  setResultWithInfo(comPackage_, true);
  MwBaseTask::success();
}

void MwHttpTask::error() {
  setResultWithInfo(comPackage_, false);
  MwBaseTask::error();
}

bool MwHttpTask::taskCompleteResult() const { return comPackage_ && httpStatusCode_ == 200 && payloadReadable_; }

}  // namespace container
