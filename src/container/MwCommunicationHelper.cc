#include "container/MwCommunicationHelper.h"

#include <cmath>

#include "container/HnNetworkOperation.h"
#include "container/MwAnalysisRecord.h"
#include "container/MwComPackage.h"
#include "container/MwFramework.h"
#include "container/MwHttpRequestImp.h"
#include "container/MwHttpResponse.h"
#include "container/MwHttpTask.h"
#include "container/MwBlockingWait.h"
#include "container/MwJSON.h"
#include "container/MwRequestFactory.h"
#include "container/MwServerConfiguration.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/Thread.h"
#include "platform/net/UrlConnection.h"

namespace container {

namespace {

constexpr const char* kServerErrorText = "服务器内部错误，请联系澜川银行(96271)!";

std::shared_ptr<MwDataPackage> emptyData() { return std::make_shared<MwDataPackage>(); }

std::shared_ptr<MwDataPackage> businessData(const pf::Value& business) {
  return std::make_shared<MwDataPackage>(kCrypt3Des, 0, 0, MwJSON::JSONData(business));
}

std::shared_ptr<MwComPackage> package(int flag, std::int64_t code, std::optional<std::string> message,
                                      std::shared_ptr<MwDataPackage> data) {
  return std::make_shared<MwComPackage>(flag, code, std::move(message), std::move(data));
}

std::shared_ptr<MwComPackage> serverErrorPackage() {
  return package(1, 4, "服务器内部错误", businessData({{"RETMSG", kServerErrorText}, {"RETCODE", "500"}}));
}

std::shared_ptr<MwComPackage> parseFailurePackage() { return package(1, 1, "数据解析错误", emptyData()); }

// A gate refusal as a package; its code keeps the low 32 bits of the error code by design.
std::shared_ptr<MwComPackage> refusalPackage(const pf::Error& error) {
  return package(0, static_cast<std::int32_t>(error.code), error.domain, emptyData());
}

pf::Value businessOf(const pf::Value& json) { return json.is_null() ? pf::Value::object() : json; }

std::string withoutTrailingSlash(std::string base) {
  if (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

}  // namespace

std::shared_ptr<MwComPackage> MwCommunicationHelper::parseAnswer(const MwHttpResponse& response) {
  const auto& body = response.getResponseData();
  if (!body || body->empty()) return nullptr;
  return MwComPackage::parseJSONString(std::string_view(reinterpret_cast<const char*>(body->data()), body->size()));
}

std::int64_t MwCommunicationHelper::requestTimeout(double seconds) {
  if (std::isfinite(seconds) && seconds > 0 && seconds < MwBaseTask::kTimeoutIntervalLimit) return static_cast<std::int64_t>(seconds);
  return static_cast<std::int64_t>(kDefaultRequestTimeout);
}

std::string MwCommunicationHelper::businessUrl(const std::string& path) {
  return withoutTrailingSlash(MwServerConfiguration::getInstance().getServerBaseUrl()) + "/" + path;
}

std::optional<pf::Bytes> MwCommunicationHelper::requestBody(const pf::Value& business, int cryptFlag) {
  auto payload = MwJSON::JSONData(business);
  if (!payload) return std::nullopt;
  MwComPackage packet(0, 0, "", std::make_shared<MwDataPackage>(cryptFlag, 0, 0, std::move(payload)));
  auto text = packet.toJSONString();
  if (!text) return std::nullopt;
  return pf::toBytes(*text);
}

bool MwCommunicationHelper::allowSendRequest(const std::string& url, pf::Error* error) {
  pf::Error local;
  if (error == nullptr) error = &local;
  auto& framework = MwFramework::getInstance();
  int state = framework.getCurrentNetworkState();
  if (state == 3) {
    const bool onMain = pf::Thread::isMainThread();
    auto loop = onMain ? pf::RunLoop::current() : nullptr;
    while ((state = framework.getCurrentNetworkState()) == 3) {
      if (onMain && loop->runMode(pf::kDefaultRunLoopMode, pf::Clock::now() + kGateStep)) continue;
      pf::Clock::sleep(kGateStep);
    }
  }
  if (state == 1 || state == 2) {
    if (url.find("handshake") != std::string::npos) return true;
    if (static_cast<unsigned>(framework.getSessionState()) <= 3) {
      *error = pf::Error(kGateNoSessionMessage, 3, nullptr);
      return false;
    }
    return true;
  }
  *error = pf::Error(kGateNoNetworkMessage, 2, nullptr);
  return false;
}

std::shared_ptr<MwComPackage> MwCommunicationHelper::synchBusinessRequest(const std::string& url,
                                                                          const pf::Value& json, int cryptFlag,
                                                                          double timeOutInterval) {
  const pf::Value business = businessOf(json);
  if (url.empty()) return package(0, 1, std::nullopt, emptyData());
  pf::Error error;
  if (!allowSendRequest(url, &error)) return error.domain.empty() ? nullptr : refusalPackage(error);

  auto body = requestBody(business, cryptFlag);
  if (!body) return parseFailurePackage();
  auto factory = MwRequestFactory::getInstance();
  auto request = factory->createRequest(businessUrl(url), std::nullopt, *body, "POST", requestTimeout(timeOutInterval));
  factory->addHttpRequest(request);
  auto response = request->synchDataRequest();
  if (response && response->getStatusCode() == 200) {
    auto result = parseAnswer(*response);
    factory->removeHttpRequest(request);
    return result;
  }
  auto operation = request->getHnNetworkOperation();
  if (!operation || !operation->isCancelled()) factory->removeHttpRequest(request);
  if (!response) return parseFailurePackage();
  return serverErrorPackage();
}

std::shared_ptr<MwComPackage> MwCommunicationHelper::asynchBusinessRequest(const std::string& url,
                                                                           const pf::Value& json, int cryptFlag,
                                                                           double timeOutInterval) {
  const pf::Value business = businessOf(json);
  if (url.empty()) return package(1, 1, "参数错误", emptyData());
  pf::Error error;
  const bool allowed = allowSendRequest(url, &error);
  MwAnalysisRecord record;
  if (!allowed) {
    if (error.domain.empty()) return nullptr;
    record.responsetime = pf::Clock::now();
    record.httpcode = "-1";
    record.errormessage = error.domain;
    record.post();
    return refusalPackage(error);
  }
  const std::string fullUrl = businessUrl(url);
  if (!fullUrl.empty()) record.url = fullUrl;
  auto body = requestBody(business, cryptFlag);
  if (!body) {
    record.responsetime = pf::Clock::now();
    record.httpcode = "-1";
    record.post();
    return parseFailurePackage();
  }
  auto request = MwRequestFactory::getInstance()->createRequest(fullUrl, std::nullopt, *body, "POST",
                                                                requestTimeout(timeOutInterval));
  record.requesttime = pf::Clock::now();
  auto response = request->asynchDataRequest();
  record.responsetime = pf::Clock::now();
  if (!response) {
    record.httpcode = "-1";
    record.post();
    return parseFailurePackage();
  }
  record.httpcode = std::to_string(response->getStatusCode());
  if (response->getStatusCode() == 200) {
    auto result = parseAnswer(*response);
    if (result) {
      record.hasdata = "1";
      record.httpdata = result;
    }
    record.post();
    return result;
  }
  record.post();
  return serverErrorPackage();
}

std::shared_ptr<MwHttpTask> MwCommunicationHelper::asynchBusinessTask(const std::string& url,
                                                                      const pf::Value& options,
                                                                      std::weak_ptr<MwTaskListener> listener,
                                                                      int cryptFlag, bool automaticPerform) {
  if (url.empty()) return nullptr;
  const pf::Value opts = options.is_object() ? options : pf::Value::object();
  auto flag = [&](const char* key) {
    auto it = opts.find(key);
    return it != opts.end() && !it->is_null() && pf::boolValue(*it);
  };
  const bool abolishable = flag("abolishable");
  const bool preventable = flag("preventable");
  double timeout = -1.0;
  if (auto it = opts.find("timeout"); it != opts.end() && !it->is_null()) {
    timeout = static_cast<double>(pf::floatValue(*it));
  }
  const auto data = opts.find("data");
  const pf::Value business = data == opts.end() ? pf::Value::object() : *data;

  std::optional<pf::Bytes> body;
  if (business.is_object()) body = requestBody(business, cryptFlag);
  std::shared_ptr<MwHttpTask> task;
  if (!body) {
    // A "data" that is null or no dictionary (or cannot be encoded) sends nothing: the task ends
    // with a local error package.
    task = MwHttpTask::failingTask(
        std::move(listener), package(1, 1, "参数错误", businessData({{"RETMSG", "参数错误"}, {"RETCODE", "1"}})));
  } else {
    auto request = MwRequestFactory::getInstance()->createRequest(
        businessUrl(url), std::nullopt, *body, "POST", static_cast<std::int64_t>(kDefaultRequestTimeout));
    task = MwHttpTask::make(std::move(listener), request);
  }
  task->setAbolishable(abolishable);
  task->setPreventable(preventable);
  task->setTimeoutInterval(timeout);
  if (automaticPerform) task->doTask();
  return task;
}

std::optional<pf::Value> MwCommunicationHelper::downloadVCodePicture(const std::string& url, const pf::Value&,
                                                                    pf::Error* error) {
  pf::Error local;
  if (error == nullptr) error = &local;
  if (url.empty()) {
    *error = pf::Error(kCommunicationErrorDomain, 1, nullptr);
    return std::nullopt;
  }
  const std::string base = MwServerConfiguration::getInstance().getServerBaseUrl();
  if (!allowSendRequest(url, error)) return std::nullopt;

  MwAnalysisRecord record;
  const std::string fullUrl = base + "/" + url;
  if (!fullUrl.empty()) record.url = fullUrl;
  record.requesttime = pf::Clock::now();

  // The answer arrives on an operation queue of its own; the waiting thread sees it once `done` is
  // set (the other fields are written before it).
  struct Answer {
    std::atomic<bool> done{false};
    std::optional<pf::Error> error;
    std::optional<std::string> contentType;
    pf::Bytes body;
    MwBlockingWait wait{0.5};
  };
  auto answer = std::make_shared<Answer>();
  auto queue = pf::OperationQueue::make("vcode");
  pf::UrlConnection::sendAsynchronousRequest(
      pf::UrlRequest(pf::Url::parse(fullUrl)), queue,
      [answer](const pf::UrlConnection::Result& result) {
        const auto& response = result.response;
        if (result.error) {
          answer->error = result.error;
        } else if (!response || response->statusCode() < 200 || response->statusCode() > 299) {
          const int status = response ? response->statusCode() : 0;
          answer->error = pf::Error(kCommunicationErrorDomain, 4, {{"statusCode", status}});
        } else {
          answer->contentType = response->valueForHttpHeaderField("content-type");
          answer->body = result.data;
        }
        answer->done.store(true, std::memory_order_release);
        answer->wait.wake();
      });
  answer->wait.wait([&] { return answer->done.load(std::memory_order_acquire); });
  record.responsetime = pf::Clock::now();

  if (answer->error) {
    *error = pf::Error(kCommunicationErrorDomain, 4, answer->error->userInfo);
    return std::nullopt;
  }
  record.httpcode = "200";
  pf::Value result = pf::Value::object();
  // An answer without a content type counts as a picture.
  if (!answer->contentType || !pf::asciiEqualsIgnoringCase(*answer->contentType, "text/plain")) {
    record.httpcode = "-1";
    record.post();
    result["RETCODE"] = "AAAAAAA";
    result["RETMSG"] = "";
    result["content"] = pf::makeData(answer->body);
    return result;
  }
  auto packet = MwComPackage::parseJSONString(pf::toString(answer->body));
  if (packet && packet->getDataPackage()) {
    if (auto business = packet->businessObject(); business && business->is_object()) {
      if (auto it = business->find("RETMSG"); it != business->end()) result["RETMSG"] = *it;
      if (auto it = business->find("RETCODE"); it != business->end()) result["RETCODE"] = *it;
    }
    record.hasdata = "1";
    record.httpdata = packet;
    record.post();
  }
  return result;
}

}  // namespace container
