#include "container/MwDataPackage.h"

#include <strings.h>

#include "container/MwKeyStore.h"
#include "container/MwRSA.h"
#include "container/MwSessionManager.h"
#include "container/RSACompare.h"
#include "platform/foundation/Base64.h"
#include "platform/security/Cipher.h"
#include "platform/security/Digest.h"
#include "platform/security/Random.h"

namespace container {

namespace {

constexpr std::size_t kIvLength = 8;
const pf::CipherSpec k3DesCbc{pf::CipherAlgorithm::TripleDes, pf::CipherMode::Cbc, pf::CipherPadding::Pkcs7};

std::optional<pf::Bytes> encrypt3Des(const pf::Bytes& payload) {
  auto key = MwSessionManager::getInstance().getEncryptKey();
  if (!key) return std::nullopt;
  pf::Bytes iv = pf::randomBytes(kIvLength);
  auto cipher = pf::encrypt(k3DesCbc, *key, iv, payload);
  if (!cipher) return std::nullopt;
  iv.insert(iv.end(), cipher->begin(), cipher->end());
  return iv;
}

std::optional<pf::Bytes> decrypt3Des(const pf::Bytes& data) {
  if (data.size() < 2 * kIvLength) return std::nullopt;
  auto key = MwSessionManager::getInstance().getDecryptKey();
  if (!key) return std::nullopt;
  std::span<const std::uint8_t> all(data);
  return pf::decrypt(k3DesCbc, *key, all.first(kIvLength), all.subspan(kIvLength));
}

// The business text as it travels, from the payload.
std::optional<std::string> encodeBusiness(int cryptFlag, const pf::Bytes& payload) {
  switch (cryptFlag) {
    case kCryptPlain:
      return pf::toString(payload);
    case kCrypt3Des: {
      auto cipher = encrypt3Des(payload);
      if (!cipher) return std::nullopt;
      return pf::base64Encode(*cipher);
    }
    case kCryptRsa: {
      auto key = MwKeyStore::getConsultPasswordPublicKey();
      if (!key) return std::nullopt;
      auto cipher = MwRSA::encrypt(payload, *key);
      if (!cipher) return std::nullopt;
      return pf::base64Encode(*cipher);
    }
    default:
      return std::nullopt;
  }
}

// The payload, from the business text as it travelled.
std::optional<pf::Bytes> decodeBusiness(int cryptFlag, const std::string& text) {
  if (cryptFlag == kCryptPlain) return pf::toBytes(text);
  if (cryptFlag != kCrypt3Des && cryptFlag != kCryptRsa) return std::nullopt;
  auto raw = pf::base64DecodeStrict(text);
  if (!raw || raw->empty()) return std::nullopt;
  if (cryptFlag == kCrypt3Des) return decrypt3Des(*raw);
  auto key = MwKeyStore::getConsultPasswordPublicKey();
  if (!key) return std::nullopt;
  return MwRSA::decrypt(*raw, *key);
}

// Reads an integer member: absent or null gives the fallback, another type or a number beyond int
// fails.
bool readInt(const pf::Value& object, const char* key, int& out) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return true;
  auto value = pf::exactInteger<int>(*it);
  if (value) out = *value;
  return value.has_value();
}

bool knownCryptFlag(int flag) { return flag == kCryptPlain || flag == kCrypt3Des || flag == kCryptRsa; }

}  // namespace

MwDataPackage::MwDataPackage(int cryptFlag, int hashFlag, int signFlag, std::optional<pf::Bytes> business)
    : cryptFlag_(cryptFlag), hashFlag_(hashFlag), signFlag_(signFlag), business_(std::move(business)) {}

std::optional<pf::Value> MwDataPackage::toJSON() const {
  if (!knownCryptFlag(cryptFlag_)) return std::nullopt;
  pf::Value object = pf::Value::object();
  object["cryptFlag"] = cryptFlag_;
  object["hashFlag"] = hashFlag_;
  object["signFlag"] = signFlag_;
  if (!business_) return object;
  auto text = encodeBusiness(cryptFlag_, *business_);
  if (!text) return std::nullopt;
  object["business"] = *text;
  if (hashFlag_ != 0 || signFlag_ != 0) {
    const pf::Bytes digest = pf::sha1(*text);
    if (hashFlag_ != 0) object["hash"] = pf::hexEncode(digest, true);
    if (signFlag_ != 0) {
      auto key = MwKeyStore::getSignaturePrivateKey();
      if (!key) return std::nullopt;
      auto signature = MwRSA::encrypt(digest, *key);
      if (!signature) return std::nullopt;
      object["sign"] = pf::base64Encode(*signature);
    }
  }
  return object;
}

std::shared_ptr<MwDataPackage> MwDataPackage::fromJSON(const pf::Value& object) {
  if (!object.is_object()) return nullptr;
  int cryptFlag = 0, hashFlag = 0, signFlag = 0;
  if (!readInt(object, "cryptFlag", cryptFlag) || !readInt(object, "hashFlag", hashFlag) ||
      !readInt(object, "signFlag", signFlag) || !knownCryptFlag(cryptFlag)) {
    return nullptr;
  }
  auto business = object.find("business");
  if (business == object.end() || business->is_null()) {
    if (hashFlag != 0 || signFlag != 0) return nullptr;
    return std::make_shared<MwDataPackage>(cryptFlag, hashFlag, signFlag, std::nullopt);
  }
  if (!business->is_string()) return nullptr;
  const std::string& text = business->get_ref<const std::string&>();
  if (hashFlag != 0 || signFlag != 0) {
    const pf::Bytes digest = pf::sha1(text);
    if (hashFlag != 0) {
      auto hash = object.find("hash");
      if (hash == object.end() || !hash->is_string()) return nullptr;
      const std::string expected = pf::hexEncode(digest, true);
      const std::string& given = hash->get_ref<const std::string&>();
      if (given.size() != expected.size() || strncasecmp(given.c_str(), expected.c_str(), given.size()) != 0) {
        return nullptr;
      }
    }
    if (signFlag != 0) {
      auto sign = object.find("sign");
      if (sign == object.end() || !sign->is_string()) return nullptr;
      auto raw = pf::base64DecodeStrict(sign->get_ref<const std::string&>());
      auto key = MwKeyStore::getSignaturePublicKey();
      if (!raw || raw->empty() || !key) return nullptr;
      auto plain = MwRSA::decrypt(*raw, *key);
      if (!plain || !RSACompare::isEqualToRSAData(*plain, digest)) return nullptr;
    }
  }
  auto payload = decodeBusiness(cryptFlag, text);
  if (!payload) return nullptr;
  return std::make_shared<MwDataPackage>(cryptFlag, hashFlag, signFlag, std::move(payload));
}

}  // namespace container
