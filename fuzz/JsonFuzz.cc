// The JSON reader on arbitrary bytes: it answers a value or an error, never crashes; whatever it
// reads, the writer writes and the reader reads back equal.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  pf::JsonReadOptions options;
  options.allowFragments = size > 0 && (data[0] & 1);
  pf::Error error;
  auto value = pf::parseJson(text, options, &error);
  if (!value) return 0;
  pf::JsonWriteOptions writeOptions;
  writeOptions.allowFragments = true;
  // The second byte picks the writer's options.
  const std::uint8_t flags = size > 1 ? data[1] : 0;
  writeOptions.pretty = flags & 1;
  writeOptions.sortedKeys = flags & 2;
  writeOptions.escapeSlashes = flags & 4;
  writeOptions.escapeLineSeparators = flags & 8;
  auto written = pf::writeJson(*value, writeOptions);
  if (!written) std::abort();
  pf::JsonReadOptions again;
  again.allowFragments = true;
  auto reread = pf::parseJson(*written, again);
  if (!reread) std::abort();
  // Sorting the keys changes their order, nothing else. A second writing may differ only where the
  // values still compare equal: negative zero is written "-0", which reads back as the integer 0.
  if (!writeOptions.sortedKeys && pf::writeJson(*reread, writeOptions) != written && !(*reread == *value))
    std::abort();
  (void)pf::description(*value);
  return 0;
}
