#pragma once
// The body of an answer with a Content-Encoding, decoded as it arrives: each coding (gzip,
// x-gzip, deflate; identity is none) undone in turn, the last one applied first. The URL loading
// core decodes with it instead of libcurl, which never asks whether a stream ended: a compressed
// body cut short, or whose trailer does not match, would pass as whole.
//
//   auto decoder = BodyDecoder::forAnswer(response.allHeaderFields());  // null: nothing to undo
//   decoder->decode(piece, [&](Bytes&& decoded) { ...; return true; });  // for every piece
//   if (!decoder->complete()) ...                                        // cut short

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/net/HttpHeaders.h"

namespace pf {

class BodyDecoder {
 public:
  // Decoded pieces are at most this long (libcurl's receive buffer, as undecoded pieces are).
  static constexpr std::size_t kPiece = 16u << 10;
  // More codings than this on one body are refused: each holds an inflate state of its own.
  static constexpr std::size_t kMaxCodings = 5;
  // Takes one decoded piece; answers false to stop decoding.
  using Sink = std::function<bool(Bytes&&)>;

  // Null for a body without a coding to undo. An unknown coding, or more than kMaxCodings, gives a
  // decoder that refuses the first byte.
  static std::unique_ptr<BodyDecoder> forAnswer(const HttpHeaders& headers);
  ~BodyDecoder();
  BodyDecoder(const BodyDecoder&) = delete;
  BodyDecoder& operator=(const BodyDecoder&) = delete;

  // Decodes the next bytes of the body, handing the decoded pieces to `sink` in order. Answers
  // false when the bytes do not decode (corrupt(): a trailer that does not match, bytes after the
  // end, a coding it does not know) or `sink` answered false.
  bool decode(std::span<const std::uint8_t> input, const Sink& sink);
  bool corrupt() const { return corrupt_; }
  // Whether every stream that got a byte reached its end (a body of no bytes is whole).
  bool complete() const;

 private:
  enum class Coding { Gzip, Deflate };
  class Stage;
  BodyDecoder() = default;
  bool feed(std::size_t index, std::span<const std::uint8_t> input, const Sink& sink);

  std::vector<std::unique_ptr<Stage>> stages_;
  bool refused_ = false;
  bool corrupt_ = false;
};

}  // namespace pf
