#pragma once
// Bytes from the system's cryptographically secure random source.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/foundation/Bytes.h"

namespace pf {

// Fills the buffer; false when the source fails (the buffer's contents are then unspecified).
bool fillRandomBytes(std::span<std::uint8_t> out);

// count random bytes; raises pf::Exception (kInternalInconsistencyException) when the source fails.
Bytes randomBytes(std::size_t count);

}  // namespace pf
