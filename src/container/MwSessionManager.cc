#include "container/MwSessionManager.h"

#include <utility>

#include "container/MwHttpResponse.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/security/Digest.h"
#include "platform/security/Random.h"

namespace container {

namespace {

constexpr std::size_t kClientRandomLength = 24;
constexpr std::size_t kSessionKeyLength = 24;

pf::Bytes deriveKey(const pf::Bytes& first, const pf::Bytes& second) {
  pf::Bytes joined = first;
  joined.insert(joined.end(), second.begin(), second.end());
  pf::Bytes key = pf::sha256(joined);
  key.resize(kSessionKeyLength);
  return key;
}

}  // namespace

MwSessionManager& MwSessionManager::getInstance() {
  static MwSessionManager instance;
  return instance;
}

MwSessionManager::MwSessionManager() {
  pf::MutexLock lock(mutex_);
  resetLocked();
}

void MwSessionManager::resetLocked() {
  sessionState_ = 0;
  sessionId_.reset();
  clientRandom_ = pf::randomBytes(kClientRandomLength);
  serverDecryptRandom_.clear();
  serverEncryptRandom_.clear();
  verificationFlag_.reset();
  bindKey_.reset();
}

void MwSessionManager::resetForTesting() {
  auto& self = getInstance();
  pf::MutexLock lock(self.mutex_);
  self.resetLocked();
}

void MwSessionManager::setClientRandomForTesting(pf::Bytes random) {
  auto& self = getInstance();
  pf::MutexLock lock(self.mutex_);
  self.clientRandom_ = std::move(random);
}

int MwSessionManager::getSessionState() const {
  pf::MutexLock lock(mutex_);
  return sessionState_;
}

std::vector<const char*> MwSessionManager::storeStateLocked(int state) {
  std::vector<const char*> posts;
  const int previous = sessionState_;
  sessionState_ = state;
  if (previous > 4 && state < 5) posts.push_back(kSessionDidLogOutNotification);
  if (state == 6 && previous <= 5) posts.push_back(kSessionDidLogInNotification);
  return posts;
}

void MwSessionManager::setSessionState(int state) {
  std::vector<const char*> posts;
  {
    pf::MutexLock lock(mutex_);
    posts = storeStateLocked(state);
  }
  post(posts);
}

void MwSessionManager::updateSession(const MwHttpRequest*, const MwHttpResponse* response) {
  if (response == nullptr) return;
  std::vector<const char*> posts;
  {
    pf::MutexLock lock(mutex_);
    if (const auto& id = response->getSessionId()) sessionId_ = *id;
    const pf::HttpHeaders& headers = response->getHeaders();
    if (!headers.empty()) {
      if (auto state = headers.value("sessionState")) {
        const int value = pf::intValue(*state);  // clamped: a number beyond int never wraps to 1 or 100
        const int next = value == 1 ? 4 : value == 100 ? 6 : 3;
        posts = storeStateLocked(next);
        if (next == 3) posts.push_back(kSessionTimeoutNotification);
      }
      if (auto number = headers.value("Service-Number"); number && !number->empty()) {
        serverDecryptRandom_ = *number;
        serverEncryptRandom_ = *number;
      }
      if (auto needva = headers.value("NEEDVA"); needva && !needva->empty()) {
        verificationFlag_ = *needva;
      }
    }
  }
  post(posts);
}

void MwSessionManager::emptyServerRandom() {
  std::vector<const char*> posts;
  {
    pf::MutexLock lock(mutex_);
    serverDecryptRandom_.clear();
    serverEncryptRandom_.clear();
    clientRandom_ = pf::randomBytes(kClientRandomLength);
    posts = storeStateLocked(0);
  }
  post(posts);
}

void MwSessionManager::post(const std::vector<const char*>& names) {
  if (names.empty()) return;
  // The manager lives for the whole run: the notification's object does not own it.
  static const std::shared_ptr<MwSessionManager> self(&getInstance(), [](MwSessionManager*) {});
  for (const char* name : names) pf::NotificationCenter::defaultCenter().post(name, self);
}

std::optional<std::string> MwSessionManager::getSessionId() const {
  pf::MutexLock lock(mutex_);
  return sessionId_;
}

pf::Bytes MwSessionManager::getClientRandom() const {
  pf::MutexLock lock(mutex_);
  return clientRandom_;
}

std::string MwSessionManager::getServerDecryptRandom() const {
  pf::MutexLock lock(mutex_);
  return serverDecryptRandom_;
}

std::string MwSessionManager::getServerEncryptRandom() const {
  pf::MutexLock lock(mutex_);
  return serverEncryptRandom_;
}

std::optional<std::string> MwSessionManager::getVerificationFlag() const {
  pf::MutexLock lock(mutex_);
  return verificationFlag_;
}

std::optional<std::string> MwSessionManager::getBindKey() const {
  pf::MutexLock lock(mutex_);
  return bindKey_;
}

void MwSessionManager::setBindKey(std::optional<std::string> key) {
  pf::MutexLock lock(mutex_);
  bindKey_ = std::move(key);
}

std::optional<pf::Bytes> MwSessionManager::getEncryptKey() const {
  pf::MutexLock lock(mutex_);
  if (serverEncryptRandom_.empty() || clientRandom_.empty()) return std::nullopt;
  return deriveKey(clientRandom_, pf::toBytes(serverEncryptRandom_));
}

std::optional<pf::Bytes> MwSessionManager::getDecryptKey() const {
  pf::MutexLock lock(mutex_);
  if (serverDecryptRandom_.empty() || clientRandom_.empty()) return std::nullopt;
  return deriveKey(pf::toBytes(serverDecryptRandom_), clientRandom_);
}

}  // namespace container
