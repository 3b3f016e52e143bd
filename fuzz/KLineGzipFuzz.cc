// Compressed rate series from outside bytes, through the whole decode: inflate (bounded), prefix
// code, rows and averages. An answer or nil, never a crash, a hang or unbounded memory.
#include <cstdint>

#include "kline/KLineDataManager.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto manager = kline::KLineDataManager::make();
  auto rows = manager->decode(pf::Bytes(data, data + size));
  if (rows && rows->size() > kline::Huffman::kMaxRecords) __builtin_trap();
  return 0;
}
