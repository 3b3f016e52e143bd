#include "platform/security/Cipher.h"

#include <openssl/evp.h>

#include <climits>

#include "platform/security/OpenSslSupport.h"

namespace pf {
namespace {

// Fetched once per process: fetching by name on every call costs a provider look-up.
const EVP_CIPHER* fetched(const char* name) { return EVP_CIPHER_fetch(nullptr, name, nullptr); }

const EVP_CIPHER* cipherFor(CipherAlgorithm algorithm, CipherMode mode, std::size_t keySize) {
  static const EVP_CIPHER* const desEcb = fetched("DES-EDE3-ECB");
  static const EVP_CIPHER* const desCbc = fetched("DES-EDE3-CBC");
  static const EVP_CIPHER* const aes128Ecb = fetched("AES-128-ECB");
  static const EVP_CIPHER* const aes128Cbc = fetched("AES-128-CBC");
  static const EVP_CIPHER* const aes192Ecb = fetched("AES-192-ECB");
  static const EVP_CIPHER* const aes192Cbc = fetched("AES-192-CBC");
  static const EVP_CIPHER* const aes256Ecb = fetched("AES-256-ECB");
  static const EVP_CIPHER* const aes256Cbc = fetched("AES-256-CBC");
  bool ecb = mode == CipherMode::Ecb;
  if (algorithm == CipherAlgorithm::TripleDes) return keySize == 24 ? (ecb ? desEcb : desCbc) : nullptr;
  switch (keySize) {
    case 16: return ecb ? aes128Ecb : aes128Cbc;
    case 24: return ecb ? aes192Ecb : aes192Cbc;
    case 32: return ecb ? aes256Ecb : aes256Cbc;
    default: return nullptr;
  }
}

// One context per thread, re-initialised for every call.
EVP_CIPHER_CTX* threadContext() {
  thread_local ossl::CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  return ctx.get();
}

CipherResult failed(CipherStatus status) { return CipherResult{status, {}}; }

}  // namespace

std::size_t cipherBlockSize(CipherAlgorithm algorithm) { return algorithm == CipherAlgorithm::TripleDes ? 8 : 16; }

CipherResult crypt(CipherOperation operation, const CipherSpec& suite, std::span<const std::uint8_t> key,
                   std::span<const std::uint8_t> iv, std::span<const std::uint8_t> input) {
  const std::size_t block = cipherBlockSize(suite.algorithm);
  const bool keyFits = suite.algorithm == CipherAlgorithm::TripleDes
                           ? key.size() == 24
                           : key.size() == 16 || key.size() == 24 || key.size() == 32;
  if (!keyFits) return failed(CipherStatus::KeySizeError);
  const EVP_CIPHER* cipher = cipherFor(suite.algorithm, suite.mode, key.size());
  if (!cipher) return failed(CipherStatus::Failure);
  const bool encrypting = operation == CipherOperation::Encrypt;
  const bool padded = suite.padding == CipherPadding::Pkcs7;
  if (!padded || !encrypting) {
    if (input.size() % block != 0) return failed(CipherStatus::AlignmentError);
    if (padded && input.empty()) return failed(CipherStatus::DecodeError);
  }
  if (input.size() > static_cast<std::size_t>(INT_MAX) - 2 * block) return failed(CipherStatus::Failure);

  std::uint8_t zeroIv[16] = {};
  const std::uint8_t* ivData = nullptr;
  if (suite.mode == CipherMode::Cbc) {
    if (iv.empty()) ivData = zeroIv;
    else if (iv.size() == block) ivData = iv.data();
    else return failed(CipherStatus::IvSizeError);
  }

  EVP_CIPHER_CTX* ctx = threadContext();
  if (!ctx || EVP_CipherInit_ex2(ctx, cipher, key.data(), ivData, encrypting ? 1 : 0, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx, padded ? 1 : 0) != 1) {
    ossl::clearErrors();
    return failed(CipherStatus::Failure);
  }

  CipherResult result{CipherStatus::Success, Bytes(input.size() + block)};
  int produced = 0;
  int last = 0;
  if (EVP_CipherUpdate(ctx, result.data.data(), &produced, input.data(), static_cast<int>(input.size())) != 1) {
    ossl::clearErrors();
    return failed(CipherStatus::Failure);
  }
  if (EVP_CipherFinal_ex(ctx, result.data.data() + produced, &last) != 1) {
    ossl::clearErrors();
    return failed(padded && !encrypting ? CipherStatus::DecodeError : CipherStatus::Failure);
  }
  result.data.resize(static_cast<std::size_t>(produced + last));
  return result;
}

}  // namespace pf
