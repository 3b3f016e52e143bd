#pragma once
// "HttpEngine.do": "startWebnet" answers {"key": "YES"}; other operations are not answered.
// sendMessage and httpTest are offered to native callers. Main thread only.

#include <string>

#include "app/PylPlugin.h"

namespace app {

class PylHttpEnginePlugin : public PylPlugin {
 public:
  // Where httpTest posts.
  static constexpr const char* kTestAddress = "http://127.0.0.1/pylvex/httpTest";

  bool handleRequest(const container::MwServletRequest& request) override;

  // Evaluates the dictionary's JSON text in the page.
  void sendMessage(const pf::Value& dictionary);
  // Queues a POST without parameters (time-out 15 s) to kTestAddress on the container's requests.
  void httpTest();
};

}  // namespace app
