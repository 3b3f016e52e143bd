// URL decoding and query components on arbitrary text: a decoded text encodes and decodes back to
// itself, and every component found is a "key=value" part of the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/TnqStringExtension.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace app::TnqExtension;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto decoded = tnqURLDecoding(text)) {
    if (tnqURLDecoding(tnqURLEncoding(*decoded)) != *decoded) std::abort();
  }
  std::string wrapped = "&";
  wrapped.append(text).append("&");
  pf::Value parts = tnqDictionaryFromQueryComponents(text);
  for (const auto& [key, values] : parts.items()) {
    if (key.find('&') != std::string::npos || values.empty()) std::abort();
    for (const auto& value : values)
      if (wrapped.find("&" + key + "=" + value.get<std::string>() + "&") == std::string::npos) std::abort();
  }
  (void)tnqURLByAppendingDictionary(text, parts.is_object() && !parts.empty() ? pf::Value{{"k", std::string(text)}}
                                                                              : pf::Value::object());
  return 0;
}
