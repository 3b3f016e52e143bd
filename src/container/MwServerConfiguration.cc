#include "container/MwServerConfiguration.h"

namespace container {

MwServerConfiguration& MwServerConfiguration::getInstance() {
  static MwServerConfiguration instance;
  return instance;
}

std::string MwServerConfiguration::getServerBaseUrl() const {
  pf::MutexLock lock(mutex_);
  return baseUrl_;
}

void MwServerConfiguration::setServerBaseUrl(const std::string& url) {
  std::string value = url;
  if (!value.empty() && value.back() == '/') value.pop_back();
  pf::MutexLock lock(mutex_);
  baseUrl_ = std::move(value);
}

void MwServerConfiguration::resetForTesting(const std::string& storedBaseUrl) {
  auto& self = getInstance();
  pf::MutexLock lock(self.mutex_);
  self.baseUrl_ = storedBaseUrl;
}

}  // namespace container
