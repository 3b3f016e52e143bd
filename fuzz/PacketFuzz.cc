// Server packets from outside bytes: MwComPackage::parseJSONString must answer a packet or nothing,
// never crash, for any text (session keys set, so 3DES payloads are tried too). The session's randoms
// are fixed and the keys are the test keys, so the seeds made by make_packet_seeds.py pass their hash
// and signature checks and decrypt: the fuzzer starts past the checks.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "container/MwComPackage.h"
#include "container/MwHttpResponse.h"
#include "container/MwKeyStore.h"
#include "container/MwSessionManager.h"

namespace {

constexpr const char* kServerRandom = "fuzz-random";

struct Session : container::MwHttpResponse {
  pf::HttpHeaders headers{{"Service-Number", kServerRandom}};
  const pf::HttpHeaders& getHeaders() const override { return headers; }
};

bool setUp() {
  if (const char* source = std::getenv("FX_SOURCE_DIR")) {
    container::MwKeyStore::setKeyDirectoryForTesting(std::string(source) + "/tests/data/container/keys");
  }
  pf::Bytes clientRandom(24);
  for (std::size_t i = 0; i < clientRandom.size(); ++i) clientRandom[i] = static_cast<std::uint8_t>(i);
  container::MwSessionManager::setClientRandomForTesting(std::move(clientRandom));
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
