#pragma once
// The loopback bank server (tools/bank_server.py) and a fixture that puts the container's shared
// state back to a known start for every test.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "container/MwActivity.h"
#include "container/MwAnalysisRecord.h"
#include "container/MwFramework.h"
#include "container/MwKeyStore.h"
#include "container/MwServerConfiguration.h"
#include "container/MwSessionManager.h"
#include "container/MwTaskListener.h"
#include "platform/foundation/Base64.h"
#include "platform/security/Cipher.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/CookieStorage.h"
#include "support/TestSupport.h"

namespace container::testing {

inline std::filesystem::path testKeys() { return fxtest::dataPath("container/keys"); }

class BankServer {
 public:
  BankServer()
      : child_({fxtest::kPython, (fxtest::sourceDir() / "tools/bank_server.py").string(), "--keys",
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

// A test suite whose tests share one bank server, started for the suite and stopped after it.
class BankServerSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server = new BankServer(); }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  inline static BankServer* server = nullptr;
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

// Records what a task's listener hears, and the last package.
struct TaskListener : MwTaskListener {
  std::vector<std::string> events;
  std::shared_ptr<MwComPackage> package;
  void onSuccessWithResult(const std::shared_ptr<MwComPackage>& p, MwBaseTask&) override {
    events.push_back("success");
    package = p;
  }
  void onErrorWithMessage(const std::shared_ptr<MwComPackage>& p, MwBaseTask&) override {
    events.push_back("error");
    package = p;
  }
  void onCancelByTask(MwBaseTask&) override { events.push_back("cancel"); }
  void onTimeOutByTask(MwBaseTask&) override { events.push_back("timeout"); }
};

// An answer packet as the server makes it under the current session's keys (crypt flag 1), with any
// bytes as its business payload.
inline std::string encryptedAnswer(const pf::Bytes& payload) {
  pf::Bytes iv(8, 0x5a);
  auto cipher = pf::encrypt({pf::CipherAlgorithm::TripleDes, pf::CipherMode::Cbc, pf::CipherPadding::Pkcs7},
                            MwSessionManager::getInstance().getDecryptKey().value(), iv, payload);
  iv.insert(iv.end(), cipher.value().begin(), cipher.value().end());
  const pf::Value inner{{"cryptFlag", 1}, {"hashFlag", 0}, {"signFlag", 0}, {"business", pf::base64Encode(iv)}};
  return pf::Value{{"flag", 0}, {"errCode", 0}, {"errMsg", ""}, {"data", inner}}.dump();
}

// Records the session notifications and the analysis records posted while it lives. The probe, when
// given, is read at every analysis post (to tell what a listener had heard by then).
class NotificationRecorder {
 public:
  explicit NotificationRecorder(std::function<std::size_t()> probe = {}) : probe_(std::move(probe)) {
    auto& center = pf::NotificationCenter::defaultCenter();
    for (const char* name : {kSessionDidLogInNotification, kSessionDidLogOutNotification, kSessionTimeoutNotification}) {
      tokens_.push_back(center.addObserver(name, {}, [this](const pf::Notification& n) {
        std::lock_guard lock(mutex_);
        names_.push_back(n.name);
      }));
    }
    tokens_.push_back(center.addObserver(kNetworkRequestAnalysisNotification, {}, [this](const pf::Notification& n) {
      std::lock_guard lock(mutex_);
      if (auto record = n.object.as<const MwAnalysisRecord>()) records_.push_back(*record);
      if (probe_) probed_.push_back(probe_());
    }));
  }
  ~NotificationRecorder() {
    for (auto token : tokens_) pf::NotificationCenter::defaultCenter().removeObserver(token);
  }
  std::vector<std::string> names() const {
    std::lock_guard lock(mutex_);
    return names_;
  }
  bool contains(const std::string& name) const {
    auto all = names();
    return std::find(all.begin(), all.end(), name) != all.end();
  }
  std::vector<MwAnalysisRecord> analysisRecords() const {
    std::lock_guard lock(mutex_);
    return records_;
  }
  std::vector<std::size_t> listenerEventsAtPost() const {
    std::lock_guard lock(mutex_);
    return probed_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    names_.clear();
    records_.clear();
    probed_.clear();
  }

 private:
  std::function<std::size_t()> probe_;
  std::vector<pf::ObserverToken> tokens_;
  mutable std::mutex mutex_;
  std::vector<std::string> names_;
  std::vector<MwAnalysisRecord> records_;
  std::vector<std::size_t> probed_;
};

}  // namespace container::testing
