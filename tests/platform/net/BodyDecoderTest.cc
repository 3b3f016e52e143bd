// Compressed bodies decoded as they arrive, in pieces of any size: every form servers send reads
// back whole, a cut or spoilt stream is told apart from a whole one, and decoding stops after the
// piece whose sink held it, keeping the rest of the bytes for later.

#include <gtest/gtest.h>

#include <algorithm>

#include "CompressedBodies.h"
#include "platform/net/BodyDecoder.h"

namespace {

using nettest::compress;
using nettest::joined;
using pf::BodyDecoder;

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
      {"none, gzip, None", compress(t, 31)},
      // Codings are names without regard to case, in lists with white space around their elements.
      {" GZip ,\tDEFLATE", compress(compress(t, 31), 15)},
      {"X-Gzip", compress(t, 31)},
  };
  for (const auto& c : cases) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{16384}, c.body.size()}) {
      auto d = decode(c.coding, c.body, piece);
      EXPECT_TRUE(d.ok) << c.coding << " in pieces of " << piece;
      EXPECT_TRUE(d.complete) << c.coding << " in pieces of " << piece;
      EXPECT_EQ(d.bytes, t) << c.coding << " in pieces of " << piece;
    }
  }
  for (const char* none : {"identity", "none", "NONE", "identity, none", ""}) {
    EXPECT_FALSE(BodyDecoder::forAnswer(pf::HttpHeaders{{"Content-Encoding", none}})) << none;
  }
  EXPECT_FALSE(BodyDecoder::forAnswer(pf::HttpHeaders{}));
}

TEST(BodyDecoder, AGzipBodyOfSeveralMembersReadsEachInTurn) {
  const pf::Bytes t = text();
  const pf::Bytes head(t.begin(), t.begin() + 30000);
  const pf::Bytes tail(t.begin() + 30000, t.end());
  const pf::Bytes twoMembers = joined({compress(head, 31), compress(tail, 31)});
  const pf::Bytes emptyAfter = joined({compress(t, 31), compress(pf::Bytes{}, 31)});
  const pf::Bytes many = joined({compress(head, 31), compress(pf::Bytes{}, 31), compress(tail, 31), compress(pf::Bytes{}, 31)});
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{16384}, many.size()}) {
    for (const auto* body : {&twoMembers, &emptyAfter, &many}) {
      for (const char* coding : {"gzip", "x-gzip"}) {
        auto d = decode(coding, *body, piece);
        EXPECT_TRUE(d.ok) << coding << " in pieces of " << piece;
        EXPECT_TRUE(d.complete) << coding << " in pieces of " << piece;
        EXPECT_EQ(d.bytes, t) << coding << " in pieces of " << piece;
      }
    }
    // Members inside another coding, and a chain whose outer stream has members.
    auto d = decode("gzip, gzip", compress(twoMembers, 31), piece);
    EXPECT_TRUE(d.ok && d.complete) << piece;
    EXPECT_EQ(d.bytes, t) << piece;
    d = decode("gzip, gzip", joined({compress(compress(head, 31), 31), compress(compress(tail, 31), 31)}), piece);
    EXPECT_TRUE(d.ok && d.complete) << piece;
    EXPECT_EQ(d.bytes, t) << piece;
  }
  // What follows a member must be a whole member: a member cut short is a cut body, bytes that
  // begin no member do not decode.
  const pf::Bytes first = compress(head, 31);
  const pf::Bytes second = compress(tail, 31);
  for (std::size_t kept : {std::size_t{1}, std::size_t{2}, std::size_t{10}, second.size() - 1}) {
    auto d = decode("gzip", joined({first, pf::Bytes(second.begin(), second.begin() + static_cast<std::ptrdiff_t>(kept))}), 4096);
    EXPECT_TRUE(d.ok) << kept;
    EXPECT_FALSE(d.complete) << "a second member of " << kept << " bytes";
  }
  for (const pf::Bytes& after : {pf::Bytes{0}, pf::Bytes{0x1f, 0x8c}, pf::Bytes{'x', 'y', 'z'}, compress(tail, 15),
                                 pf::Bytes(20, 0)}) {
    auto d = decode("gzip", joined({first, after}), 4096);
    EXPECT_FALSE(d.ok) << after.size() << " bytes after the member";
    EXPECT_TRUE(d.corrupt) << after.size() << " bytes after the member";
  }
  pf::Bytes spoiltSecond = joined({first, second});
  spoiltSecond[spoiltSecond.size() - 1] ^= 0x01;  // the second member's length
  EXPECT_TRUE(decode("gzip", spoiltSecond, 4096).corrupt) << "the second member's trailer is checked";
  // A zlib stream is one stream: nothing may follow it.
  EXPECT_TRUE(decode("deflate", joined({compress(head, 15), compress(tail, 15)}), 4096).corrupt);
}

TEST(BodyDecoder, DecodingStopsAfterThePieceThatHeldItAndGoesOnFromThere) {
  // 64 MiB encoded twice arrive in one received piece of a few hundred bytes.
  constexpr std::size_t kInflated = 64u << 20;
  const pf::Bytes body = nettest::twiceGzippedZeros(kInflated);
  ASSERT_LT(body.size(), 1024u);
  auto decoder = BodyDecoder::forAnswer(pf::HttpHeaders{{"Content-Encoding", "gzip, gzip"}});
  std::size_t decoded = 0;
  std::size_t pieces = 0;
  bool zeros = true;
  auto sink = [&](pf::Bytes&& piece) {
    EXPECT_LE(piece.size(), BodyDecoder::kPiece);
    decoded += piece.size();
    zeros = zeros && std::all_of(piece.begin(), piece.end(), [](std::uint8_t b) { return b == 0; });
    return ++pieces % 100 != 0;  // held after every 100th piece
  };
  ASSERT_TRUE(decoder->decode(body, sink));
  EXPECT_EQ(pieces, 100u) << "pieces were handed over after the sink held them";
  EXPECT_TRUE(decoder->holding());
  EXPECT_FALSE(decoder->complete());
  int calls = 1;
  while (decoder->holding()) {
    const std::size_t before = pieces;
    ASSERT_TRUE(decoder->decode({}, sink));
    ++calls;
    ASSERT_LE(pieces - before, 100u);
  }
  EXPECT_EQ(decoded, kInflated);
  EXPECT_TRUE(zeros);
  EXPECT_TRUE(decoder->complete());
  EXPECT_EQ(calls, static_cast<int>(kInflated / BodyDecoder::kPiece / 100) + 1);

  // Bytes that come while it holds are read after what it kept, whatever their cut.
  const pf::Bytes t = text();
  const pf::Bytes gzip = compress(compress(t, 31), 15);
  decoder = BodyDecoder::forAnswer(pf::HttpHeaders{{"Content-Encoding", "gzip, deflate"}});
  pf::Bytes out;
  for (std::size_t at = 0; at < gzip.size(); at += 100) {
    ASSERT_TRUE(decoder->decode(std::span<const std::uint8_t>(gzip).subspan(at, std::min<std::size_t>(100, gzip.size() - at)),
                                [&](pf::Bytes&& piece) {
                                  out.insert(out.end(), piece.begin(), piece.end());
                                  return false;
                                }));
  }
  while (decoder->holding()) {
    ASSERT_TRUE(decoder->decode({}, [&](pf::Bytes&& piece) {
      out.insert(out.end(), piece.begin(), piece.end());
      return false;
    }));
  }
  EXPECT_EQ(out, t);
  EXPECT_TRUE(decoder->complete());
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
