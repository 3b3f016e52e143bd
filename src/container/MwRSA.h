#pragma once
// RSA packet cipher: data of any length to raw RSA blocks and back. Encryption cuts the data
// into chunks of (block size - 12) bytes and turns each into one whole block; decryption turns
// each block back into its number without leading zero bytes, so the blocks of a text payload
// join into the text. Holds no state.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/foundation/Bytes.h"
#include "platform/security/Key.h"

namespace container {

class MwRSA {
 public:
  // The cipher text: ceil(length / (B - 12)) blocks of B bytes; nullopt for empty data, no key,
  // or a block the key refuses.
  static std::optional<pf::Bytes> encrypt(std::span<const std::uint8_t> data, const std::optional<pf::Key>& key);
  // The plain text: each block of B bytes (the last may be shorter) as its number without
  // leading zero bytes, joined; nullopt for empty data, no key, or any block the key refuses.
  static std::optional<pf::Bytes> decrypt(std::span<const std::uint8_t> data, const std::optional<pf::Key>& key);

  // Encrypts the data and replaces the file at the path with the cipher text. When the
  // encryption fails the old file is kept and the answer is false.
  static bool encryptWriteFile(const std::string& path, std::span<const std::uint8_t> data,
                               const std::optional<pf::Key>& key);
  // The decryption of the whole file; nullopt when no file is at the path (the key is not used).
  static std::optional<pf::Bytes> decryptReadFile(const std::string& path, const std::optional<pf::Key>& key);
};

}  // namespace container
