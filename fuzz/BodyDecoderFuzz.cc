// Compressed answer bodies: the first byte picks the answer's Content-Encoding, the next the size
// of the pieces the rest arrives in (its low six bits) and how often the sink holds the decoded
// pieces (its top two: never, after every piece, every second, every third). Nothing may crash or
// hang, a held decoder goes on from where it stopped, a body that stops decoding says why, and a
// body that decodes whole is complete.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/net/BodyDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static const char* const kCodings[] = {"gzip",           "deflate",
                                         "x-gzip",         "gzip, deflate",
                                         "deflate, gzip",  "identity, gzip",
                                         "br",             "gzip, gzip, gzip, gzip, gzip, gzip",
                                         "none, x-gzip",   "gzip, gzip"};
  const char* coding = kCodings[data[0] % std::size(kCodings)];
  const std::size_t pieceSize = 1 + data[1] % 64;
  const unsigned holdEvery = data[1] >> 6;
  auto decoder = pf::BodyDecoder::forAnswer(pf::HttpHeaders{{"Content-Encoding", coding}});
  if (!decoder) std::abort();
  // Stacked codings inflate without end: stop at 16 MiB, as a load's limit would.
  std::size_t decoded = 0;
  std::size_t pieces = 0;
  bool stopped = false;
  bool heldLast = false;
  auto sink = [&](pf::Bytes&& piece) {
    if (piece.empty() || piece.size() > pf::BodyDecoder::kPiece) std::abort();
    decoded += piece.size();
    if (decoded > (16u << 20)) {
      stopped = true;
      return false;
    }
    heldLast = holdEvery != 0 && ++pieces % holdEvery == 0;
    return !heldLast;
  };
  auto failed = [&] {
    if (!decoder->corrupt()) std::abort();
    return 0;
  };
  std::span<const std::uint8_t> body(data + 2, size - 2);
  while (!body.empty()) {
    const std::size_t n = std::min(pieceSize, body.size());
    heldLast = false;
    if (!decoder->decode(body.first(n), sink)) return failed();
    // It holds exactly when the sink held.
    if (decoder->holding() != (heldLast || stopped)) std::abort();
    while (decoder->holding() && !stopped) {
      heldLast = false;
      if (!decoder->decode({}, sink)) return failed();
    }
    if (stopped) return 0;
    body = body.subspan(n);
  }
  (void)decoder->complete();
  return 0;
}
