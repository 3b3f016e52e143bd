#pragma once
// The listener of server tasks. Every operation is optional (does nothing by default); all are
// called on the main thread.

#include <memory>

namespace container {

class MwBaseTask;
class MwComPackage;

class MwTaskListener {
 public:
  virtual ~MwTaskListener() = default;
  virtual void onSuccessWithResult(const std::shared_ptr<MwComPackage>& result, MwBaseTask& task) {}
  // The package may be null (an answer that held no packet).
  virtual void onErrorWithMessage(const std::shared_ptr<MwComPackage>& result, MwBaseTask& task) {}
  virtual void onCancelByTask(MwBaseTask& task) {}
  virtual void onTimeOutByTask(MwBaseTask& task) {}
};

}  // namespace container
