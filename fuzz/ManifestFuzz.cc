// The start-up acts' answers from outside bytes: the manifest, menu check, file list and handshake
// readers answer a result or nothing for any JSON, never crash.
#include <cstdint>
#include <string_view>

#include "container/MwStartupAnswers.h"
#include "platform/foundation/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto value = pf::parseJson(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!value) return 0;
  using namespace container::MwStartupAnswers;
  (void)isAccepted(*value);
  (void)bindKey(*value);
  if (auto found = manifest(*value)) (void)pf::writeJson(*found);
  (void)needsMenuUpdate(*value);
  if (auto files = fileList(*value))
    for (const auto& file : *files) (void)(file.url.size() + (file.facts ? file.facts->dir.size() : 0));
  return 0;
}
