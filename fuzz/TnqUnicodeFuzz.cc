// Escapes, quotes and addresses on arbitrary text: unescaping never grows the text and leaves a
// text without backslashes alone; unwrapping answers an inner part; every address found is a part
// of the text that starts with the scheme and holds no blank, tab or line break.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/TnqStringExtension.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace app::TnqExtension;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string replaced = tnqReplaceUnicode(text);
  if (replaced.size() > text.size()) std::abort();
  if (text.find('\\') == std::string_view::npos && replaced != text) std::abort();

  std::string unwrapped = tnqUnWrap(text);
  if (text.find(unwrapped) == std::string_view::npos) std::abort();

  for (const auto& url : tnqAllURLs(text)) {
    if (text.find(url) == std::string_view::npos || url.find_first_of(" \t\r\n") != std::string::npos) std::abort();
    std::string head = url.substr(0, 8);
    for (auto& c : head) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (head.rfind("http://", 0) != 0 && head.rfind("https://", 0) != 0) std::abort();
  }
  return 0;
}
