#pragma once
// The base of server tasks: status, time-out timer, busy overlay, result package and listener.
//
// Status: 0 new or cancelled, 1 running, 2 completed, 3 timed out. The listener is held weakly:
// a listener that has gone hears nothing.

#include <atomic>
#include <cstdint>
#include <memory>

#include "container/MwActivity.h"
#include "container/MwTaskListener.h"

namespace pf {
class Timer;
}

namespace container {

class MwComPackage;
class MwHttpRequest;

enum MwTaskStatus : int { kTaskNew = 0, kTaskRunning = 1, kTaskCompleted = 2, kTaskTimedOut = 3 };

class MwBaseTask : public MwActivityDelegate, public std::enable_shared_from_this<MwBaseTask> {
 public:
  MwBaseTask() = default;
  ~MwBaseTask() override;
  MwBaseTask(const MwBaseTask&) = delete;
  MwBaseTask& operator=(const MwBaseTask&) = delete;

  // Listener and request; status 0, tag 0, neither abolishable nor preventable.
  void initTaskWithListener(std::weak_ptr<MwTaskListener> listener, std::shared_ptr<MwHttpRequest> request);

  // Status 1; a one-shot timer on the current run loop when the interval is above 0; the busy
  // overlay when preventable.
  virtual void doTask();
  // Only while running: stops the timer, status 2, then success() or error() by taskCompleteResult().
  void complete();
  virtual void success();
  virtual void error();
  // Stops the timer; a running task goes to status 0 and the listener hears onCancelByTask.
  virtual void cancel();
  // The timer fired: status 3, the overlay goes, the listener hears onTimeOutByTask.
  virtual void timeOut();
  // Removes the overlay when this task is its delegate and invalidates the timer.
  void stopTimer();
  virtual bool taskCompleteResult() const { return false; }

  void setResultWithInfo(std::shared_ptr<MwComPackage> result, bool success);
  std::shared_ptr<MwComPackage> getResult() const { return result_; }

  void activityRemoveFromSuperview() override { cancel(); }

  int getStatus() const { return status_.load(std::memory_order_acquire); }
  double getTimeoutInterval() const { return timeoutInterval_; }
  // Intervals that are not finite or not below kTimeoutIntervalLimit mean no timer (-1); long ones
  // are kept.
  void setTimeoutInterval(double seconds);
  bool isAbolishable() const { return abolishable_; }
  void setAbolishable(bool value) { abolishable_ = value; }
  bool isPreventable() const { return preventable_; }
  void setPreventable(bool value) { preventable_ = value; }
  std::int64_t getTag() const { return tag_; }
  void setTag(std::int64_t tag) { tag_ = tag; }
  const std::shared_ptr<MwHttpRequest>& getTaskRequest() const { return taskRequest_; }
  std::shared_ptr<MwTaskListener> getListener() const { return listener_.lock(); }

  // Time-outs (tasks and requests) become signed 64-bit seconds on the way: 2^63 and above do not fit.
  static constexpr double kTimeoutIntervalLimit = 9223372036854775808.0;

 protected:
  void setStatus(int status) { status_.store(status, std::memory_order_release); }

 private:
  std::atomic<int> status_{kTaskNew};
  double timeoutInterval_ = 0;
  std::shared_ptr<pf::Timer> timer_;
  std::shared_ptr<MwComPackage> result_;
  bool abolishable_ = false;
  bool preventable_ = false;
  std::shared_ptr<MwHttpRequest> taskRequest_;
  std::weak_ptr<MwTaskListener> listener_;
  std::int64_t tag_ = 0;
};

}  // namespace container
