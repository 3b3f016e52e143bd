#pragma once
// The owners of page tasks: the listener hears the answers of a page call, the delegate ends the
// call. Both are the page's web view; called on the main thread.

#include <string>

#include "platform/foundation/Value.h"

namespace container {

class MwJSTaskListener {
 public:
  virtual ~MwJSTaskListener() = default;
  // A success answer ("result" 0).
  virtual void onSuccessWithResult(const pf::Value& result, int type, const std::string& taskID) {}
  // An error answer ("result" 100 unless the servlet gave a failure code of its own).
  virtual void onErrorWithResult(const pf::Value& result, int type, const std::string& taskID) {}
  // The call was cancelled ("result" 200).
  virtual void onCancelWithResult(const pf::Value& result, int type, const std::string& taskID) {}
  // The waiting time ran out ("result" 300).
  virtual void onTimeOutWithResult(const pf::Value& result, int type, const std::string& taskID) {}
};

class MwJSTaskDelegate {
 public:
  virtual ~MwJSTaskDelegate() = default;
  // An answer went out: the call ends unless its servlet keeps it open (continue flag).
  virtual void unregisterNativeToJSRequest(const std::string& taskID) {}
  // The call ends whatever its servlet wants (time-out, cancel).
  virtual void endNativeToJSRequest(const std::string& taskID) { unregisterNativeToJSRequest(taskID); }
};

}  // namespace container
