#include "app/TnqApiServices.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SharedInstance.h"

namespace app {

namespace {

pf::SharedInstance<TnqServiceFactory> gFactory;

constexpr const char* kApiVersion = "/zetclient/login/clientAction!verify.action";

template <class Service>
std::shared_ptr<Service> withChild(std::shared_ptr<Service> service) {
  service->child = service;
  return service;
}

}  // namespace

std::string TnqSystemConfigurationValue(const std::string& key) {
  auto path = pf::Bundle::main()->pathForResource("System", "plist");
  if (!path) return {};
  auto bytes = pf::FileManager::readFile(*path);
  if (!bytes) return {};
  auto plist = pf::parsePropertyList(*bytes);
  if (!plist) return {};
  const pf::Value* value = pf::valueForKey(*plist, key);
  return value && value->is_string() ? value->get<std::string>() : std::string();
}

std::string TnqServer::apiBaseUrl() const {
  auto c = child.lock();
  return !c ? std::string() : c->isOnline() ? c->onlineApiBaseUrl() : c->offlineApiBaseUrl();
}

std::string TnqServer::apiVersion() const {
  auto c = child.lock();
  return !c ? std::string() : c->isOnline() ? c->onlineApiVersion() : c->offlineApiVersion();
}

std::string TnqServer::apiService() const {
  auto c = child.lock();
  return !c ? std::string() : c->isOnline() ? c->onlineApiServiceModule() : c->offlineApiServiceModule();
}

TnqFixedService::TnqFixedService(std::string baseUrl, std::string module)
    : baseUrl_(std::move(baseUrl)), module_(std::move(module)) {}

std::string TnqFixedService::offlineApiVersion() const { return kApiVersion; }

TnqInfoService::TnqInfoService() : TnqFixedService(TnqSystemConfigurationValue(kTnqInfoServiceBaseUrlKey), "/info") {}
std::shared_ptr<TnqInfoService> TnqInfoService::make() { return withChild(std::make_shared<TnqInfoService>()); }

TnqTradePreService::TnqTradePreService()
    : TnqFixedService(TnqSystemConfigurationValue(kTnqTradePreServiceBaseUrlKey), "/autdTradePre") {}
std::shared_ptr<TnqTradePreService> TnqTradePreService::make() {
  return withChild(std::make_shared<TnqTradePreService>());
}

std::shared_ptr<TnqServiceFactory> TnqServiceFactory::sharedInstance() {
  return gFactory.get([] { return std::make_shared<TnqServiceFactory>(); });
}

void TnqServiceFactory::resetSharedInstance() { gFactory.reset(); }

std::shared_ptr<TnqServer> TnqServiceFactory::serviceWithIdentifier(const std::string& identifier) {
  pf::MutexLock lock(mutex_);
  auto found = serviceStorage_.find(identifier);
  if (found != serviceStorage_.end()) return found->second;
  auto service = createServiceWithIdntifier(identifier);
  if (service) serviceStorage_.emplace(identifier, service);
  return service;
}

std::shared_ptr<TnqServer> TnqServiceFactory::createServiceWithIdntifier(const std::string& identifier) {
  if (identifier == kTnqServiceInfo) return TnqInfoService::make();
  if (identifier == kTnqServiceTradePre) return TnqTradePreService::make();
  return nullptr;
}

}  // namespace app
