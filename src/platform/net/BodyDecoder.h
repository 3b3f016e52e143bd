#pragma once
// The body of an answer with a Content-Encoding, decoded as it arrives: each coding (gzip,
// x-gzip, deflate; identity and none are no coding) undone in turn, the last one applied first.
// The URL loading core decodes with it instead of libcurl, which never asks whether a stream
// ended: a compressed body cut short, or whose trailer does not match, would pass as whole.
//
// Decoding yields between decoded pieces: when the sink answers false, the decoder stops after
// that piece and keeps what is left of the received bytes, undecoded, until it is called again.
// However many codings are stacked, a piece decoded is at most kPiece bytes and each coding holds
// at most one piece of its input, so a body encoded twice costs no more than one encoded once.
//
//   auto decoder = BodyDecoder::forAnswer(response.allHeaderFields());  // null: nothing to undo
//   decoder->decode(received, [&](Bytes&& decoded) { ...; return true; });  // for every piece
//   while (decoder->holding()) decoder->decode({}, sink);                // the sink held it
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
  // Takes one decoded piece; answers false to hold the pieces after it.
  using Sink = std::function<bool(Bytes&&)>;

  // Null for a body without a coding to undo. An unknown coding, or more than kMaxCodings, gives a
  // decoder that refuses the first byte.
  static std::unique_ptr<BodyDecoder> forAnswer(const HttpHeaders& headers);
  ~BodyDecoder();
  BodyDecoder(const BodyDecoder&) = delete;
  BodyDecoder& operator=(const BodyDecoder&) = delete;

  // Decodes what an earlier call left undecoded, then `input` (the next bytes of the body), handing
  // the decoded pieces to `sink` in order, until the bytes are used up or `sink` answers false: then
  // the rest waits in the decoder (holding()). Answers false when the bytes do not decode (a trailer
  // that does not match, bytes after the end that begin no gzip member, a coding it does not know);
  // corrupt() says so from then on.
  bool decode(std::span<const std::uint8_t> input, const Sink& sink);
  bool corrupt() const { return corrupt_; }
  // Whether received bytes wait undecoded (or decoded bytes undelivered) after the sink held them.
  bool holding() const { return holding_; }
  // Whether every stream that got a byte reached its end (a body of no bytes is whole).
  bool complete() const;

 private:
  enum class Coding { Gzip, Deflate };
  enum class Step { Piece, NeedInput, Corrupt };
  class Stage;
  BodyDecoder() = default;
  // The next decoded piece of stage `index`, pulling input from the stages before it.
  Step pull(std::size_t index, Bytes& piece);

  std::vector<std::unique_ptr<Stage>> stages_;
  bool refused_ = false;
  bool corrupt_ = false;
  bool holding_ = false;
};

}  // namespace pf
