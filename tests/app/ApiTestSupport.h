#pragma once
// What the REST API layer tests share: the services pointed at the loopback peer through the
// bundle's "System.plist", fresh shared objects per test, and callbacks that record answers.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/TnqApiProxy.h"
#include "app/TnqApiServices.h"
#include "peers/api_peer.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

namespace fxtest {

using Scheme = ApiPeer::Scheme;

inline ApiPeer& apiPeer() { return ApiPeer::shared(); }

class ApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useServer(Scheme::Http);
    apiPeer().reset();
  }
  void TearDown() override {
    apiPeer().release();
    app::TnqApiProxy::resetSharedInstance();
    app::TnqServiceFactory::resetSharedInstance();
    pf::Bundle::setMainPath({});
  }

  // Both services on the peer's server of that scheme.
  void useServer(Scheme scheme) { useBaseUrl(apiPeer().base(scheme)); }
  // Both services at that base URL.
  void useBaseUrl(const std::string& baseUrl) {
    pf::Value config{{app::kTnqInfoServiceBaseUrlKey, baseUrl}, {app::kTnqTradePreServiceBaseUrlKey, baseUrl}};
    ASSERT_TRUE(pf::FileManager::writeFile(bundle_ / "System.plist",
                                           *pf::writePropertyList(config, pf::PropertyListFormat::Xml), true));
    pf::Bundle::setMainPath(bundle_.path());
    app::TnqServiceFactory::resetSharedInstance();
  }

  static std::shared_ptr<app::TnqApiProxy> proxy() { return app::TnqApiProxy::sharedInstance(); }

  TempDir bundle_;
};

// Answers heard by a call's callbacks, with the thread they arrived on.
struct Answers {
  std::vector<std::shared_ptr<app::TnqURLResponse>> successes;
  std::vector<std::shared_ptr<app::TnqURLResponse>> failures;
  bool offMain = false;

  app::TnqApiProxy::Callback success() {
    return [this](const std::shared_ptr<app::TnqURLResponse>& r) { offMain |= !pf::Thread::isMainThread(), successes.push_back(r); };
  }
  app::TnqApiProxy::Callback failure() {
    return [this](const std::shared_ptr<app::TnqURLResponse>& r) { offMain |= !pf::Thread::isMainThread(), failures.push_back(r); };
  }
  std::size_t count() const { return successes.size() + failures.size(); }
  bool waitFor(std::size_t n) {
    return pf::RunLoop::main()->spinUntil([&] { return count() >= n; }, 20);
  }
};

// Spins until the peer has recorded `n` requests; the records.
inline pf::Value waitForRequests(std::size_t n) {
  pf::Value records;
  pf::RunLoop::main()->spinUntil([&] { return (records = apiPeer().requests()).size() >= n; }, 20);
  return records;
}

}  // namespace fxtest
