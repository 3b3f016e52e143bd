// Inflated rate-series packets from outside bytes: decoding to rows with averages must stop at
// the end of the data, whatever the counts and bit lengths claim.
#include <cstdint>

#include "kline/KLineDataManager.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto manager = kline::KLineDataManager::make();
  manager->setAvailable(size % 12);
  kline::TradeRows rows = manager->rowsOfPacket(pf::Bytes(data, data + size));
  if (rows.size() > kline::Huffman::kMaxRecords) __builtin_trap();
  return 0;
}
