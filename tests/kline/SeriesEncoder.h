#pragma once
// Test-side writer of rate-series packets, built from the code table as published (symbol,
// value, length), independent of the decoder.

#include <zlib.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace klinetest {

inline std::string codeOf(char symbol) {
  static const std::map<char, std::pair<int, int>> table = {
      {'l', {85, 7}}, {'i', {84, 7}}, {'g', {69, 7}}, {'a', {68, 7}}, {'y', {49, 6}}, {'z', {48, 6}}, {'j', {43, 6}},
      {'e', {35, 6}}, {'o', {33, 6}}, {'q', {32, 6}}, {'x', {31, 6}}, {'8', {31, 5}}, {'p', {30, 6}}, {'5', {30, 5}},
      {'w', {29, 6}}, {'1', {29, 5}}, {'k', {28, 6}}, {'2', {28, 5}}, {'c', {27, 6}}, {'4', {27, 5}}, {'r', {26, 6}},
      {'3', {26, 5}}, {'v', {25, 6}}, {'#', {25, 5}}, {'u', {24, 6}}, {'n', {23, 6}}, {'$', {23, 5}}, {'t', {22, 6}},
      {'h', {22, 5}}, {'f', {21, 6}}, {'b', {20, 6}}, {'s', {20, 5}}, {'m', {19, 5}}, {'d', {18, 5}}, {'-', {4, 4}},
      {'0', {3, 4}},  {'6', {2, 4}},  {'7', {1, 4}},  {'9', {0, 4}}};
  auto [value, length] = table.at(symbol);
  std::string bits;
  for (int i = length - 1; i >= 0; --i) bits.push_back(((value >> i) & 1) ? '1' : '0');
  return bits;
}

inline void put32(pf::Bytes& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

inline void appendRecord(pf::Bytes& out, const std::string& text) {
  std::string bits;
  for (char c : text) bits += codeOf(c);
  put32(out, 0xA5A5A5A5u);
  put32(out, static_cast<std::uint32_t>(bits.size()));
  for (std::size_t i = 0; i < bits.size(); i += 8) {
    std::uint8_t byte = 0;
    for (std::size_t j = 0; j < 8; ++j) byte = static_cast<std::uint8_t>((byte << 1) | (i + j < bits.size() && bits[i + j] == '1'));
    out.push_back(byte);
  }
}

// The inflated packet of the record texts.
inline pf::Bytes packetOf(const std::vector<std::string>& texts) {
  pf::Bytes out;
  put32(out, static_cast<std::uint32_t>(texts.size()));
  for (const auto& t : texts) appendRecord(out, t);
  return out;
}

// gzip (windowBits 31) or zlib (15) stream of the bytes.
inline pf::Bytes deflateBytes(const pf::Bytes& in, int windowBits = 31) {
  z_stream zs{};
  deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  pf::Bytes out(deflateBound(&zs, in.size()) + 32);
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

inline pf::Bytes fromHex(const std::string& hex) {
  pf::Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

}  // namespace klinetest
