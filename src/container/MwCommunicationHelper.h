#pragma once
// The single door of business requests to the bank's server: the request gate, blocking requests,
// business tasks and the verification-picture download. Class operations only; no state.
//
// Business paths are relative to the server base URL ("mwframework.do?act=logout"); the request URL
// is "<base>/<path>" with one trailing "/" of the base removed. Business requests never raise: every
// failure gives a locally made package or null.

#include <memory>
#include <optional>
#include <string>

#include "container/MwDataPackage.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace container {

class MwComPackage;
class MwHttpResponse;
class MwHttpTask;
class MwTaskListener;

// Gate refusals: the message is the error's domain.
inline constexpr const char* kGateNoNetworkMessage = "网络异常，请检查后重试！";
inline constexpr const char* kGateNoSessionMessage = "网络连接超时，请重新登录！";
inline constexpr const char* kCommunicationErrorDomain = "MwCommunicationErrorDomain";

class MwCommunicationHelper {
 public:
  // The request gate: waits while the network state is 3 (0.2 s steps), refuses another state than 1
  // or 2 with code 2, and (except for a path containing "handshake") a session state of 3 or less
  // with code 3. A refusal stores the error (domain = message, no user info) and answers false.
  static bool allowSendRequest(const std::string& url, pf::Error* error);

  // Blocking request, registered with the shared factory while it runs. json null means empty.
  static std::shared_ptr<MwComPackage> synchBusinessRequest(const std::string& url, const pf::Value& json,
                                                            int cryptFlag = kCrypt3Des,
                                                            double timeOutInterval = 0);
  // Blocking too, whatever its name says; posts the analysis record.
  static std::shared_ptr<MwComPackage> asynchBusinessRequest(const std::string& url, const pf::Value& json,
                                                             int cryptFlag = kCrypt3Des,
                                                             double timeOutInterval = 0);
  // A business task over options {"abolishable", "preventable", "timeout", "data"}; null for an
  // empty path. Started at once when automaticPerform.
  static std::shared_ptr<MwHttpTask> asynchBusinessTask(const std::string& url, const pf::Value& options,
                                                        std::weak_ptr<MwTaskListener> listener,
                                                        int cryptFlag, bool automaticPerform);
  static std::shared_ptr<MwHttpTask> asynchBusinessTask(const std::string& url, const pf::Value& options,
                                                        std::weak_ptr<MwTaskListener> listener,
                                                        bool automaticPerform) {
    return asynchBusinessTask(url, options, std::move(listener), kCrypt3Des, automaticPerform);
  }

  // GET of a verification picture: {"RETCODE", "RETMSG", "content": picture data} for a picture,
  // the packet's "RETCODE"/"RETMSG" for a "text/plain" answer (empty when it does not parse);
  // nullopt with *error set on failure (code 1 no path, 4 transport failure or a status outside
  // 200 to 299, the gate's codes 2 and 3). param is not used.
  static std::optional<pf::Value> downloadVCodePicture(const std::string& url, const pf::Value& param,
                                                       pf::Error* error = nullptr);

  // The time-out in whole seconds handed to the request factory: a finite value above 0 and at most
  // a day, truncated; anything else 60.
  static std::int64_t requestTimeout(double timeOutInterval);
  // "<base>/<path>" with one trailing "/" of the base removed.
  static std::string businessUrl(const std::string& path);
  // The request body for a business dictionary; nullopt when it cannot be encoded.
  static std::optional<pf::Bytes> requestBody(const pf::Value& business, int cryptFlag);
  // The packet of an answer's body read in place (UTF-8 JSON text); null when the body is empty or
  // no packet.
  static std::shared_ptr<MwComPackage> parseAnswer(const MwHttpResponse& response);

  static constexpr double kDefaultRequestTimeout = 60;
  static constexpr double kGateStep = 0.2;
};

}  // namespace container
