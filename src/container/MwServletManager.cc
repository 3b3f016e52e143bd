#include "container/MwServletManager.h"

#include "container/MwServerServlet.h"

namespace container {

MwServletManager& MwServletManager::getInstance() {
  static MwServletManager* manager = [] {
    registerContainerServletClasses();
    return new MwServletManager();
  }();
  return *manager;
}

bool MwServletManager::registerServletWithName(const std::string& name, const std::string& servletClass) {
  if (!MwServletClasses::shared().contains(servletClass)) return false;
  pf::MutexLock lock(mutex_);
  servlets_[name] = servletClass;
  return true;
}

void MwServletManager::unregisterServletNamed(const std::string& name) {
  pf::MutexLock lock(mutex_);
  servlets_.erase(name);
}

std::optional<std::string> MwServletManager::classNameForServlet(const std::string& name) const {
  pf::MutexLock lock(mutex_);
  auto it = servlets_.find(name);
  if (it == servlets_.end()) return std::nullopt;
  return it->second;
}

std::shared_ptr<MwServlet> MwServletManager::getServletWithName(const std::string& name, int scheme) const {
  std::optional<std::string> className;
  if (scheme == kSchemeClient) {
    className = classNameForServlet(name);
  } else if (scheme == kSchemeServer) {
    className = classNameForServlet(kServerServletName);
  }
  return className ? MwServletClasses::shared().make(*className) : nullptr;
}

void MwServletManager::resetForTesting() {
  auto& manager = getInstance();
  pf::MutexLock lock(manager.mutex_);
  manager.servlets_.clear();
}

void registerContainerServletClasses() {
  MwServletClasses::shared().add<MwServerServlet>("MwServerServlet");
}

}  // namespace container
