#include "platform/foundation/Base64.h"

#include <array>

namespace pf {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeReverse() {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = kInvalid;
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}
constexpr auto kReverse = makeReverse();

std::string encode(const std::uint8_t* data, std::size_t size) {
  std::string out((size + 2) / 3 * 4, '\0');
  char* o = out.data();
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3, o += 4) {
    std::uint32_t n = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    o[0] = kAlphabet[(n >> 18) & 63];
    o[1] = kAlphabet[(n >> 12) & 63];
    o[2] = kAlphabet[(n >> 6) & 63];
    o[3] = kAlphabet[n & 63];
  }
  if (std::size_t rest = size - i) {
    std::uint32_t n = data[i] << 16;
    if (rest == 2) n |= data[i + 1] << 8;
    o[0] = kAlphabet[(n >> 18) & 63];
    o[1] = kAlphabet[(n >> 12) & 63];
    o[2] = rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    o[3] = '=';
  }
  return out;
}

// Decodes alphabet characters only (the callers filter); a trailing group of one is an error.
class GroupDecoder {
 public:
  explicit GroupDecoder(std::size_t capacity) { out_.reserve(capacity / 4 * 3 + 3); }
  void add(std::uint8_t sextet) {
    acc_ = (acc_ << 6) | sextet;
    if (++count_ == 4) {
      out_.push_back(static_cast<std::uint8_t>(acc_ >> 16));
      out_.push_back(static_cast<std::uint8_t>(acc_ >> 8));
      out_.push_back(static_cast<std::uint8_t>(acc_));
      acc_ = 0, count_ = 0;
    }
  }
  int pending() const { return count_; }
  std::optional<Bytes> finish() {
    if (count_ == 1) return std::nullopt;
    if (count_ == 2) out_.push_back(static_cast<std::uint8_t>(acc_ >> 4));
    if (count_ == 3) {
      out_.push_back(static_cast<std::uint8_t>(acc_ >> 10));
      out_.push_back(static_cast<std::uint8_t>(acc_ >> 2));
    }
    return std::move(out_);
  }

 private:
  Bytes out_;
  std::uint32_t acc_ = 0;
  int count_ = 0;
};

}  // namespace

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string base64Encode(const Bytes& bytes) { return encode(bytes.data(), bytes.size()); }

std::string base64Encode(std::string_view bytes) {
  return encode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::optional<Bytes> base64DecodeStrict(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  GroupDecoder decoder(text.size());
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    std::uint8_t v = kReverse[static_cast<unsigned char>(text[i])];
    if (v == kInvalid) return std::nullopt;
    decoder.add(v);
  }
  if (static_cast<std::size_t>(decoder.pending()) != (4 - padding) % 4) return std::nullopt;
  return decoder.finish();
}

std::optional<Bytes> base64DecodeLenient(std::string_view text) {
  GroupDecoder decoder(text.size());
  for (char c : text) {
    std::uint8_t v = kReverse[static_cast<unsigned char>(c)];
    if (v != kInvalid) decoder.add(v);
  }
  return decoder.finish();
}

std::optional<Bytes> base64DecodeSkippingWhitespace(std::string_view text) {
  GroupDecoder decoder(text.size());
  for (char c : text) {
    std::uint8_t v = kReverse[static_cast<unsigned char>(c)];
    if (v != kInvalid) {
      decoder.add(v);
      continue;
    }
    bool skipped = c == '=' || c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    if (!skipped) return std::nullopt;
  }
  return decoder.finish();
}

std::string hexEncode(std::string_view bytes, bool upperCase) {
  const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    auto b = static_cast<unsigned char>(ch);
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 0xF]);
  }
  return out;
}

std::string hexEncode(const Bytes& bytes, bool upperCase) {
  return hexEncode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), upperCase);
}

std::optional<Bytes> hexDecode(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return out;
}

}  // namespace pf
