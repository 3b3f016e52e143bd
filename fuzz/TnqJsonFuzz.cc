// The app's JSON helpers on arbitrary bytes: JSONOBJ answers a container or nothing, and the
// pretty text changeToString writes of it reads back equal, with no raw line separator in it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/TnqDataExtension.h"
#include "app/TnqStringExtension.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto value = app::TnqJSON::JSONOBJ(text);
  if (!value) return 0;
  if (!value->is_object() && !value->is_array()) std::abort();
  if (value->is_object()) {
    auto written = app::TnqExtension::changeToString(*value);
    if (!written) std::abort();
    if (written->find("\u2028") != std::string::npos || written->find("\u2029") != std::string::npos) std::abort();
    auto reread = app::TnqJSON::JSONOBJ(pf::Bytes(written->begin(), written->end()));
    if (!reread || *reread != *value) std::abort();
  }
  return 0;
}
