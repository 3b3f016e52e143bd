// HTTP dates from outside ("Expires" headers): any text parses or is refused, and whatever
// parses is written back and reads as the same instant.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "container/Rfc1123Date.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto date = container::RFC1123::dateFromRFC1123(text);
  if (!date) return 0;
  auto written = container::RFC1123::rfc1123String(*date);
  if (written && container::RFC1123::dateFromRFC1123(*written) != date) std::abort();
  return 0;
}
