#pragma once
// Talking to the demo bank: a GET of one of its fact pages, or a JSON command posted to its control
// page, the JSON answer read back (null when there is none).
//
// An answer is waited for at most `seconds` of real time, whatever the run's clock: the loading's
// own time-out counts on the clock, which stands still in virtual time, so a bank that has stopped
// answering is left to the request's thread instead of holding the caller.

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/foundation/Json.h"
#include "platform/net/UrlConnection.h"

inline pf::Value askDemoBank(const pf::UrlRequest& request, double seconds) {
  auto answer = std::make_shared<std::promise<pf::Value>>();
  auto future = answer->get_future();
  std::thread([request, answer] {
    auto result = pf::UrlConnection::sendSynchronousRequest(request);
    auto parsed = pf::parseJson(std::string(result.data.begin(), result.data.end()));
    answer->set_value(parsed ? *parsed : pf::Value());
  }).detach();
  if (future.wait_for(std::chrono::duration<double>(seconds)) != std::future_status::ready) return pf::Value();
  return future.get();
}

inline pf::Value getFromDemoBank(const std::string& url, double seconds = 30) {
  return askDemoBank(pf::UrlRequest(*pf::Url::parse(url), seconds), seconds);
}

inline pf::Value postToDemoBank(const std::string& url, const pf::Value& body, double seconds = 30) {
  pf::UrlRequest request(*pf::Url::parse(url), seconds);
  request.setHttpMethod("POST");
  request.setHttpBody(pf::toBytes(*pf::writeJson(body)));
  return askDemoBank(request, seconds);
}
