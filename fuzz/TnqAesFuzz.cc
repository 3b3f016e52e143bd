// The AES helpers on arbitrary input: decrypting never crashes, and what either form encrypts it
// decrypts back to the same text or bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/TnqDataExtension.h"
#include "app/TnqStringExtension.h"
#include "platform/foundation/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace app::TnqExtension;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first byte picks the key's length: 16 characters is the only accepted one.
  std::string key = size > 0 ? std::string(static_cast<std::size_t>(data[0] % 20), 'k') : std::string();
  std::string_view text = size > 0 ? input.substr(1) : input;

  auto opened = decryptAES128(text, key);
  if (opened && key.size() != 16) std::abort();
  if (auto sealed = encryptToAES128(text, key)) {
    auto back = decryptAES128(*sealed, key);
    if (pf::isValidUtf8(text) ? back != text : back.has_value()) std::abort();
  } else if (key.size() == 16) {
    std::abort();
  }

  pf::Bytes bytes(text.begin(), text.end());
  (void)app::TnqAESCrypt::AES256DecryptWithKey(bytes, key);
  auto sealed = app::TnqAESCrypt::AES256EncryptWithKey(bytes, key);
  if (!sealed || app::TnqAESCrypt::AES256DecryptWithKey(*sealed, key) != bytes) std::abort();
  return 0;
}
