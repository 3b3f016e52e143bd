#include "platform/security/Digest.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <unistd.h>

#include <cerrno>

#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"

namespace pf {
namespace {

// Fetched once: implicit fetching by name on every call costs a provider look-up.
const EVP_MD* fetched(DigestAlgorithm algorithm) {
  static const EVP_MD* const md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  static const EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  static const EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  const EVP_MD* md = nullptr;
  switch (algorithm) {
    case DigestAlgorithm::Md5: md = md5; break;
    case DigestAlgorithm::Sha1: md = sha1; break;
    case DigestAlgorithm::Sha256: md = sha256; break;
  }
  if (!md) throw Exception(kInternalInconsistencyException, "digest algorithm unavailable in OpenSSL");
  return md;
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::size_t digestLength(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Md5: return 16;
    case DigestAlgorithm::Sha1: return 20;
    case DigestAlgorithm::Sha256: return 32;
  }
  return 0;
}

Bytes digest(DigestAlgorithm algorithm, std::span<const std::uint8_t> data) {
  Bytes out(digestLength(algorithm));
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &length, fetched(algorithm), nullptr) != 1)
    throw Exception(kInternalInconsistencyException, "digest failed");
  out.resize(length);
  return out;
}

Bytes digest(DigestAlgorithm algorithm, std::string_view text) { return digest(algorithm, asBytes(text)); }

std::optional<Bytes> digestOfFile(DigestAlgorithm algorithm, const std::filesystem::path& path, Error* error) {
  const UniqueFd file = FileManager::openRegularFile(path, error);
  if (file.get() < 0) return std::nullopt;
  Digester digester(algorithm);
  std::uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = posixError(errno, "Could not read " + path.string());
      return std::nullopt;
    }
    if (n == 0) return digester.finish();
    digester.update(std::span<const std::uint8_t>(chunk, static_cast<std::size_t>(n)));
  }
}

void Digester::Free::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

Digester::Digester(DigestAlgorithm algorithm) : algorithm_(algorithm), ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), fetched(algorithm), nullptr) != 1)
    throw Exception(kInternalInconsistencyException, "digest set-up failed");
}

Digester::~Digester() = default;
Digester::Digester(Digester&&) noexcept = default;
Digester& Digester::operator=(Digester&&) noexcept = default;

void Digester::update(std::span<const std::uint8_t> data) {
  if (!ctx_) throw Exception(kInternalInconsistencyException, "digester used after move");
  if (!data.empty() && EVP_DigestUpdate(ctx_.get(), data.data(), data.size()) != 1)
    throw Exception(kInternalInconsistencyException, "digest update failed");
}

void Digester::update(std::string_view text) { update(asBytes(text)); }

Bytes Digester::finish() {
  if (!ctx_) throw Exception(kInternalInconsistencyException, "digester used after move");
  Bytes out(digestLength(algorithm_));
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx_.get(), out.data(), &length) != 1 ||
      EVP_DigestInit_ex(ctx_.get(), fetched(algorithm_), nullptr) != 1)
    throw Exception(kInternalInconsistencyException, "digest failed");
  out.resize(length);
  return out;
}

Bytes hmac(DigestAlgorithm algorithm, std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
  Bytes out(digestLength(algorithm));
  unsigned int length = 0;
  static const std::uint8_t kEmpty = 0;
  // HMAC() takes a null key pointer as "no key given"; an empty key is a valid key.
  const void* keyData = key.empty() ? &kEmpty : key.data();
  if (!HMAC(fetched(algorithm), keyData, static_cast<int>(key.size()), data.data(), data.size(), out.data(),
            &length))
    throw Exception(kInternalInconsistencyException, "HMAC failed");
  out.resize(length);
  return out;
}

Bytes hmac(DigestAlgorithm algorithm, std::string_view key, std::string_view data) {
  return hmac(algorithm, asBytes(key), asBytes(data));
}

}  // namespace pf
