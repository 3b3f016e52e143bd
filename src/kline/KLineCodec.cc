#include "kline/KLineCodec.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace kline {

std::optional<pf::Bytes> unCompressGzip(const pf::Bytes& data) {
  if (data.empty()) return data;
  z_stream zs{};
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(std::min<std::size_t>(data.size(), UINT32_MAX));
  if (inflateInit2(&zs, 15 + 32) != Z_OK) return std::nullopt;
  std::size_t room = std::min(kMaxInflatedBytes, std::max<std::size_t>(data.size() + data.size() / 2, 64));
  pf::Bytes out(room);
  int status = Z_OK;
  while (status == Z_OK) {
    if (zs.total_out >= out.size()) {
      if (out.size() >= kMaxInflatedBytes) break;  // would grow past the cap
      out.resize(std::min(kMaxInflatedBytes, out.size() * 2));
    }
    zs.next_out = out.data() + zs.total_out;
    zs.avail_out = static_cast<uInt>(out.size() - zs.total_out);
    status = inflate(&zs, Z_SYNC_FLUSH);
  }
  std::size_t produced = zs.total_out;
  if (inflateEnd(&zs) != Z_OK || status != Z_STREAM_END) return std::nullopt;
  out.resize(produced);
  return out;
}

std::int64_t toDecimalSystemWithBinarySystem(std::string_view bits) {
  std::uint64_t sum = 0;
  for (char c : bits) {
    std::uint64_t digit = (c >= '0' && c <= '9') ? static_cast<std::uint64_t>(c - '0') : 0;
    sum = sum * 2 + digit;
  }
  return static_cast<std::int64_t>(sum);
}

const std::vector<HuffmanCode>& huffmanTable() {
  static const std::vector<HuffmanCode> table = {
      {'l', 85, 7}, {'i', 84, 7}, {'g', 69, 7}, {'a', 68, 7}, {'y', 49, 6}, {'z', 48, 6}, {'j', 43, 6},
      {'e', 35, 6}, {'o', 33, 6}, {'q', 32, 6}, {'x', 31, 6}, {'8', 31, 5}, {'p', 30, 6}, {'5', 30, 5},
      {'w', 29, 6}, {'1', 29, 5}, {'k', 28, 6}, {'2', 28, 5}, {'c', 27, 6}, {'4', 27, 5}, {'r', 26, 6},
      {'3', 26, 5}, {'v', 25, 6}, {'#', 25, 5}, {'u', 24, 6}, {'n', 23, 6}, {'$', 23, 5}, {'t', 22, 6},
      {'h', 22, 5}, {'f', 21, 6}, {'b', 20, 6}, {'s', 20, 5}, {'m', 19, 5}, {'d', 18, 5}, {'-', 4, 4},
      {'0', 3, 4},  {'6', 2, 4},  {'7', 1, 4},  {'9', 0, 4},
  };
  return table;
}

namespace {

// symbolOf[length][value]: the first table entry with that value and length (0: none).
struct Tables {
  std::array<std::array<char, 128>, 8> symbolOf{};
  // For every 7-bit window: the symbol and length the longest-first search finds.
  std::array<char, 128> windowSymbol{};
  std::array<std::uint8_t, 128> windowLength{};

  Tables() {
    for (const auto& e : huffmanTable())
      if (!symbolOf[e.length][e.value]) symbolOf[e.length][e.value] = e.symbol;
    for (unsigned w = 0; w < 128; ++w) {
      for (int k = 7; k >= 1; --k) {
        unsigned v = w >> (7 - k);
        if (v < 86 && symbolOf[k][v]) {
          windowSymbol[w] = symbolOf[k][v];
          windowLength[w] = static_cast<std::uint8_t>(k);
          break;
        }
      }
    }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

// Longest-first search on the first k <= 7 bits given as a number.
int matchShort(unsigned bits, int k, char& symbol) {
  const Tables& t = tables();
  for (int len = k; len >= 1; --len) {
    unsigned v = bits >> (k - len);
    if (v < 86 && t.symbolOf[len][v]) {
      symbol = t.symbolOf[len][v];
      return len;
    }
  }
  return 0;
}

// Decodes the first `count` bits of data (which holds ceil(count / 8) bytes) to `out`, which has
// room for count / 4 symbols (no code is shorter than 4 bits); stops where nothing matches.
// Answers the end of the symbols written.
char* decodeBits(const std::uint8_t* data, std::uint64_t count, char* out) {
  const Tables& t = tables();
  const std::uint64_t bytes = (count + 7) / 8;
  // The 7 bits from position pos (bits past the data read as 0).
  auto window = [&](std::uint64_t pos) {
    std::uint64_t b = pos >> 3;
    unsigned pair = static_cast<unsigned>(data[b]) << 8;
    if (b + 1 < bytes) pair |= data[b + 1];
    return (pair >> (9 - (pos & 7))) & 0x7fu;
  };
  std::uint64_t pos = 0;
  while (count - pos >= 7) {
    unsigned w = window(pos);
    *out++ = t.windowSymbol[w];
    pos += t.windowLength[w];  // the code is complete: every window matches
  }
  while (pos < count) {
    int k = static_cast<int>(count - pos);
    unsigned w = window(pos) >> (7 - k);
    char symbol = 0;
    int used = matchShort(w, k, symbol);
    if (!used) break;
    *out++ = symbol;
    pos += static_cast<std::uint64_t>(used);
  }
  return out;
}

constexpr std::size_t kKeptScratch = 64 << 10;

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

std::size_t Huffman::forEachRecord(const pf::Bytes& data,
                                   const std::function<void(std::string_view, std::size_t)>& record) {
  if (data.size() < 4) return 0;  // no whole count
  std::uint32_t n = be32(data.data());
  std::size_t at = 4;
  std::size_t decoded = 0;
  for (std::uint32_t r = 0; r < std::min(n, kMaxRecords); ++r) {
    if (data.size() - at < 8) break;
    std::uint64_t bits = be32(data.data() + at + 4);
    std::uint64_t bytes = (bits + 7) / 8;
    if (data.size() - at - 8 < bytes) break;
    if (scratch_.size() < bits / 4) scratch_.resize(static_cast<std::size_t>(bits / 4));
    char* end = decodeBits(data.data() + at + 8, bits, scratch_.data());
    if (end == scratch_.data()) break;
    record(std::string_view(scratch_.data(), static_cast<std::size_t>(end - scratch_.data())), decoded++);
    at += 8 + static_cast<std::size_t>(bytes);
  }
  if (scratch_.size() > kKeptScratch) std::string().swap(scratch_);  // a hostile record's room is not kept
  return decoded;
}

const std::vector<std::string>& Huffman::uncompress(const pf::Bytes& data) {
  dataArray_.clear();
  forEachRecord(data, [this](std::string_view text, std::size_t) { dataArray_.emplace_back(text); });
  return dataArray_;
}

int Huffman::getOneCode(std::string_view bits, std::string& out) const {
  int k = static_cast<int>(std::min<std::size_t>(7, bits.size()));
  if (k == 0) return 0;
  unsigned w = 0;
  for (int i = 0; i < k; ++i) w = (w << 1) | (bits[static_cast<std::size_t>(i)] == '1' ? 1u : 0u);
  char symbol = 0;
  int used = matchShort(w, k, symbol);
  if (used) out.push_back(symbol);
  return used;
}

std::string Huffman::getOneCode(std::string_view bits) const {
  std::string out;
  getOneCode(bits, out);
  return out;
}

std::string Huffman::getCode(std::string_view bits) const {
  std::string out;
  while (true) {
    int used = getOneCode(bits, out);
    if (!used) break;
    bits.remove_prefix(std::min<std::size_t>(bits.size(), static_cast<std::size_t>(used)));
  }
  return out;
}

}  // namespace kline
