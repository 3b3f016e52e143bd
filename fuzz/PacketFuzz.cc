// Server packets from outside bytes: MwComPackage::parseJSONString must answer a packet or nothing,
// never crash, for any text (session keys set, so 3DES payloads are tried too).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "container/MwComPackage.h"
#include "container/MwHttpResponse.h"
#include "container/MwKeyStore.h"
#include "container/MwSessionManager.h"

namespace {

struct Session : container::MwHttpResponse {
  pf::HttpHeaders headers{{"Service-Number", "fuzz-random"}};
  const pf::HttpHeaders& getHeaders() const override { return headers; }
};

bool setUp() {
  if (const char* source = std::getenv("FX_SOURCE_DIR")) {
    container::MwKeyStore::setKeyDirectoryForTesting(std::string(source) + "/tests/data/container/keys");
  }
  Session session;
  container::MwSessionManager::getInstance().updateSession(nullptr, &session);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = setUp();
  (void)ready;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto packet = container::MwComPackage::parseJSONString(text)) {
    (void)packet->businessObject();
    (void)packet->toJSONString();
  }
  return 0;
}
