#pragma once
// The answer channel of one page call: its type, id, listener and delegate (the page's web view,
// held weakly, so an answer after the page has gone is dropped) and a time-out timer on the main
// run loop. Main thread only.
//
// Answers: successWithResult ("result" 0, may repeat while the servlet keeps the call open), error
// ("result" 100), cancel ("result" 200) and the time-out ("result" 300), after which the task
// answers nothing more.

#include <memory>
#include <string>

#include "container/MwJSTaskListener.h"
#include "platform/foundation/Value.h"

namespace pf {
class Timer;
}

namespace container {

enum MwTaskType : int { kTaskTypePageCall = 1 };

enum MwAnswerResult : int { kResultSuccess = 0, kResultError = 100, kResultCancelled = 200, kResultTimedOut = 300 };

class MwTask : public std::enable_shared_from_this<MwTask> {
 public:
  static std::shared_ptr<MwTask> make(int type, std::string taskID, std::weak_ptr<MwJSTaskListener> listener,
                                      std::weak_ptr<MwJSTaskDelegate> delegate);
  ~MwTask();
  MwTask(const MwTask&) = delete;
  MwTask& operator=(const MwTask&) = delete;

  // successWithResult(result, true).
  void successWithResult(pf::Value result);
  // Unless timed out: the dictionary (empty for null or a non-dictionary) with "result" 0 goes to the
  // listener and the time-out timer stops. In every case the delegate then unregisters the call.
  // isComplete is not looked at.
  void successWithResult(pf::Value result, bool isComplete);
  // Unless timed out: the dictionary with "result" 100 (a non-zero "result" of its own is kept) goes to
  // the listener; the call ends like a success.
  void error(pf::Value result);
  // Unless timed out or cancelled: {"result": 200} to the listener; the call ends.
  void cancel();

  // Stops the running timer; a value above 0 (finite, at most a day) starts a new one-shot timer on
  // the main run loop. 0 leaves the call without time-out.
  void setTimeoutValue(double seconds);
  double timeoutValue() const { return timeoutValue_; }

  int type() const { return type_; }
  const std::string& taskID() const { return taskID_; }
  bool isTimedOut() const { return timedOut_; }
  bool isCancelled() const { return cancelled_; }

  static constexpr double kMaxTimeout = 86400.0;

 private:
  MwTask(int type, std::string taskID, std::weak_ptr<MwJSTaskListener> listener,
         std::weak_ptr<MwJSTaskDelegate> delegate);
  void timeOut();
  void stopTimer();
  void unregister(bool force);

  const int type_;
  const std::string taskID_;
  std::weak_ptr<MwJSTaskListener> listener_;
  std::weak_ptr<MwJSTaskDelegate> delegate_;
  std::shared_ptr<pf::Timer> timer_;
  double timeoutValue_ = 0;
  bool timedOut_ = false;
  bool cancelled_ = false;
};

}  // namespace container
