#pragma once
// The server base URL every business request is built on.

#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/ThreadAnnotations.h"

namespace container {

class MwServerConfiguration {
 public:
  static MwServerConfiguration& getInstance();

  // The stored base URL as text (it may end in "/").
  std::string getServerBaseUrl() const;
  // Stores the base URL for the rest of the run, with one trailing "/" cut off.
  void setServerBaseUrl(const std::string& url);

  // Tests: forget everything and store the given text as it stands.
  static void resetForTesting(const std::string& storedBaseUrl = "");

 private:
  MwServerConfiguration() = default;
  mutable pf::Mutex mutex_;
  std::string baseUrl_ PF_GUARDED_BY(mutex_);
};

}  // namespace container
