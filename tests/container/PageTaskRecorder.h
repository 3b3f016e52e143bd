#pragma once
// A stand-in for the page's web view as the owner of page tasks: records every answer and every end
// of a call.

#include <string>
#include <vector>

#include "container/MwJSTaskListener.h"

namespace container::testing {

struct PageTaskRecorder : MwJSTaskListener, MwJSTaskDelegate {
  struct Answer {
    std::string kind;  // "success", "error", "cancel", "timeout"
    pf::Value result;
    std::string taskID;
  };
  std::vector<Answer> answers;
  std::vector<std::string> unregistered;  // "<id>" or "<id>!" for a forced end

  void onSuccessWithResult(const pf::Value& r, int, const std::string& id) override { answers.push_back({"success", r, id}); }
  void onErrorWithResult(const pf::Value& r, int, const std::string& id) override { answers.push_back({"error", r, id}); }
  void onCancelWithResult(const pf::Value& r, int, const std::string& id) override { answers.push_back({"cancel", r, id}); }
  void onTimeOutWithResult(const pf::Value& r, int, const std::string& id) override { answers.push_back({"timeout", r, id}); }
  void unregisterNativeToJSRequest(const std::string& id) override { unregistered.push_back(id); }
  void endNativeToJSRequest(const std::string& id) override { unregistered.push_back(id + "!"); }

  std::vector<std::string> kinds() const {
    std::vector<std::string> out;
    for (const auto& a : answers) out.push_back(a.kind);
    return out;
  }
};

}  // namespace container::testing
