#include "share/QxApi.h"

#include <cctype>
#include <mutex>
#include <optional>

#include "platform/foundation/Base64.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/security/Random.h"
#include "platform/ui/Application.h"
#include "platform/ui/Pasteboard.h"

namespace share {
namespace {

struct State {
  pf::Mutex mutex;
  std::string appId PF_GUARDED_BY(mutex);
  std::string pending PF_GUARDED_BY(mutex);  // the transaction waiting for its answer
};

State& state() {
  static State s;
  return s;
}

bool isScheme(const std::string& text) {
  if (text.empty() || text.size() > 64 || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (char c : text)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

std::string lowered(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::shared_ptr<pf::Pasteboard> exchangeBoard() { return pf::Pasteboard::withName(QxExchange::kPasteboardName, true); }

// The transaction named by an answer URL of the scheme, when the URL has exactly that form.
std::optional<std::string> answeredTransaction(const std::string& url, const std::string& appId) {
  if (url.size() > QxExchange::kMaxAnswerURLLength) return std::nullopt;
  std::string prefix = lowered(appId) + "://resp?transaction=";
  if (url.size() != prefix.size() + 32 || lowered(url.substr(0, prefix.size())) != prefix) return std::nullopt;
  std::string transaction = url.substr(prefix.size());
  for (char c : transaction)
    if (pf::hexDigit(c) < 0 || std::isupper(static_cast<unsigned char>(c))) return std::nullopt;
  return transaction;
}

// The response the platform left on the pasteboard for the transaction.
std::optional<SendMessageToQxResp> readResponse(const std::string& transaction) {
  auto bytes = exchangeBoard()->dataForType(QxExchange::kResponseType);
  if (!bytes || bytes->size() > QxExchange::kMaxResponseBytes) return std::nullopt;
  pf::PropertyListReadOptions options;
  options.maxBytes = QxExchange::kMaxResponseBytes;
  options.maxDepth = 2;
  options.maxObjects = 16;
  auto plist = pf::parsePropertyList(*bytes, nullptr, nullptr, options);
  if (!plist || !plist->is_object()) return std::nullopt;
  const pf::Value* id = pf::valueForKey(*plist, QxExchange::kTransactionKey);
  const pf::Value* code = pf::valueForKey(*plist, QxExchange::kErrCodeKey);
  const pf::Value* message = pf::valueForKey(*plist, QxExchange::kErrStrKey);
  if (!id || !id->is_string() || id->get<std::string>() != transaction) return std::nullopt;
  if (!code || !code->is_number_integer()) return std::nullopt;
  auto errCode = code->get<std::int64_t>();
  if (errCode < INT32_MIN || errCode > INT32_MAX) return std::nullopt;
  if (message && !message->is_string()) return std::nullopt;
  SendMessageToQxResp response;
  response.errCode = static_cast<int>(errCode);
  if (message) response.errStr = message->get<std::string>();
  return response;
}

}  // namespace

std::string QxExchange::requestURL(const std::string& appId, const std::string& transaction) {
  return std::string(kPlatformScheme) + "://sendreq?appid=" + appId + "&transaction=" + transaction;
}

std::string QxExchange::answerURL(const std::string& appId, const std::string& transaction) {
  return appId + "://resp?transaction=" + transaction;
}

bool QxApi::registerApp(const std::string& appId) {
  if (!isScheme(appId) || lowered(appId) == QxExchange::kPlatformScheme) return false;
  auto& s = state();
  pf::MutexLock lock(s.mutex);
  s.appId = appId;
  return true;
}

std::string QxApi::registeredAppId() {
  auto& s = state();
  pf::MutexLock lock(s.mutex);
  return s.appId;
}

bool QxApi::sendReq(const QxBaseReq& request) {
  auto* send = dynamic_cast<const SendMessageToQxReq*>(&request);
  std::string appId = registeredAppId();
  if (!send || appId.empty() || !send->message) return false;
  auto image = std::dynamic_pointer_cast<QxImageObject>(send->message->mediaObject());
  if (!image || image->imageData().empty()) return false;
  const pf::Bytes& thumb = send->message->thumbData();
  if (thumb.size() > QxExchange::kMaxThumbBytes) return false;
  if (image->imageData().size() + thumb.size() + send->text.size() > QxExchange::kMaxRequestBytes) return false;

  std::string transaction = pf::hexEncode(pf::randomBytes(16));
  pf::Value plist = {{QxExchange::kVersionKey, QxExchange::kVersion},
                     {QxExchange::kAppIdKey, appId},
                     {QxExchange::kTransactionKey, transaction},
                     {QxExchange::kSceneKey, send->scene},
                     {QxExchange::kTextFlagKey, send->bText},
                     {QxExchange::kTextKey, send->text},
                     {QxExchange::kThumbKey, pf::makeData(thumb)},
                     {QxExchange::kImageKey, pf::makeData(image->imageData())}};
  auto bytes = pf::writePropertyList(plist, pf::PropertyListFormat::Binary);
  if (!bytes) return false;

  auto board = exchangeBoard();
  board->clear();
  board->setData(std::move(*bytes), QxExchange::kRequestType);
  {
    auto& s = state();
    pf::MutexLock lock(s.mutex);
    s.pending = transaction;
  }
  if (pf::Application::shared().openURL(QxExchange::requestURL(appId, transaction))) return true;
  board->clear();
  auto& s = state();
  pf::MutexLock lock(s.mutex);
  if (s.pending == transaction) s.pending.clear();
  return false;
}

bool QxApi::handleOpenURL(const std::string& url, const std::shared_ptr<QxApiDelegate>& delegate) {
  std::string appId, pending;
  {
    auto& s = state();
    pf::MutexLock lock(s.mutex);
    appId = s.appId;
    pending = s.pending;
  }
  if (appId.empty() || pending.empty()) return false;
  auto transaction = answeredTransaction(url, appId);
  if (!transaction || *transaction != pending) return false;
  auto response = readResponse(pending);
  if (!response) return false;
  {
    auto& s = state();
    pf::MutexLock lock(s.mutex);
    if (s.pending != pending) return false;
    s.pending.clear();
  }
  exchangeBoard()->clear();
  if (delegate) delegate->onResp(*response);
  return true;
}

void QxApi::resetForTesting() {
  auto& s = state();
  pf::MutexLock lock(s.mutex);
  s.appId.clear();
  s.pending.clear();
}

}  // namespace share
