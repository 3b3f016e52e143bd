#include "container/MwRequestFactory.h"

#include <algorithm>

#include "container/HnNetworkEngine.h"
#include "container/HnNetworkOperation.h"
#include "container/MwHttpRequestImp.h"

namespace container {

MwRequestFactory::MwRequestFactory() : engine_(HnNetworkEngine::make()) {}

std::shared_ptr<MwRequestFactory> MwRequestFactory::getInstance() {
  static const std::shared_ptr<MwRequestFactory> instance(new MwRequestFactory());
  return instance;
}

std::shared_ptr<MwRequestFactory> MwRequestFactory::create() {
  return std::shared_ptr<MwRequestFactory>(new MwRequestFactory());
}

std::shared_ptr<MwHttpRequestImp> MwRequestFactory::createRequest(const std::string& url,
                                                                  const std::optional<pf::Value>& param,
                                                                  const pf::Bytes& data, const std::string& method,
                                                                  std::int64_t timeout) {
  std::string query;
  if (param && param->is_object()) {
    for (const auto& [key, value] : param->items()) {
      query += query.empty() ? "?" : "&";
      query += key + "=" + pf::stringValue(value);
    }
  }
  auto request = std::make_shared<MwHttpRequestImp>(engine_, data);
  request->setUrl(url + query);
  request->setParameter(query);
  request->setMethod(method);
  request->setUseSession(true);
  request->setUseCookie(true);
  request->setValidatesSecureCertificate(true);
  request->setAllowCompressedResponse(true);
  request->addRequestHeader("Content-Type", "*/*; charset=utf-8");
  request->setTimeout(timeout);
  return request;
}

void MwRequestFactory::addHttpRequest(const std::shared_ptr<MwHttpRequest>& request) {
  if (!request) return;
  pf::MutexLock lock(mutex_);
  requests_.push_back(request);
}

void MwRequestFactory::removeHttpRequest(const std::shared_ptr<MwHttpRequest>& request) {
  pf::MutexLock lock(mutex_);
  requests_.erase(std::remove(requests_.begin(), requests_.end(), request), requests_.end());
}

void MwRequestFactory::cancelAllRequest() {
  std::vector<std::shared_ptr<MwHttpRequest>> requests;
  {
    pf::MutexLock lock(mutex_);
    requests.swap(requests_);
  }
  for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
    auto operation = (*it)->getHnNetworkOperation();
    if (operation && operation->isExecuting()) operation->cancel();
  }
}

std::size_t MwRequestFactory::liveRequestCount() const {
  pf::MutexLock lock(mutex_);
  return requests_.size();
}

}  // namespace container
