#include "appnet/WebSocketFrame.h"

#include <unicode/utf8.h>

#include <cstring>

#include "platform/foundation/Text.h"

namespace appnet::ws {

bool isValidCloseCode(int code) {
  return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) || (code >= 3000 && code <= 4999);
}

std::string truncateUtf8(std::string_view text, std::size_t limit) { return std::string(pf::utf8Prefix(text, limit)); }

void applyMask(std::uint8_t* data, std::size_t length, const std::uint8_t key[4], std::uint64_t& offset) {
  std::size_t i = 0;
  // Align the key to the running offset, then XOR eight bytes at a time.
  std::uint8_t rotated[8];
  for (int k = 0; k < 8; ++k) rotated[k] = key[(offset + k) % 4];
  std::uint64_t wide;
  std::memcpy(&wide, rotated, 8);
  for (; i + 8 <= length; i += 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, data + i, 8);
    chunk ^= wide;
    std::memcpy(data + i, &chunk, 8);
  }
  for (; i < length; ++i) data[i] ^= rotated[i % 8];
  offset += length;
}

void appendClientFrame(pf::Bytes& out, std::uint8_t opcode, std::span<const std::uint8_t> payload,
                       const std::uint8_t key[4]) {
  const std::uint64_t length = payload.size();
  const std::size_t start = out.size();
  out.reserve(start + payload.size() + 14);
  out.push_back(static_cast<std::uint8_t>(0x80 | (opcode & 0x0F)));
  if (length <= 125) {
    out.push_back(static_cast<std::uint8_t>(0x80 | length));
  } else if (length <= 0xFFFF) {
    out.push_back(0x80 | 126);
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
  } else {
    out.push_back(0x80 | 127);
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(length >> shift));
  }
  out.insert(out.end(), key, key + 4);
  const std::size_t payloadStart = out.size();
  out.insert(out.end(), payload.begin(), payload.end());
  std::uint64_t offset = 0;
  applyMask(out.data() + payloadStart, payload.size(), key, offset);
  (void)start;
}

pf::Bytes closePayload(int code, std::string_view reason) {
  const std::string cut = truncateUtf8(reason);
  pf::Bytes payload;
  payload.reserve(2 + cut.size());
  payload.push_back(static_cast<std::uint8_t>((code >> 8) & 0xFF));
  payload.push_back(static_cast<std::uint8_t>(code & 0xFF));
  payload.insert(payload.end(), cut.begin(), cut.end());
  return payload;
}

std::size_t extraHeaderLength(std::uint8_t byte1) {
  const std::uint8_t code = byte1 & 0x7F;
  std::size_t extra = code == 127 ? 8 : code == 126 ? 2 : 0;
  if (byte1 & 0x80) extra += 4;
  return extra;
}

FrameHeader parseHeaderStart(std::uint8_t byte0, std::uint8_t byte1) {
  FrameHeader header;
  header.fin = (byte0 & 0x80) != 0;
  header.rsv = (byte0 & 0x70) != 0;
  header.opcode = byte0 & 0x0F;
  header.masked = (byte1 & 0x80) != 0;
  header.payloadLength = byte1 & 0x7F;
  return header;
}

void parseHeaderRest(FrameHeader& header, std::uint8_t byte1, std::span<const std::uint8_t> extra) {
  const std::uint8_t code = byte1 & 0x7F;
  std::size_t at = 0;
  if (code == 126 && extra.size() >= 2) {
    header.payloadLength = (std::uint64_t{extra[0]} << 8) | extra[1];
    at = 2;
  } else if (code == 127 && extra.size() >= 8) {
    std::uint64_t length = 0;
    for (int k = 0; k < 8; ++k) length = (length << 8) | extra[k];
    header.payloadLength = length;
    at = 8;
  }
  if (header.masked && extra.size() >= at + 4) std::memcpy(header.maskKey, extra.data() + at, 4);
}

std::optional<std::size_t> scanUtf8(std::span<const std::uint8_t> bytes, std::size_t validSoFar) {
  const std::uint8_t* s = bytes.data();
  const std::int32_t length = static_cast<std::int32_t>(bytes.size());
  if (bytes.size() > 0x7FFFFFFFu) return std::nullopt;
  std::int32_t i = static_cast<std::int32_t>(validSoFar);
  while (i < length) {
    // ASCII runs eight bytes at a time.
    while (i + 8 <= length) {
      std::uint64_t chunk;
      std::memcpy(&chunk, s + i, 8);
      if (chunk & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= length) break;
    if (s[i] < 0x80) {
      ++i;
      continue;
    }
    const std::int32_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) {
      // A well-formed prefix that the end of the bytes cut off is left for later; anything else
      // can never become valid.
      const std::int32_t needed = 1 + U8_COUNT_TRAIL_BYTES(s[start]);
      if (i == length && start + needed > length && needed > 1) return static_cast<std::size_t>(start);
      return std::nullopt;
    }
  }
  return static_cast<std::size_t>(length);
}

bool isValidUtf8(std::span<const std::uint8_t> bytes) {
  const auto valid = scanUtf8(bytes, 0);
  return valid && *valid == bytes.size();
}

}  // namespace appnet::ws
