#pragma once
// Session state, session id, client and server randoms, session keys, verification flag and bind key.
//
// Session states: 0 to 3 no session (1 negotiating, 2 negotiation failed, 3 timed out), 4 open,
// 6 logged in, 7 logging out. Every server answer passes through updateSession().

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace container {

class MwHttpRequest;
class MwHttpResponse;

inline constexpr const char* kSessionTimeoutNotification = "SessionTimeoutNotification";
inline constexpr const char* kSessionDidLogInNotification = "SessionDidLogIn";
inline constexpr const char* kSessionDidLogOutNotification = "SessionDidLogOut";

class MwSessionManager {
 public:
  static MwSessionManager& getInstance();

  int getSessionState() const;
  // Stores the state; posts "SessionDidLogOut" when it falls from above 4 to below 5 and
  // "SessionDidLogIn" when it becomes 6 from 5 or less.
  void setSessionState(int state);

  // Takes the session id and the "sessionState", "Service-Number" and "NEEDVA" headers of an answer.
  // The request is not used; a null response changes nothing.
  void updateSession(const MwHttpRequest* request, const MwHttpResponse* response);

  // Drops both server randoms, draws a new client random and sets the session state to 0.
  void emptyServerRandom();

  std::optional<std::string> getSessionId() const;
  pf::Bytes getClientRandom() const;
  std::string getServerDecryptRandom() const;
  std::string getServerEncryptRandom() const;
  std::optional<std::string> getVerificationFlag() const;
  std::optional<std::string> getBindKey() const;
  void setBindKey(std::optional<std::string> key);

  // 3DES session keys (24 bytes) derived from the randoms (see docs/packets.md); nullopt while
  // there is no server random.
  std::optional<pf::Bytes> getEncryptKey() const;  // client to server
  std::optional<pf::Bytes> getDecryptKey() const;  // server to client

  // Tests: a fresh manager (state 0, new client random, nothing else).
  static void resetForTesting();
  // Tests and fuzzing: a fixed client random, so packets made ahead of time decrypt.
  static void setClientRandomForTesting(pf::Bytes random);

 private:
  MwSessionManager();
  void resetLocked() PF_REQUIRES(mutex_);
  // Stores the state and answers the notifications to post once the lock is released.
  std::vector<const char*> storeStateLocked(int state) PF_REQUIRES(mutex_);
  static void post(const std::vector<const char*>& names);

  mutable pf::RecursiveMutex mutex_;
  int sessionState_ PF_GUARDED_BY(mutex_) = 0;
  std::optional<std::string> sessionId_ PF_GUARDED_BY(mutex_);
  pf::Bytes clientRandom_ PF_GUARDED_BY(mutex_);
  std::string serverDecryptRandom_ PF_GUARDED_BY(mutex_);
  std::string serverEncryptRandom_ PF_GUARDED_BY(mutex_);
  std::optional<std::string> verificationFlag_ PF_GUARDED_BY(mutex_);
  std::optional<std::string> bindKey_ PF_GUARDED_BY(mutex_);
};

}  // namespace container
