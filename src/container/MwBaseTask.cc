#include "container/MwBaseTask.h"

#include <cmath>

#include "container/MwComPackage.h"
#include "container/MwHttpRequest.h"
#include "platform/foundation/Timer.h"

namespace container {

MwBaseTask::~MwBaseTask() {
  if (timer_) timer_->invalidate();
  MwActivity::removeForDelegate(this);
}

void MwBaseTask::initTaskWithListener(std::weak_ptr<MwTaskListener> listener, std::shared_ptr<MwHttpRequest> request) {
  listener_ = std::move(listener);
  taskRequest_ = std::move(request);
  setStatus(kTaskNew);
  tag_ = 0;
  abolishable_ = false;
  preventable_ = false;
}

void MwBaseTask::setTimeoutInterval(double seconds) {
  timeoutInterval_ = (std::isfinite(seconds) && std::fabs(seconds) < kTimeoutIntervalLimit) ? seconds : -1.0;
}

void MwBaseTask::doTask() {
  setStatus(kTaskRunning);
  if (timeoutInterval_ > 0) {
    if (timer_) timer_->invalidate();
    std::weak_ptr<MwBaseTask> weak = weak_from_this();
    timer_ = pf::Timer::scheduled(timeoutInterval_, false, [weak](pf::Timer&) {
      if (auto self = weak.lock()) self->timeOut();
    });
  }
  if (preventable_) MwActivity::show(shared_from_this());
}

void MwBaseTask::complete() {
  if (getStatus() != kTaskRunning) return;
  stopTimer();
  setStatus(kTaskCompleted);
  if (taskCompleteResult()) {
    success();
  } else {
    error();
  }
}

void MwBaseTask::success() {
  if (auto listener = listener_.lock()) listener->onSuccessWithResult(result_, *this);
}

void MwBaseTask::error() {
  if (auto listener = listener_.lock()) listener->onErrorWithMessage(result_, *this);
}

void MwBaseTask::cancel() {
  stopTimer();
  if (getStatus() == kTaskRunning) {
    setStatus(kTaskNew);
    if (auto listener = listener_.lock()) listener->onCancelByTask(*this);
  }
}

void MwBaseTask::timeOut() {
  if (getStatus() != kTaskRunning) return;
  stopTimer();
  setStatus(kTaskTimedOut);
  if (auto listener = listener_.lock()) listener->onTimeOutByTask(*this);
}

void MwBaseTask::stopTimer() {
  if (preventable_) MwActivity::removeForDelegate(this);
  if (timer_) {
    timer_->invalidate();
    timer_.reset();
  }
}

void MwBaseTask::setResultWithInfo(std::shared_ptr<MwComPackage> result, bool) { result_ = std::move(result); }

}  // namespace container
