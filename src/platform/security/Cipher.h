#pragma once
// Symmetric block ciphers: triple DES and AES, in ECB or CBC mode, with or without PKCS#7 padding.
// Semantics follow the phone platform's one-call cipher: the key length picks the AES variant,
// a CBC call without an initialisation vector uses an all-zero one, and an unpadded call refuses
// input that is not a whole number of blocks.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/foundation/Bytes.h"

namespace pf {

enum class CipherAlgorithm {
  TripleDes,  // DES-EDE3: 24-byte key (three DES keys), 8-byte blocks
  Aes,        // 16-, 24- or 32-byte key (AES-128, -192, -256), 16-byte blocks
};
enum class CipherMode { Ecb, Cbc };
enum class CipherPadding { None, Pkcs7 };
enum class CipherOperation { Encrypt, Decrypt };

enum class CipherStatus {
  Success,
  KeySizeError,    // the key length does not fit the algorithm
  IvSizeError,     // an initialisation vector that is neither empty nor one block
  AlignmentError,  // unpadded input, or padded cipher text, not a whole number of blocks
  DecodeError,     // padding of the decrypted text is wrong
  Failure,         // the library failed otherwise
};

struct CipherSpec {
  CipherAlgorithm algorithm = CipherAlgorithm::Aes;
  CipherMode mode = CipherMode::Cbc;
  CipherPadding padding = CipherPadding::Pkcs7;
};

struct CipherResult {
  CipherStatus status = CipherStatus::Failure;
  Bytes data;  // empty unless status is Success
  explicit operator bool() const { return status == CipherStatus::Success; }
};

// Block size in bytes: 8 for triple DES, 16 for AES.
std::size_t cipherBlockSize(CipherAlgorithm algorithm);

// iv is used in CBC mode only; empty means all zero bytes, otherwise it must be one block long.
CipherResult crypt(CipherOperation operation, const CipherSpec& suite, std::span<const std::uint8_t> key,
                   std::span<const std::uint8_t> iv, std::span<const std::uint8_t> input);

inline std::optional<Bytes> encrypt(const CipherSpec& suite, std::span<const std::uint8_t> key,
                                    std::span<const std::uint8_t> iv, std::span<const std::uint8_t> input) {
  auto r = crypt(CipherOperation::Encrypt, suite, key, iv, input);
  if (!r) return std::nullopt;
  return std::move(r.data);
}

inline std::optional<Bytes> decrypt(const CipherSpec& suite, std::span<const std::uint8_t> key,
                                    std::span<const std::uint8_t> iv, std::span<const std::uint8_t> input) {
  auto r = crypt(CipherOperation::Decrypt, suite, key, iv, input);
  if (!r) return std::nullopt;
  return std::move(r.data);
}

}  // namespace pf
