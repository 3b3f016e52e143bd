#pragma once
// A stand-in for the messaging platform's application, installed for the platform's URL scheme:
// it reads the request the library left on the exchange pasteboard and answers, on the main
// queue, by opening the answer URL with the code the test picks, or never answers.

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/PropertyList.h"
#include "platform/ui/Application.h"
#include "platform/ui/Pasteboard.h"
#include "share/QxApi.h"

namespace sharetest {

class QxPlatformApp {
 public:
  static constexpr const char* kBundleIdentifier = "org.qxplatform.messenger";

  explicit QxPlatformApp(std::optional<int> answerCode = 0) : answerCode_(answerCode) {
    pf::Application::shared().installApplication(
        kBundleIdentifier, {share::QxExchange::kPlatformScheme},
        [this](const std::string& url, const std::string& source) { opened(url, source); });
  }
  ~QxPlatformApp() { pf::Application::shared().removeApplication(kBundleIdentifier); }
  QxPlatformApp(const QxPlatformApp&) = delete;
  QxPlatformApp& operator=(const QxPlatformApp&) = delete;

  // The code of the next answers; nullopt: never answers.
  void answerWith(std::optional<int> code) { answerCode_ = code; }

  std::vector<std::string> urls;       // the URLs that opened the platform
  std::vector<pf::Bytes> rawRequests;  // the pasteboard bytes as found
  std::vector<pf::Value> requests;     // and as read
  std::vector<std::string> sources;

  // Answers a transaction as the platform would (also for stale or made-up ones).
  static void answer(const std::string& appId, const std::string& transaction, int code) {
    pf::Value response = {{share::QxExchange::kTransactionKey, transaction},
                          {share::QxExchange::kErrCodeKey, code},
                          {share::QxExchange::kErrStrKey, code == 0 ? "" : "failed"}};
    pf::Pasteboard::withName(share::QxExchange::kPasteboardName, true)
        ->setData(*pf::writePropertyList(response, pf::PropertyListFormat::Binary), share::QxExchange::kResponseType);
    pf::Application::shared().openURLFromApplication(kBundleIdentifier,
                                                     share::QxExchange::answerURL(appId, transaction));
  }

 private:
  void opened(const std::string& url, const std::string& source) {
    urls.push_back(url);
    sources.push_back(source);
    auto board = pf::Pasteboard::withName(share::QxExchange::kPasteboardName, true);
    auto bytes = board->dataForType(share::QxExchange::kRequestType);
    if (!bytes) return;
    rawRequests.push_back(*bytes);
    auto request = pf::parsePropertyList(*bytes);
    if (!request) return;
    requests.push_back(*request);
    if (!answerCode_) return;
    answer((*request)[share::QxExchange::kAppIdKey].get<std::string>(),
           (*request)[share::QxExchange::kTransactionKey].get<std::string>(), *answerCode_);
  }

  std::optional<int> answerCode_;
};

}  // namespace sharetest
