#pragma once
// The record of one server request posted as the object of "NetworkRequestAnalysis" (an outward
// monitoring hook; nothing in the program observes it). Each field is set only where the request
// kinds say so.

#include <memory>
#include <optional>
#include <string>

namespace container {

class MwComPackage;

inline constexpr const char* kNetworkRequestAnalysisNotification = "NetworkRequestAnalysis";

struct MwAnalysisRecord {
  std::optional<std::string> url;
  std::optional<double> requesttime;   // seconds since 1970, just before sending
  std::optional<double> responsetime;  // when the answer, failure or refusal was known
  std::optional<std::string> httpcode;
  std::optional<std::string> hasdata;
  std::shared_ptr<MwComPackage> httpdata;
  std::optional<std::string> errormessage;

  // Posts the record on the default notification centre, on the calling thread.
  void post() const;
};

}  // namespace container
