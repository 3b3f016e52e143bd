#pragma once
// Compressed bodies made by zlib for the decoder's tests and the answers built for the loopback
// peer: the forms servers send (gzip, zlib-wrapped and raw deflate) and bombs made without holding
// what they inflate to.

#include <zlib.h>

#include <algorithm>
#include <initializer_list>

#include "platform/foundation/Bytes.h"

namespace nettest {

// `in` compressed whole: windowBits 31 gzip, 15 zlib-wrapped deflate, -15 raw deflate.
inline pf::Bytes compress(const pf::Bytes& in, int windowBits) {
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

inline pf::Bytes compress(const std::string& in, int windowBits) { return compress(pf::Bytes(in.begin(), in.end()), windowBits); }

inline pf::Bytes joined(std::initializer_list<pf::Bytes> parts) {
  pf::Bytes all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Gzip of `size` bytes of zeros (compressed as they are made), gzip-compressed again: a few
// hundred bytes for 64 MiB.
inline pf::Bytes twiceGzippedZeros(std::size_t size) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  static const pf::Bytes zeros(1 << 16, 0);
  pf::Bytes once;
  std::uint8_t out[1 << 16];
  for (std::size_t left = size;;) {
    const std::size_t n = std::min(left, zeros.size());
    left -= n;
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = out;
      z.avail_out = sizeof out;
      deflate(&z, left == 0 ? Z_FINISH : Z_NO_FLUSH);
      once.insert(once.end(), out, out + (sizeof out - z.avail_out));
    } while (z.avail_out == 0);
    if (left == 0) break;
  }
  deflateEnd(&z);
  return compress(once, 31);
}

}  // namespace nettest
