#include "container/MwFramework.h"

#include "container/MwSessionManager.h"

namespace container {

MwFramework& MwFramework::getInstance() {
  static MwFramework instance;
  return instance;
}

int MwFramework::getSessionState() const { return MwSessionManager::getInstance().getSessionState(); }

void MwFramework::setSessionState(int state) { MwSessionManager::getInstance().setSessionState(state); }

std::optional<std::string> MwFramework::getBindKey() const { return MwSessionManager::getInstance().getBindKey(); }

void MwFramework::resetForTesting() { getInstance().setCurrentNetworkState(3); }

}  // namespace container
