#pragma once
// The rate-series packet: a gzip (or zlib) stream holding bit-packed records under a fixed
// prefix code of 39 symbols.
//
//   packet  := N:u32  record{N}
//   record  := skipped:u32  L:u32  bits[ceil(L / 8)]      (big-endian, bits MSB first)
//
// Each record decodes to a '#'-separated text (see KLineDataManager for its fields).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace kline {

// Most bytes a packet may inflate to; a larger one is refused.
inline constexpr std::size_t kMaxInflatedBytes = 16u << 20;

// Inflates a gzip or zlib stream (the header decides). An empty buffer comes back as it is;
// a stream that fails, ends early or would exceed kMaxInflatedBytes gives nil.
std::optional<pf::Bytes> unCompressGzip(const pf::Bytes& data);

// A text of '0'/'1' characters as a number (a character other than a digit counts 0, other
// digits count their value); the empty text is 0. Sums past 64 bits wrap.
std::int64_t toDecimalSystemWithBinarySystem(std::string_view bits);

// One entry of the code table.
struct HuffmanCode {
  char symbol;
  std::uint8_t value;
  std::uint8_t length;
};
// The 39 codes in lookup order.
const std::vector<HuffmanCode>& huffmanTable();

class Huffman {
 public:
  // Most records decoded from one packet; the rest are ignored.
  static constexpr std::uint32_t kMaxRecords = 131072;

  // The record texts of an inflated packet. Decoding stops at the first record that decodes to
  // nothing, and at the end of the data (a record that claims more bytes than are left ends it).
  // The texts are dataArray(), kept until the next call.
  const std::vector<std::string>& uncompress(const pf::Bytes& data);
  // The same records one by one, without keeping them: `record` gets each text (valid during
  // the call) and its index; answers how many there were. dataArray() is left as it was.
  std::size_t forEachRecord(const pf::Bytes& data, const std::function<void(std::string_view, std::size_t)>& record);

  // Every symbol of a bit text, until the rest matches no code.
  std::string getCode(std::string_view bits) const;
  // The first symbol of a bit text appended to `out`; the bits it took (0: none matched).
  int getOneCode(std::string_view bits, std::string& out) const;
  // The first symbol as a one-character text, or "".
  std::string getOneCode(std::string_view bits) const;

  const std::vector<std::string>& dataArray() const { return dataArray_; }

 private:
  std::vector<std::string> dataArray_;
  std::string scratch_;  // the record being decoded
};

}  // namespace kline
