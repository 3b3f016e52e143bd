// Compressed bodies decoded as they arrive, in pieces of any size: every form servers send reads
// back whole, a cut or spoilt stream is told apart from a whole one.

#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/net/BodyDecoder.h"

namespace {

using pf::BodyDecoder;

pf::Bytes compress(const pf::Bytes& in, int windowBits) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  pf::Bytes out(deflateBound(&z, in.size()) + 32);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct Decoded {
  pf::Bytes bytes;
  bool ok = true;
  bool complete = false;
  bool corrupt = false;
};

// The body fed in pieces of `piece` bytes.
Decoded decode(const char* coding, const pf::Bytes& body, std::size_t piece) {
  auto decoder = BodyDecoder::forAnswer(pf::HttpHeaders{{"Content-Encoding", coding}});
  EXPECT_TRUE(decoder) << coding;
  Decoded out;
  for (std::size_t at = 0; out.ok && at < body.size(); at += piece) {
    const std::size_t n = std::min(piece, body.size() - at);
    out.ok = decoder->decode(std::span<const std::uint8_t>(body.data() + at, n), [&](pf::Bytes&& p) {
      out.bytes.insert(out.bytes.end(), p.begin(), p.end());
      return true;
    });
  }
  out.complete = decoder->complete();
  out.corrupt = decoder->corrupt();
  return out;
}

pf::Bytes text() {
  pf::Bytes t;
  for (int i = 0; i < 100000; ++i) t.push_back(static_cast<std::uint8_t>('a' + (i * 7919 % 26)));
  return t;
}

TEST(BodyDecoder, EveryFormReadsBackWholeInPiecesOfAnySize) {
  const pf::Bytes t = text();
  struct Case {
    const char* coding;
    pf::Bytes body;
  };
  pf::Bytes raw = compress(t, -15);
  pf::Bytes rawWithStrayTrailer = raw;
  rawWithStrayTrailer.insert(rawWithStrayTrailer.end(), {1, 2, 3, 4});
  const Case cases[] = {
      {"gzip", compress(t, 31)},
      {"x-gzip", compress(t, 31)},
      {"deflate", compress(t, 15)},
      {"deflate", raw},
      {"gzip", raw},
      {"deflate", rawWithStrayTrailer},
      // Listed in the order applied: undone last first.
      {"gzip, deflate", compress(compress(t, 31), 15)},
      {"identity, gzip", compress(t, 31)},
  };
  for (const auto& c : cases) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{16384}, c.body.size()}) {
      auto d = decode(c.coding, c.body, piece);
      EXPECT_TRUE(d.ok) << c.coding << " in pieces of " << piece;
      EXPECT_TRUE(d.complete) << c.coding << " in pieces of " << piece;
      EXPECT_EQ(d.bytes, t) << c.coding << " in pieces of " << piece;
    }
  }
  EXPECT_FALSE(BodyDecoder::forAnswer(pf::HttpHeaders{{"Content-Encoding", "identity"}}));
  EXPECT_FALSE(BodyDecoder::forAnswer(pf::HttpHeaders{}));
}

TEST(BodyDecoder, ACutOrSpoiltStreamIsToldApart) {
  const pf::Bytes t = text();
  pf::Bytes gzip = compress(t, 31);
  for (std::size_t cut : {std::size_t{1}, std::size_t{8}, std::size_t{200}, gzip.size() - 1}) {
    auto d = decode("gzip", pf::Bytes(gzip.begin(), gzip.end() - static_cast<std::ptrdiff_t>(cut)), 4096);
    EXPECT_TRUE(d.ok) << cut;
    EXPECT_FALSE(d.complete) << "cut by " << cut;
  }
  pf::Bytes spoilt = gzip;
  spoilt[spoilt.size() - 6] ^= 0x55;  // the length in the trailer
  auto d = decode("gzip", spoilt, 4096);
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(d.corrupt);
  pf::Bytes trailing = gzip;
  trailing.push_back('x');
  d = decode("gzip", trailing, 4096);
  EXPECT_FALSE(d.ok) << "a byte after the end";
  EXPECT_TRUE(d.corrupt);
  pf::Bytes raw = compress(t, -15);
  raw.insert(raw.end(), 5, 0);
  EXPECT_TRUE(decode("deflate", raw, 4096).corrupt) << "five stray bytes after raw deflate";
  // A coding it does not know, or more than five, refuses the first byte.
  EXPECT_TRUE(decode("br", gzip, 4096).corrupt);
  EXPECT_TRUE(decode("gzip, gzip, gzip, gzip, gzip, gzip", gzip, 4096).corrupt);
  // No bytes at all is an empty body.
  EXPECT_TRUE(decode("gzip", {}, 1).complete);
}

}  // namespace
