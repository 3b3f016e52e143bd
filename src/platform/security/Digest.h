#pragma once
// Message digests (MD5, SHA-1, SHA-256), in one shot or streaming, and keyed HMAC over them.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "platform/foundation/Bytes.h"

struct evp_md_ctx_st;

namespace pf {

struct Error;

enum class DigestAlgorithm { Md5, Sha1, Sha256 };

// Digest length in bytes: 16, 20 or 32.
std::size_t digestLength(DigestAlgorithm algorithm);

Bytes digest(DigestAlgorithm algorithm, std::span<const std::uint8_t> data);
Bytes digest(DigestAlgorithm algorithm, std::string_view text);

// The digest of a regular file's bytes, read a piece at a time; nullopt (error set) for anything
// but a regular file (a FIFO or a device fails at once) or a read that fails.
std::optional<Bytes> digestOfFile(DigestAlgorithm algorithm, const std::filesystem::path& path, Error* error = nullptr);

inline Bytes md5(std::span<const std::uint8_t> data) { return digest(DigestAlgorithm::Md5, data); }
inline Bytes md5(std::string_view text) { return digest(DigestAlgorithm::Md5, text); }
inline Bytes sha1(std::span<const std::uint8_t> data) { return digest(DigestAlgorithm::Sha1, data); }
inline Bytes sha1(std::string_view text) { return digest(DigestAlgorithm::Sha1, text); }
inline Bytes sha256(std::span<const std::uint8_t> data) { return digest(DigestAlgorithm::Sha256, data); }
inline Bytes sha256(std::string_view text) { return digest(DigestAlgorithm::Sha256, text); }

// A digest fed piece by piece. finish() answers the digest of everything fed since construction
// (or the previous finish) and starts over.
class Digester {
 public:
  explicit Digester(DigestAlgorithm algorithm);
  ~Digester();
  Digester(Digester&&) noexcept;
  Digester& operator=(Digester&&) noexcept;
  Digester(const Digester&) = delete;
  Digester& operator=(const Digester&) = delete;

  void update(std::span<const std::uint8_t> data);
  void update(std::string_view text);
  Bytes finish();

  DigestAlgorithm algorithm() const { return algorithm_; }

 private:
  struct Free {
    void operator()(evp_md_ctx_st* ctx) const;
  };
  DigestAlgorithm algorithm_;
  std::unique_ptr<evp_md_ctx_st, Free> ctx_;
};

// HMAC (RFC 2104) of the data under the key, with the given digest.
Bytes hmac(DigestAlgorithm algorithm, std::span<const std::uint8_t> key, std::span<const std::uint8_t> data);
Bytes hmac(DigestAlgorithm algorithm, std::string_view key, std::string_view data);

}  // namespace pf
