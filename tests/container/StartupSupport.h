#pragma once
// Start-up tests: a sandbox and application package of their own per test, the bank server's site
// controls, and a listener that records framework events.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "BankServer.h"
#include "container/MwBusinessManager.h"
#include "container/MwConfiguration.h"
#include "container/MwFramework.h"
#include "container/MwLicenseKey.h"
#include "container/MwMenusManager.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/UrlConnection.h"

namespace container::testing {

// JSON over HTTP to the bank server's control and stats pages.
inline pf::Value serverCall(const std::string& baseUrl, const std::string& path, const pf::Value* body = nullptr) {
  pf::UrlRequest request(pf::Url::parse(baseUrl + path), 30);
  if (body) {
    request.setHttpMethod("POST");
    request.setHttpBody(pf::toBytes(*pf::writeJson(*body)));
  }
  auto result = pf::UrlConnection::sendSynchronousRequest(request);
  auto parsed = pf::parseJson(std::string(result.data.begin(), result.data.end()));
  return parsed ? *parsed : pf::Value();
}

inline pf::Value control(const BankServer& server, const pf::Value& command) {
  return serverCall(server.baseUrl(), "/control", &command);
}

// Every file below a folder with its bytes (folders as "<path>/").
inline std::map<std::string, std::string> snapshot(const std::filesystem::path& root) {
  std::map<std::string, std::string> out;
  if (!std::filesystem::exists(root)) return out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    auto relative = std::filesystem::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      out[relative] = "->" + std::filesystem::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      out[relative + "/"] = "";
    } else {
      auto bytes = pf::FileManager::readFile(entry.path());
      out[relative] = bytes ? std::string(bytes->begin(), bytes->end()) : "?";
    }
  }
  return out;
}

// Records every framework event as "<operation>:<value>", on the main thread.
class RecordingListener : public MwFrameworkDelegate {
 public:
  explicit RecordingListener(std::vector<Operation> only = {}) : only_(std::move(only)) {}
  bool implements(Operation operation) const override {
    return only_.empty() || std::find(only_.begin(), only_.end(), operation) != only_.end();
  }
  void didDataPreparedWithResult(int r) override { add("data", r); }
  void didHandShakeWithResult(const pf::Value& r) override {
    add("handshake", r.value("result", -1));
    if (r.contains("reason")) events.back() += "/" + r["reason"].get<std::string>();
  }
  void didCheckMenuWithResult(int r) override { add("menu", r); }
  void didCheckManifestWithResult(int r) override { add("files", r); }
  void didUpdateManifestWithResult(int r) override { add("manifest", r); }
  void didNetworkWithState(int s) override { add("network", s); }
  std::vector<std::string> events;
  std::vector<bool> onMainThread;

 private:
  void add(const char* name, int value) {
    events.push_back(std::string(name) + ":" + std::to_string(value));
    onMainThread.push_back(pf::Thread::isMainThread());
  }
  std::vector<Operation> only_;
};

// A fresh home, application package and container state per test, against one bank server.
class StartupFixture : public testing::BankServerSuite {
 protected:

  void SetUp() override {
    ASSERT_TRUE(server->running());
    pf::Sandbox::setHome(home.path());
    pf::Bundle::setMainPath(bundle.path());
    pf::UserDefaults::resetStandard();
    MwLicenseKey::setKeyDirectoryForTesting(testKeys());
    resetAll(server->baseUrl());
    auto ports = serverCall(server->baseUrl(), "/ports");
    probePort = ports.value("probe", 0);
    closedPort = ports.value("closed", 0);
    writeConfiguration({"127.0.0.1:" + std::to_string(probePort)});
    // What an earlier test made the bank serve (packages, statuses, refusals, holds) goes.
    control(*server, {{"reset", true}, {"manifest", {{"version", "1.0"}}}});
  }

  void TearDown() override {
    resetAll("");
    pf::UserDefaults::resetStandard();
    pf::Bundle::setMainPath({});
    pf::Sandbox::setHome({});
  }

  static void resetAll(const std::string& baseUrl) {
    MwFramework::resetForTesting();
    MwMenusManager::resetForTesting();
    MwBusinessManager::resetForTesting();
    MwConfiguration::resetForTesting();
    resetContainer(baseUrl, 3, 0);
  }

  void writeConfiguration(const std::vector<std::string>& probeHosts) {
    pf::Value hosts = pf::Value::array();
    for (const auto& host : probeHosts) hosts.push_back(host);
    const pf::Value plist{{"list", {server->baseUrl()}}, {"probe-hosts", hosts}, {"parameters", {{"version", "2.1"}}}};
    ASSERT_TRUE(pf::FileManager::writeFile(bundle / "System.plist",
                                           *pf::writePropertyList(plist, pf::PropertyListFormat::Xml), true));
    MwConfiguration::resetForTesting();
  }

  // Runs the main loop until the listener has heard `count` events.
  static bool waitForEvents(const RecordingListener& listener, std::size_t count, double limit = 30) {
    return pf::RunLoop::main()->spinUntil([&] { return listener.events.size() >= count; }, limit);
  }

  static std::filesystem::path release() { return MwMenusManager::releasePath(); }

  fxtest::TempDir home;
  fxtest::TempDir bundle;
  int probePort = 0;
  int closedPort = 0;
  pf::LogCapture log;
};

}  // namespace container::testing
