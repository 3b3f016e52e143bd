#include "app/TnqDataExtension.h"

#include "app/TnqStringExtension.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/security/Cipher.h"
#include "platform/security/Digest.h"

namespace app {

std::string TnqJSON::MD5String(const pf::Bytes& data) { return pf::hexEncode(pf::md5(data), true); }

std::optional<pf::Value> TnqJSON::JSONOBJ(const pf::Bytes& data) { return pf::parseJson(data); }

std::optional<pf::Value> TnqJSON::JSONOBJ(std::string_view text) { return pf::parseJson(text); }

long TnqNumber::getNumberWithTimeStamp() { return static_cast<long>(pf::Clock::now()); }

namespace {

std::optional<pf::Bytes> aes256(pf::CipherOperation operation, const pf::Bytes& data, std::string_view key) {
  static constexpr pf::CipherSpec kSpec{pf::CipherAlgorithm::Aes, pf::CipherMode::Cbc, pf::CipherPadding::Pkcs7};
  std::string keyText = TnqExtension::tnqMD5String(key);
  std::span<const std::uint8_t> keyBytes(reinterpret_cast<const std::uint8_t*>(keyText.data()), keyText.size());
  auto result = pf::crypt(operation, kSpec, keyBytes, {}, data);
  if (!result) return std::nullopt;
  return std::move(result.data);
}

}  // namespace

std::optional<pf::Bytes> TnqAESCrypt::AES256EncryptWithKey(const pf::Bytes& data, std::string_view key) {
  return aes256(pf::CipherOperation::Encrypt, data, key);
}

std::optional<pf::Bytes> TnqAESCrypt::AES256DecryptWithKey(const pf::Bytes& data, std::string_view key) {
  return aes256(pf::CipherOperation::Decrypt, data, key);
}

}  // namespace app
