#pragma once
// Comparison of a raw RSA decryption with the value it should hold (a signature check).

#include <cstdint>
#include <span>

namespace container::RSACompare {

// True when both hold the same number: equal once the leading zero bytes of each are skipped.
// Raw decryption may give a block with or without its leading zeros, and a digest may itself
// start with zero bytes; neither decides whether a signature is good.
bool isEqualToRSAData(std::span<const std::uint8_t> data, std::span<const std::uint8_t> other);

}  // namespace container::RSACompare
