#pragma once
// The WebSocket frame layer's pure parts (protocol version 13): opcodes, client frame encoding with
// masking, server frame header parsing, close codes and reasons, and incremental UTF-8 checking.
// Nothing here touches sockets or queues, so the socket, the fuzz target and the benchmarks share it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"

namespace appnet::ws {

enum Opcode : std::uint8_t {
  kOpContinuation = 0x0,
  kOpText = 0x1,
  kOpBinary = 0x2,
  kOpClose = 0x8,
  kOpPing = 0x9,
  kOpPong = 0xA,
};

inline constexpr bool isControlOpcode(std::uint8_t opcode) { return (opcode & 0x8) != 0; }
inline constexpr bool isKnownOpcode(std::uint8_t opcode) {
  return opcode <= kOpBinary || (opcode >= kOpClose && opcode <= kOpPong);
}

// Close status codes the socket sends or reports.
inline constexpr int kCloseNormal = 1000;
inline constexpr int kCloseGoingAway = 1001;
inline constexpr int kCloseProtocolError = 1002;
inline constexpr int kCloseNoStatus = 1005;
inline constexpr int kCloseInvalidText = 1007;
inline constexpr int kCloseMessageTooBig = 1009;

// The largest payload of a control frame, and of a close reason (125 less the 2-byte code).
inline constexpr std::size_t kMaxControlPayload = 125;
inline constexpr std::size_t kMaxCloseReason = 123;

// Codes a server may send in a close frame: 1000-1003, 1007-1011 and 3000-4999.
bool isValidCloseCode(int code);

// The reason cut to at most `limit` bytes, never inside a UTF-8 sequence.
std::string truncateUtf8(std::string_view text, std::size_t limit = kMaxCloseReason);

// XORs `data` with the 4-byte key, starting at key byte (offset % 4); advances offset.
void applyMask(std::uint8_t* data, std::size_t length, const std::uint8_t key[4], std::uint64_t& offset);

// Appends one final client frame (masked with `key`) to `out`.
void appendClientFrame(pf::Bytes& out, std::uint8_t opcode, std::span<const std::uint8_t> payload,
                       const std::uint8_t key[4]);

// The close payload: 2-byte big-endian code and the reason (cut to 123 bytes).
pf::Bytes closePayload(int code, std::string_view reason);

struct FrameHeader {
  bool fin = false;
  std::uint8_t opcode = 0;
  bool masked = false;
  bool rsv = false;  // a reserved bit was set
  std::uint64_t payloadLength = 0;
  std::uint8_t maskKey[4] = {0, 0, 0, 0};
};

// Bytes of the header still to come after the first two (extended length and masking key).
std::size_t extraHeaderLength(std::uint8_t byte1);
// Parses the first two bytes, then (with `extra` of extraHeaderLength bytes) the rest.
FrameHeader parseHeaderStart(std::uint8_t byte0, std::uint8_t byte1);
void parseHeaderRest(FrameHeader& header, std::uint8_t byte1, std::span<const std::uint8_t> extra);

// Incremental UTF-8 check over a growing text message. `scan` is given the whole message so far
// and the offset up to which it was already found valid; it answers the new valid length (a
// sequence cut off at the end is left for the next call) or nothing when the bytes can never be
// valid UTF-8 (ill-formed, overlong, surrogates, above U+10FFFF).
std::optional<std::size_t> scanUtf8(std::span<const std::uint8_t> bytes, std::size_t validSoFar);
// Whole-text check (no cut-off tail allowed).
bool isValidUtf8(std::span<const std::uint8_t> bytes);

}  // namespace appnet::ws
