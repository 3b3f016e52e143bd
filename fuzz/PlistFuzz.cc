// The property-list readers (binary, XML, old-style text, strings tables) on arbitrary bytes:
// a value or an error, never a crash; whatever they read the writers write and read back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/PropertyList.h"

namespace {

bool hasNull(const pf::Value& v) {
  if (v.is_null()) return true;
  if (v.is_array() || v.is_object())
    for (const auto& item : v)
      if (hasNull(item)) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)pf::parseStringsTable(bytes);
  pf::Error error;
  auto value = pf::parsePropertyList(bytes, nullptr, &error);
  if (!value || hasNull(*value)) return 0;
  for (auto format : {pf::PropertyListFormat::Binary, pf::PropertyListFormat::Xml}) {
    auto written = pf::writePropertyList(*value, format);
    if (!written) continue;  // e.g. a date outside the binary format's range
    if (!pf::parsePropertyList(*written)) std::abort();
  }
  return 0;
}
