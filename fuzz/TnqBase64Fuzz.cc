// The app's two Base64 readers on arbitrary text: what the strict reader takes, the white-space
// skipping reader decodes alike, and whatever the skipping reader takes, the lenient one does too.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/TnqStringExtension.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto strict = pf::base64DecodeStrict(text);
  auto skipping = pf::base64DecodeSkippingWhitespace(text);
  if (strict && (!skipping || *skipping != *strict)) std::abort();
  if (skipping) {
    auto lenient = pf::base64DecodeLenient(text);
    if (!lenient || *lenient != *skipping) std::abort();
    if (pf::base64DecodeStrict(pf::base64Encode(*skipping)) != skipping) std::abort();
  }
  auto ours = app::TnqExtension::tnqBASE64Decrypted(text);
  auto ours2 = app::TnqExtension::tnqBASE64Decrypted2(text);
  if (ours2 && ours != ours2) std::abort();
  if (ours && !pf::isValidUtf8(*ours)) std::abort();
  return 0;
}
