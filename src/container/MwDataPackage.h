#pragma once
// The inner server packet: a business payload with its crypt, hash and signature flags.
// Wire format: docs/packets.md.

#include <memory>
#include <optional>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Value.h"

namespace container {

// Crypt flags of the payload.
inline constexpr int kCryptPlain = 0;
inline constexpr int kCrypt3Des = 1;
inline constexpr int kCryptRsa = 4;

class MwDataPackage {
 public:
  // A packet without payload.
  MwDataPackage() = default;
  MwDataPackage(int cryptFlag, int hashFlag, int signFlag, std::optional<pf::Bytes> business);

  int getCryptFlag() const { return cryptFlag_; }
  int getHashFlag() const { return hashFlag_; }
  int getSignFlag() const { return signFlag_; }
  // The payload (for a parsed answer, the business JSON bytes); nullopt when there is none.
  const std::optional<pf::Bytes>& getBusiness() const { return business_; }

  // The wire object: the payload encrypted, encoded, hashed and signed by the flags (session keys in
  // the client-to-server direction). nullopt when a key is missing or a step fails.
  std::optional<pf::Value> toJSON() const;
  // Reads a wire object (session keys in the server-to-client direction); null when the object is
  // malformed, a hash or signature does not check or the payload does not decrypt.
  static std::shared_ptr<MwDataPackage> fromJSON(const pf::Value& object);

 private:
  int cryptFlag_ = 0;
  int hashFlag_ = 0;
  int signFlag_ = 0;
  std::optional<pf::Bytes> business_;
};

}  // namespace container
