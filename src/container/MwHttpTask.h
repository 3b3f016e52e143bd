#pragma once
// The business task: passes the request gate, sends its request without blocking, turns the answer
// into a packet (or a failure packet), posts the analysis record and completes through its listener.

#include <cstdint>
#include <memory>

#include "container/MwBaseTask.h"

namespace container {

class MwComPackage;

class MwHttpTask : public MwBaseTask {
 public:
  // A new task (status 0, tag 0, neither abolishable nor preventable) for the listener and request;
  // null when there is no request.
  static std::shared_ptr<MwHttpTask> make(std::weak_ptr<MwTaskListener> listener,
                                                          std::shared_ptr<MwHttpRequest> request);
  // A task that sends nothing: started, it completes at once with the given failure package
  // (a business whose data could not be made into a request).
  static std::shared_ptr<MwHttpTask> failingTask(std::weak_ptr<MwTaskListener> listener,
                                                 std::shared_ptr<MwComPackage> failure);

  // Starts a new or cancelled task (a running, completed or timed-out one stays as it is).
  void doTask() override;
  // A running task cancels its request's operation, then the base cancel.
  void cancel() override;
  void success() override;
  void error() override;
  // A package whose business payload reads as JSON came back with status 200.
  bool taskCompleteResult() const override;

  std::shared_ptr<MwComPackage> getComPackage() const { return comPackage_; }
  std::int64_t getHttpStatusCode() const { return httpStatusCode_; }

 private:
  MwHttpTask() = default;
  void onAnswer(const std::shared_ptr<class MwHttpResponse>& response, struct MwAnalysisRecord& record);

  std::shared_ptr<MwComPackage> comPackage_;
  std::shared_ptr<MwComPackage> presetFailure_;
  std::int64_t httpStatusCode_ = -1;
  bool payloadReadable_ = false;
};

}  // namespace container
