#include "platform/security/Random.h"

#include <openssl/rand.h>

#include <climits>

#include "platform/foundation/Error.h"

namespace pf {

bool fillRandomBytes(std::span<std::uint8_t> out) {
  while (!out.empty()) {
    int n = out.size() > INT_MAX ? INT_MAX : static_cast<int>(out.size());
    if (RAND_bytes(out.data(), n) != 1) return false;
    out = out.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

Bytes randomBytes(std::size_t count) {
  Bytes out(count);
  if (!fillRandomBytes(out)) throw Exception(kInternalInconsistencyException, "secure random source failed");
  return out;
}

}  // namespace pf
