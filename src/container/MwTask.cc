#include "container/MwTask.h"

#include <cmath>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/ThreadChecker.h"

namespace container {
namespace {

// The answer's dictionary: an empty one for null or a non-dictionary.
void makeDictionary(pf::Value& result) {
  if (!result.is_object()) result = pf::Value::object();
}

}  // namespace

std::shared_ptr<MwTask> MwTask::make(int type, std::string taskID, std::weak_ptr<MwJSTaskListener> listener,
                                     std::weak_ptr<MwJSTaskDelegate> delegate) {
  return std::shared_ptr<MwTask>(new MwTask(type, std::move(taskID), std::move(listener), std::move(delegate)));
}

MwTask::MwTask(int type, std::string taskID, std::weak_ptr<MwJSTaskListener> listener,
               std::weak_ptr<MwJSTaskDelegate> delegate)
    : type_(type), taskID_(std::move(taskID)), listener_(std::move(listener)), delegate_(std::move(delegate)) {}

MwTask::~MwTask() { stopTimer(); }

void MwTask::successWithResult(pf::Value result) { successWithResult(std::move(result), true); }

void MwTask::successWithResult(pf::Value result, bool /*isComplete*/) {
  PF_ASSERT_MAIN_THREAD();
  auto self = shared_from_this();  // the listener may let the servlet (and so this task) go
  if (!timedOut_) {
    makeDictionary(result);
    result["result"] = kResultSuccess;
    stopTimer();
    if (auto listener = listener_.lock()) listener->onSuccessWithResult(result, type_, taskID_);
  }
  unregister(false);
}

void MwTask::error(pf::Value result) {
  PF_ASSERT_MAIN_THREAD();
  auto self = shared_from_this();
  if (!timedOut_) {
    makeDictionary(result);
    const pf::Value* own = pf::valueForKey(result, "result");
    if (!own || !own->is_number() || pf::integerValue(*own) == 0) result["result"] = kResultError;
    stopTimer();
    if (auto listener = listener_.lock()) listener->onErrorWithResult(result, type_, taskID_);
  }
  unregister(false);
}

void MwTask::cancel() {
  PF_ASSERT_MAIN_THREAD();
  if (timedOut_ || cancelled_) return;
  auto self = shared_from_this();
  cancelled_ = true;
  stopTimer();
  if (auto listener = listener_.lock()) listener->onCancelWithResult({{"result", kResultCancelled}}, type_, taskID_);
  unregister(true);
}

void MwTask::setTimeoutValue(double seconds) {
  PF_ASSERT_MAIN_THREAD();
  timeoutValue_ = seconds;
  stopTimer();
  if (!(seconds > 0) || !std::isfinite(seconds) || seconds > kMaxTimeout) return;
  std::weak_ptr<MwTask> weak = weak_from_this();
  timer_ = pf::Timer::make(seconds, false, [weak](pf::Timer&) {
    if (auto task = weak.lock()) task->timeOut();
  });
  pf::RunLoop::main()->addTimer(timer_, pf::kRunLoopCommonModes);
}

void MwTask::timeOut() {
  if (timedOut_ || cancelled_) return;
  auto self = shared_from_this();
  timedOut_ = true;
  timer_.reset();
  if (auto listener = listener_.lock()) listener->onTimeOutWithResult({{"result", kResultTimedOut}}, type_, taskID_);
  unregister(true);
}

void MwTask::stopTimer() {
  if (timer_) {
    timer_->invalidate();
    timer_.reset();
  }
}

void MwTask::unregister(bool force) {
  PF_ASSERT_MAIN_THREAD();
  auto delegate = delegate_.lock();
  if (!delegate) return;
  if (force) {
    delegate->endNativeToJSRequest(taskID_);
  } else {
    delegate->unregisterNativeToJSRequest(taskID_);
  }
}

}  // namespace container
