#pragma once
// The loopback bank server (peers/bank_server.py) and a fixture that puts the container's shared
// state back to a known start for every test.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "container/MwActivity.h"
#include "container/MwFramework.h"
#include "container/MwKeyStore.h"
#include "container/MwServerConfiguration.h"
#include "container/MwSessionManager.h"
#include "platform/net/CookieStorage.h"
#include "support/TestSupport.h"

namespace container::testing {

inline std::filesystem::path testKeys() { return fxtest::dataPath("container/keys"); }

class BankServer {
 public:
  BankServer()
      : child_({fxtest::kPython, (fxtest::sourceDir() / "tests/container/peers/bank_server.py").string(), "--keys",
                testKeys().string()}) {
    auto line = child_.readLine(20000);
    if (line) port_ = std::stoi(*line);
  }
  bool running() const { return port_ > 0; }
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  fxtest::ChildProcess child_;
  int port_ = 0;
};

// Fresh container state: network 1, session state `session`, base URL of the server (or nothing),
// the test keys, an empty cookie jar and no overlay.
inline void resetContainer(const std::string& baseUrl, int networkState = 1, int sessionState = 4) {
  MwFramework::resetForTesting();
  MwFramework::getInstance().setCurrentNetworkState(networkState);
  MwSessionManager::resetForTesting();
  MwSessionManager::getInstance().setSessionState(sessionState);
  MwServerConfiguration::resetForTesting(baseUrl);
  MwKeyStore::setKeyDirectoryForTesting(testKeys());
  MwActivity::resetForTesting();
  pf::CookieStorage::shared().deleteAllCookies();
}

}  // namespace container::testing
