#pragma once
// The least messaging-platform library: registration, sending a request to the platform's
// application, and taking its answer from an incoming URL. The exchange (named pasteboard,
// URL forms, property-list keys) is written down in docs/share.md. Main thread.

#include <cstddef>
#include <memory>
#include <string>

#include "share/QxMessage.h"

namespace share {

// Both operations optional.
class QxApiDelegate {
 public:
  virtual ~QxApiDelegate() = default;
  virtual void onReq(const QxBaseReq& request) {}
  virtual void onResp(const QxBaseResp& response) {}
};

// The exchange with the platform's application.
namespace QxExchange {
inline constexpr const char* kPlatformScheme = "qx";
inline constexpr const char* kPasteboardName = "qx.exchange";
inline constexpr const char* kRequestType = "qx.request";
inline constexpr const char* kResponseType = "qx.response";
inline constexpr int kVersion = 1;
inline constexpr std::size_t kMaxRequestBytes = 10u << 20;  // everything sent, image included
inline constexpr std::size_t kMaxThumbBytes = 64u << 10;
inline constexpr std::size_t kMaxAnswerURLLength = 1024;
inline constexpr std::size_t kMaxResponseBytes = 4096;
// Property-list keys.
inline constexpr const char* kVersionKey = "version";
inline constexpr const char* kAppIdKey = "appId";
inline constexpr const char* kTransactionKey = "transaction";
inline constexpr const char* kSceneKey = "scene";
inline constexpr const char* kTextFlagKey = "bText";
inline constexpr const char* kTextKey = "text";
inline constexpr const char* kThumbKey = "thumbData";
inline constexpr const char* kImageKey = "imageData";
inline constexpr const char* kErrCodeKey = "errCode";
inline constexpr const char* kErrStrKey = "errStr";
// "qx://sendreq?appid=<id>&transaction=<id>" opens the platform; it answers with
// "<registration id>://resp?transaction=<id>" and the response on the pasteboard.
std::string requestURL(const std::string& appId, const std::string& transaction);
std::string answerURL(const std::string& appId, const std::string& transaction);
}  // namespace QxExchange

class QxApi {
 public:
  // Keeps the identifier, which is also the URL scheme answers come back on; false for one that
  // is not a URL scheme (a letter, then letters, digits, "+", "-" or ".").
  static bool registerApp(const std::string& appId);
  static std::string registeredAppId();

  // Writes the request to the platform's pasteboard and opens the platform's URL. False without
  // registration, for a request that is not a send-message request, without image data, over
  // the size bounds, or when no application answers the platform's scheme.
  static bool sendReq(const QxBaseReq& request);

  // True only for an answer URL on the registered scheme naming the pending transaction, with a
  // well-formed response on the pasteboard: then the delegate's onResp with a
  // SendMessageToQxResp. Anything else is false and calls nothing.
  static bool handleOpenURL(const std::string& url, const std::shared_ptr<QxApiDelegate>& delegate);

  static void resetForTesting();
};

}  // namespace share
